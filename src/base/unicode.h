// UTF-8 decoding and encoding, and the Unicode White_Space set used wherever
// the program trims or tests for white space.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeviziz {

// True for the Unicode White_Space characters: U+0009..U+000D, U+0020,
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F,
// U+3000.
bool is_white_space(char32_t ch);

// Decodes the character starting at byte `pos` of `text` and advances `pos`
// past it. Invalid or truncated sequences decode as U+FFFD and advance one
// byte. `pos` must be below text.size().
char32_t decode_utf8(std::string_view text, size_t& pos);

// Number of bytes of the UTF-8 sequence that starts with `lead` (1 for an
// invalid lead byte).
size_t utf8_length(unsigned char lead);

// Appends `ch` encoded as UTF-8.
void append_utf8(std::string& out, char32_t ch);

// True when `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// Returns `text` with invalid UTF-8 sequences replaced by U+FFFD.
std::string sanitize_utf8(std::string_view text);

// Returns `text` without leading and trailing white space.
std::string_view trim_white_space(std::string_view text);

// Number of Unicode scalar values in valid UTF-8 `text`.
size_t count_chars(std::string_view text);

// Character classes of the style syntax, over decoded characters (values
// above U+10FFFF, used as end and error marks, belong to none).
bool is_ws(char32_t ch);
bool is_ascii_letter(char32_t ch);
bool is_ascii_digit(char32_t ch);
// Letters, digits, "-", "_" and non-ASCII characters that are not white space.
bool is_name_char(char32_t ch);

// Returns `text` with A-Z folded to a-z (no other letters change).
std::string ascii_lower(std::string_view text);

// True when the run of ASCII letters, digits, "+" and "-" at byte `pos` of
// `text` reads as part of an An+B expression ("2n+1", "-n", "odd", "even").
bool is_an_plus_b_word(std::string_view text, size_t pos);

}  // namespace zeviziz
