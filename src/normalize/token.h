// The three kinds of token that every normalisation step copies verbatim:
// quoted strings, comments and escapes. Shared by the text-level steps of
// this folder.
#pragma once

#include <cstddef>
#include <string_view>

namespace zeviziz {

enum class TokenKind { None, String, Comment, Escape };

struct Token {
  TokenKind kind = TokenKind::None;
  size_t length = 0;  // bytes; 0 when no token starts at the position
};

// Returns the token that starts at byte `pos` of `text`, or kind None:
// - a string runs from a quote to the same quote (a backslash skips the next
//   character) or to the end;
// - a comment runs from "/*" to "*/" or to the end;
// - an escape is a backslash and up to six hex digits plus one optional
//   white-space character, or a backslash and one other character, or a
//   lone backslash at the end.
Token token_at(std::string_view text, size_t pos);

// True for the characters of a name: ASCII letters and digits, "-", "_" and
// every non-ASCII character (tested on the byte: all bytes >= 0x80).
inline bool is_name_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' ||
         b == '_' || b >= 0x80;
}

inline bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline char lower_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace zeviziz
