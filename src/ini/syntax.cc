// Lexical routines of the INI dialect. Every routine scans its text once from
// left to right; quote characters and the comment and separator characters
// are ASCII, so scanning bytes of UTF-8 text is safe. White space tests and
// trimming use the Unicode White_Space set.
#include "ini/syntax.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/unicode.h"

namespace zeviziz {
namespace {

bool is_quote(char c) {
  return c == '"' || c == '\'';
}

bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

bool all_ascii_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

// Follows quoted runs byte by byte: '...' is literal, "..." lets a backslash
// make the next character ordinary.
class QuoteTracker {
 public:
  // Consumes `c`; true when `c` lies outside every quoted run and is not a
  // quote character itself.
  bool outside(char c) {
    if (quote_ == 0) {
      if (!is_quote(c)) return true;
      quote_ = c;
      return false;
    }
    if (escaped_) {
      escaped_ = false;
    } else if (quote_ == '"' && c == '\\') {
      escaped_ = true;
    } else if (c == quote_) {
      quote_ = 0;
    }
    return false;
  }
  bool open() const { return quote_ != 0; }

 private:
  char quote_ = 0;
  bool escaped_ = false;
};

// True when the last character of `prefix` is white space.
bool ends_with_white_space(std::string_view prefix) {
  if (prefix.empty()) return false;
  size_t start = prefix.size() - 1;
  for (int back = 0; back < 3 && start > 0; ++back) {
    if ((static_cast<unsigned char>(prefix[start]) & 0xC0) != 0x80) break;
    --start;
  }
  size_t pos = start;
  const char32_t ch = decode_utf8(prefix, pos);
  return pos == prefix.size() && is_white_space(ch);
}

// Appends the contents of the "..." piece starting after its opening quote
// at `pos`; returns the position after the closing quote or nullopt.
std::optional<size_t> read_double_piece(std::string_view text, size_t pos, std::string& out) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') return pos + 1;
    if (c != '\\' || pos + 1 >= text.size()) {
      out.push_back(c);
      ++pos;
      continue;
    }
    switch (text[pos + 1]) {
      case '\\':
        out.push_back('\\');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '"':
        out.push_back('"');
        break;
      default:  // an unknown escape keeps the backslash; the next character follows
        out.push_back('\\');
        ++pos;
        continue;
    }
    pos += 2;
  }
  return std::nullopt;
}

// Appends the contents of the '...' piece starting after its opening quote.
std::optional<size_t> read_single_piece(std::string_view text, size_t pos, std::string& out) {
  const size_t close = text.find('\'', pos);
  if (close == std::string_view::npos) return std::nullopt;
  out.append(text.substr(pos, close - pos));
  return close + 1;
}

// Checks what follows a closing quote at `pos`: true to read another piece,
// false at the end of the literal, or an error.
Result<bool> continues_literal(std::string_view text, size_t pos) {
  if (pos >= text.size() || is_quote(text[pos])) return pos < text.size();
  const std::string_view rest = text.substr(pos);
  const std::string_view trimmed = trim_white_space(rest);
  if (trimmed.empty()) return false;
  if (trimmed.data() == rest.data()) {
    return make_error("Unexpected text after string literal");
  }
  if (is_quote(trimmed.front())) {
    return make_error("Whitespace is not allowed between concatenated string literals");
  }
  return make_error("Unexpected text after string literal");
}

// Reads an unquoted array-key alternative as a numeric index or a name.
Result<KeySegment> read_unquoted_alternative(std::string_view text) {
  ZV_TRY(std::string key, parse_key(text));
  KeySegment segment;
  if (!all_ascii_digits(key)) {
    segment.kind = KeySegment::Kind::Name;
    segment.name = std::move(key);
    return segment;
  }
  uint64_t number = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), number);
  if (ec != std::errc()) return make_error("Array index out of range");
  if (number > kMaxIniIndex) return make_error("Array index too large");
  segment.kind = KeySegment::Kind::Index;
  segment.index = static_cast<uint32_t>(number);
  return segment;
}

// Reads the trimmed text between the brackets of one array-key group.
Result<std::vector<KeySegment>> read_group(std::string_view inner) {
  std::vector<KeySegment> group;
  if (inner.empty()) {
    group.push_back(KeySegment{});
    return group;
  }
  ZV_TRY(auto alternatives, split_outside_quotes(inner, "Unclosed array key"));
  for (std::string_view raw : alternatives) {
    const std::string_view alternative = trim_white_space(raw);
    if (alternative.empty()) return make_error("Empty array key alternative");
    if (is_quote(alternative.front())) {
      ZV_TRY(std::string name, parse_key(alternative));
      group.push_back(KeySegment{KeySegment::Kind::Name, 0, std::move(name)});
      continue;
    }
    ZV_TRY(KeySegment segment, read_unquoted_alternative(alternative));
    group.push_back(std::move(segment));
  }
  return group;
}

Result<IniValue> parse_integer(std::string_view body, bool negative) {
  uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), magnitude);
  constexpr uint64_t kMaxPositive = static_cast<uint64_t>(INT64_MAX);
  if (ec != std::errc() || magnitude > kMaxPositive + (negative ? 1 : 0)) {
    return make_error("Integer out of range");
  }
  if (!negative) return IniValue(static_cast<int64_t>(magnitude));
  if (magnitude == kMaxPositive + 1) return IniValue(INT64_MIN);
  return IniValue(-static_cast<int64_t>(magnitude));
}

Result<IniValue> parse_float(std::string_view item) {
  const std::string text(item);
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return make_error("Invalid float");
  if (std::isinf(value)) return make_error("Float out of range");
  return IniValue(value);
}

Result<IniValue> parse_number(std::string_view item) {
  const bool signed_text = item.front() == '+' || item.front() == '-';
  const std::string_view body = item.substr(signed_text ? 1 : 0);
  size_t dots = 0;
  size_t digits = 0;
  for (char c : body) {
    if (c == '.') {
      ++dots;
    } else if (is_ascii_digit(c)) {
      ++digits;
    } else {
      return make_error("Expected string literal, boolean or number");
    }
  }
  if (digits > 0 && dots == 0) return parse_integer(body, item.front() == '-');
  if (digits > 0 && dots == 1) return parse_float(item);
  return make_error("Expected string literal, boolean or number");
}

}  // namespace

std::optional<size_t> find_outside_quotes(std::string_view text, char target, size_t from) {
  QuoteTracker tracker;
  for (size_t i = from; i < text.size(); ++i) {
    if (tracker.outside(text[i]) && text[i] == target) return i;
  }
  return std::nullopt;
}

std::string_view strip_comment(std::string_view text) {
  QuoteTracker tracker;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!tracker.outside(c) || (c != '#' && c != ';')) continue;
    if (i == 0 || ends_with_white_space(text.substr(0, i))) return text.substr(0, i);
  }
  return text;
}

Result<std::vector<std::string_view>> split_outside_quotes(std::string_view text,
                                                           std::string_view unclosed_message) {
  std::vector<std::string_view> items;
  QuoteTracker tracker;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (tracker.outside(text[i]) && text[i] == ',') {
      items.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (tracker.open()) return make_error(std::string(unclosed_message));
  items.push_back(text.substr(start));
  return items;
}

Result<std::string> parse_string_literal(std::string_view text) {
  std::string out;
  size_t pos = 0;
  bool more = !text.empty() && is_quote(text.front());
  while (more) {
    const char quote = text[pos];
    const std::optional<size_t> next = quote == '"' ? read_double_piece(text, pos + 1, out)
                                                    : read_single_piece(text, pos + 1, out);
    if (!next) return make_error("Unclosed quoted value");
    pos = *next;
    ZV_TRY(more, continues_literal(text, pos));
  }
  return out;
}

Result<std::string> parse_key(std::string_view text) {
  const std::string_view key = trim_white_space(text);
  if (key.empty()) return make_error("Empty key");
  if (is_quote(key.front())) return parse_string_literal(key);
  if (key.find_first_of("\"'") != std::string_view::npos) {
    return make_error("Unexpected quote in key");
  }
  return std::string(key);
}

Result<KeyPattern> parse_key_pattern(std::string_view text) {
  KeyPattern pattern;
  const std::optional<size_t> open = find_outside_quotes(text, '[');
  ZV_TRY(pattern.base, parse_key(text.substr(0, open.value_or(text.size()))));
  std::string_view rest = open ? text.substr(*open) : std::string_view();
  while (!rest.empty()) {
    if (rest.front() != '[') return make_error("Invalid array key");
    const std::optional<size_t> close = find_outside_quotes(rest, ']', 1);
    if (!close) return make_error("Unclosed array key");
    ZV_TRY(auto group, read_group(trim_white_space(rest.substr(1, *close - 1))));
    pattern.groups.push_back(std::move(group));
    rest = rest.substr(*close + 1);
  }
  return pattern;
}

Result<IniValue> parse_value(std::string_view item) {
  if (item.empty()) return make_error("Expected value");
  if (is_quote(item.front())) {
    ZV_TRY(std::string text, parse_string_literal(item));
    return IniValue(std::move(text));
  }
  if (item == "true") return IniValue(true);
  if (item == "false") return IniValue(false);
  return parse_number(item);
}

Result<std::vector<IniValue>> parse_values(std::string_view text) {
  ZV_TRY(auto items, split_outside_quotes(text, "Unclosed quoted value"));
  std::vector<IniValue> values;
  values.reserve(items.size());
  for (std::string_view item : items) {
    ZV_TRY(IniValue value, parse_value(trim_white_space(item)));
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace zeviziz
