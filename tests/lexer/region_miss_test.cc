// What the lexer reports about "!" that began like a style region but stayed
// text, and where the regions it found start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lexer/lexer.h"
#include "lexer/lexer_internal.h"

namespace zeviziz {
namespace {

const std::vector<std::string> kNames = {"at", "copy", "id"};

// "offset: reason" per miss, in order.
std::vector<std::string> misses(std::string_view text) {
  LexTrace trace;
  lex(new_lexer(kNames), text, trace);
  std::vector<std::string> lines;
  for (const RegionMiss& miss : trace.misses) {
    lines.push_back(std::to_string(miss.offset) + ": " + miss.reason);
  }
  return lines;
}

struct MissCase {
  std::string text;
  std::vector<std::string> expected;
};

TEST(RegionMiss, DescribesAttemptsThatLookLikeRegions) {
  const std::vector<MissCase> cases = {
      {"!{color:red", {"1: unclosed \"{\" opened here"}},
      {"!{color red}", {"8: expected \":\" after property \"color\""}},
      {"!{a}", {"3: expected \":\" after property \"a\""}},
      {"!{color:red}}",
       {"12: unexpected \"}\" after the region: a region must be followed by "
        "white space or the end"}},
      {"!{color:red}!{margin:0}", {"12: regions must be separated by white space"}},
      {"!(color:red)", {"1: expected a directive name or \"{\" after \"!\""}},
      {"!copy(card)", {"0: \"copy\" needs a body: write !copy(card){}"}},
      {"!id(a)!copy(card) x", {"0: \"copy\" needs a body: write !id(a)!copy(card){}"}},
      {"!at(\n medium)", {"0: \"at\" needs a body: add {} after it"}},
      {"!at(medium) {display:none}", {"11: unexpected white space before \"{\""}},
      {"!:hover {color:red}", {"7: unexpected white space before \"{\""}},
      {"!at(medium)!nope{a:b}", {"12: unknown directive \"nope\""}},
      {"!at(medium{a:b}", {"3: unclosed \"(\" opened here"}},
      {"!{content:\"x}", {"1: unclosed \"{\" opened here"}},
      {"!{a:b /* x}", {"1: unclosed \"{\" opened here"}},
      {"card !copy(card) !:hover{a:b}", {"5: \"copy\" needs a body: write !copy(card){}"}},
      {"!@media print x{a:b}", {"14: unexpected \"x\""}},
      {"!{color:red !{margin:0}", {"1: unclosed \"{\" opened here"}},
      {"!{a:b !{c:d", {"1: unclosed \"{\" opened here", "7: unclosed \"{\" opened here"}},
      {"!{p{color:red;}", {"1: unclosed \"{\" opened here"}},
      {"!{é:red}", {"2: unexpected \"é\""}},
  };
  for (const MissCase& c : cases) EXPECT_EQ(misses(c.text), c.expected) << c.text;
}

TEST(RegionMiss, PunctuationGivesNone) {
  const std::vector<std::string> texts = {
      "Hello!",
      "Bonjour ! Comment ça va ?",
      "color: red !important;",
      "a !== b && !x",
      "<!DOCTYPE html>",
      "!important",
      "Look !at this",
      "!identity !copyright",
      "!#hashtag !!! !... !+1 !:) ![image](logo.png) !@mention",
      "!copy the text",
      "if (!(a)) x",
      "remove !(--db-attach=yes && --trace=yes) and !(a ? b : c) and !(x:y)z",
  };
  for (const std::string& text : texts) EXPECT_EQ(misses(text), std::vector<std::string>{}) << text;
}

TEST(RegionMiss, TraceKeepsTheTreeAndGivesRegionOffsets) {
  const std::string text = "a !{color:red} !{x !at(medium){b:c} é !{d:e}";
  const Lexer lexer = new_lexer(kNames);
  LexTrace trace;
  const Node traced = lex(lexer, text, trace);
  EXPECT_EQ(collect_text(traced), text);
  EXPECT_EQ(traced.children.size(), lex(lexer, text).children.size());
  EXPECT_EQ(trace.regions, (std::vector<size_t>{2, 19, 39}));
  ASSERT_EQ(trace.misses.size(), 1u);
  EXPECT_EQ(trace.misses[0].offset, 16u);
}

// Many unclosed attempts, each stopped by what earlier ones learnt, keep
// their own reasons.
TEST(RegionMiss, RepeatedAttemptsReportEach) {
  std::string text;
  for (int i = 0; i < 3; ++i) text += "!{a:b !{c d} ";
  std::vector<std::string> lines = misses(text);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "1: unclosed \"{\" opened here");
  EXPECT_EQ(lines[1], "10: expected \":\" after property \"c\"");
}

}  // namespace
}  // namespace zeviziz
