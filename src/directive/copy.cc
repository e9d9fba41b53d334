// The built-in `copy` directive and the read-out of a normalised region's
// rule. A copy merges, into an accumulator, the at-rules, selector and
// declarations of each referenced region (processed first, so that copies
// inside it are resolved) and finally the region's own; the region is then
// rebuilt from the accumulator. A copy chain of the ids being expanded
// detects cycles.
#include <algorithm>
#include <unordered_set>

#include "base/unicode.h"
#include "css/selector.h"
#include "directive/handlers.h"

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

Result<Reference> parse_reference(std::string_view piece) {
  const std::string item(trim_white_space(piece));
  if (item.empty()) return make_error("copy contains an empty id");
  Reference reference;
  const size_t dot = item.find('.');
  reference.id = item.substr(0, dot);
  if (dot != std::string::npos) {
    ZV_TRY(reference.part, parse_part(std::string_view(item).substr(dot + 1), item));
  }
  ZV_TRY_STATUS(check_id(reference.id));
  return reference;
}

Result<std::vector<Reference>> parse_references(const DirectiveUse& use) {
  if (!use.argument) return make_error("copy requires an id");
  std::vector<Reference> references;
  std::string_view rest = *use.argument;
  while (true) {
    const size_t comma = rest.find(',');
    ZV_TRY(Reference reference, parse_reference(rest.substr(0, comma)));
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
// parts; the processed region replaces the stored one.
Result<RuleParts> expand_reference(const DirectiveService& service, const std::string& id,
                                   const ProjectConfig& config, TemplateState& state) {
  IdState& ids = state.ids;
  if (ids.duplicates.contains(id)) return make_error("Duplicate Velt id: " + id);
  const auto stored = ids.regions.find(id);
  if (stored == ids.regions.end()) return make_error("Unknown Velt id: " + id);
  if (std::ranges::find(ids.copy_chain, id) != ids.copy_chain.end()) {
    return make_error("Circular Velt copy: " + id);
  }
  ids.copy_chain.push_back(id);
  const Node region = stored->second;
  Result<Node> processed = service.process_region(region, config, state);
  ids.copy_chain.pop_back();
  if (!processed.ok()) return processed.take_error();
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
  for (const DirectiveUse& use : batch) {
    ZV_TRY(std::vector<Reference> references, parse_references(use));
    for (const Reference& reference : references) {
      ZV_TRY(RuleParts parts, expand_reference(service, reference.id, config, state));
      merge(accumulator, std::move(parts), reference.part);
    }
  }
  merge(accumulator, std::move(own), Part::All);
  region = rebuild_region(region, std::move(accumulator));
  return {};
}

}  // namespace zeviziz
