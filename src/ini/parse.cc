// INI parser: skips byte-order marks, cuts the text at LF (dropping a CR
// right before it), trims and comment-strips each line, and hands section
// headers and key lines to the document. One pass over the text; the first
// error is tagged with its line number and ends the parse.
#include "ini/parse.h"

#include <string>

#include "base/unicode.h"
#include "ini/syntax.h"

namespace zeviziz {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Status parse_section(IniDocument& document, std::string_view line) {
  if (line.size() < 2 || line.back() != ']') return make_error("Unclosed section");
  const std::string_view name = trim_white_space(line.substr(1, line.size() - 2));
  if (name.empty()) return make_error("Empty section");
  document.open_section(name);
  return {};
}

Status parse_key_line(IniDocument& document, std::string_view line) {
  const std::optional<size_t> equals = find_outside_quotes(line, '=');
  if (!equals) return make_error("Expected key = value");
  const std::string_view key_text = trim_white_space(line.substr(0, *equals));
  const std::string_view value_text =
      trim_white_space(strip_comment(trim_white_space(line.substr(*equals + 1))));
  if (value_text.empty()) return make_error("Expected value");
  ZV_TRY(KeyPattern key, parse_key_pattern(key_text));
  ZV_TRY(std::vector<IniValue> values, parse_values(value_text));
  return document.assign(key, values);
}

Status parse_line(IniDocument& document, std::string_view line) {
  const std::string_view content = trim_white_space(strip_comment(trim_white_space(line)));
  if (content.empty()) return {};
  if (content.front() == '[') return parse_section(document, content);
  return parse_key_line(document, content);
}

}  // namespace

Result<IniDocument> parse_ini(std::string_view text) {
  while (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  IniDocument document;
  size_t line_number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    Status status = parse_line(document, line);
    if (!status.ok()) {
      return prefix_error("INI line " + std::to_string(line_number) + ": ", status.take_error());
    }
  }
  return document;
}

}  // namespace zeviziz
