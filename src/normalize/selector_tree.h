// Operations on selector trees: splitting a selector list into alternatives,
// joining alternatives, substituting a parent for the nesting selector "&",
// and combining a rule selector with a directive selector.
#pragma once

#include <span>
#include <vector>

#include "lexer/node.h"

namespace zeviziz {

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
