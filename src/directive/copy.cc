// The built-in `copy` directive and the read-out of a normalised region's
// rule. A copy merges, into an accumulator, the at-rules, selector and
// declarations of each referenced region (processed first, so that copies
// inside it are resolved) and finally the region's own; the region is then
// rebuilt from the accumulator. A copy chain of the ids being expanded
// detects cycles.
#include <algorithm>
#include <unordered_set>

#include "base/unicode.h"
#include "directive/handlers.h"
#include "normalize/selector_tree.h"

namespace zeviziz {
namespace {

enum class Part { All, AtRule, Selector, Declaration };

struct Reference {
  std::string id;
  Part part = Part::All;
};

Result<Part> parse_part(std::string_view part, const std::string& item) {
  if (part == "at-rule") return Part::AtRule;
  if (part == "selector") return Part::Selector;
  if (part == "declaration") return Part::Declaration;
  return make_error("Invalid Velt copy part: " + item);
}

// `reason` receives why the reference is refused, in the author's terms.
Result<Reference> parse_reference(std::string_view piece, std::string& reason) {
  const std::string item(trim_white_space(piece));
  if (item.empty()) {
    reason = "empty id in \"copy\"";
    return make_error("copy contains an empty id");
  }
  Reference reference;
  const size_t dot = item.find('.');
  reference.id = item.substr(0, dot);
  if (dot != std::string::npos) {
    const std::string_view part = std::string_view(item).substr(dot + 1);
    reason = "unknown part \"" + std::string(part) + "\" in \"" + item +
             "\" (parts: at-rule, selector, declaration)";
    ZV_TRY(reference.part, parse_part(part, item));
  }
  reason = id_reason(reference.id);
  ZV_TRY_STATUS(check_id(reference.id));
  return reference;
}

Result<std::vector<Reference>> parse_references(const DirectiveUse& use, std::string& reason) {
  reason = "\"copy\" needs an id: write !copy(card)";
  if (!use.argument) return make_error("copy requires an id");
  std::vector<Reference> references;
  std::string_view rest = *use.argument;
  while (true) {
    const size_t comma = rest.find(',');
    ZV_TRY(Reference reference, parse_reference(rest.substr(0, comma), reason));
    references.push_back(std::move(reference));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return references;
}

void merge(RuleParts& into, RuleParts source, Part part) {
  if (part == Part::All || part == Part::AtRule) {
    for (Node& at_rule : source.at_rules) into.at_rules.push_back(std::move(at_rule));
  }
  if (part == Part::All || part == Part::Selector) {
    into.selector = into.selector.children.empty()
                        ? std::move(source.selector)
                        : combine_selectors(source.selector, into.selector);
  }
  if (part == Part::All || part == Part::Declaration) {
    std::unordered_set<std::string> overridden;
    for (const Node& item : source.declarations) {
      const std::string property = property_of(item);
      if (!property.empty()) overridden.insert(property);
    }
    std::erase_if(into.declarations, [&](const Node& item) {
      const std::string property = property_of(item);
      return !property.empty() && overridden.contains(property);
    });
    for (Node& item : source.declarations) into.declarations.push_back(std::move(item));
  }
}

// Processes the region stored under `id` (both phases) and returns its rule
// parts; the processed region replaces the stored one. On failure the
// state's fault blames batch use `use`.
Result<RuleParts> expand_reference(const DirectiveService& service, const std::string& id,
                                   size_t use, const ProjectConfig& config, TemplateState& state) {
  IdState& ids = state.ids;
  std::optional<UseFault>* fault = &state.fault;
  if (ids.duplicates.contains(id)) {
    return fault_error(fault, use,
                       "id \"" + id + "\" is given to more than one region in this file",
                       "Duplicate Velt id: " + id);
  }
  const auto stored = ids.regions.find(id);
  if (stored == ids.regions.end()) {
    return fault_error(fault, use, "no id \"" + id + "\" to copy in this file",
                       "Unknown Velt id: " + id);
  }
  if (std::ranges::find(ids.copy_chain, id) != ids.copy_chain.end()) {
    return fault_error(fault, use, "circular copy through id \"" + id + "\"",
                       "Circular Velt copy: " + id, true);
  }
  ids.copy_chain.push_back(id);
  const Node region = stored->second;
  Result<Node> processed = service.process_region(region, config, state);
  ids.copy_chain.pop_back();
  if (!processed.ok()) {
    // A cycle found further down is this region's cycle too; any other
    // failure of the copied region has its own warning where it stands.
    const bool circular = state.fault && state.fault->circular;
    std::string reason =
        circular ? state.fault->reason
                 : "the region with id \"" + id + "\" stays text, so it cannot be copied";
    return fault_error(fault, use, std::move(reason), processed.error(), circular);
  }
  ZV_TRY(RuleParts parts, read_rule_parts(*processed));
  ids.regions[id] = std::move(processed).value();
  return parts;
}

Node rebuild_region(const Node& region, RuleParts parts) {
  Node rebuilt(region.kind, region.value);
  for (Node& at_rule : parts.at_rules) rebuilt.children.push_back(std::move(at_rule));
  Node rule(NodeKind::Rule);
  if (!parts.selector.children.empty()) rule.children.push_back(std::move(parts.selector));
  Node block(NodeKind::Declaration);
  block.children = std::move(parts.declarations);
  rule.children.push_back(std::move(block));
  rebuilt.children.push_back(std::move(rule));
  return rebuilt;
}

}  // namespace

Node* find_child(Node& node, NodeKind kind) {
  const auto it =
      std::ranges::find_if(node.children, [kind](const Node& child) { return child.kind == kind; });
  return it == node.children.end() ? nullptr : &*it;
}

const Node* find_child(const Node& node, NodeKind kind) {
  return find_child(const_cast<Node&>(node), kind);
}

Node* find_rule(Node& region) {
  return find_child(region, NodeKind::Rule);
}
const Node* find_rule(const Node& region) {
  return find_child(region, NodeKind::Rule);
}

std::string property_of(const Node& item) {
  if (item.kind != NodeKind::Attribute) return {};
  std::string property;
  for (const Node& child : item.children) {
    if (child.kind == NodeKind::Name) collect_text(child, property);
  }
  return property;
}

Result<RuleParts> read_rule_parts(const Node& region) {
  const Node* rule = find_rule(region);
  if (rule == nullptr) return make_error("Missing normalized Velt rule");
  RuleParts parts;
  parts.selector = Node(NodeKind::Selector);
  for (const Node& child : region.children) {
    if (child.kind == NodeKind::AtRule) parts.at_rules.push_back(child);
  }
  if (const Node* selector = find_child(*rule, NodeKind::Selector)) parts.selector = *selector;
  if (const Node* block = find_child(*rule, NodeKind::Declaration)) {
    parts.declarations = block->children;
  }
  return parts;
}

Status handle_copy(const DirectiveService& service, const std::vector<DirectiveUse>& batch,
                   Node& region, const ProjectConfig& config, TemplateState& state) {
  ZV_TRY(RuleParts own, read_rule_parts(region));
  RuleParts accumulator;
  accumulator.selector = Node(NodeKind::Selector);
  for (size_t i = 0; i < batch.size(); ++i) {
    std::string reason;
    Result<std::vector<Reference>> parsed = parse_references(batch[i], reason);
    if (!parsed.ok()) return fault_error(&state.fault, i, std::move(reason), parsed.error());
    for (const Reference& reference : *parsed) {
      ZV_TRY(RuleParts parts, expand_reference(service, reference.id, i, config, state));
      merge(accumulator, std::move(parts), reference.part);
    }
  }
  merge(accumulator, std::move(own), Part::All);
  region = rebuild_region(region, std::move(accumulator));
  return {};
}

}  // namespace zeviziz
