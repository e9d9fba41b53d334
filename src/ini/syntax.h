// Lexical routines of the configuration file's INI dialect: comment
// stripping, quote-aware searching and comma splitting, string literals,
// keys with array-key groups, and scalar values. Trimming everywhere uses
// `trim_white_space` (base/unicode.h), the Unicode White_Space set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"

namespace zeviziz {

// A scalar value: string, boolean, signed 64-bit integer or finite double.
using IniValue = std::variant<std::string, bool, int64_t, double>;

// Highest numeric array index; an indexed list holds at most 65536 slots.
inline constexpr uint32_t kMaxIniIndex = 65535;

// One step of a key path below the base key.
struct KeySegment {
  enum class Kind { Push, Index, Name };
  Kind kind = Kind::Push;
  uint32_t index = 0;  // for Index
  std::string name;    // for Name
};

// A parsed key: the base name and its array-key groups. Each group holds its
// alternatives (a `[]` group holds one Push segment); the key denotes every
// combination of one alternative per group.
struct KeyPattern {
  std::string base;
  std::vector<std::vector<KeySegment>> groups;
};

// Position of the first `target` byte of `text` at or after `from` that lies
// outside quoted runs ('...' literal, "..." with backslash escapes), or
// nullopt when there is none. `target` must not be a quote character.
std::optional<size_t> find_outside_quotes(std::string_view text, char target, size_t from = 0);

// Returns `text` up to the start of its comment (`#` or `;` outside quotes,
// at the very start or after white space), or unchanged. Never fails.
std::string_view strip_comment(std::string_view text);

// Splits `text` at every comma outside quotes; items are not trimmed. Fails
// with `unclosed_message` when a quote is still open at the end.
Result<std::vector<std::string_view>> split_outside_quotes(std::string_view text,
                                                           std::string_view unclosed_message);

// Reads a string literal (one or more directly adjacent quoted pieces) from
// text whose first character is a quote. Fails with "Unclosed quoted value",
// "Whitespace is not allowed between concatenated string literals" or
// "Unexpected text after string literal".
Result<std::string> parse_string_literal(std::string_view text);

// Reads one key or array-key alternative: trimmed; quoted text is a string
// literal, anything else is taken as it stands. Fails with "Empty key",
// "Unexpected quote in key" or a string literal error.
Result<std::string> parse_key(std::string_view text);

// Reads the key text of a key line into its base key and array-key groups.
// Fails with a parse_key error, "Invalid array key", "Unclosed array key",
// "Empty array key alternative", "Array index out of range" or
// "Array index too large".
Result<KeyPattern> parse_key_pattern(std::string_view text);

// Reads one trimmed value item: string literal, `true`/`false`, integer or
// float. Fails with "Expected value", a string literal error,
// "Integer out of range", "Float out of range", "Invalid float" or
// "Expected string literal, boolean or number".
Result<IniValue> parse_value(std::string_view item);

// Reads the comma-separated value list of a key line, in order. Fails with
// "Unclosed quoted value" or a parse_value error.
Result<std::vector<IniValue>> parse_values(std::string_view text);

}  // namespace zeviziz
