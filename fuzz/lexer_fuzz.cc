// libFuzzer target for the lexer (not built by default). Build with
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/lexer_fuzz.cc src/lexer/*.cc src/base/unicode.cc -o lexer_fuzz
// Checks that the tree gives back the input, that the single reading (token
// runs) agrees with plain reading and with the traced reading, that the
// trace is consistent, that lex_selector from token runs agrees with its
// plain reading, and that the other entry points do not crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lexer/lexer.h"
#include "lexer/lexer_internal.h"

namespace {

void dump(const zeviziz::Node& node, std::string& out) {
  zeviziz::dump_json(node, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zeviziz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const Lexer named = new_lexer({"at", "copy", "id"});
  static const Lexer any = new_lexer({});
  for (const Lexer* lexer : {&named, &any}) {
    const Node fast = lex_text(*lexer, text, true);
    if (collect_text(fast) != text) std::abort();
    std::string a, b;
    dump(fast, a);
    dump(lex_text(*lexer, text, false), b);
    if (a != b) std::abort();
    // The warnings trace changes nothing in the tree, places one offset per
    // region and its misses inside the text.
    LexTrace trace;
    std::string c;
    const Node traced = lex(*lexer, text, trace);
    dump(traced, c);
    if (a != c) std::abort();
    size_t regions = 0;
    for (const Node& child : traced.children) regions += child.kind == NodeKind::Velt;
    if (trace.regions.size() != regions) std::abort();
    for (const RegionMiss& miss : trace.misses) {
      if (miss.offset > size || miss.reason.empty()) std::abort();
    }
  }
  std::string d, e;
  dump(lex_selector_text(text, true), d);
  dump(lex_selector_text(text, false), e);
  if (d != e) std::abort();
  (void)read_at_rule_preludes(text);
  return 0;
}
