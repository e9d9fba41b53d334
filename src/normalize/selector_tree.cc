// Selector trees: split and join of selector lists, substitution of "&" at
// every depth, and the combination of a rule selector with a directive
// selector (every rule alternative with every directive alternative).
#include "normalize/selector_tree.h"

#include <algorithm>

namespace zeviziz {

std::vector<std::vector<Node>> split_selector(std::span<const Node> nodes) {
  std::vector<std::vector<Node>> alternatives(1);
  for (const Node& node : nodes) {
    if (node.kind == NodeKind::Comma) {
      alternatives.emplace_back();
    } else {
      alternatives.back().push_back(node);
    }
  }
  for (std::vector<Node>& alternative : alternatives) {
    while (!alternative.empty() && alternative.back().kind == NodeKind::Space) {
      alternative.pop_back();
    }
    const auto first_kept = std::ranges::find_if(
        alternative, [](const Node& node) { return node.kind != NodeKind::Space; });
    alternative.erase(alternative.begin(), first_kept);
  }
  return alternatives;
}

Node join_selector(const std::vector<std::vector<Node>>& alternatives) {
  Node selector(NodeKind::Selector);
  for (size_t i = 0; i < alternatives.size(); ++i) {
    if (i > 0) selector.children.emplace_back(NodeKind::Comma, ",");
    selector.children.insert(selector.children.end(), alternatives[i].begin(),
                             alternatives[i].end());
  }
  return selector;
}

bool substitute_nesting(std::vector<Node>& nodes, std::span<const Node> parent) {
  bool found = false;
  std::vector<Node> result;
  result.reserve(nodes.size());
  for (Node& node : nodes) {
    if (node.kind == NodeKind::Nesting) {
      result.insert(result.end(), parent.begin(), parent.end());
      found = true;
      continue;
    }
    if (substitute_nesting(node.children, parent)) found = true;
    result.push_back(std::move(node));
  }
  nodes = std::move(result);
  return found;
}

Node combine_selectors(const Node& rule_selector, const Node& directive_selector) {
  const auto rules = split_selector(rule_selector.children);
  const auto directives = split_selector(directive_selector.children);
  std::vector<std::vector<Node>> combined;
  combined.reserve(rules.size() * directives.size());
  for (const std::vector<Node>& rule : rules) {
    for (const std::vector<Node>& directive : directives) {
      std::vector<Node> alternative = directive;
      if (!substitute_nesting(alternative, rule)) {
        alternative = rule;
        alternative.insert(alternative.end(), directive.begin(), directive.end());
      }
      combined.push_back(std::move(alternative));
    }
  }
  return join_selector(combined);
}

}  // namespace zeviziz
