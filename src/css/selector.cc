// Selector trees: split and join of selector lists, substitution of "&",
// the combination of a rule selector with a directive selector, and the
// specificity record that orders CSS rules.
//
// Specificity is a recursive walk. Plain nodes sum their children; selector
// lists keep the largest alternative (each triple compared on its own);
// pseudo-classes read their argument's record and apply the rules of their
// name. Every counter saturates instead of wrapping.
#include "css/selector.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <tuple>

namespace zeviziz {
namespace {

template <typename T>
T saturating_add(T a, T b) {
  const T max = std::numeric_limits<T>::max();
  return a > max - b ? max : static_cast<T>(a + b);
}

// Adds `b` into `a` in place (same rules as add_specificity).
void accumulate(Specificity& a, const Specificity& b) {
  a.ids = saturating_add(a.ids, b.ids);
  a.classes = saturating_add(a.classes, b.classes);
  a.elements = saturating_add(a.elements, b.elements);
  a.ids_all = saturating_add(a.ids_all, b.ids_all);
  a.classes_all = saturating_add(a.classes_all, b.classes_all);
  a.elements_all = saturating_add(a.elements_all, b.elements_all);
  a.where_count = saturating_add(a.where_count, b.where_count);
  a.combinators = saturating_add(a.combinators, b.combinators);
  a.codes.insert(a.codes.end(), b.codes.begin(), b.codes.end());
}

Specificity sum_children(const Node& node) {
  Specificity total;
  for (const Node& child : node.children) accumulate(total, specificity(child));
  return total;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const Node* first_child(const Node& node, NodeKind kind) {
  for (const Node& child : node.children) {
    if (child.kind == kind) return &child;
  }
  return nullptr;
}

// Keeps, in `best`, the larger of each triple of `best` and `candidate`.
void keep_largest_triples(Specificity& best, const Specificity& candidate) {
  if (std::tie(candidate.ids, candidate.classes, candidate.elements) >
      std::tie(best.ids, best.classes, best.elements)) {
    best.ids = candidate.ids;
    best.classes = candidate.classes;
    best.elements = candidate.elements;
  }
  if (std::tie(candidate.ids_all, candidate.classes_all, candidate.elements_all) >
      std::tie(best.ids_all, best.classes_all, best.elements_all)) {
    best.ids_all = candidate.ids_all;
    best.classes_all = candidate.classes_all;
    best.elements_all = candidate.elements_all;
  }
}

// Folds one finished alternative into the list record.
void close_alternative(Specificity& list, Specificity& alternative) {
  keep_largest_triples(list, alternative);
  list.where_count = saturating_add(list.where_count, alternative.where_count);
  list.combinators = saturating_add(list.combinators, alternative.combinators);
  list.codes.insert(list.codes.end(), alternative.codes.begin(), alternative.codes.end());
  alternative = Specificity{};
}

Specificity selector_list_specificity(const Node& selector) {
  Specificity list;
  if (selector.children.empty()) return list;
  Specificity alternative;
  for (const Node& child : selector.children) {
    if (child.kind == NodeKind::Comma) {
      close_alternative(list, alternative);
    } else {
      accumulate(alternative, specificity(child));
    }
  }
  close_alternative(list, alternative);
  return list;
}

void set_triples(Specificity& record, uint16_t ids, uint16_t classes, uint16_t elements) {
  record.ids = record.ids_all = ids;
  record.classes = record.classes_all = classes;
  record.elements = record.elements_all = elements;
}

// Copies both triples of `argument` into `record`, adding `extra_classes`
// and `extra_elements`.
void copy_triples(Specificity& record, const Specificity& argument, uint16_t extra_classes,
                  uint16_t extra_elements) {
  record.ids = argument.ids;
  record.classes = saturating_add(argument.classes, extra_classes);
  record.elements = saturating_add(argument.elements, extra_elements);
  record.ids_all = argument.ids_all;
  record.classes_all = saturating_add(argument.classes_all, extra_classes);
  record.elements_all = saturating_add(argument.elements_all, extra_elements);
}

uint16_t pseudo_class_code(std::string_view name) {
  if (equals_ignoring_case(name, "focus")) return 71;
  if (equals_ignoring_case(name, "hover")) return 72;
  if (equals_ignoring_case(name, "active")) return 73;
  return 70;
}

Specificity argument_specificity(const Node& pseudo) {
  const Node* parenthesis = first_child(pseudo, NodeKind::Parenthesis);
  if (parenthesis == nullptr) return {};
  const Node* selector = first_child(*parenthesis, NodeKind::Selector);
  return selector == nullptr ? Specificity{} : specificity(*selector);
}

Specificity pseudo_class_specificity(const Node& pseudo) {
  const Node* name_node = first_child(pseudo, NodeKind::Name);
  const std::string_view name = name_node ? std::string_view(name_node->value) : "";
  const Node* prefix = first_child(pseudo, NodeKind::Prefix);
  const bool element = prefix != nullptr && prefix->value.starts_with("::");
  const Specificity argument = argument_specificity(pseudo);
  Specificity record;
  record.where_count = argument.where_count;
  record.combinators = argument.combinators;
  record.codes = argument.codes;
  if (element) {
    if (equals_ignoring_case(name, "slotted")) {
      copy_triples(record, argument, 0, 1);
    } else {
      set_triples(record, 0, 0, 1);
    }
    return record;
  }
  if (equals_ignoring_case(name, "where")) {
    record.where_count = saturating_add<uint64_t>(record.where_count, 1);
    record.ids_all = argument.ids_all;
    record.classes_all = argument.classes_all;
    record.elements_all = argument.elements_all;
    return record;
  }
  record.codes.push_back(pseudo_class_code(name));
  static constexpr std::string_view kSelectorArgument[] = {"is", "not", "has"};
  static constexpr std::string_view kPlusClass[] = {"nth-child", "nth-last-child", "host",
                                                    "host-context"};
  const auto named = [&](std::string_view candidate) {
    return equals_ignoring_case(name, candidate);
  };
  if (std::ranges::any_of(kSelectorArgument, named)) {
    copy_triples(record, argument, 0, 0);
  } else if (std::ranges::any_of(kPlusClass, named)) {
    copy_triples(record, argument, 1, 0);
  } else {
    set_triples(record, 0, 1, 0);
  }
  return record;
}

}  // namespace

Specificity add_specificity(const Specificity& a, const Specificity& b) {
  Specificity sum = a;
  accumulate(sum, b);
  return sum;
}

Specificity specificity(const Node& node) {
  Specificity record;
  switch (node.kind) {
    case NodeKind::Element:
      set_triples(record, 0, 0, 1);
      return record;
    case NodeKind::Id:
      set_triples(record, 1, 0, 0);
      return record;
    case NodeKind::Class:
    case NodeKind::Attribute:
      set_triples(record, 0, 1, 0);
      return record;
    case NodeKind::Combinator:
      record = sum_children(node);
      record.combinators = saturating_add<uint64_t>(record.combinators, 1);
      return record;
    case NodeKind::Selector:
      return selector_list_specificity(node);
    case NodeKind::Pseudoclass:
      return pseudo_class_specificity(node);
    default:
      return sum_children(node);
  }
}

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
