// Normalisation of style syntax: the canonical text forms of selectors,
// values and at-rule preludes (letter case, white space, comments), the
// structural walk over a region's tree, and the flattening of a region into
// normalised rules.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "lexer/node.h"

namespace zeviziz {

// The character that stands, in a normalised selector, for the generated
// class of the element that carries the style region.
inline constexpr char kClassPlaceholder = '\0';

enum class WhitespaceMode { Selector, Value, AtRule };

// Returns `text` with white space trimmed, runs of white space collapsed to
// one space or removed around punctuation (rules depend on `mode`), and
// comments replaced by "/**/". Strings and escapes are copied unchanged.
std::string normalize_whitespace(std::string_view text, WhitespaceMode mode);

// Returns `text` with identifiers folded to lower case (A-Z only); strings,
// comments, escapes and "--" custom identifiers are copied unchanged.
std::string fold_value_case(std::string_view text);

// Returns the selector text with element names, pseudo-class names and
// attribute names folded to lower case; class and id names keep their case.
// Arguments of selector pseudo-classes are normalised recursively.
std::string normalize_selector_case(std::string_view text);

// Replaces every "&" outside square brackets and tokens by `parent`.
// Returns the new text and whether any "&" was replaced.
std::pair<std::string, bool> replace_nesting(std::string_view text, std::string_view parent);

// Cuts `text` at every top-level "," (outside tokens, parentheses and square
// brackets). Pieces are untrimmed; there is always at least one.
std::vector<std::string> split_top_level(std::string_view text);

// Returns the text of `nodes` written in pre-order, with white-space nodes
// reduced to single spaces where the neighbours need one and semicolons
// directly before a closing "}" dropped. Never fails.
std::string serialize_nodes(std::span<const Node> nodes);
std::string serialize_node(const Node& node);

// Returns the normalised text of a Selector node: case-insensitive names
// folded (on the tree, then on the text), white space normalised in selector
// mode.
std::string normalize_selector(const Node& selector);

// Returns the selector of a rule with selector `selector` nested in a rule
// whose normalised selector is `parent`: "&" replaced by the parent (wrapped
// in ":is(...)" where needed), or the parent, a space and the selector.
// The result is normalised in selector mode; an empty `selector` gives
// `parent`.
std::string nest_selector(std::string_view parent, std::string_view selector);

// Replaces "&" in an at-rule prelude by the current selector `parent`
// (wrapped in ":is(...)" when it is a list or complex).
std::string replace_nesting_in_prelude(std::string_view prelude, std::string_view parent);

// True when values of `property` keep their letter case: custom properties
// ("--...") and the fixed list of properties whose values name things.
bool keeps_value_case(std::string_view property);

// The structural walk over a region's tree: drops Space and Semicolon items
// of blocks, folds property names (unless custom), splits AtRule nodes that
// hold several "@" prefixes. Returns the replacement nodes for `node`; fails
// with "Missing property name in lexer AST" for a declaration without name.
Result<std::vector<Node>> normalize_tree(const Node& node);

// Normalises a working region (a Velt node without its Directive children)
// into the tree that directives of the second phase work on: the
// normalize_tree walk, then AtRule nodes whose value is the normalised
// prelude text, a Rule whose Selector starts each alternative with a Char
// U+0000 placeholder (and a descendant Combinator when the alternative began
// with white space) or, in an alternative that uses "&", has the placeholder
// in place of each "&"; nested selectors and declarations in normalised
// form. A region normalised before is left as it is. Fails like
// normalize_tree.
Result<Node> normalize_working_region(const Node& region);
// The same, taking the region over instead of copying it.
Result<Node> normalize_working_region(Node&& region);

// One flattened rule of a region.
struct NormalizedRule {
  std::vector<std::string> at_rules;  // preludes, outermost first
  std::string selector;               // with U+0000 for the carrying class
  std::vector<std::pair<std::string, std::string>> declarations;  // (property, value)

  bool operator==(const NormalizedRule&) const = default;
};

// Flattens a processed region into its normalised rules: the region's rule
// first, then nested rules in order; rules without declarations give none.
// Declarations that a later one of the region overrides are dropped
// (drop_overridden_declarations). Fails with "Missing normalized property
// name" or "Missing normalized property value" for an incomplete declaration.
Result<std::vector<NormalizedRule>> normalize_region(const Node& velt);

// Removes from the flattened rules of one region every declaration that a
// later declaration of the list overrides for the same target (the same
// at-rule list once media ranges are merged, and the same selector
// alternative): one that sets the same property (compared in lower case,
// custom properties exactly) or a shorthand that sets all of its longhands.
// An "!important" declaration is overridden only by a later important one;
// a later declaration with the same text is the same rule and overrides
// nothing. When only some alternatives of a selector list lose a
// declaration, the rule is split into one rule per alternative, keeping the
// order in which the declarations are registered. Rules left without
// declarations are removed.
void drop_overridden_declarations(std::vector<NormalizedRule>& rules);

}  // namespace zeviziz
