// The syntax node model: kind names, the character-by-character tree builder
// used by the lexer, source text recovery and the two printable dumps.
//
// `append_char` walks the kind path from the top node downwards, reusing the
// last child when it has the right kind and no sibling rule says a new node
// starts; the character lands in the value of the deepest node. The dumps are
// plain recursive writers.
#include "lexer/node.h"

#include <array>

#include "base/unicode.h"

namespace zeviziz {
namespace {

constexpr std::array<std::string_view, kNodeKindCount> kKindNames = {
    "Null",        "Universal",    "Nesting",
    "Element",     "Id",           "Class",
    "Attribute",   "Combinator",   "Child",
    "Descendant",  "NextSibling",  "SubsequentSibling",
    "Parenthesis", "Open",         "Close",
    "Value",       "Rule",         "Active",
    "AtRule",      "Directive",    "Delimiter",
    "Name",        "Target",       "Prefix",
    "Ignore",      "Operator",     "Declaration",
    "Selector",    "Pseudoclass",  "AttName",
    "AttNameEnd",  "OperatorEnd",  "OperatorStart",
    "StringValue", "NameValue",    "End",
    "Space",       "PropertyName", "PropertyValue",
    "Semicolon",   "Colon",        "Char",
    "Comma",       "Velt",         "Template",
    "Text",        "Keyword",      "ScopeRoot",
    "ScopeLimit",  "And",
};

bool has_child_of_kind(const Node& node, NodeKind kind) {
  for (const Node& child : node.children) {
    if (child.kind == kind) return true;
  }
  return false;
}

// True when a character that opens a simple selector must start a new node
// even though the last child already has kind `k`.
bool starts_new_selector_part(NodeKind k, const Node& last_child, bool last, NodeKind next,
                              char32_t ch) {
  switch (k) {
    case NodeKind::Universal:
      return last && ch == U'*';
    case NodeKind::Nesting:
      return last && ch == U'&';
    case NodeKind::Id:
      return last && ch == U'#';
    case NodeKind::Class:
      return last && ch == U'.';
    case NodeKind::Attribute:
      return !last && ch == U'[' && next == NodeKind::Open;
    case NodeKind::Pseudoclass:
      return !last && ch == U':' && next == NodeKind::Prefix &&
             has_child_of_kind(last_child, NodeKind::Name);
    default:
      return false;
  }
}

// Decides whether the character starts a new sibling of kind `k` after the
// existing last child `l` of the same kind.
bool starts_new_sibling(NodeKind k, const Node& l, bool last, NodeKind next, char32_t ch) {
  if (starts_new_selector_part(k, l, last, next, ch)) return true;
  if (last) return !l.children.empty();
  if ((next == NodeKind::AtRule || next == NodeKind::Selector) &&
      has_child_of_kind(l, NodeKind::Declaration)) {
    return true;
  }
  return !l.value.empty();
}

void write_coloured(std::string_view code, std::string_view piece, std::string& out) {
  out += "\x1b[";
  out += code;
  out += 'm';
  out += piece;
  out += "\x1b[0m";
}

constexpr std::string_view kStructure = "94";
constexpr std::string_view kName = "95";
constexpr std::string_view kValue = "33";

}  // namespace

std::string_view kind_name(NodeKind kind) {
  const auto code = static_cast<size_t>(kind);
  return code < kKindNames.size() ? kKindNames[code] : std::string_view("Null");
}

void append_char(Node& top, std::span<const NodeKind> path, char32_t ch) {
  Node* cur = &top;
  for (size_t i = 0; i < path.size(); ++i) {
    const NodeKind k = path[i];
    const bool last = i + 1 == path.size();
    const NodeKind next = last ? NodeKind::Null : path[i + 1];
    if (cur->children.empty() || cur->children.back().kind != k ||
        starts_new_sibling(k, cur->children.back(), last, next, ch)) {
      cur->children.emplace_back(k);
    }
    cur = &cur->children.back();
  }
  append_utf8(cur->value, ch);
}

void push_text(Node& root, std::string& text) {
  if (text.empty()) return;
  if (!root.children.empty() && root.children.back().kind == NodeKind::Text) {
    root.children.back().value += text;
  } else {
    root.children.emplace_back(NodeKind::Text, std::move(text));
  }
  text.clear();
}

void collect_text(const Node& node, std::string& out) {
  out += node.value;
  for (const Node& child : node.children) collect_text(child, out);
}

std::string collect_text(const Node& node) {
  std::string out;
  collect_text(node, out);
  return out;
}

void dump_text(const Node& node, size_t depth, std::string& out) {
  write_coloured(kStructure, "Node(name:", out);
  write_coloured(kName, kind_name(node.kind), out);
  if (!node.value.empty()) {
    write_coloured(kStructure, ",value:", out);
    std::string quoted;
    append_json_string(node.value, quoted);
    write_coloured(kValue, quoted, out);
  }
  if (!node.children.empty()) {
    write_coloured(kStructure, ",children:", out);
    write_coloured(kName, "[", out);
    for (size_t i = 0; i < node.children.size(); ++i) {
      out += '\n';
      out.append(2 * (depth + 1), ' ');
      dump_text(node.children[i], depth + 1, out);
      if (i + 1 < node.children.size()) write_coloured(kStructure, ",", out);
    }
    out += '\n';
    out.append(2 * depth, ' ');
    write_coloured(kName, "]", out);
  }
  write_coloured(kStructure, ")", out);
}

void dump_json(const Node& node, std::string& out) {
  out += "{\"name\":";
  append_json_string(kind_name(node.kind), out);
  out += ",\"value\":";
  append_json_string(node.value, out);
  out += ",\"children\":[";
  for (size_t i = 0; i < node.children.size(); ++i) {
    if (i > 0) out += ',';
    dump_json(node.children[i], out);
  }
  out += "]}";
}

void append_json_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace zeviziz
