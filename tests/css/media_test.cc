#include "css/media.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

TEST(ParseRange, RecognisesOnlyPureWidthRanges) {
  struct Case {
    std::string text;
    bool is_range;
    uint32_t min, max;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"@media(min-width:768px)", true, 768, 0},
      {"@media (min-width: 768px)", true, 768, 0},
      {"@media\u00a0( min-width : 768px )\u3000", true, 768, 0},
      {"@media(min-width:768px) and (max-width:1023px)", true, 768, 1023},
      {"@media(min-width:768px) and (min-width:1024px)", true, 1024, 0},
      {"@media(max-width:900px) and (max-width:600px)", true, 0, 600},
      {"@media(min-width:+10px)", true, 10, 0},
      {"@media(min-width:0px)", true, 0, 0},
      {"@media(min-width:4294967295px)", true, 4294967295u, 0},
      {"@media(max-width:0px)", false, 0, 0},
      {"@media(MIN-WIDTH:10px)", false, 0, 0},
      {"@media(min-width:10PX)", false, 0, 0},
      {"@media(min-width:-5px)", false, 0, 0},
      {"@media(min-width:4294967296px)", false, 0, 0},
      {"@media(min-width:+px)", false, 0, 0},
      {"@media(min-width:++5px)", false, 0, 0},
      {"@media(min-width 5px)", false, 0, 0},
      {"@media screen and (min-width:768px)", false, 0, 0},
      {"@media(min-width:768px) and ", false, 0, 0},
      {"@media", false, 0, 0},
      {"@supports(min-width:1px)", false, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::optional<MediaRange> range = parse_range(c.text);
    ASSERT_EQ(range.has_value(), c.is_range) << c.text;
    if (!range) continue;
    EXPECT_EQ(range->min, c.min) << c.text;
    EXPECT_EQ(range->max, c.max) << c.text;
  }
}

TEST(NormalizeAtRules, MergesNeighboursIntoCanonicalText) {
  struct Case {
    std::vector<std::string> input, output;
    uint32_t bound_min, bound_max;
  };
  const std::string a768 = "@media(min-width:768px)";
  // clang-format off
  const std::vector<Case> cases = {
      {{}, {}, 0, 0},
      {{a768, "@media(max-width:1023px)"}, {"@media(min-width:768px) and (max-width:1023px)"}, 768, 1023},
      {{"@media (min-width: 768px)"}, {a768}, 768, 0},
      {{a768, "@media(max-width:768px)"}, {"@media(min-width:768px) and (max-width:768px)"}, 768, 768},
      {{"@media screen and (min-width:768px)"}, {"@media screen and (min-width:768px)"}, 0, 0},
      {{"@media(max-width:0px)"}, {"@media(max-width:0px)"}, 0, 0},
      {{"@media(min-width:0px)"}, {}, 0, 0},
      {{"@supports(x)", "@media(min-width:0px)"}, {"@supports(x)"}, 0, 0},
      {{"@media(min-width:768px) and (min-width:1024px)"}, {"@media(min-width:1024px)"}, 1024, 0},
      {{"@media(min-width:+10px)"}, {"@media(min-width:10px)"}, 10, 0},
      {{"@media(min-width:10px)", "@supports(x)", "@media(max-width:20px)"},
       {"@media(min-width:10px)", "@supports(x)", "@media(max-width:20px)"}, 10, 20},
      {{"@media(max-width:900px)", "@media(max-width:600px)", "@media(min-width:100px)"},
       {"@media(min-width:100px) and (max-width:600px)"}, 100, 600},
  };
  // clang-format on
  for (const Case& c : cases) {
    Result<NormalizedAtRules> result = normalize_at_rules(c.input);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->at_rules, c.output);
    EXPECT_EQ(result->bound_min, c.bound_min);
    EXPECT_EQ(result->bound_max, c.bound_max);
  }
}

TEST(NormalizeAtRules, RejectsNonOverlappingRanges) {
  const std::vector<std::vector<std::string>> cases = {
      {"@media(min-width:1024px)", "@media(max-width:767px)"},
      {"@media(min-width:1024px) and (max-width:767px)"},
      {"@media(max-width:767px)", "@supports(x)", "@media(min-width:1024px)"},
  };
  for (const auto& input : cases) {
    Result<NormalizedAtRules> result = normalize_at_rules(input);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "Declaration has non-overlapping media ranges");
  }
}

}  // namespace
}  // namespace zeviziz
