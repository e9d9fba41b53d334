// The lexer of template text: finds the style regions that follow the trigger
// "!" and builds their syntax trees (see node.h). It never fails: text that
// does not form a complete region stays text.
//
// Tree shapes (the exact shapes are documented in full below once the
// machines are in place; what callers may rely on):
// - Template: Text and Velt children in source order, never two Text nodes in
//   a row; the pre-order text of the Template is the lexed input.
// - Velt: its children are the leading constructs in source order:
//   Directive, AtRule, And, Rule. The first child is always a Directive whose
//   first child is a Prefix "!". collect_text(velt) is the region's source.
// - Directive: Prefix "!", Name, optional Parenthesis(Open "(", Value of
//   Char/Space nodes, Close ")"), repeated for `!a!b`.
// - AtRule: Prefix "@", Name (the keyword), then the prelude.
// - Rule: Selector, Declaration (the block from "{" to "}").
// - Declaration items: Attribute(Name, Colon?, Value), Semicolon, Space,
//   nested Rule and AtRule nodes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lexer/node.h"

namespace zeviziz {

// The lexer settings: the directive names it accepts after "!". Immutable once
// made, so one Lexer may lex any number of texts.
class Lexer {
 public:
  explicit Lexer(std::vector<std::string> directive_names)
      : directive_names_(std::move(directive_names)) {}

  // The directive names in ascending byte order; empty = any name made of
  // a-z, A-Z, 0-9, "-" and "_".
  const std::vector<std::string>& directive_names() const { return directive_names_; }

 private:
  std::vector<std::string> directive_names_;
};

// Returns a lexer for `directive_names` (ascending byte order; an empty list
// accepts any name run of a-z A-Z 0-9 - _). Never fails.
Lexer new_lexer(std::vector<std::string> directive_names);

// Returns the Template tree of `text`: Text nodes for plain text and Velt
// nodes for the style regions. Never fails.
Node lex(const Lexer& lexer, std::string_view text);

// Feeds `text` to the free-form selector machine (the selector of a nested
// rule, lists allowed) until it completes at the first top-level "{" or fails,
// and returns the Selector node built up to that point (kind Selector, maybe
// without children). The "{" itself is not part of the result.
Node lex_selector(std::string_view text);

// Reads `text` with the at-rule machine as one or more complete at-rule
// preludes in a row and returns each prelude's exact source text (white space
// between preludes belongs to neither); nullopt when the text does not read
// completely that way.
std::optional<std::vector<std::string>> read_at_rule_preludes(std::string_view text);

}  // namespace zeviziz
