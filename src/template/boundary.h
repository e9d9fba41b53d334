// Boundary patterns: the small pattern language of the `[boundaries]`
// delimiters, matching a pattern at a position, the leftmost search that
// respects ranges already claimed, the search that skips delimiters escaped by
// backslashes, and the search for a whole boundary region (open delimiter,
// content, close delimiter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace zeviziz {

// The character classes of the escapes \\ \n \r \t \s \v \c.
enum class CharClass : uint8_t {
  Backslash,       // "\\"
  LineFeed,        // "\n"
  CarriageReturn,  // "\r"
  Tab,             // "\t"
  WhiteSpace,      // "\s": one Unicode White_Space character
  NotWhiteSpace,   // "\v": one character that is not white space
  Any,             // "\c": any one character
};

// One pattern item: a literal text, or a run of characters of one class.
struct PatternItem {
  bool is_literal = true;
  std::string literal;  // non-empty for a literal item
  CharClass char_class = CharClass::Any;
  uint64_t min = 1;
  std::optional<uint64_t> max = 1;  // nullopt: no maximum

  bool operator==(const PatternItem&) const = default;
};

// A compiled pattern: its items in order.
struct Pattern {
  std::vector<PatternItem> items;

  bool operator==(const Pattern&) const = default;
};

// A byte range [start, end) of a file.
struct Range {
  size_t start = 0;
  size_t end = 0;

  bool operator==(const Range&) const = default;
};

// A match or region delimiter found by a search: [start, end).
using Match = Range;

// Search memory for one pattern over one text and one limit: where the
// literal that follows a lazy "\c" run next occurs, so repeated searches from
// increasing positions never scan the same stretch twice. Only valid for the
// text it was used with.
struct MatchMemo {
  struct Entry {
    size_t query = SIZE_MAX;  // SIZE_MAX: nothing remembered yet
    size_t limit = 0;
    size_t found = 0;  // first occurrence in [query, limit), or npos
  };
  std::vector<Entry> entries;  // indexed by pattern item
};

// Returns the compiled form of `text`. Never fails: every text is a pattern
// (escapes with an invalid count mean one character and the "[" is read again
// as text; unknown escapes are literal text).
Pattern compile_pattern(std::string_view text);

// Returns the end of the match of the whole `pattern` starting exactly at
// `pos`, reading nothing at or beyond `limit`; nullopt when it does not match.
// Inner variable runs are lazy, a variable last run is greedy. `memo`, when
// given, must belong to this pattern and this text.
std::optional<size_t> match_at(std::string_view text, const Pattern& pattern, size_t pos,
                               size_t limit, MatchMemo* memo = nullptr);

// Returns the leftmost match that starts in [from, limit), or nullopt. Starts
// inside a `protected_ranges` range are skipped, and a match is rejected when
// it runs into the start of a later protected range. `protected_ranges` must
// be sorted by start and not overlap one another.
std::optional<Match> find(std::string_view text, const Pattern& pattern, size_t from, size_t limit,
                          std::span<const Range> protected_ranges, MatchMemo* memo = nullptr);

// Like `find`, but skips a match preceded by an odd number of backslashes
// (counted backwards down to `floor`, stopping at a protected position).
std::optional<Match> find_unescaped(std::string_view text, const Pattern& pattern, size_t from,
                                    size_t limit, size_t floor,
                                    std::span<const Range> protected_ranges,
                                    MatchMemo* memo = nullptr);

// A configured boundary with its delimiters compiled.
struct CompiledBoundary {
  std::string name;
  std::optional<Pattern> open;   // nullopt when the open text is empty
  std::optional<Pattern> close;  // nullopt when the close text is empty
  // True when the close delimiter matches nothing but line breaks (written as
  // CR/LF characters or as the "\n" / "\r" escapes); a removed region then
  // keeps its line break.
  bool close_is_newline = false;
};

// Compiled boundaries by name.
using BoundaryMap = std::map<std::string, CompiledBoundary, std::less<>>;

// Returns `def` compiled. Never fails.
CompiledBoundary compile_boundary(const BoundaryDef& def);

// Returns every boundary of `defs` compiled, keyed by name; when two share a
// name the first one wins. Never fails.
BoundaryMap compile_boundaries(const std::vector<BoundaryDef>& defs);

// A boundary region: [start, end) with its content [content_start, content_end).
struct Region {
  size_t start = 0;
  size_t end = 0;
  size_t content_start = 0;
  size_t content_end = 0;

  bool operator==(const Region&) const = default;
};

// Search memory of one boundary's two patterns over one text.
struct BoundaryMemo {
  MatchMemo open;
  MatchMemo close;
};

// Returns the first region of `boundary` in [from, limit) found with `find`,
// or nullopt (no open match, no close match, or an empty region). Without an
// open pattern the region starts at `from`; without a close pattern it runs
// to `limit`.
std::optional<Region> find_region(std::string_view text, const CompiledBoundary& boundary,
                                  size_t from, size_t limit,
                                  std::span<const Range> protected_ranges,
                                  BoundaryMemo* memo = nullptr);

// Like `find_region`, but both delimiters are searched with `find_unescaped`:
// the open one with `floor`, the close one with the content start as floor.
std::optional<Region> find_unescaped_region(std::string_view text, const CompiledBoundary& boundary,
                                            size_t from, size_t limit, size_t floor,
                                            std::span<const Range> protected_ranges,
                                            BoundaryMemo* memo = nullptr);

}  // namespace zeviziz
