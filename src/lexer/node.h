// The syntax tree of template text and style regions: one record per node,
// owning its value and children, plus the operations that build trees one
// character at a time and print them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeviziz {

// The fifty node kinds. The codes are fixed: the lexer's machines use them as
// their state values.
enum class NodeKind : uint8_t {
  Null = 0,
  Universal = 1,
  Nesting = 2,
  Element = 3,
  Id = 4,
  Class = 5,
  Attribute = 6,
  Combinator = 7,
  Child = 8,
  Descendant = 9,
  NextSibling = 10,
  SubsequentSibling = 11,
  Parenthesis = 12,
  Open = 13,
  Close = 14,
  Value = 15,
  Rule = 16,
  Active = 17,
  AtRule = 18,
  Directive = 19,
  Delimiter = 20,
  Name = 21,
  Target = 22,
  Prefix = 23,
  Ignore = 24,
  Operator = 25,
  Declaration = 26,
  Selector = 27,
  Pseudoclass = 28,
  AttName = 29,
  AttNameEnd = 30,
  OperatorEnd = 31,
  OperatorStart = 32,
  StringValue = 33,
  NameValue = 34,
  End = 35,
  Space = 36,
  PropertyName = 37,
  PropertyValue = 38,
  Semicolon = 39,
  Colon = 40,
  Char = 41,
  Comma = 42,
  Velt = 43,
  Template = 44,
  Text = 45,
  Keyword = 46,
  ScopeRoot = 47,
  ScopeLimit = 48,
  And = 49,
};

inline constexpr int kNodeKindCount = 50;

// One node: the source characters that belong directly to it, its children
// in source order, and its kind.
struct Node {
  std::string value;
  std::vector<Node> children;
  NodeKind kind = NodeKind::Null;

  Node() = default;
  explicit Node(NodeKind k, std::string v = {}) : value(std::move(v)), kind(k) {}
};

// The display name of a kind, e.g. "AtRule".
std::string_view kind_name(NodeKind kind);

// Extends the tree below `top` by the character `ch`, following `path` (kind
// codes, outermost first, non-empty) and the sibling rules of the lexer.
void append_char(Node& top, std::span<const NodeKind> path, char32_t ch);

// Appends `text` to `root`: merged into a trailing Text child, else a new Text
// child. Does nothing for empty text. Empties `text`.
void push_text(Node& root, std::string& text);

// Appends the pre-order concatenation of the values of `node`'s sub-tree.
void collect_text(const Node& node, std::string& out);

// Returns the pre-order concatenation of the values of `node`'s sub-tree.
std::string collect_text(const Node& node);

// Appends the coloured text dump of `node`; the top call uses depth 0.
void dump_text(const Node& node, size_t depth, std::string& out);

// Appends the JSON dump of `node` (no white space).
void dump_json(const Node& node, std::string& out);

// Appends `text` as a JSON string literal (quotes included).
void append_json_string(std::string_view text, std::string& out);

}  // namespace zeviziz
