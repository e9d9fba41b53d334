// Which language a template kind reads, and the preformatted HTML elements.
// A kind's language follows the file suffixes it compiles, because that is
// what a user states about a kind; PHP code has no files of its own, so it is
// recognised as what a PHP file's boundary entries (its tags) hand on.
// Preformatted elements are found by a forward scan over the text that no
// region claimed, so tags written inside attribute strings, comments or
// nested templates do not count.
#include "template/language.h"

#include <algorithm>
#include <array>

#include "base/unicode.h"

namespace zeviziz {
namespace {

bool has_suffix(const TemplateDef& tmpl, std::span<const std::string_view> suffixes) {
  return std::any_of(tmpl.extensions.begin(), tmpl.extensions.end(), [&](const std::string& ext) {
    return std::any_of(suffixes.begin(), suffixes.end(),
                       [&](std::string_view suffix) { return ext.ends_with(suffix); });
  });
}

constexpr std::array<std::string_view, 3> kJavaScriptSuffixes{".js", ".mjs", ".cjs"};
constexpr std::array<std::string_view, 2> kHtmlSuffixes{".html", ".htm"};
constexpr std::array<std::string_view, 1> kPhpSuffixes{".php"};

bool hands_on_to(const TemplateDef& owner, const std::string& name) {
  return std::any_of(owner.templates.begin(), owner.templates.end(), [&](const TemplateEntry& e) {
    return e.has_boundary && std::find(e.names.begin(), e.names.end(), name) != e.names.end();
  });
}

// The position of the next `c` in [pos, end) outside `claimed`, or `end`.
size_t next_unclaimed(std::string_view text, char c, size_t pos, size_t end,
                      std::span<const Range> claimed) {
  while (pos < end) {
    const size_t found = text.substr(0, end).find(c, pos);
    if (found == std::string_view::npos) return end;
    auto it = std::upper_bound(claimed.begin(), claimed.end(), found,
                               [](size_t p, const Range& r) { return p < r.end; });
    if (it == claimed.end() || it->start > found) return found;
    pos = it->end;
  }
  return end;
}

// True when `name` (lower case) follows at `pos`, in any letter case, and
// ends there: followed by white space, ">" or "/".
bool tag_name_at(std::string_view text, size_t pos, size_t end, std::string_view name) {
  if (end - pos <= name.size()) return false;
  if (ascii_lower(text.substr(pos, name.size())) != name) return false;
  const char next = text[pos + name.size()];
  return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' ||
         next == '\r' || next == '\f';
}

// The name of the preformatted element whose start tag opens at `lt` ("<"),
// or empty.
std::string_view preformatted_at(std::string_view text, size_t lt, size_t end) {
  for (std::string_view name : {std::string_view("pre"), std::string_view("textarea")}) {
    if (tag_name_at(text, lt + 1, end, name)) return name;
  }
  return {};
}

// The start of the end tag of `name` at or after `pos`, or `end`.
size_t end_tag(std::string_view text, std::string_view name, size_t pos, size_t end,
               std::span<const Range> claimed) {
  while ((pos = next_unclaimed(text, '<', pos, end, claimed)) < end) {
    if (pos + 1 < end && text[pos + 1] == '/' && tag_name_at(text, pos + 2, end, name)) return pos;
    ++pos;
  }
  return end;
}

}  // namespace

Language language_of(const TemplateDef& tmpl, const TemplateMap& templates) {
  if (has_suffix(tmpl, kJavaScriptSuffixes)) return Language::JavaScript;
  if (has_suffix(tmpl, kHtmlSuffixes)) return Language::Html;
  for (const auto& [name, owner] : templates) {
    if (has_suffix(*owner, kPhpSuffixes) && hands_on_to(*owner, tmpl.name)) return Language::Php;
  }
  return Language::None;
}

std::vector<Range> find_preformatted(std::string_view text, Range range,
                                     std::span<const Range> claimed) {
  std::vector<Range> zones;
  size_t pos = range.start;
  while ((pos = next_unclaimed(text, '<', pos, range.end, claimed)) < range.end) {
    const std::string_view name = preformatted_at(text, pos, range.end);
    if (name.empty()) {
      ++pos;
      continue;
    }
    const size_t gt = next_unclaimed(text, '>', pos + 1 + name.size(), range.end, claimed);
    if (gt >= range.end) break;
    const size_t close = end_tag(text, name, gt + 1, range.end, claimed);
    if (gt + 1 < close) zones.push_back(Range{gt + 1, close});
    pos = close;
  }
  return zones;
}

}  // namespace zeviziz
