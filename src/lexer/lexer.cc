// Region recognition over template text. Temporary: all text stays text.
#include "lexer/lexer.h"

namespace zeviziz {

Lexer new_lexer(std::vector<std::string> directive_names) {
  return Lexer(std::move(directive_names));
}

Node lex(const Lexer&, std::string_view text) {
  Node root(NodeKind::Template);
  std::string buffer(text);
  push_text(root, buffer);
  return root;
}

Node lex_selector(std::string_view) {
  return Node(NodeKind::Selector);
}

std::optional<std::vector<std::string>> read_at_rule_preludes(std::string_view) {
  return std::nullopt;
}

}  // namespace zeviziz
