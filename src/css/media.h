// Media ranges: recognises at-rules that are pure width ranges ("@media" with
// only min-width/max-width conditions in pixels), merges neighbouring ranges
// into one canonical "@media" text, and computes a rule's overall width bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace zeviziz {

// A width range in pixels; 0 means no bound on that side.
struct MediaRange {
  uint32_t min = 0;
  uint32_t max = 0;
};

// Returns the range of `at_rule` when it is "@media" followed only by
// "(min-width:Npx)" / "(max-width:Npx)" pieces joined by " and ", with the
// largest min and the smallest max; std::nullopt when it is no range.
std::optional<MediaRange> parse_range(std::string_view at_rule);

// An at-rule list after normalisation, with the bounds of all its ranges:
// `bound_min` the largest min (0 if none), `bound_max` the smallest non-zero
// max (0 if none).
struct NormalizedAtRules {
  std::vector<std::string> at_rules;
  uint32_t bound_min = 0;
  uint32_t bound_max = 0;
};

// Rewrites every range at-rule into its canonical text "@media(min-width:Npx)
// and (max-width:Mpx)", merging it with a directly preceding range and
// dropping ranges without any bound; other at-rules stay unchanged. Fails with
// "Declaration has non-overlapping media ranges" when bound_max is below
// bound_min.
Result<NormalizedAtRules> normalize_at_rules(const std::vector<std::string>& at_rules);

// Returns the canonical text of `range` ("" when it has no bound).
std::string canonical_range_text(MediaRange range);

}  // namespace zeviziz
