// Lexer entry points for tests and benchmarks.
#pragma once

#include <string_view>

#include "lexer/lexer.h"

namespace zeviziz {

// lex() with the single memo-guided reading (`fast`) or with the plain
// reading, where every candidate is read character by character by a
// building reader alone: slower on pathological input, and giving the same
// tree. With `trace`, also records region offsets and, for fast readings,
// misses.
Node lex_text(const Lexer& lexer, std::string_view text, bool fast, LexTrace* trace = nullptr);

// lex_selector() building its tree from token runs (`logged`) or character by
// character; the trees are the same.
Node lex_selector_text(std::string_view text, bool logged);

}  // namespace zeviziz
