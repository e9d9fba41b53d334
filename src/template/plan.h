// The template plan of one file: which byte ranges are template text of
// which template (with its whitespace options), which are string contents,
// and which are removed. The plan only cuts the file into ranges; rendering
// (render.h) resolves overlaps and produces the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "template/boundary.h"

namespace zeviziz {

// One byte range [start, end) of the plan (start < end) with its nesting
// depth (0 for the file's own template), the id of the region that recorded
// it, and the whitespace flags of its template.
struct Segment {
  size_t start = 0;
  size_t end = 0;
  int depth = 0;
  uint64_t region = 0;
  bool optimize_whitespaces = false;
  bool keep_indentation = false;
  bool keep_new_lines = false;

  bool operator==(const Segment&) const = default;
};

// The three segment lists of a file; segments of different lists may overlap.
struct Plan {
  std::vector<Segment> text_segments;
  std::vector<Segment> string_segments;
  std::vector<Segment> removed_ranges;
};

// Template definitions by name.
using TemplateMap = std::map<std::string, const TemplateDef*, std::less<>>;

// Returns the definitions of `templates` by name (pointers into the vector);
// when two share a name the first one wins. Never fails.
TemplateMap map_templates(const std::vector<TemplateDef>& templates);

// The state of planning one file.
struct PlanContext {
  std::string_view text;
  const BoundaryMap& boundaries;
  const TemplateMap& templates;
  uint64_t next_region = 0;
  Plan plan;
};

// Plans `range` of the context's text as template `tmpl` at `depth`, with
// `protected_ranges` (sorted, non-overlapping) claimed by enclosing levels.
// Fails with "Unknown boundary: " + name or "Unknown template: " + name; the
// first error aborts the plan.
Status plan_range(PlanContext& context, const TemplateDef& tmpl, Range range, int depth,
                  std::span<const Range> protected_ranges);

// Returns the plan of the whole of `text` compiled as `tmpl`, or the first
// error of `plan_range`.
Result<Plan> plan_file(std::string_view text, const TemplateDef& tmpl,
                       const BoundaryMap& boundaries, const TemplateMap& templates);

}  // namespace zeviziz
