// Flattening of a processed region into normalised rules. The region's rule
// gives the first rule (its selector carries the class placeholder); each
// nested rule gets its selector from its parent's by the nesting rules, and
// each nested at-rule adds its prelude to the list its rules inherit. Rules
// come out in pre-order: a rule before the rules nested in it. Declarations
// that a later one of the region overrides are dropped at the end.
#include <algorithm>

#include "normalize/declaration.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

struct Scope {
  std::vector<std::string> at_rules;
  std::string selector;
};

std::string prelude_text(const Node& at_rule, std::string_view selector) {
  // A processed region's at-rules hold their normalised prelude as value
  // and nothing but their block as children.
  if (!at_rule.value.empty() && std::ranges::all_of(at_rule.children, [](const Node& child) {
        return child.kind == NodeKind::Rule || child.kind == NodeKind::Declaration;
      })) {
    return replace_nesting_in_prelude(at_rule.value, selector);
  }
  Node head(NodeKind::AtRule, at_rule.value);
  for (const Node& child : at_rule.children) {
    if (child.kind != NodeKind::Rule && child.kind != NodeKind::Declaration) {
      head.children.push_back(child);
    }
  }
  const std::string text = normalize_whitespace(serialize_node(head), WhitespaceMode::AtRule);
  return replace_nesting_in_prelude(text, selector);
}

const Node* find_child(const Node& node, NodeKind kind) {
  for (const Node& child : node.children) {
    if (child.kind == kind) return &child;
  }
  return nullptr;
}

Status flatten_block(const Node& block, const Scope& scope, std::vector<NormalizedRule>& out);

Status flatten_rule(const Node& rule, const Scope& scope, std::vector<NormalizedRule>& out) {
  Scope inner = scope;
  const Node* selector = find_child(rule, NodeKind::Selector);
  inner.selector =
      nest_selector(scope.selector, selector ? normalize_selector(*selector) : std::string());
  const Node* block = find_child(rule, NodeKind::Declaration);
  return block ? flatten_block(*block, inner, out) : Status();
}

Status flatten_at_rule(const Node& at_rule, const Scope& scope, std::vector<NormalizedRule>& out) {
  Scope inner = scope;
  inner.at_rules.push_back(prelude_text(at_rule, scope.selector));
  for (const Node& child : at_rule.children) {
    if (child.kind == NodeKind::Rule) ZV_TRY_STATUS(flatten_rule(child, inner, out));
    if (child.kind == NodeKind::Declaration) ZV_TRY_STATUS(flatten_block(child, inner, out));
  }
  return {};
}

// Emits the rule of `block` (dropped later when it has no declaration), then its nested
// rules and at-rules in order. A nested at-rule is an AtRule item (or
// several in a row) followed by a Rule item without selector holding the
// at-rule's block.
Status flatten_block(const Node& block, const Scope& scope, std::vector<NormalizedRule>& out) {
  const size_t own = out.size();
  out.push_back(NormalizedRule{scope.at_rules, scope.selector, {}});
  Scope at_rule_scope = scope;
  for (const Node& item : block.children) {
    const bool in_at_rule = at_rule_scope.at_rules.size() > scope.at_rules.size();
    if (item.kind == NodeKind::AtRule) {
      if (find_child(item, NodeKind::Rule) || find_child(item, NodeKind::Declaration)) {
        ZV_TRY_STATUS(flatten_at_rule(item, scope, out));
      } else {
        at_rule_scope.at_rules.push_back(prelude_text(item, scope.selector));
      }
      continue;
    }
    if (item.kind == NodeKind::Attribute) {
      // Processed regions hold declarations normalised once already.
      if (!read_normalized_declaration(item, out[own].declarations)) {
        ZV_TRY(NormalizedDeclaration declaration, normalize_declaration(item));
        out[own].declarations.emplace_back(std::move(declaration.property),
                                           std::move(declaration.value));
      }
    } else if (item.kind == NodeKind::Rule) {
      ZV_TRY_STATUS(flatten_rule(item, in_at_rule ? at_rule_scope : scope, out));
    } else {
      continue;  // white space and semicolons of a raw block
    }
    at_rule_scope = scope;
  }
  return {};
}

}  // namespace

Result<std::vector<NormalizedRule>> normalize_region(const Node& velt) {
  const Node* rule = find_child(velt, NodeKind::Rule);
  if (rule == nullptr) return std::vector<NormalizedRule>{};
  Scope scope;
  const Node* selector = find_child(*rule, NodeKind::Selector);
  scope.selector = selector ? normalize_selector(*selector) : std::string(1, kClassPlaceholder);
  for (const Node& child : velt.children) {
    if (child.kind == NodeKind::AtRule) {
      scope.at_rules.push_back(prelude_text(child, scope.selector));
    }
  }
  std::vector<NormalizedRule> rules;
  const Node* block = find_child(*rule, NodeKind::Declaration);
  if (block != nullptr) ZV_TRY_STATUS(flatten_block(*block, scope, rules));
  // Every block put its own rule in place before its nested rules; the ones
  // that got no declaration go now, in one pass.
  std::erase_if(rules, [](const NormalizedRule& rule) { return rule.declarations.empty(); });
  drop_overridden_declarations(rules);
  return rules;
}

}  // namespace zeviziz
