// Which language a template kind reads, and the preformatted HTML elements.
// A kind's language follows the file suffixes it compiles, because that is
// what a user states about a kind; PHP code has no files of its own, so it is
// recognised as what a PHP file's boundary entries (its tags) hand on.
// Preformatted elements are found by a forward walk over the tags, which
// reads quoted attribute values as part of their tag; the plan's own string
// regions play no part, since a stray quote in the text would pair them
// differently. Comments and nested templates are passed over whole.
#include "template/language.h"

#include <algorithm>
#include <array>

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

// The end of the opaque range holding `pos`, or `pos` itself.
size_t opaque_end(std::span<const Range> opaque, size_t pos) {
  auto it = std::upper_bound(opaque.begin(), opaque.end(), pos,
                             [](size_t p, const Range& r) { return p < r.end; });
  return it == opaque.end() || it->start > pos ? pos : it->end;
}

// The position of the next "<" in [pos, end) outside `opaque`, or `end`.
size_t next_tag_open(std::string_view text, size_t pos, size_t end, std::span<const Range> opaque) {
  while (pos < end) {
    const size_t found = text.substr(0, end).find('<', pos);
    if (found == std::string_view::npos) return end;
    pos = opaque_end(opaque, found);
    if (pos == found) return found;
  }
  return end;
}

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The position after the ">" that ends the tag whose name starts at `pos`;
// quoted attribute values may hold ">". `end` when the tag does not end.
size_t tag_end(std::string_view text, size_t pos, size_t end, std::span<const Range> opaque) {
  char quote = 0;
  while (pos < end) {
    if (const size_t skipped = opaque_end(opaque, pos); skipped != pos) {
      pos = skipped;
      continue;
    }
    const char c = text[pos++];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return pos;
    }
  }
  return end;
}

// True when `name` (lower case) follows at `pos`, in any letter case, and
// ends there: followed by white space, ">" or "/".
bool tag_name_at(std::string_view text, size_t pos, size_t end, std::string_view name) {
  if (end - pos <= name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if ((text[pos + i] | 0x20) != name[i]) return false;  // ASCII letters in any case
  }
  const char next = text[pos + name.size()];
  return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' ||
         next == '\r' || next == '\f';
}

// The name of the preformatted element whose start tag has its name at
// `pos`, or empty.
std::string_view preformatted_at(std::string_view text, size_t pos, size_t end) {
  for (std::string_view name : {std::string_view("pre"), std::string_view("textarea")}) {
    if (tag_name_at(text, pos, end, name)) return name;
  }
  return {};
}

// True when "<pre" or "<textarea" occurs in `range` at all.
bool mentions_preformatted(std::string_view text, Range range) {
  const std::string_view bounded = text.substr(0, range.end);
  for (size_t pos = bounded.find('<', range.start); pos != std::string_view::npos;
       pos = bounded.find('<', pos + 1)) {
    if (!preformatted_at(text, pos + 1, range.end).empty()) return true;
  }
  return false;
}

// The start of the end tag of `name` at or after `pos`, or `end`.
size_t end_tag(std::string_view text, std::string_view name, size_t pos, size_t end,
               std::span<const Range> opaque) {
  while ((pos = next_tag_open(text, pos, end, opaque)) < end) {
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
                                     std::span<const Range> opaque) {
  std::vector<Range> zones;
  if (!mentions_preformatted(text, range)) return zones;  // the common case: one quick pass
  size_t pos = range.start;
  while ((pos = next_tag_open(text, pos, range.end, opaque)) < range.end) {
    if (pos + 1 >= range.end || !is_ascii_letter(text[pos + 1])) {
      ++pos;
      continue;
    }
    const std::string_view name = preformatted_at(text, pos + 1, range.end);
    pos = tag_end(text, pos + 1, range.end, opaque);
    if (name.empty() || pos >= range.end) continue;
    const size_t close = end_tag(text, name, pos, range.end, opaque);
    if (pos < close) zones.push_back(Range{pos, close});
    pos = close;
  }
  return zones;
}

}  // namespace zeviziz
