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

namespace zeviziz {
namespace {

bool is_block_item(const Node& node) {
  return node.kind == NodeKind::Rule || node.kind == NodeKind::Declaration;
}

Result<std::vector<Node>> walk_children(const Node& node, bool drop_separators) {
  std::vector<Node> children;
  children.reserve(node.children.size());
  for (const Node& child : node.children) {
    if (drop_separators && (child.kind == NodeKind::Space || child.kind == NodeKind::Semicolon)) {
      continue;
    }
    ZV_TRY(std::vector<Node> replacement, normalize_tree(child));
    for (Node& piece : replacement) children.push_back(std::move(piece));
  }
  return children;
}

Result<std::vector<Node>> normalize_attribute(const Node& attribute) {
  std::string property;
  bool has_name = false;
  for (const Node& child : attribute.children) {
    if (child.kind != NodeKind::Name) continue;
    has_name = true;
    collect_text(child, property);
  }
  if (!has_name) return make_error("Missing property name in lexer AST");
  Node copy = attribute;
  if (!property.starts_with("--")) {
    for (Node& child : copy.children) {
      if (child.kind == NodeKind::Name) child.value = ascii_lower(child.value);
    }
  }
  return std::vector<Node>{std::move(copy)};
}

// Splits an AtRule that holds several "@" prefixes into one AtRule per "@".
Result<std::vector<Node>> normalize_at_rule(const Node& at_rule) {
  std::vector<Node> pieces;
  for (const Node& child : at_rule.children) {
    if (pieces.empty() ||
        (child.kind == NodeKind::Prefix && child.value == "@" && !pieces.back().children.empty())) {
      pieces.emplace_back(NodeKind::AtRule, pieces.empty() ? at_rule.value : std::string());
    }
    pieces.back().children.push_back(child);
  }
  if (pieces.empty()) pieces.emplace_back(NodeKind::AtRule, at_rule.value);
  for (Node& piece : pieces) {
    ZV_TRY(piece.children, walk_children(piece, false));
  }
  return pieces;
}

// Re-reads normalised selector text as a selector tree; keeps `fallback`'s
// children when the text does not read back completely.
std::vector<Node> reread_selector(const std::string& text, std::span<const Node> fallback) {
  if (text.empty()) return {};
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

// The region's own selector: each alternative starts with the class
// placeholder, followed by a descendant combinator when the alternative
// began with white space.
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
    Node original(NodeKind::Selector);
    original.children = alternative;
    std::vector<Node> nodes;
    nodes.emplace_back(NodeKind::Char, std::string(1, kClassPlaceholder));
    if (starts_with_white_space(alternative)) {
      Node combinator(NodeKind::Combinator);
      combinator.children.emplace_back(NodeKind::Descendant, " ");
      nodes.push_back(std::move(combinator));
    }
    const std::span<const Node> rest =
        std::span<const Node>(alternative).subspan(starts_with_white_space(alternative) ? 1 : 0);
    for (Node& node : reread_selector(normalize_selector(original), rest)) {
      nodes.push_back(std::move(node));
    }
    result.push_back(std::move(nodes));
  }
  Node joined(NodeKind::Selector);
  for (size_t i = 0; i < result.size(); ++i) {
    if (i > 0) joined.children.emplace_back(NodeKind::Comma, ",");
    for (Node& node : result[i]) joined.children.push_back(std::move(node));
  }
  return joined;
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
  if (selector != rule.children.end() && !selector->children.empty() &&
      selector->children.front().kind == NodeKind::Char &&
      selector->children.front().value == std::string(1, kClassPlaceholder)) {
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
  switch (node.kind) {
    case NodeKind::Selector:
      return std::vector<Node>{node};
    case NodeKind::Attribute:
      return normalize_attribute(node);
    case NodeKind::AtRule:
      return normalize_at_rule(node);
    default: {
      Node copy(node.kind, node.value);
      ZV_TRY(copy.children, walk_children(node, node.kind == NodeKind::Declaration));
      return std::vector<Node>{std::move(copy)};
    }
  }
}

Result<Node> normalize_working_region(const Node& region) {
  ZV_TRY(std::vector<Node> walked, normalize_tree(region));
  Node velt(region.kind, region.value);
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
