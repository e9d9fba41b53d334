// Property declarations: the property name is serialised; the value is built
// from the Value child's pieces, with parenthesised groups and strings set
// aside as protected groups (so that url(...) keeps its case and strings are
// never touched), folded unless the property keeps its case, normalised in
// value mode, and the groups put back.
#include "normalize/declaration.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/unicode.h"
#include "normalize/normalize.h"
#include "normalize/token.h"

namespace zeviziz {
namespace {

constexpr std::array<std::string_view, 25> kKeepCaseProperties = {
    "animation",
    "animation-name",
    "container-name",
    "content",
    "counter-increment",
    "counter-reset",
    "counter-set",
    "font-variant-alternates",
    "grid",
    "grid-area",
    "grid-column",
    "grid-column-end",
    "grid-column-start",
    "grid-row",
    "grid-row-end",
    "grid-row-start",
    "grid-template",
    "grid-template-columns",
    "grid-template-rows",
    "list-style",
    "list-style-type",
    "page",
    "view-transition-class",
    "view-transition-name",
    "will-change",
};

// True when the identifier that `text` ends with is "url" in any case.
bool ends_with_url(std::string_view text) {
  size_t start = text.size();
  while (start > 0 && is_name_byte(text[start - 1])) --start;
  const std::string_view word = text.substr(start);
  return word.size() == 3 && lower_ascii(word[0]) == 'u' && lower_ascii(word[1]) == 'r' &&
         lower_ascii(word[2]) == 'l';
}

// Prepares a Parenthesis group: inner ends trimmed and, unless it belongs
// to url(...), white space normalised and (unless `keep_case`) folded.
std::string prepare_parenthesis(std::string text, bool keep_case, bool url) {
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    const std::string_view inner = std::string_view(text).substr(1, text.size() - 2);
    const std::string_view trimmed = trim_white_space(inner);
    std::string group;
    group.reserve(trimmed.size() + 2);
    group += '(';
    group += trimmed;
    group += ')';
    text = std::move(group);
  }
  if (url) return text;
  text = normalize_whitespace(text, WhitespaceMode::Value);
  return keep_case ? text : fold_value_case(text);
}

struct ValueDraft {
  std::string text;          // with U+0000 index U+0000 for each group
  std::vector<Node> groups;  // prepared group nodes (value = final text)
};

ValueDraft draft_value(const Node& value, bool keep_case) {
  ValueDraft draft;
  draft.text = value.value;
  for (const Node& child : value.children) {
    if (child.kind == NodeKind::Space || child.kind == NodeKind::Descendant) {
      draft.text += ' ';
    } else if (child.kind == NodeKind::Parenthesis || child.kind == NodeKind::StringValue) {
      std::string text = collect_text(child);
      if (child.kind == NodeKind::Parenthesis) {
        text = prepare_parenthesis(std::move(text), keep_case, ends_with_url(draft.text));
      }
      draft.text += '\0';
      draft.text += std::to_string(draft.groups.size());
      draft.text += '\0';
      draft.groups.emplace_back(child.kind, std::move(text));
    } else {
      collect_text(child, draft.text);
    }
  }
  return draft;
}

void add_text_piece(Node& value, std::string_view text) {
  if (!text.empty()) value.children.emplace_back(NodeKind::Text, std::string(text));
}

// Puts the groups back into the normalised `text`, filling `out` with the
// final text and `value` with its pieces.
void restore_groups(std::string_view text, const std::vector<Node>& groups, std::string& out,
                    Node& value) {
  value.children.reserve(2 * groups.size() + 1);
  size_t piece = 0;
  size_t i = text.find('\0');
  while (i != std::string_view::npos) {
    const size_t close = text.find('\0', i + 1);
    if (close == std::string_view::npos) break;
    const std::string_view digits = text.substr(i + 1, close - i - 1);
    size_t index = 0;
    for (char c : digits) index = index * 10 + static_cast<size_t>(c - '0');
    add_text_piece(value, text.substr(piece, i - piece));
    if (index < groups.size()) {
      out.append(text.substr(piece, i - piece));
      out += groups[index].value;
      value.children.push_back(groups[index]);
    }
    piece = close + 1;
    i = text.find('\0', piece);
  }
  out.append(text.substr(piece));
  add_text_piece(value, text.substr(piece));
}

const Node* find_child(const Node& node, NodeKind kind) {
  const auto it =
      std::ranges::find_if(node.children, [kind](const Node& child) { return child.kind == kind; });
  return it == node.children.end() ? nullptr : &*it;
}

std::string property_text(const Node& attribute) {
  // One Name leaf (the usual case) serialises to its value.
  const Node* only_name = nullptr;
  size_t count = 0;
  for (const Node& child : attribute.children) {
    if (child.kind == NodeKind::Name && count++ == 0) only_name = &child;
  }
  if (count == 1 && only_name->children.empty()) return only_name->value;
  std::vector<Node> names;
  for (const Node& child : attribute.children) {
    if (child.kind == NodeKind::Name) names.push_back(child);
  }
  return serialize_nodes(names);
}

}  // namespace

bool keeps_value_case(std::string_view property) {
  return property.starts_with("--") ||
         std::ranges::find(kKeepCaseProperties, property) != kKeepCaseProperties.end();
}

Result<NormalizedDeclaration> normalize_declaration(const Node& attribute) {
  if (find_child(attribute, NodeKind::Name) == nullptr) {
    return make_error("Missing normalized property name");
  }
  const Node* value = find_child(attribute, NodeKind::Value);
  if (value == nullptr) return make_error("Missing normalized property value");
  NormalizedDeclaration result;
  result.property = property_text(attribute);
  const bool keep_case = keeps_value_case(result.property);
  ValueDraft draft = draft_value(*value, keep_case);
  if (!keep_case) draft.text = fold_value_case(draft.text);
  draft.text = normalize_whitespace(draft.text, WhitespaceMode::Value);
  Node value_node(NodeKind::Value);
  restore_groups(draft.text, draft.groups, result.value, value_node);
  result.node = Node(NodeKind::Attribute);
  result.node.children.emplace_back(NodeKind::Name, result.property);
  result.node.children.push_back(std::move(value_node));
  return result;
}

bool read_normalized_declaration(const Node& attribute,
                                 std::vector<std::pair<std::string, std::string>>& out) {
  if (attribute.children.size() != 2) return false;
  const Node& name = attribute.children[0];
  const Node& value = attribute.children[1];
  if (name.kind != NodeKind::Name || !name.children.empty() || value.kind != NodeKind::Value ||
      !value.value.empty()) {
    return false;
  }
  size_t size = 0;
  for (const Node& piece : value.children) {
    const bool normal = piece.kind == NodeKind::Text || piece.kind == NodeKind::Parenthesis ||
                        piece.kind == NodeKind::StringValue;
    if (!normal || !piece.children.empty()) return false;
    size += piece.value.size();
  }
  std::string text;
  text.reserve(size);
  for (const Node& piece : value.children) text += piece.value;
  out.emplace_back(name.value, std::move(text));
  return true;
}

}  // namespace zeviziz
