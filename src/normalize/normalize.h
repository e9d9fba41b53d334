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

}  // namespace zeviziz
