// The reasons of failed region attempts, written in the author's terms from
// the failure record of the reader (kind and positions) and the text.
#include <cstdio>

#include "base/unicode.h"
#include "lexer/parser.h"

namespace zeviziz {
namespace {

// Directive texts up to this many bytes are repeated in a reason.
constexpr size_t kShownDirectives = 80;

bool is_directive_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// The directive name (a-z A-Z 0-9 - _ run) starting at `from`.
std::string_view name_at(std::string_view text, size_t from) {
  size_t end = from;
  while (end < text.size() && is_directive_name_char(text[end])) ++end;
  return text.substr(from, end - from);
}

// The character at `at` as the author would read it: quoted, or described
// when it is white space, a control character, invalid or the end.
std::string shown_char(std::string_view text, size_t at) {
  size_t length = 0;
  const char32_t ch = decode_char(text, at, length);
  if (ch == kEndChar) return "end of text";
  if (ch == kBadChar) return "invalid UTF-8";
  if (is_ws(ch)) return "white space";
  if (ch < 0x20 || ch == 0x7F) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(ch));
    return code;
  }
  const std::string_view piece = text.substr(at, length);
  if (ch == U'"') return "'\"'";
  // Appended piece by piece: g++ 12 misreads `"..." + std::string` here as an
  // overlapping copy (-Wrestrict) in optimised builds.
  std::string shown = "\"";
  shown += piece;
  shown += '"';
  return shown;
}

std::string unexpected(std::string_view text, size_t at) {
  return "unexpected " + shown_char(text, at);
}

std::string unclosed(std::string_view text, size_t at) {
  const char open = at < text.size() ? text[at] : '\0';
  if (open == '"' || open == '\'') return "unclosed string opened here";
  if (open == '/') return "unclosed comment opened here";
  return "unclosed " + shown_char(text, at) + " opened here";
}

}  // namespace

std::string describe_miss(std::string_view text, const AttemptFailure& failure) {
  const size_t at = failure.at;
  switch (static_cast<MissKind>(failure.kind)) {
    case MissKind::Unclosed:
      return unclosed(text, at);
    case MissKind::Glued:
      if (at < text.size() && text[at] == '!') return "regions must be separated by white space";
      return unexpected(text, at) +
             " after the region: a region must be followed by white space or the end";
    case MissKind::NoColon: {
      const std::string_view name = trim_white_space(text.substr(failure.from, at - failure.from));
      return "expected \":\" after property \"" + std::string(name) + "\"";
    }
    case MissKind::NoBody: {
      // The directives are shown with their body only when they are short
      // and on one line.
      std::string head = "\"";
      head += name_at(text, failure.from);
      head += "\" needs a body: ";
      const std::string_view written = text.substr(at, failure.to - at);
      if (written.size() > kShownDirectives || written.find_first_of("\r\n") != written.npos) {
        return head + "add {} after it";
      }
      return head + "write " + std::string(written) + "{}";
    }
    case MissKind::SpaceBeforeBlock:
      return "unexpected white space before \"{\"";
    case MissKind::NoName:
      return "expected a directive name or \"{\" after \"!\"";
    case MissKind::UnknownDirective: {
      const std::string_view name = name_at(text, at);
      if (name.empty()) return unexpected(text, at);
      return "unknown directive \"" + std::string(name) + "\"";
    }
    case MissKind::TooDeep:
      return "blocks nested more than " + std::to_string(kMaxNesting) + " deep";
    case MissKind::BadText:
      return "invalid UTF-8 in the region";
    case MissKind::None:
    case MissKind::Unexpected:
      break;
  }
  return unexpected(text, at);
}

}  // namespace zeviziz
