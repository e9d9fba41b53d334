// Lexer entry points for tests and benchmarks.
#pragma once

#include <string_view>

#include "lexer/lexer.h"

namespace zeviziz {

// lex() with the fast first reading switched on or off. Without it every
// candidate is read by the building reader alone: slower on pathological
// input, and by construction giving the same tree.
// With `trace`, also records region offsets and, for fast readings, misses.
Node lex_text(const Lexer& lexer, std::string_view text, bool fast, LexTrace* trace = nullptr);

// lex_selector() building its tree from token runs (`logged`) or character by
// character; the trees are the same.
Node lex_selector_text(std::string_view text, bool logged);

}  // namespace zeviziz
