// Letter case of selector text. Element names, pseudo-class names and
// attribute names are case-insensitive and folded to lower case; class and id
// names, strings and the rest of attribute selectors keep their case. The
// arguments of selector pseudo-classes are normalised recursively.
#include <string_view>

#include "normalize/normalize.h"
#include "normalize/token.h"

namespace zeviziz {
namespace {

void append_lower(std::string_view text, std::string& out) {
  for (char c : text) out += lower_ascii(c);
}

// End of the name that starts at `pos`: name characters and escapes.
size_t name_end(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    if (is_name_byte(text[pos])) {
      ++pos;
    } else if (text[pos] == '\\') {
      pos += token_at(text, pos).length;
    } else {
      break;
    }
  }
  return pos;
}

// Position of the ")" that closes the "(" at `open` (tokens skipped), or the
// end of the text.
size_t matching_close(std::string_view text, size_t open) {
  int depth = 0;
  size_t i = open;
  while (i < text.size()) {
    const Token token = token_at(text, i);
    if (token.kind != TokenKind::None) {
      i += token.length;
      continue;
    }
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return i;
    ++i;
  }
  return text.size();
}

bool is_selector_argument(std::string_view name) {
  return name == "is" || name == "not" || name == "has" || name == "where" || name == "host" ||
         name == "host-context" || name == "slotted";
}

// Position of the first " of " in `text`, compared case-insensitively.
size_t find_of(std::string_view text) {
  for (size_t i = 0; i + 4 <= text.size(); ++i) {
    if (text[i] == ' ' && lower_ascii(text[i + 1]) == 'o' && lower_ascii(text[i + 2]) == 'f' &&
        text[i + 3] == ' ') {
      return i;
    }
  }
  return std::string_view::npos;
}

void append_argument(std::string_view name, std::string_view argument, std::string& out) {
  if (is_selector_argument(name)) {
    out += normalize_selector_case(argument);
  } else if (name == "nth-child" || name == "nth-last-child") {
    const size_t of = find_of(argument);
    if (of == std::string_view::npos) {
      append_lower(argument, out);
    } else {
      append_lower(argument.substr(0, of), out);
      out += " of ";
      out += normalize_selector_case(argument.substr(of + 4));
    }
  } else {
    out += argument;
  }
}

// Handles ":" or "::", the pseudo-class name and its argument; returns the
// position after them.
size_t append_pseudo(std::string_view text, size_t i, std::string& out) {
  const size_t prefix = text.substr(i, 2) == "::" ? 2 : 1;
  out.append(text.substr(i, prefix));
  i += prefix;
  const size_t end = name_end(text, i);
  const size_t name_start = out.size();
  append_lower(text.substr(i, end - i), out);
  const std::string name = out.substr(name_start);
  i = end;
  if (i >= text.size() || text[i] != '(') return i;
  const size_t close = matching_close(text, i);
  out += '(';
  append_argument(name, text.substr(i + 1, close - i - 1), out);
  if (close < text.size()) out += ')';
  return close < text.size() ? close + 1 : close;
}

// Handles "[" ... "]": the attribute name is folded, the rest copied.
size_t append_attribute(std::string_view text, size_t i, std::string& out) {
  out += text[i++];
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\f')) {
    out += text[i++];
  }
  size_t end = i;
  while (end < text.size() && is_name_byte(text[end])) ++end;
  append_lower(text.substr(i, end - i), out);
  i = end;
  int depth = 1;
  while (i < text.size() && depth > 0) {
    const Token token = token_at(text, i);
    const size_t length = token.kind == TokenKind::None ? 1 : token.length;
    if (token.kind == TokenKind::None && text[i] == '[') ++depth;
    if (token.kind == TokenKind::None && text[i] == ']') --depth;
    out.append(text.substr(i, length));
    i += length;
  }
  return i;
}

void lower_value(Node& node) {
  for (char& c : node.value) c = lower_ascii(c);
}

void fold_keywords(Node& node) {
  if (node.kind == NodeKind::Keyword) lower_value(node);
  for (Node& child : node.children) fold_keywords(child);
}

// Folds, on the tree, the names that are case-insensitive: elements,
// pseudo-class names, attribute names and keywords of attribute selectors.
void fold_selector_tree(Node& node) {
  if (node.kind == NodeKind::Element) lower_value(node);
  if (node.kind == NodeKind::Pseudoclass || node.kind == NodeKind::Attribute) {
    for (Node& child : node.children) {
      if (child.kind == NodeKind::Name) lower_value(child);
    }
  }
  if (node.kind == NodeKind::Attribute) {
    fold_keywords(node);
    return;
  }
  for (Node& child : node.children) fold_selector_tree(child);
}

}  // namespace

std::string normalize_selector(const Node& selector) {
  Node folded = selector;
  fold_selector_tree(folded);
  const std::string text = serialize_node(folded);
  return normalize_whitespace(normalize_selector_case(text), WhitespaceMode::Selector);
}

std::string normalize_selector_case(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const Token token = token_at(text, i);
    const char c = text[i];
    if (token.kind != TokenKind::None) {
      out.append(text.substr(i, token.length));
      i += token.length;
    } else if (c == '.' || c == '#') {
      const size_t end = name_end(text, i + 1);
      out.append(text.substr(i, end - i));
      i = end;
    } else if (c == ':') {
      i = append_pseudo(text, i, out);
    } else if (c == '[') {
      i = append_attribute(text, i, out);
    } else if (is_ascii_letter(c)) {
      while (i < text.size() && is_ascii_letter(text[i])) out += lower_ascii(text[i++]);
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace zeviziz
