#include "lexer/exact_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

// Feeds `text` character by character with lookahead; returns the matched
// word, or "FAIL" / "OPEN" (text ended while the matcher continued).
std::string run(const std::vector<std::string>& words, std::u32string_view text) {
  ExactMatcher matcher(&words);
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t lookahead = i + 1 < text.size() ? text[i + 1] : 0xFFFFFFFF;
    const MatchResult result = matcher.feed(text[i], lookahead);
    if (result == MatchResult::Fail) return "FAIL";
    if (result == MatchResult::Complete) {
      return words[matcher.matched()] + "@" + std::to_string(i);
    }
  }
  return "OPEN";
}

TEST(ExactMatcher, MatchesWithoutBacktracking) {
  const std::vector<std::string> sizes = {"small", "small-only"};
  const std::vector<std::string> keywords = {"media", "supports",       "container",
                                             "layer", "starting-style", "scope"};
  struct Case {
    const std::vector<std::string>* words;
    std::u32string_view text;
    std::string expected;
  } cases[] = {
      {&sizes, U"small", "small@4"},
      {&sizes, U"small{", "small@4"},
      {&sizes, U"small-only(", "small-only@9"},
      {&sizes, U"small-x", "FAIL"},  // "small" was complete before the "-"
      {&sizes, U"smal", "FAIL"},     // the end is no letter of "small"
      {&sizes, U"smalx", "FAIL"},
      {&sizes, U"x", "FAIL"},
      {&keywords, U"scope(", "scope@4"},
      {&keywords, U"starting-style{", "starting-style@13"},
      {&keywords, U"supports (", "supports@7"},
      {&keywords, U"mediax", "media@4"},  // the caller rejects what follows
      {&keywords, U"Media", "FAIL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(*c.words, c.text), c.expected) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(ExactMatcher, FirstCompleteCandidateInListOrderWins) {
  const std::vector<std::string> words = {"ab", "ab", "a"};
  ExactMatcher matcher(&words);
  EXPECT_EQ(matcher.feed(U'a', U'b'), MatchResult::Continue);
  EXPECT_EQ(matcher.feed(U'b', U'{'), MatchResult::Complete);
  EXPECT_EQ(matcher.matched(), 0u);
  // The matcher is reset after completing and can match again.
  EXPECT_EQ(matcher.feed(U'a', U'('), MatchResult::Complete);
  EXPECT_EQ(matcher.matched(), 2u);
}

TEST(ExactMatcher, ResetsAfterFailure) {
  const std::vector<std::string> words = {"at", "id"};
  ExactMatcher matcher(&words);
  EXPECT_EQ(matcher.feed(U'a', U'x'), MatchResult::Fail);
  EXPECT_EQ(matcher.feed(U'i', U'd'), MatchResult::Continue);
  EXPECT_EQ(matcher.feed(U'd', 0xFFFFFFFF), MatchResult::Complete);
  EXPECT_EQ(matcher.matched(), 1u);
}

TEST(ExactMatcher, EmptyListAlwaysFails) {
  const std::vector<std::string> words;
  ExactMatcher matcher(&words);
  EXPECT_EQ(matcher.feed(U'a', U'b'), MatchResult::Fail);
}

}  // namespace
}  // namespace zeviziz
