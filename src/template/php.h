// The lexical facts of PHP that the plan needs beyond the configured
// boundaries: the end of a PHP block is a close delimiter in code or in a
// line comment, never in a string, a block comment or a heredoc; and heredoc
// and nowdoc strings (`<<<ID`, `<<<"ID"`, `<<<'ID'`) run to the line that
// starts with their identifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "template/boundary.h"

namespace zeviziz {

// A heredoc or nowdoc: [start, end) from "<<<" to the end of the closing
// identifier, and its body [body_start, body_end): the lines between the
// opening line and the closing one, without the line break before the
// closing line.
struct Heredoc {
  size_t start = 0;
  size_t body_start = 0;
  size_t body_end = 0;
  size_t end = 0;

  bool operator==(const Heredoc&) const = default;
};

// Scans one stretch [start, limit) of a file as PHP, for one level of the
// plan. It remembers what earlier searches learnt (the identifiers that
// begin lines, built on first use; where "*/" next occurs; which quote
// characters never close again), so repeated searches from increasing
// positions stay linear in the stretch, also for unterminated constructs.
class PhpScanner {
 public:
  // `text` must outlive the scanner.
  PhpScanner(std::string_view text, Range stretch) : text_(text), stretch_(stretch) {}

  // Returns the first region of `boundary` in [from, limit) whose content is
  // PHP code: the open delimiter is found with `find`, the close delimiter
  // only where PHP would see it (in code or in a "//" or "#" line comment,
  // not in a quoted string, a "/* */" comment or a heredoc). Without an open
  // pattern the region starts at `from`; without a close pattern it runs to
  // the limit. nullopt when a delimiter is missing or the region is empty.
  std::optional<Region> find_region(const CompiledBoundary& boundary, size_t from,
                                    std::span<const Range> protected_ranges,
                                    BoundaryMemo* memo = nullptr);

  // Returns the heredoc whose "<<<" is at `pos`, or nullopt.
  std::optional<Heredoc> heredoc_at(size_t pos);

  // Returns the first heredoc whose "<<<" lies in [from, limit) outside
  // `protected_ranges` (sorted), or nullopt.
  std::optional<Heredoc> next_heredoc(size_t from, std::span<const Range> protected_ranges);

  // The end of the string, block comment or heredoc that starts at `pos`, or
  // nullopt when none starts there (or it never closes).
  std::optional<size_t> construct_end(size_t pos);

  size_t limit() const { return stretch_.end; }

 private:
  void build_index();
  std::optional<size_t> quoted_end(size_t pos, char quote);

  std::string_view text_;
  Range stretch_;
  bool indexed_ = false;
  // For each identifier that begins a line (after spaces and tabs), the
  // positions where it begins, ascending.
  std::map<std::string_view, std::vector<size_t>, std::less<>> line_starts_;
  size_t comment_query_ = SIZE_MAX;  // last look-up of "*/" and its answer
  size_t comment_found_ = 0;
  // Per quote character (' " `): positions from which it never closes.
  size_t unclosed_from_[3] = {SIZE_MAX, SIZE_MAX, SIZE_MAX};
};

}  // namespace zeviziz
