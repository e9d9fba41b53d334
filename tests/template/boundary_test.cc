#include "template/boundary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace zeviziz {
namespace {

constexpr auto kNone = std::nullopt;

PatternItem lit(std::string text) {
  return PatternItem{true, std::move(text)};
}

PatternItem run(CharClass cls, uint64_t min, std::optional<uint64_t> max) {
  return PatternItem{false, {}, cls, min, max};
}

TEST(CompilePattern, ItemsOfEachForm) {
  using C = CharClass;
  const struct {
    std::string text;
    std::vector<PatternItem> items;
  } cases[] = {
      {"#", {lit("#")}},
      {"<?php\\s[1:]", {lit("<?php"), run(C::WhiteSpace, 1, kNone)}},
      {"<style\\c[0:]>", {lit("<style"), run(C::Any, 0, kNone), lit(">")}},
      {"\\n", {run(C::LineFeed, 1, 1)}},
      {"\\r\\t\\v\\\\",
       {run(C::CarriageReturn, 1, 1), run(C::Tab, 1, 1), run(C::NotWhiteSpace, 1, 1),
        run(C::Backslash, 1, 1)}},
      {"\\x", {lit("\\x")}},
      {"a\\", {lit("a\\")}},
      {"\\é", {lit("\\é")}},
      {"\\s[", {run(C::WhiteSpace, 1, 1), lit("[")}},
      {"\\s[2]", {run(C::WhiteSpace, 2, 2)}},
      {"\\s[:3]", {run(C::WhiteSpace, 0, 3)}},
      {"\\s[+2:+4]x", {run(C::WhiteSpace, 2, 4), lit("x")}},
      {"\\s[0]", {run(C::WhiteSpace, 0, 0)}},
      {"\\s[18446744073709551615:]", {run(C::WhiteSpace, UINT64_MAX, kNone)}},
      // Invalid counts: one character, then the bracket text read again.
      {"\\t[3:1]", {run(C::Tab, 1, 1), lit("[3:1]")}},
      {"\\s[]", {run(C::WhiteSpace, 1, 1), lit("[]")}},
      {"\\s[:]", {run(C::WhiteSpace, 1, 1), lit("[:]")}},
      {"\\s[+]", {run(C::WhiteSpace, 1, 1), lit("[+]")}},
      {"\\s[-1]", {run(C::WhiteSpace, 1, 1), lit("[-1]")}},
      {"\\s[ 1]", {run(C::WhiteSpace, 1, 1), lit("[ 1]")}},
      {"\\s[1:2:3]", {run(C::WhiteSpace, 1, 1), lit("[1:2:3]")}},
      {"\\s[18446744073709551616]", {run(C::WhiteSpace, 1, 1), lit("[18446744073709551616]")}},
      {"\\s[x\\n]", {run(C::WhiteSpace, 1, 1), lit("[x"), run(C::LineFeed, 1, 1), lit("]")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compile_pattern(c.text).items, c.items) << c.text;
  }
}

TEST(MatchAt, LiteralsRunsAndLimits) {
  const struct {
    std::string pattern;
    std::string text;
    size_t pos;
    size_t limit;
    std::optional<size_t> end;
  } cases[] = {
      {"<?php\\s[1:]", "<?php   \nx", 0, 99, 9},
      {"<?php\\s[1:]", "<?phpx", 0, 99, kNone},
      {"<?php\\s[1:]", "<?php   ", 0, 7, 7},  // greedy run stops at the limit
      {"<style\\c[0:]>", "<style>", 0, 99, 7},
      {"<style\\c[0:]>", "<style media=\"x\">a>", 0, 99, 17},
      {"<style\\c[0:]>", "<style media", 0, 99, kNone},
      {"<style\\c[0:]>", "x<style>", 1, 99, 8},
      {"<!--", "<!--", 0, 3, kNone},  // never reads at or beyond the limit
      {"\\s[2]x", "  x", 0, 99, 3},
      {"\\s[2]x", " x", 0, 99, kNone},
      {"a\\c[0:2]b", "axxb", 0, 99, 4},
      {"a\\c[0:2]b", "axxxb", 0, 99, kNone},
      {"a\\c[2:]b", "abb", 0, 99, kNone},
      {"a\\c[2:]b", "abbb", 0, 99, 4},
      {"a\\c[0:]bc", "abxbc", 0, 99, 5},  // first literal occurrence fails the rest
      {"a\\s[0:]b", "a  b", 0, 99, 4},
      {"a\\s[0:]b", "a  cb", 0, 99, kNone},
      {"a\\s[0:2]", "a    ", 0, 99, 3},
      {"a\\s[0:]", "a", 0, 99, 1},
      {"\\c", "é", 0, 99, 2},
      {"\\c", "é", 0, 1, kNone},  // a character crossing the limit is not read
      {"\\v[2]", "éx", 0, 99, 3},
      {"\\s", "\xE3\x80\x80", 0, 99, 3},  // U+3000
      {"\\v", " ", 0, 99, kNone},
      {"\\\\n", "\\n", 0, 99, 2},
      {"x\\c[0:]", "xabc", 0, 3, 3},
      {"\\s[0]", "abc", 1, 99, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(match_at(c.text, compile_pattern(c.pattern), c.pos, c.limit), c.end)
        << c.pattern << " on " << c.text;
  }
}

TEST(Find, LeftmostMatchAndProtectedRanges) {
  const struct {
    std::string pattern;
    std::string text;
    size_t from;
    size_t limit;
    std::vector<Range> protect;
    std::optional<Match> match;
  } cases[] = {
      {"ab", "xxabab", 0, 99, {}, Match{2, 4}},
      {"ab", "xxabab", 3, 99, {}, Match{4, 6}},
      {"ab", "xxabab", 0, 3, {}, kNone},
      {"ab", "xxabab", 0, 5, {}, Match{2, 4}},
      {"\\s[0:]", "abc", 1, 99, {}, Match{1, 1}},
      {"\\s[0:]", "abc", 3, 99, {}, kNone},  // the search ends at the limit
      {"ab", "abab", 0, 99, {{0, 2}}, Match{2, 4}},
      {"ab", "abab", 0, 99, {{1, 3}}, kNone},     // overlaps a start / lies inside
      {"<!--", "<!--x", 0, 99, {{2, 5}}, kNone},  // open delimiter runs into a claim
      {"a\\c[0:]b", "a[b]b", 0, 99, {{1, 4}}, kNone},
      {"a\\c[0:]b", "a[b]ab", 0, 99, {{1, 4}}, Match{4, 6}},
      {"ab", "abxab", 0, 99, {{0, 1}, {3, 4}}, kNone},
      {"ab", "abxabab", 0, 99, {{0, 1}, {3, 4}}, Match{5, 7}},
      {"\\n", "a\nb\n", 2, 99, {}, Match{3, 4}},
      {"\\c", "é", 0, 99, {}, Match{0, 2}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find(c.text, compile_pattern(c.pattern), c.from, c.limit, c.protect), c.match)
        << c.pattern << " in " << c.text << " from " << c.from;
  }
}

TEST(FindUnescaped, OddBackslashesEscape) {
  const struct {
    std::string text;
    size_t from;
    size_t floor;
    std::vector<Range> protect;
    std::optional<Match> match;
  } cases[] = {
      {R"(a\"b")", 0, 0, {}, Match{4, 5}},
      {R"(a\\"b)", 0, 0, {}, Match{3, 4}},
      {R"(a\\\"b)", 0, 0, {}, kNone},
      {R"(\"x)", 1, 1, {}, Match{1, 2}},    // at the floor: accepted
      {R"(\\"x)", 1, 1, {}, kNone},         // one backslash above the floor: escaped
      {R"(\\"x")", 2, 2, {}, Match{2, 3}},  // nothing counted below the floor
      {R"(\\"x")", 0, 1, {}, Match{4, 5}},  // one counted: escaped
      {R"(\\\"x)", 0, 0, {}, kNone},
      {R"(\\\"x)", 0, 0, {{0, 1}}, Match{3, 4}},  // counting stops at a claim
      {R"(\")", 0, 0, {}, kNone},
  };
  const Pattern quote = compile_pattern("\"");
  for (const auto& c : cases) {
    EXPECT_EQ(find_unescaped(c.text, quote, c.from, c.text.size(), c.floor, c.protect), c.match)
        << c.text << " from " << c.from;
  }
}

TEST(CompileBoundaries, FirstOfANameWinsAndLineBreakCloses) {
  const BoundaryMap map = compile_boundaries({{"a", "x", "\\n"},
                                              {"a", "y", "z"},
                                              {"b", "", ""},
                                              {"c", "#", "\n"},
                                              {"d", "#", "\\r\\n"},
                                              {"e", "#", "\\n;"},
                                              {"f", "#", "\r\n"}});
  ASSERT_EQ(map.size(), 6u);
  EXPECT_EQ(map.at("a").open, compile_pattern("x"));
  EXPECT_TRUE(map.at("a").close_is_newline);
  EXPECT_FALSE(map.at("b").open.has_value());
  EXPECT_FALSE(map.at("b").close.has_value());
  EXPECT_FALSE(map.at("b").close_is_newline);
  EXPECT_TRUE(map.at("c").close_is_newline);
  EXPECT_TRUE(map.at("d").close_is_newline);
  EXPECT_FALSE(map.at("e").close_is_newline);
  EXPECT_TRUE(map.at("f").close_is_newline);
}

TEST(FindRegion, OpenContentClose) {
  const struct {
    BoundaryDef def;
    std::string text;
    bool escaped;
    std::optional<Region> region;
  } cases[] = {
      {{"q", "\"", "\""}, R"(x "a\"b" y)", true, Region{2, 8, 3, 7}},
      {{"q", "\"", "\""}, R"("a\\"b)", true, Region{0, 5, 1, 4}},
      {{"q", "\"", "\""}, R"("a\"b)", true, kNone},
      {{"q", "\"", "\""}, R"("")", true, Region{0, 2, 1, 1}},
      {{"c", "<!--", "-->"}, "a<!-- b -->c", false, Region{1, 11, 5, 8}},
      {{"c", "<!--", "-->"}, "a<!-- b", false, kNone},
      {{"o", "<?php\\s[1:]", ""}, "x<?php a", false, Region{1, 8, 7, 8}},
      {{"n", "", "-->"}, "ab-->c", false, Region{0, 5, 0, 2}},
      {{"n", "", ""}, "ab", false, Region{0, 2, 0, 2}},
      {{"e", "\\s[0:]", "\\s[0:]"}, "ab", false, kNone},  // empty region: not found
      {{"l", "//", "\\n"}, "a // b\nc", false, Region{2, 7, 4, 6}},
  };
  for (const auto& c : cases) {
    const CompiledBoundary boundary = compile_boundary(c.def);
    auto region = c.escaped ? find_unescaped_region(c.text, boundary, 0, c.text.size(), 0, {})
                            : find_region(c.text, boundary, 0, c.text.size(), {});
    EXPECT_EQ(region, c.region) << c.text;
  }
}

TEST(FindRegion, UnescapedOpenUsesTheGivenFloor) {
  const CompiledBoundary quote = compile_boundary({"q", "\"", "\""});
  const std::string text = R"(\"a")";
  EXPECT_EQ(find_unescaped_region(text, quote, 1, text.size(), 1, {}), (Region{1, 4, 2, 3}));
  EXPECT_EQ(find_unescaped_region(text, quote, 1, text.size(), 0, {}), kNone);
}

// Searches over inputs that could make a naive matcher quadratic must stay
// fast: openers without a closing literal, and long runs of candidates.
TEST(SearchScaling, UnmatchedOpenersStayLinear) {
  const auto start = std::chrono::steady_clock::now();
  std::string openers;
  for (int i = 0; i < 100000; ++i) openers += "<style ";
  MatchMemo memo;
  EXPECT_EQ(find(openers, compile_pattern("<style\\c[0:]>"), 0, openers.size(), {}, &memo), kNone);

  std::string far_close = openers + ">";
  MatchMemo memo2;
  const Pattern style = compile_pattern("<style\\c[0:]>");
  size_t found = 0;
  for (size_t from = 0; from < 70000; from += 7) {  // repeated searches share the memo
    auto match = find(far_close, style, from, far_close.size(), {}, &memo2);
    ASSERT_TRUE(match.has_value());
    found = match->end;
  }
  EXPECT_EQ(found, far_close.size());

  std::string quotes(1 << 20, '"');
  const Pattern quote = compile_pattern("\"");
  size_t pos = 0;
  int count = 0;
  while (auto match = find_unescaped(quotes, quote, pos, quotes.size(), 0, {})) {
    pos = match->end;
    ++count;
  }
  EXPECT_EQ(count, 1 << 20);
  // Linear work takes a few seconds even under sanitizers on a loaded
  // machine; quadratic work on these inputs would take hours. The bound only
  // separates the two.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
}

}  // namespace
}  // namespace zeviziz
