// Operations on selector trees: splitting a selector list into alternatives,
// joining alternatives, substituting a parent for the nesting selector "&",
// combining a rule selector with a directive selector, and specificity.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "lexer/node.h"

namespace zeviziz {

// The record that orders CSS rules. The first triple ignores :where(...);
// the "_all" triple counts :where(...) like :is(...). All counters saturate.
struct Specificity {
  uint16_t ids = 0;
  uint16_t classes = 0;
  uint16_t elements = 0;
  uint16_t ids_all = 0;
  uint16_t classes_all = 0;
  uint16_t elements_all = 0;
  uint64_t where_count = 0;
  uint64_t combinators = 0;
  // One code per pseudo-class in tree order: 71 focus, 72 hover, 73 active,
  // 70 any other (none for :where and pseudo-elements).
  std::vector<uint16_t> codes;

  bool operator==(const Specificity&) const = default;
};

// Returns the saturating sum of `a` and `b`; codes are a's followed by b's.
Specificity add_specificity(const Specificity& a, const Specificity& b);

// Returns the specificity record of the sub-tree `node` (never fails).
Specificity specificity(const Node& node);

// Cuts `nodes` at every Comma node into alternatives; Space nodes at the
// start and end of each alternative are dropped. Always at least one
// alternative (possibly empty).
std::vector<std::vector<Node>> split_selector(std::span<const Node> nodes);

// Returns one Selector node holding the alternatives' nodes with a Comma node
// (value ",") between neighbours.
Node join_selector(const std::vector<std::vector<Node>>& alternatives);

// Replaces, at every depth of `nodes`, each Nesting node by copies of the
// `parent` nodes (spliced in its place). Returns whether any Nesting node was
// found.
bool substitute_nesting(std::vector<Node>& nodes, std::span<const Node> parent);

// Combines the alternatives of both selectors: for each rule alternative R and
// each directive alternative D, D with "&" replaced by R when D holds a
// Nesting node, else R followed by D. Returns one Selector node.
Node combine_selectors(const Node& rule_selector, const Node& directive_selector);

}  // namespace zeviziz
