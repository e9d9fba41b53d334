// The lexical facts of JavaScript that the plan needs beyond the configured
// boundaries: where regular-expression literals are (a quote or "//" inside
// one starts nothing) and where each template literal really ends (strings
// and templates nested in its "${...}" hold backticks of their own).
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "template/boundary.h"

namespace zeviziz {

struct JavaScriptLayout {
  // Each regular-expression literal, from its opening "/" to the end of its
  // flags, in file order.
  std::vector<Range> regexes;
  // Each terminated template literal, from its opening backtick to after its
  // closing one, sorted by start (nested ones included).
  std::vector<Range> templates;
};

// Returns the layout of `range` of `text`. A "/" starts a regular expression
// where no value precedes it: at the start, after a punctuator or operator
// other than ")", "]" and "}", or after a keyword such as `return`, `typeof`
// or `in`; the literal runs to the next "/" outside a class "[...]" that no
// backslash escapes, on the same line. `protected_ranges` (sorted) are
// skipped as values. Never fails; unterminated literals are left out.
JavaScriptLayout scan_javascript(std::string_view text, Range range,
                                 std::span<const Range> protected_ranges);

}  // namespace zeviziz
