// Boundary patterns. A pattern compiles into literal items and class runs.
// Matching walks the items from a position; a variable run that is not the
// last item is lazy (the rest is tried after the fewest characters first), a
// variable last run is greedy. Searches try each character position from left
// to right but jump ahead with a plain substring search whenever the pattern
// starts with a literal or a single-byte class, and a lazy "\c" run looks up
// the literal after it instead of trying every count; `MatchMemo` remembers
// those look-ups, so a text with many unmatched openers stays linear.
#include "template/boundary.h"

#include <algorithm>

#include "base/unicode.h"

namespace zeviziz {
namespace {

constexpr size_t npos = std::string_view::npos;

std::optional<CharClass> escape_class(char c) {
  switch (c) {
    case '\\':
      return CharClass::Backslash;
    case 'n':
      return CharClass::LineFeed;
    case 'r':
      return CharClass::CarriageReturn;
    case 't':
      return CharClass::Tab;
    case 's':
      return CharClass::WhiteSpace;
    case 'v':
      return CharClass::NotWhiteSpace;
    case 'c':
      return CharClass::Any;
    default:
      return std::nullopt;
  }
}

// Parses "+"? digits into a 64-bit value; nullopt on any other text or overflow.
std::optional<uint64_t> parse_count_number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

struct Count {
  uint64_t min;
  std::optional<uint64_t> max;
};

// Reads the text between the brackets of a count: "n", "a:", ":b" or "a:b".
std::optional<Count> parse_count(std::string_view inner) {
  const size_t colon = inner.find(':');
  if (colon == npos) {
    auto n = parse_count_number(inner);
    if (!n) return std::nullopt;
    return Count{*n, *n};
  }
  const std::string_view low = inner.substr(0, colon);
  const std::string_view high = inner.substr(colon + 1);
  if (low.empty() && high.empty()) return std::nullopt;
  std::optional<uint64_t> min = low.empty() ? std::optional<uint64_t>(0) : parse_count_number(low);
  if (!min) return std::nullopt;
  if (high.empty()) return Count{*min, std::nullopt};
  auto max = parse_count_number(high);
  if (!max || *min > *max) return std::nullopt;
  return Count{*min, *max};
}

// Reads an optional "[...]" count at `pos`; advances `pos` past it when valid.
Count read_count(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '[') return Count{1, 1};
  const size_t close = text.find(']', pos + 1);
  if (close == npos) return Count{1, 1};
  auto count = parse_count(text.substr(pos + 1, close - pos - 1));
  if (!count) return Count{1, 1};
  pos = close + 1;
  return *count;
}

void flush_literal(Pattern& pattern, std::string& pending) {
  if (pending.empty()) return;
  PatternItem item;
  item.literal = std::move(pending);
  pattern.items.push_back(std::move(item));
  pending.clear();
}

bool in_class(CharClass cls, char32_t ch) {
  switch (cls) {
    case CharClass::Backslash:
      return ch == U'\\';
    case CharClass::LineFeed:
      return ch == 0x0A;
    case CharClass::CarriageReturn:
      return ch == 0x0D;
    case CharClass::Tab:
      return ch == 0x09;
    case CharClass::WhiteSpace:
      return is_white_space(ch);
    case CharClass::NotWhiteSpace:
      return !is_white_space(ch);
    case CharClass::Any:
      return true;
  }
  return false;
}

// The single byte a class stands for, or 0 for multi-character classes.
char class_byte(CharClass cls) {
  switch (cls) {
    case CharClass::Backslash:
      return '\\';
    case CharClass::LineFeed:
      return '\n';
    case CharClass::CarriageReturn:
      return '\r';
    case CharClass::Tab:
      return '\t';
    default:
      return 0;
  }
}

bool is_continuation_byte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Steps over the character at `pos` when it is below `limit` and in `cls`.
bool step_in_class(std::string_view text, CharClass cls, size_t& pos, size_t limit) {
  if (pos >= limit) return false;
  size_t next = pos;
  const char32_t ch = decode_utf8(text, next);
  if (next > limit || !in_class(cls, ch)) return false;
  pos = next;
  return true;
}

size_t next_char(std::string_view text, size_t pos) {
  decode_utf8(text, pos);
  return pos;
}

// First occurrence of `literal` in [pos, limit) (npos when none), answered
// from `memo` when an earlier look-up with the same limit already covers `pos`.
size_t next_literal(std::string_view text, const std::string& literal, size_t pos, size_t limit,
                    MatchMemo::Entry* memo) {
  if (memo && memo->query != SIZE_MAX && memo->limit == limit && memo->query <= pos &&
      (memo->found == npos || pos <= memo->found)) {
    return memo->found;
  }
  const size_t found = text.substr(0, limit).find(literal, pos);
  if (memo) *memo = MatchMemo::Entry{pos, limit, found};
  return found;
}

class Matcher {
 public:
  Matcher(std::string_view text, const Pattern& pattern, size_t limit, MatchMemo* memo)
      : text_(text), items_(pattern.items), limit_(limit), memo_(memo) {
    if (memo_ && memo_->entries.size() != items_.size()) memo_->entries.resize(items_.size());
  }

  // Matches items [index, end) from `pos`; returns the end position.
  std::optional<size_t> match(size_t index, size_t pos) const {
    for (; index < items_.size(); ++index) {
      const PatternItem& item = items_[index];
      if (item.is_literal) {
        if (!match_literal(item.literal, pos)) return std::nullopt;
        continue;
      }
      if (!consume(item.char_class, item.min, pos)) return std::nullopt;
      if (item.max && *item.max == item.min) continue;
      if (index + 1 == items_.size()) return greedy(item, pos);
      return lazy(index, pos);
    }
    return pos;
  }

 private:
  bool match_literal(const std::string& literal, size_t& pos) const {
    if (literal.size() > limit_ || pos > limit_ - literal.size()) return false;
    if (text_.compare(pos, literal.size(), literal) != 0) return false;
    pos += literal.size();
    return true;
  }

  // Consumes exactly `count` characters of `cls`.
  bool consume(CharClass cls, uint64_t count, size_t& pos) const {
    for (uint64_t i = 0; i < count; ++i) {
      if (!step_in_class(text_, cls, pos, limit_)) return false;
    }
    return true;
  }

  // The longest run after the minimum (already consumed), up to the maximum.
  size_t greedy(const PatternItem& item, size_t pos) const {
    uint64_t extra = item.max ? *item.max - item.min : UINT64_MAX;
    while (extra > 0 && step_in_class(text_, item.char_class, pos, limit_)) --extra;
    return pos;
  }

  // Tries the rest after the minimum, then after each further character.
  std::optional<size_t> lazy(size_t index, size_t pos) const {
    const PatternItem& item = items_[index];
    const PatternItem& next = items_[index + 1];
    if (item.char_class == CharClass::Any && next.is_literal &&
        !is_continuation_byte(next.literal.front())) {
      return lazy_any(index, pos);
    }
    uint64_t extra = item.max ? *item.max - item.min : UINT64_MAX;
    while (true) {
      if (auto end = match(index + 1, pos)) return end;
      if (extra == 0 || !step_in_class(text_, item.char_class, pos, limit_)) return std::nullopt;
      --extra;
    }
  }

  // A lazy run of any characters followed by a literal: only the positions
  // where that literal occurs can continue the match.
  std::optional<size_t> lazy_any(size_t index, size_t pos) const {
    const PatternItem& item = items_[index];
    const std::string& literal = items_[index + 1].literal;
    MatchMemo::Entry* memo = memo_ ? &memo_->entries[index + 1] : nullptr;
    uint64_t extra = item.max ? *item.max - item.min : UINT64_MAX;
    while (true) {
      const size_t found = next_literal(text_, literal, pos, limit_, memo);
      if (found == npos) return std::nullopt;
      if (!item.max) pos = found;
      while (pos < found) {  // count the characters a bounded run skips
        if (extra == 0) return std::nullopt;
        pos = next_char(text_, pos);
        --extra;
      }
      if (auto end = match(index + 1, pos)) return end;
      if (extra == 0 || !step_in_class(text_, CharClass::Any, pos, limit_)) return std::nullopt;
      --extra;
    }
  }

  std::string_view text_;
  const std::vector<PatternItem>& items_;
  size_t limit_;
  MatchMemo* memo_;
};

// The next position at or after `pos` where a match could start, or npos.
size_t next_candidate(std::string_view text, const Pattern& pattern, size_t pos, size_t limit) {
  if (pattern.items.empty()) return pos;
  const PatternItem& first = pattern.items.front();
  const std::string_view bounded = text.substr(0, limit);
  if (first.is_literal && !is_continuation_byte(first.literal.front())) {
    return bounded.find(first.literal, pos);
  }
  if (!first.is_literal && first.min > 0 && class_byte(first.char_class) != 0) {
    return bounded.find(class_byte(first.char_class), pos);
  }
  return pos;
}

// First protected range whose end lies after `pos`.
std::span<const Range>::iterator first_range_after(std::span<const Range> ranges, size_t pos) {
  return std::upper_bound(ranges.begin(), ranges.end(), pos,
                          [](size_t p, const Range& r) { return p < r.end; });
}

bool is_protected(std::span<const Range> ranges, size_t pos) {
  auto it = first_range_after(ranges, pos);
  return it != ranges.end() && it->start <= pos;
}

// Number of backslashes directly before `pos`, not counting below `floor`
// nor into protected positions.
size_t backslashes_before(std::string_view text, size_t pos, size_t floor,
                          std::span<const Range> ranges) {
  size_t count = 0;
  while (pos > floor && text[pos - 1] == '\\' && !is_protected(ranges, pos - 1)) {
    --pos;
    ++count;
  }
  return count;
}

bool is_line_break_item(const PatternItem& item) {
  if (!item.is_literal) {
    return item.char_class == CharClass::LineFeed || item.char_class == CharClass::CarriageReturn;
  }
  return item.literal.find_first_not_of("\r\n") == npos;
}

using Finder = std::optional<Match> (*)(std::string_view, const Pattern&, size_t, size_t, size_t,
                                        std::span<const Range>, MatchMemo*);

std::optional<Match> plain_finder(std::string_view text, const Pattern& pattern, size_t from,
                                  size_t limit, size_t, std::span<const Range> ranges,
                                  MatchMemo* memo) {
  return find(text, pattern, from, limit, ranges, memo);
}

std::optional<Region> region_search(std::string_view text, const CompiledBoundary& boundary,
                                    size_t from, size_t limit, std::optional<size_t> floor,
                                    std::span<const Range> ranges, BoundaryMemo* memo) {
  const Finder finder = floor ? &find_unescaped : &plain_finder;
  Region region{from, limit, from, limit};
  if (boundary.open) {
    auto open = finder(text, *boundary.open, from, limit, floor.value_or(0), ranges,
                       memo ? &memo->open : nullptr);
    if (!open) return std::nullopt;
    region.start = open->start;
    region.content_start = open->end;
  }
  if (boundary.close) {
    auto close = finder(text, *boundary.close, region.content_start, limit, region.content_start,
                        ranges, memo ? &memo->close : nullptr);
    if (!close) return std::nullopt;
    region.content_end = close->start;
    region.end = close->end;
  }
  if (region.start >= region.end) return std::nullopt;
  return region;
}

}  // namespace

Pattern compile_pattern(std::string_view text) {
  Pattern pattern;
  std::string pending;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos++];
    // An unknown escape keeps its backslash; the next character follows as
    // ordinary text (it cannot be a backslash: "\\" is a class escape).
    std::optional<CharClass> cls =
        (c == '\\' && pos < text.size()) ? escape_class(text[pos]) : std::nullopt;
    if (!cls) {
      pending.push_back(c);
      continue;
    }
    ++pos;
    flush_literal(pattern, pending);
    const Count count = read_count(text, pos);
    pattern.items.push_back(PatternItem{false, {}, *cls, count.min, count.max});
  }
  flush_literal(pattern, pending);
  return pattern;
}

std::optional<size_t> match_at(std::string_view text, const Pattern& pattern, size_t pos,
                               size_t limit, MatchMemo* memo) {
  limit = std::min(limit, text.size());
  if (pos > limit) return std::nullopt;
  return Matcher(text, pattern, limit, memo).match(0, pos);
}

std::optional<Match> find(std::string_view text, const Pattern& pattern, size_t from, size_t limit,
                          std::span<const Range> protected_ranges, MatchMemo* memo) {
  limit = std::min(limit, text.size());
  auto next_range = first_range_after(protected_ranges, from);
  size_t pos = from;
  while (pos < limit) {
    if (next_range != protected_ranges.end() && next_range->start <= pos) {
      pos = std::max(pos, std::min(next_range->end, limit));
      ++next_range;
      continue;
    }
    const size_t candidate = next_candidate(text, pattern, pos, limit);
    if (candidate == npos) return std::nullopt;
    if (candidate != pos) {
      pos = candidate;
      next_range = first_range_after(protected_ranges, pos);
      continue;
    }
    auto end = match_at(text, pattern, pos, limit, memo);
    if (end && (next_range == protected_ranges.end() || *end <= next_range->start)) {
      return Match{pos, *end};
    }
    pos = next_char(text, pos);
  }
  return std::nullopt;
}

std::optional<Match> find_unescaped(std::string_view text, const Pattern& pattern, size_t from,
                                    size_t limit, size_t floor,
                                    std::span<const Range> protected_ranges, MatchMemo* memo) {
  limit = std::min(limit, text.size());
  size_t pos = from;
  while (true) {
    auto match = find(text, pattern, pos, limit, protected_ranges, memo);
    if (!match) return std::nullopt;
    if (match->start <= floor ||
        backslashes_before(text, match->start, floor, protected_ranges) % 2 == 0) {
      return match;
    }
    pos = next_char(text, match->start);
    if (pos >= limit) return std::nullopt;
  }
}

CompiledBoundary compile_boundary(const BoundaryDef& def) {
  CompiledBoundary boundary;
  boundary.name = def.name;
  if (!def.open.empty()) boundary.open = compile_pattern(def.open);
  if (!def.close.empty()) {
    boundary.close = compile_pattern(def.close);
    const auto& items = boundary.close->items;
    boundary.close_is_newline = std::all_of(items.begin(), items.end(), is_line_break_item);
  }
  return boundary;
}

BoundaryMap compile_boundaries(const std::vector<BoundaryDef>& defs) {
  BoundaryMap map;
  for (const BoundaryDef& def : defs) {
    if (map.find(def.name) == map.end()) map.emplace(def.name, compile_boundary(def));
  }
  return map;
}

std::optional<Region> find_region(std::string_view text, const CompiledBoundary& boundary,
                                  size_t from, size_t limit,
                                  std::span<const Range> protected_ranges, BoundaryMemo* memo) {
  return region_search(text, boundary, from, std::min(limit, text.size()), std::nullopt,
                       protected_ranges, memo);
}

std::optional<Region> find_unescaped_region(std::string_view text, const CompiledBoundary& boundary,
                                            size_t from, size_t limit, size_t floor,
                                            std::span<const Range> protected_ranges,
                                            BoundaryMemo* memo) {
  return region_search(text, boundary, from, std::min(limit, text.size()), floor, protected_ranges,
                       memo);
}

}  // namespace zeviziz
