// The specificity record that orders CSS rules, and its computation from a
// selector's text. The text is read with the grammar of a nested rule's
// selector list (relative selectors, lists, compounds, attribute selectors,
// pseudo-classes and their arguments) without building any tree; reading
// stops at the first character the grammar refuses, and what was read up to
// there counts.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zeviziz {

// The first triple ignores :where(...); the "_all" triple counts :where(...)
// like :is(...). All counters saturate.
struct Specificity {
  uint16_t ids = 0;
  uint16_t classes = 0;
  uint16_t elements = 0;
  uint16_t ids_all = 0;
  uint16_t classes_all = 0;
  uint16_t elements_all = 0;
  uint64_t where_count = 0;
  uint64_t combinators = 0;
  // One code per pseudo-class in reading order: 71 focus, 72 hover, 73
  // active, 70 any other (none for :where and pseudo-elements).
  std::vector<uint16_t> codes;

  bool operator==(const Specificity&) const = default;
};

// Returns the saturating sum of `a` and `b`; codes are a's followed by b's.
Specificity add_specificity(const Specificity& a, const Specificity& b);

// Returns the record of a pseudo-class named `name` (compared ignoring ASCII
// case), a pseudo-element when `element`, whose parenthesised selector
// argument has the record `argument` (all zero without one).
Specificity pseudo_class_specificity(std::string_view name, bool element,
                                     const Specificity& argument);

// Keeps, in `list`, the larger of each triple of `list` and `alternative`
// and adds the other counters and codes: the record of a selector list is
// made by folding in each alternative. Resets `alternative`.
void close_alternative(Specificity& list, Specificity& alternative);

// Returns the specificity of the selector list `text`, each NUL character
// read as the nesting selector "&" (so the rule's own class counts
// nothing). The text is read as a nested rule's selector that ends at "{";
// when it does not read completely, the parts read before the first refused
// character count. Never fails.
Specificity selector_specificity(std::string_view text);

}  // namespace zeviziz
