// The lexer of template text: finds the style regions that follow the trigger
// "!" and builds their syntax trees (node.h). It never fails: text that does
// not form a complete region stays text.
//
// Regions. A "!" at the start of the text or after a white-space character
// starts an attempt; a region is kept only when it reads completely and is
// followed by white space or the end of the text. Plain text keeps its bytes
// exactly (malformed UTF-8 included); a region never contains NUL or
// malformed UTF-8. Blocks and pseudo-class arguments nest at most 64 deep.
//
// Tree shapes. Every character belongs to exactly one node value, so
// collect_text of any node is its exact source text. Kinds below are written
// Kind"value"(children); white-space runs merge into one Space node.
//
// Template: Text and Velt children in source order, never two Text in a row.
// Velt: the leading constructs in order, the last one always a Rule:
//   Directive  first child always Prefix"!". Then, per directive, Name and an
//              optional Parenthesis(Open"(" Value(Char.. Space..) Close")");
//              `!a!b` repeats Prefix/Name/Parenthesis in the same node. A
//              trailing Prefix"!" without Name is allowed (`!id(x)!{...}`).
//   AtRule     Prefix"@" Name"media" then the prelude: Space, Value (a media
//              type, container or layer name), Parenthesis(Open Value Close)
//              for conditions, And"and", Keyword"to" (scope). Consecutive
//              at-rules (`@media print @supports (x)`) share one AtRule node
//              whose Prefix/Name children repeat. Trailing white space before
//              "{", "@" or "&" is a Space of the AtRule.
//   And        "&" joining a leading at-rule to the rule.
//   Rule       Selector (absent when the selector is empty) and Declaration.
// Declaration (a block): Open"{", items, Close"}". Items:
//   Attribute  a declaration: Name"color", Space?, Colon":", Space?, Value.
//              The Value is absent for an empty value (`a:`). Its children:
//              Char runs, Space, StringValue (a whole quoted string),
//              Parenthesis(Open Value(Char.. Space..) Close) for "(...)";
//              "[...]" groups, comments, escapes and braces are Char runs.
//   Rule       a nested rule: Selector, Declaration.
//   AtRule     a nested at-rule, followed by a Rule item without Selector
//              that holds its block.
//   Semicolon  ";" runs; Space for white space and comments.
// Selector children (compact in the region's own rule: no comments, a
// single " " is a Descendant combinator, also right after a Comma):
//   Universal"*" Nesting"&" Element"div" Id"#x" Class".x" (escapes allowed
//   in names), Combinator(Child">" | Descendant" " | NextSibling"+" |
//   SubsequentSibling"~"), Comma",", Space (white space around combinators
//   and commas, before "{" or ")", and comments),
//   Attribute(Open"[" Space? AttName AttNameEnd? [OperatorStart"^"]
//             Operator"=" OperatorEnd? StringValue|NameValue Space?
//             Keyword"i"? Space? Close"]"),
//   Pseudoclass(Prefix":"|"::" Name [Parenthesis(Open"(" arg Close")")]),
//   where arg is a Selector for is/where/not/has/host/host-context/slotted,
//   Value(An+B) [Space Keyword"of" Space] [Selector] for nth-child and
//   nth-last-child, and Value(Char.. Space..) for any other name.
// In nested selectors the first white-space run between two compound
// selectors is the Descendant combinator; further white space and comments
// in that gap are Space.
//
// Examples (the Velt's children):
//   !{color:red}
//     Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"color"
//     Colon":" Value(Char"red")) Close"}"))
//   !at(medium)!:hover{a:b}
//     Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"medium")
//     Close")") Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"hover"))
//     Declaration(...))
//   !@media(min-width:768px)&:hover{a:b}
//     Directive(Prefix"!") AtRule(Prefix"@" Name"media" Parenthesis(Open"("
//     Value(Char"min-width:768px") Close")")) And"&" Rule(Selector(...)
//     Declaration(...))
//   !{a > b{x:y}@media print{z:w}}
//     Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a"
//     Space" " Combinator(Child">") Space" " Element"b") Declaration(...))
//     AtRule(Prefix"@" Name"media" Space" " Value"print")
//     Rule(Declaration(...)) Close"}"))
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lexer/node.h"

namespace zeviziz {

// The lexer settings: the directive names it accepts after "!". Immutable
// once made, so one Lexer may lex any number of texts.
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
// nodes for the style regions. Never fails; linear in the text size.
Node lex(const Lexer& lexer, std::string_view text);

// A "!" that began like a style region but did not become one: the byte in
// the lexed text where reading went wrong and why, in the author's terms
// (e.g. `unclosed "{" opened here`).
struct RegionMiss {
  size_t offset = 0;
  std::string reason;
};

// What lex() found besides the tree, for diagnostics.
struct LexTrace {
  // The byte offset of each Velt node of the tree, in order.
  std::vector<size_t> regions;
  // In the order of their "!": each "!" that began like a region (a block
  // right after it, a directive with arguments, a complete at-rule keyword,
  // a selector reaching "{", or `!(color:red)`) but stayed text. A "!" used
  // as punctuation gives none.
  std::vector<RegionMiss> misses;
};

// lex() that also appends what it found to `trace` (offsets relative to
// `text`). The tree is the same as lex()'s; still linear.
Node lex(const Lexer& lexer, std::string_view text, LexTrace& trace);

// Lexes `text` like lex() but hands each child of the Template tree to
// `emit`, in order, instead of keeping them (a Text node for each stretch of
// plain text, a Velt node for each region), so that a caller can handle one
// region tree at a time. With `trace`, appends to it as lex() does.
void lex_each(const Lexer& lexer, std::string_view text, const std::function<void(Node&&)>& emit,
              LexTrace* trace = nullptr);

// Feeds `text` to the free-form selector machine (a nested rule's selector,
// lists and leading combinators allowed) until it completes at the first
// top-level "{" or fails, and returns the Selector node built up to that
// point (maybe without children). The "{" is not part of the result.
Node lex_selector(std::string_view text);

// Reads `text` (trimmed of white space) with the at-rule machine as one or
// more complete at-rule preludes in a row and returns each prelude's source
// text without surrounding white space, e.g. "@media print" and
// "@supports (display:grid)" for `@media print @supports (display:grid)`.
// Returns nullopt when the text does not read completely that way.
std::optional<std::vector<std::string>> read_at_rule_preludes(std::string_view text);

// The number of steps (characters read one by one, jumps over text the scans
// already know, and token runs turned into nodes) the lexer's readers have
// taken on the calling thread so far. Lexing is linear in the text size;
// tests bound the steps per input byte on inputs that make many region
// attempts fail late.
uint64_t lexer_steps();

}  // namespace zeviziz
