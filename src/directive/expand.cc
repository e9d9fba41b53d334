// Expansion of configured directives. Each use finds the cases of its
// directive for its arguments; at-rule cases give preludes, selector and
// declaration cases are read by lexing a small probe region and normalising
// it. After the last use the collected at-rules wrap the region, the
// collected selector is combined with the rule's selector, and the collected
// declarations are added to the rule's block unless the rule declares the
// property itself.
//
// Selector values that start with "&" or "*" cannot follow the trigger "!"
// directly (the lexer does not start a rule on them), so they are probed as
// a nested rule inside a block, whose selector grammar accepts them. Values
// that use "&" anywhere are probed that way too: in a region's own selector
// "&" would stand for the carrying element, while a directive's "&" stands
// for the rule it is applied to.
#include <algorithm>
#include <set>
#include <unordered_set>

#include "base/unicode.h"
#include "config/directive.h"
#include "directive/handlers.h"
#include "normalize/normalize.h"
#include "normalize/selector_tree.h"

namespace zeviziz {
namespace {

struct Expansion {
  std::vector<std::string> at_rules;
  Node selector{NodeKind::Selector};
  bool has_selector = false;
  std::vector<Node> declarations;
};

Result<std::vector<std::string>> parse_arguments(const DirectiveUse& use) {
  std::vector<std::string> arguments;
  if (!use.argument) return arguments;
  const std::string_view text = trim_white_space(*use.argument);
  if (text.empty()) return arguments;
  for (const std::string& piece : split_top_level(text)) {
    const std::string_view argument = trim_white_space(piece);
    if (argument.empty()) return make_error("Directive arguments cannot be empty");
    arguments.emplace_back(argument);
  }
  return arguments;
}

// Lexes `probe` and normalises its first style region; `shown` is the probe
// text that the error names.
Result<Node> probe_region(const DirectiveService& service, std::string_view probe,
                          std::string_view shown) {
  const Node tree = lex(service.lexer(), probe);
  for (const Node& child : tree.children) {
    if (child.kind != NodeKind::Velt) continue;
    Node working;
    ZV_TRY_STATUS(collect_uses(child, &working));
    return normalize_working_region(std::move(working));
  }
  return make_error("Invalid directive value: " + std::string(shown));
}

// The selector of a probe rule without the class placeholders that
// normalisation put at the start of each alternative.
Node strip_placeholders(const Node& selector) {
  Node stripped(NodeKind::Selector);
  bool alternative_start = true;
  for (const Node& child : selector.children) {
    const bool placeholder = child.kind == NodeKind::Char && child.value == std::string(1, '\0');
    if (!(alternative_start && placeholder)) stripped.children.push_back(child);
    alternative_start = child.kind == NodeKind::Comma;
  }
  return stripped;
}

Result<Node> probe_selector(const DirectiveService& service, const std::string& value) {
  const std::string shown = "!" + value + "{x:x}";
  const bool nested = value.find('&') != std::string::npos || value.starts_with('*');
  ZV_TRY(Node region, probe_region(service, nested ? "!{" + value + "{x:x}}" : shown, shown));
  const Node* rule = find_rule(region);
  if (rule != nullptr && nested) {
    const Node* block = find_child(*rule, NodeKind::Declaration);
    rule = block ? find_child(*block, NodeKind::Rule) : nullptr;
  }
  if (rule == nullptr) return make_error("Directive selector did not produce a rule");
  const Node* selector = find_child(*rule, NodeKind::Selector);
  Node part = selector ? strip_placeholders(*selector) : Node(NodeKind::Selector);
  if (part.children.empty()) return make_error("Directive selector cannot be empty");
  return part;
}

// True for a block item that declares a property with a value.
bool is_plain_declaration(const Node& item) {
  return item.kind == NodeKind::Attribute && find_child(item, NodeKind::Value) != nullptr;
}

Result<std::vector<Node>> probe_declarations(const DirectiveService& service,
                                             const std::string& value) {
  const std::string probe = "!{" + value + "}";
  ZV_TRY(Node region, probe_region(service, probe, probe));
  const Node* rule = find_rule(region);
  if (rule == nullptr) return make_error("Directive declaration did not produce a rule");
  const Node* block = find_child(*rule, NodeKind::Declaration);
  if (block == nullptr) return make_error("Directive declaration did not produce a declaration");
  if (block->children.empty()) return make_error("Directive declaration cannot be empty");
  for (const Node& item : block->children) {
    if (!is_plain_declaration(item)) {
      return make_error("Directive declaration must contain only CSS declarations");
    }
    if (property_of(item).empty()) {
      return make_error("Directive declaration is missing a property name");
    }
  }
  return block->children;
}

std::string no_case_message(const std::string& name, size_t count) {
  return "Directive " + name + " has no case for " + std::to_string(count) + " argument" +
         (count == 1 ? "" : "s");
}

// At-rule cases read at load time keep their preludes; they are the same
// for every use the case serves.
Status expand_at_rules(const std::vector<const DirectiveCase*>& cases,
                       const std::vector<std::string>& arguments, Expansion& expansion) {
  for (const DirectiveCase* c : cases) {
    if (!c->at_rules.empty()) {
      expansion.at_rules.insert(expansion.at_rules.end(), c->at_rules.begin(), c->at_rules.end());
      continue;
    }
    ZV_TRY(std::string value, substitute_placeholders(c->value, arguments));
    ZV_TRY(std::vector<std::string> preludes, read_at_rule_value(value));
    for (std::string& prelude : preludes) expansion.at_rules.push_back(std::move(prelude));
  }
  return {};
}

// The selector or declarations of a case value: read when the service was
// built when the value does not depend on the use, else read now.
Result<std::vector<Node>> case_nodes(const DirectiveService& service, DirectiveAction action,
                                     const std::string& value) {
  if (const ProbedValue* probed = service.probed(action, value)) {
    if (!probed->error.empty()) return make_error(probed->error);
    return probed->nodes;
  }
  ProbedValue read = probe_case_value(service, action, value);
  if (!read.error.empty()) return make_error(std::move(read.error));
  return std::move(read.nodes);
}

Status expand_selectors(const DirectiveService& service,
                        const std::vector<const DirectiveCase*>& cases,
                        const std::vector<std::string>& arguments, Expansion& expansion) {
  for (const DirectiveCase* c : cases) {
    ZV_TRY(std::string value, substitute_placeholders(c->value, arguments));
    ZV_TRY(std::vector<Node> nodes, case_nodes(service, DirectiveAction::Selector, value));
    Node selector = std::move(nodes.front());
    expansion.selector = expansion.has_selector ? combine_selectors(selector, expansion.selector)
                                                : std::move(selector);
    expansion.has_selector = true;
  }
  return {};
}

Status expand_declarations(const DirectiveService& service,
                           const std::vector<const DirectiveCase*>& cases,
                           const std::vector<std::string>& arguments, Expansion& expansion) {
  for (const DirectiveCase* c : cases) {
    ZV_TRY(std::string value, substitute_placeholders(c->value, arguments));
    ZV_TRY(std::vector<Node> declarations,
           case_nodes(service, DirectiveAction::Declaration, value));
    for (Node& declaration : declarations) expansion.declarations.push_back(std::move(declaration));
  }
  return {};
}

// The argument counts some case of `def` accepts, as "1" or "0, 1 or 2".
std::string accepted_counts(const DirectiveDef& def) {
  std::set<uint32_t> counts;
  for (const DirectiveCase& c : def.cases) {
    if (c.key == CaseKeyKind::NoArguments) counts.insert(0);
    if (c.key == CaseKeyKind::Named) counts.insert(1);
    if (c.key == CaseKeyKind::Count) counts.insert(c.count);
  }
  std::string text;
  size_t left = counts.size();
  for (uint32_t count : counts) {
    text += std::to_string(count);
    --left;
    text += left > 1 ? ", " : left == 1 ? " or " : "";
  }
  return text;
}

// Why a use found no case, in the author's terms: the unknown case name
// with the names there are, or the argument counts the directive takes.
std::string no_case_reason(const DirectiveDef& def, const std::vector<std::string>& arguments) {
  std::vector<std::string> names;
  for (const DirectiveCase& c : def.cases) {
    if (c.key == CaseKeyKind::Named && std::ranges::find(names, c.name) == names.end()) {
      names.push_back(c.name);
    }
  }
  const std::string quoted = "\"" + def.name + "\"";
  if (arguments.size() == 1 && !names.empty()) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return "unknown case \"" + arguments[0] + "\" of directive " + quoted + " (cases: " + list +
           ")";
  }
  const std::string counts = accepted_counts(def);
  const size_t count = arguments.size();
  std::string reason = "directive " + quoted + " has no case for " + std::to_string(count) +
                       " argument" + (count == 1 ? "" : "s");
  if (!counts.empty()) reason += " (it takes " + counts + ")";
  return reason;
}

// `reason` receives why the use failed, in the author's terms.
Status expand_use(const DirectiveService& service, const DirectiveUse& use,
                  const ProjectConfig& config, Expansion& expansion, std::string& reason) {
  const DirectiveDef* def = nullptr;
  for (const DirectiveDef& candidate : config.directives) {
    if (candidate.name == use.name) def = &candidate;
    if (def != nullptr) break;
  }
  if (def == nullptr) return {};
  reason = "empty argument in \"" + use.name + "\"";
  ZV_TRY(std::vector<std::string> arguments, parse_arguments(use));
  reason.clear();
  const auto at_rules = find_cases(*def, DirectiveAction::AtRule, arguments);
  ZV_TRY_STATUS(expand_at_rules(at_rules, arguments, expansion));
  const auto selectors = find_cases(*def, DirectiveAction::Selector, arguments);
  ZV_TRY_STATUS(expand_selectors(service, selectors, arguments, expansion));
  const auto declarations = find_cases(*def, DirectiveAction::Declaration, arguments);
  ZV_TRY_STATUS(expand_declarations(service, declarations, arguments, expansion));
  if (at_rules.empty() && selectors.empty() && declarations.empty()) {
    reason = no_case_reason(*def, arguments);
    return make_error(no_case_message(use.name, arguments.size()));
  }
  return {};
}

void apply_selector(Node& rule, const Node& collected) {
  Node* selector = find_child(rule, NodeKind::Selector);
  if (selector == nullptr) {
    Node empty(NodeKind::Selector);
    rule.children.insert(rule.children.begin(), combine_selectors(empty, collected));
  } else {
    *selector = combine_selectors(*selector, collected);
  }
}

Status apply_declarations(Node& rule, std::vector<Node> collected) {
  Node* block = find_child(rule, NodeKind::Declaration);
  if (block == nullptr) return make_error("Directive declaration requires a declaration");
  std::unordered_set<std::string> declared;
  for (const Node& item : block->children) declared.insert(property_of(item));
  for (Node& declaration : collected) {
    if (!declared.contains(property_of(declaration))) {
      block->children.push_back(std::move(declaration));
    }
  }
  return {};
}

Status apply_expansion(Expansion expansion, Node& region) {
  std::vector<Node> at_rules;
  for (std::string& prelude : expansion.at_rules) {
    at_rules.emplace_back(NodeKind::AtRule, std::move(prelude));
  }
  region.children.insert(region.children.begin(), at_rules.begin(), at_rules.end());
  Node* rule = find_rule(region);
  if (expansion.has_selector) {
    if (rule == nullptr) return make_error("Directive requires a rule");
    apply_selector(*rule, expansion.selector);
  }
  if (!expansion.declarations.empty()) {
    if (rule == nullptr) return make_error("Directive requires a rule");
    ZV_TRY_STATUS(apply_declarations(*rule, std::move(expansion.declarations)));
  }
  return {};
}

}  // namespace

ProbedValue probe_case_value(const DirectiveService& service, DirectiveAction action,
                             const std::string& value) {
  ProbedValue probed;
  if (action == DirectiveAction::Selector) {
    Result<Node> selector = probe_selector(service, value);
    if (!selector.ok()) {
      probed.error = selector.error();
    } else {
      probed.nodes.push_back(std::move(selector).value());
    }
    return probed;
  }
  Result<std::vector<Node>> declarations = probe_declarations(service, value);
  if (!declarations.ok()) {
    probed.error = declarations.error();
  } else {
    probed.nodes = std::move(declarations).value();
  }
  return probed;
}

Status expand_configured(const DirectiveService& service, const std::vector<DirectiveUse>& batch,
                         Node& region, const ProjectConfig& config,
                         std::optional<UseFault>* fault) {
  Expansion expansion;
  for (size_t i = 0; i < batch.size(); ++i) {
    std::string reason;
    Status expanded = expand_use(service, batch[i], config, expansion, reason);
    if (expanded.ok()) continue;
    // Failures the author did not cause (a case value that does not read)
    // name the directive and keep the message.
    if (reason.empty()) reason = "directive \"" + batch[i].name + "\": " + expanded.error();
    return fault_error(fault, i, std::move(reason), expanded.error());
  }
  return apply_expansion(std::move(expansion), region);
}

}  // namespace zeviziz
