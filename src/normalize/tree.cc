// The structural side of normalisation: the walk over a region's tree
// (`normalize_tree`) and the working-region form that second-phase
// directives and the flattening read. In that form every text is already
// normalised: at-rule preludes are collapsed into the AtRule node's value,
// selectors are re-read from their normalised text (so that directive
// expansion still finds Comma and Nesting nodes), and declarations hold
// their normalised property and value.
#include <algorithm>

#include "base/unicode.h"
#include "lexer/lexer.h"
#include "normalize/declaration.h"
#include "normalize/normalize.h"
#include "normalize/selector_tree.h"

namespace zeviziz {
namespace {

// A list of one node, moved in (a braced list would copy the whole tree).
std::vector<Node> only(Node node) {
  std::vector<Node> nodes;
  nodes.push_back(std::move(node));
  return nodes;
}

bool is_block_item(const Node& node) {
  return node.kind == NodeKind::Rule || node.kind == NodeKind::Declaration;
}

Result<std::vector<Node>> walk(Node&& node);

// True when the source text of `nodes` is exactly `text`.
bool written_as(std::span<const Node> nodes, std::string_view text) {
  std::string written;
  written.reserve(text.size());
  for (const Node& node : nodes) collect_text(node, written);
  return written == text;
}

// Walks the children of `node`, moving them out.
Result<std::vector<Node>> walk_children(Node& node, bool drop_separators) {
  std::vector<Node> children;
  children.reserve(node.children.size());
  for (Node& child : node.children) {
    if (drop_separators && (child.kind == NodeKind::Space || child.kind == NodeKind::Semicolon)) {
      continue;
    }
    ZV_TRY(std::vector<Node> replacement, walk(std::move(child)));
    for (Node& piece : replacement) children.push_back(std::move(piece));
  }
  return children;
}

Result<std::vector<Node>> normalize_attribute(Node&& attribute) {
  std::string property;
  bool has_name = false;
  for (const Node& child : attribute.children) {
    if (child.kind != NodeKind::Name) continue;
    has_name = true;
    collect_text(child, property);
  }
  if (!has_name) return make_error("Missing property name in lexer AST");
  if (!property.starts_with("--")) {
    for (Node& child : attribute.children) {
      if (child.kind == NodeKind::Name) child.value = ascii_lower(child.value);
    }
  }
  return only(std::move(attribute));
}

// Splits an AtRule that holds several "@" prefixes into one AtRule per "@".
Result<std::vector<Node>> normalize_at_rule(Node&& at_rule) {
  std::vector<Node> pieces;
  for (Node& child : at_rule.children) {
    if (pieces.empty() ||
        (child.kind == NodeKind::Prefix && child.value == "@" && !pieces.back().children.empty())) {
      pieces.emplace_back(NodeKind::AtRule, pieces.empty() ? at_rule.value : std::string());
    }
    pieces.back().children.push_back(std::move(child));
  }
  if (pieces.empty()) pieces.emplace_back(NodeKind::AtRule, at_rule.value);
  for (Node& piece : pieces) {
    ZV_TRY(piece.children, walk_children(piece, false));
  }
  return pieces;
}

// The structural walk, taking the nodes over instead of copying them.
Result<std::vector<Node>> walk(Node&& node) {
  switch (node.kind) {
    case NodeKind::Selector:
      return only(std::move(node));
    case NodeKind::Attribute:
      return normalize_attribute(std::move(node));
    case NodeKind::AtRule:
      return normalize_at_rule(std::move(node));
    default: {
      ZV_TRY(node.children, walk_children(node, node.kind == NodeKind::Declaration));
      return only(std::move(node));
    }
  }
}

// Re-reads normalised selector text as a selector tree; keeps `fallback`'s
// children when the text does not read back completely. A selector that
// normalising did not change is its own reading (the selector grammar
// builds the same tree for the same text), so it is not read again.
std::vector<Node> reread_selector(const std::string& text, std::span<const Node> fallback) {
  if (text.empty()) return {};
  if (written_as(fallback, text)) return {fallback.begin(), fallback.end()};
  Node selector = lex_selector(text + "{");
  if (collect_text(selector) == text) return std::move(selector.children);
  return {fallback.begin(), fallback.end()};
}

Node normalized_selector_node(const Node& selector) {
  Node result(NodeKind::Selector);
  result.children = reread_selector(normalize_selector(selector), selector.children);
  return result;
}

bool starts_with_white_space(std::span<const Node> nodes) {
  if (nodes.empty()) return false;
  const Node& first = nodes.front();
  if (first.kind == NodeKind::Space || first.kind == NodeKind::Descendant) return true;
  return first.kind == NodeKind::Combinator && !first.children.empty() &&
         first.children.front().kind == NodeKind::Descendant;
}

Node placeholder_node() {
  return Node(NodeKind::Char, std::string(1, kClassPlaceholder));
}

bool holds_placeholder(const Node& node) {
  if (node.kind == NodeKind::Char && node.value == std::string(1, kClassPlaceholder)) return true;
  return std::ranges::any_of(node.children, holds_placeholder);
}

// One alternative of the region's own selector. The carrying element is the
// parent of the region's rule: an "&" in the alternative stands for it and
// becomes the class placeholder; otherwise the placeholder goes in front,
// followed by a descendant combinator when the alternative began with white
// space.
std::vector<Node> placeholder_alternative(const std::vector<Node>& alternative) {
  const bool descendant = starts_with_white_space(alternative);
  Node original(NodeKind::Selector);
  original.children = alternative;
  const std::span<const Node> rest = std::span<const Node>(alternative).subspan(descendant ? 1 : 0);
  std::vector<Node> read = reread_selector(normalize_selector(original), rest);
  const Node placeholder = placeholder_node();
  if (substitute_nesting(read, {&placeholder, 1})) return read;
  std::vector<Node> nodes{placeholder};
  if (descendant) {
    Node combinator(NodeKind::Combinator);
    combinator.children.emplace_back(NodeKind::Descendant, " ");
    nodes.push_back(std::move(combinator));
  }
  for (Node& node : read) nodes.push_back(std::move(node));
  return nodes;
}

// The region's own selector with the class placeholder in each alternative.
Node placeholder_selector(const Node* selector) {
  std::vector<std::vector<Node>> alternatives(1);
  if (selector != nullptr) {
    for (const Node& child : selector->children) {
      if (child.kind == NodeKind::Comma) {
        alternatives.emplace_back();
      } else {
        alternatives.back().push_back(child);
      }
    }
  }
  std::vector<std::vector<Node>> result;
  for (const std::vector<Node>& alternative : alternatives) {
    result.push_back(placeholder_alternative(alternative));
  }
  return join_selector(result);
}

void normalize_block(Node& block);

// Collapses the prelude of an AtRule into its value; a block it may hold is
// kept and normalised.
void collapse_prelude(Node& at_rule) {
  std::vector<Node> prelude;
  std::vector<Node> block;
  for (Node& child : at_rule.children) {
    (is_block_item(child) ? block : prelude).push_back(std::move(child));
  }
  Node head(NodeKind::AtRule, at_rule.value);
  head.children = std::move(prelude);
  at_rule.value = normalize_whitespace(serialize_node(head), WhitespaceMode::AtRule);
  at_rule.children = std::move(block);
  for (Node& child : at_rule.children) {
    if (child.kind == NodeKind::Declaration) normalize_block(child);
    if (child.kind == NodeKind::Rule) {
      for (Node& part : child.children) {
        if (part.kind == NodeKind::Selector) part = normalized_selector_node(part);
        if (part.kind == NodeKind::Declaration) normalize_block(part);
      }
    }
  }
}

void normalize_nested_rule(Node& rule) {
  for (Node& part : rule.children) {
    if (part.kind == NodeKind::Selector) part = normalized_selector_node(part);
    if (part.kind == NodeKind::Declaration) normalize_block(part);
  }
}

// The block keeps only its items (the braces go); declarations that are
// complete take their normalised form, incomplete ones stay as they are so
// that flattening reports them.
void normalize_block(Node& block) {
  std::erase_if(block.children, [](const Node& item) {
    return item.kind == NodeKind::Open || item.kind == NodeKind::Close;
  });
  for (Node& item : block.children) {
    if (item.kind == NodeKind::Attribute) {
      Result<NormalizedDeclaration> declaration = normalize_declaration(item);
      if (declaration.ok()) item = std::move(declaration->node);
    } else if (item.kind == NodeKind::Rule) {
      normalize_nested_rule(item);
    } else if (item.kind == NodeKind::AtRule) {
      collapse_prelude(item);
    }
  }
}

void normalize_top_rule(Node& rule) {
  const auto selector = std::ranges::find_if(
      rule.children, [](const Node& part) { return part.kind == NodeKind::Selector; });
  if (selector != rule.children.end() && holds_placeholder(*selector)) {
    // Already normalised (a region processed before, e.g. for a copy).
  } else if (selector == rule.children.end()) {
    rule.children.insert(rule.children.begin(), placeholder_selector(nullptr));
  } else {
    *selector = placeholder_selector(&*selector);
  }
  for (Node& part : rule.children) {
    if (part.kind == NodeKind::Declaration) normalize_block(part);
  }
}

}  // namespace

Result<std::vector<Node>> normalize_tree(const Node& node) {
  return walk(Node(node));
}

Result<Node> normalize_working_region(const Node& region) {
  return normalize_working_region(Node(region));
}

Result<Node> normalize_working_region(Node&& region) {
  Node velt(region.kind, region.value);
  ZV_TRY(std::vector<Node> walked, walk(std::move(region)));
  for (Node& piece : walked) {
    for (Node& child : piece.children) {
      if (child.kind == NodeKind::And) continue;
      if (child.kind == NodeKind::AtRule) collapse_prelude(child);
      if (child.kind == NodeKind::Rule) normalize_top_rule(child);
      velt.children.push_back(std::move(child));
    }
  }
  return velt;
}

}  // namespace zeviziz
