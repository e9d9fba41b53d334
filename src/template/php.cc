// PHP scanning for the plan. The close search walks the code from the open
// delimiter, trying the close pattern at each position of code and line
// comments and skipping quoted strings, block comments and heredocs whole. A
// string, block comment or heredoc that never closes is read as code from
// its opening character on, as if the construct were not there; the scanner
// remembers such failures so later searches do not repeat them.
#include "template/php.h"

#include <algorithm>

#include "base/unicode.h"

namespace zeviziz {
namespace {

constexpr size_t npos = std::string_view::npos;

bool is_label_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool is_label_byte(char c) {
  return is_label_start(c) || (c >= '0' && c <= '9');
}

bool is_line_break(char c) {
  return c == '\n' || c == '\r';
}

// The end of the protected range holding `pos`, or `pos` itself.
size_t protected_end(std::span<const Range> ranges, size_t pos) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), pos,
                             [](size_t p, const Range& r) { return p < r.end; });
  return it == ranges.end() || it->start > pos ? pos : it->end;
}

// One search for a close delimiter, walking PHP from the content start.
class CloseSearch {
 public:
  CloseSearch(PhpScanner& scanner, std::string_view text, const Pattern& close,
              std::span<const Range> protected_ranges, MatchMemo* memo)
      : scanner_(scanner),
        text_(text),
        close_(close),
        limit_(scanner.limit()),
        protected_(protected_ranges),
        memo_(memo) {
    const auto& items = close.items;
    if (!items.empty() && items.front().is_literal) first_byte_ = items.front().literal.front();
  }

  std::optional<Match> from(size_t pos) {
    while (pos < limit_) {
      if (const size_t skipped = protected_end(protected_, pos); skipped != pos) {
        pos = skipped;
        continue;
      }
      if (auto match = close_at(pos)) return match;
      if (is_line_comment(pos)) {
        pos += text_[pos] == '#' ? 1 : 2;
        while (pos < limit_ && !is_line_break(text_[pos])) {
          if (auto match = close_at(pos)) return match;  // "?>" ends a line comment
          pos = step(pos);
        }
        continue;
      }
      const auto end = scanner_.construct_end(pos);
      pos = end ? *end : step(pos);
    }
    return std::nullopt;
  }

 private:
  std::optional<Match> close_at(size_t pos) {
    if (first_byte_ && text_[pos] != first_byte_) return std::nullopt;
    auto end = match_at(text_, close_, pos, limit_, memo_);
    if (!end) return std::nullopt;
    // A close delimiter may not run into a protected range.
    auto it = std::upper_bound(protected_.begin(), protected_.end(), pos,
                               [](size_t p, const Range& r) { return p < r.end; });
    if (it != protected_.end() && *end > it->start) return std::nullopt;
    return Match{pos, *end};
  }

  // A "//" or "#" comment starts at `pos`; "#[" opens an attribute instead.
  bool is_line_comment(size_t pos) const {
    const char next = pos + 1 < limit_ ? text_[pos + 1] : '\0';
    return (text_[pos] == '#' && next != '[') || (text_[pos] == '/' && next == '/');
  }

  size_t step(size_t pos) const {
    return std::min(limit_, pos + utf8_length(static_cast<unsigned char>(text_[pos])));
  }

  PhpScanner& scanner_;
  std::string_view text_;
  const Pattern& close_;
  size_t limit_;
  std::span<const Range> protected_;
  MatchMemo* memo_;
  char first_byte_ = 0;  // the byte every match starts with, when known
};

}  // namespace

std::optional<Region> PhpScanner::find_region(const CompiledBoundary& boundary, size_t from,
                                              std::span<const Range> protected_ranges,
                                              BoundaryMemo* memo) {
  const size_t limit = std::min(stretch_.end, text_.size());
  Region region{from, limit, from, limit};
  if (boundary.open) {
    auto open =
        find(text_, *boundary.open, from, limit, protected_ranges, memo ? &memo->open : nullptr);
    if (!open) return std::nullopt;
    region.start = open->start;
    region.content_start = open->end;
  }
  if (boundary.close) {
    CloseSearch search(*this, text_, *boundary.close, protected_ranges,
                       memo ? &memo->close : nullptr);
    auto close = search.from(region.content_start);
    if (!close) return std::nullopt;
    region.content_end = close->start;
    region.end = close->end;
  }
  if (region.start >= region.end) return std::nullopt;
  return region;
}

std::optional<size_t> PhpScanner::construct_end(size_t pos) {
  const char c = text_[pos];
  if (c == '\'' || c == '"' || c == '`') return quoted_end(pos, c);
  if (c == '/' && text_.compare(pos, 2, "/*") == 0) {
    if (comment_query_ == SIZE_MAX || pos + 2 < comment_query_ ||
        (comment_found_ != npos && pos + 2 > comment_found_)) {
      comment_query_ = pos + 2;
      comment_found_ = text_.substr(0, stretch_.end).find("*/", pos + 2);
    }
    if (comment_found_ == npos) return std::nullopt;
    return comment_found_ + 2;
  }
  if (c == '<') {
    if (auto heredoc = heredoc_at(pos)) return heredoc->end;
  }
  return std::nullopt;
}

std::optional<size_t> PhpScanner::quoted_end(size_t pos, char quote) {
  const size_t slot = quote == '\'' ? 0 : quote == '"' ? 1 : 2;
  if (pos >= unclosed_from_[slot]) return std::nullopt;
  for (size_t p = pos + 1; p < stretch_.end;) {
    if (text_[p] == quote) return p + 1;
    p += text_[p] == '\\' ? 2 : 1;
  }
  unclosed_from_[slot] = pos;
  return std::nullopt;
}

std::optional<Heredoc> PhpScanner::heredoc_at(size_t pos) {
  const size_t limit = stretch_.end;
  if (text_.compare(pos, 3, "<<<") != 0) return std::nullopt;
  size_t p = pos + 3;
  while (p < limit && (text_[p] == ' ' || text_[p] == '\t')) ++p;
  const char quote = p < limit && (text_[p] == '"' || text_[p] == '\'') ? text_[p] : '\0';
  if (quote) ++p;
  const size_t label = p;
  if (p >= limit || !is_label_start(text_[p])) return std::nullopt;
  while (p < limit && is_label_byte(text_[p])) ++p;
  const std::string_view name = text_.substr(label, p - label);
  if (quote && (p >= limit || text_[p++] != quote)) return std::nullopt;
  if (p < limit && text_[p] == '\r') ++p;
  if (p >= limit || text_[p] != '\n') return std::nullopt;
  const size_t body_start = p + 1;
  build_index();
  auto lines = line_starts_.find(name);
  if (lines == line_starts_.end()) return std::nullopt;
  auto closing = std::lower_bound(lines->second.begin(), lines->second.end(), body_start);
  if (closing == lines->second.end()) return std::nullopt;
  // The body ends before the line break that precedes the closing line.
  size_t line_start = *closing;
  while (line_start > body_start && !is_line_break(text_[line_start - 1])) --line_start;
  size_t body_end = line_start;
  if (body_end > body_start) --body_end;
  if (body_end > body_start && text_[body_end - 1] == '\r') --body_end;
  return Heredoc{pos, body_start, body_end, *closing + name.size()};
}

std::optional<Heredoc> PhpScanner::next_heredoc(size_t from,
                                                std::span<const Range> protected_ranges) {
  const std::string_view bounded = text_.substr(0, stretch_.end);
  size_t pos = from;
  while ((pos = bounded.find("<<<", pos)) != npos) {
    if (const size_t skipped = protected_end(protected_ranges, pos); skipped != pos) {
      pos = skipped;
      continue;
    }
    if (auto heredoc = heredoc_at(pos)) return heredoc;
    ++pos;
  }
  return std::nullopt;
}

void PhpScanner::build_index() {
  if (indexed_) return;
  indexed_ = true;
  size_t pos = stretch_.start;
  while (pos < stretch_.end) {
    const size_t line_end = std::min(text_.find('\n', pos), stretch_.end);
    size_t p = pos;
    while (p < line_end && (text_[p] == ' ' || text_[p] == '\t')) ++p;
    const size_t label = p;
    if (p < line_end && is_label_start(text_[p])) {
      while (p < line_end && is_label_byte(text_[p])) ++p;
      line_starts_[text_.substr(label, p - label)].push_back(label);
    }
    pos = line_end + 1;
  }
}

}  // namespace zeviziz
