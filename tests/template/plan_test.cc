#include "template/plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "template/default_config.h"

namespace zeviziz {
namespace {

using testing::boundary_entry;
using testing::default_entry;
using testing::template_def;
using Lines = std::vector<std::string>;

// Segments as "depth/region:text", sorted by start.
Lines describe(std::vector<Segment> segments, std::string_view text) {
  std::sort(segments.begin(), segments.end(),
            [](const Segment& a, const Segment& b) { return a.start < b.start; });
  Lines out;
  for (const Segment& s : segments) {
    out.push_back(std::to_string(s.depth) + "/" + std::to_string(s.region) + ":" +
                  std::string(text.substr(s.start, s.end - s.start)));
  }
  return out;
}

struct Described {
  Lines text;
  Lines strings;
  Lines removed;
};

class PlanTest : public ::testing::Test {
 protected:
  void use(ProjectConfig config) {
    config_ = std::move(config);
    boundaries_ = compile_boundaries(config_.boundaries);
    templates_ = map_templates(config_.templates);
  }

  Result<Plan> plan(const std::string& text, const std::string& kind) {
    return plan_file(text, *templates_.at(kind), boundaries_, templates_);
  }

  Described describe_plan(const std::string& text, const std::string& kind) {
    auto result = plan(text, kind);
    EXPECT_TRUE(result.ok()) << result.error();
    if (!result.ok()) return {};
    return Described{describe(result->text_segments, text), describe(result->string_segments, text),
                     describe(result->removed_ranges, text)};
  }

  ProjectConfig config_ = testing::default_config();
  BoundaryMap boundaries_ = compile_boundaries(config_.boundaries);
  TemplateMap templates_ = map_templates(config_.templates);
};

TEST_F(PlanTest, EmptyRangesConsumeNothing) {
  PlanContext context{"", boundaries_, templates_, 0, {}};
  ASSERT_TRUE(plan_range(context, *templates_.at("html"), Range{0, 0}, 0, {}).ok());
  PlanContext later{"abc", boundaries_, templates_, 0, {}};
  ASSERT_TRUE(plan_range(later, *templates_.at("html"), Range{2, 1}, 0, {}).ok());
  EXPECT_EQ(context.next_region + later.next_region, 0u);
  EXPECT_TRUE(context.plan.text_segments.empty());
  auto empty = plan("", "php");
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->text_segments.empty() && empty->string_segments.empty() &&
              empty->removed_ranges.empty());
}

TEST_F(PlanTest, HtmlWithCommentStyleScriptAndStrings) {
  const std::string text =
      "<p>a</p><!-- c --><style media=\"x\">p{}</style><script>x=\"1\"</script>\"q\"";
  const Described d = describe_plan(text, "html");
  EXPECT_EQ(d.text, (Lines{"0/0:<p>a</p><!-- c --><style media=\"x\">", "1/1:p{}",
                           "0/0:</style><script>", "1/2:x=\"1\"", "0/0:</script>\"q\""}));
  // The quote inside the style tag is inside a claimed region, so the next
  // string found is the one in the script.
  EXPECT_EQ(d.strings, (Lines{"1/2:1", "0/0:q"}));
  EXPECT_EQ(d.removed, (Lines{"0/0:<!-- c -->"}));
}

TEST_F(PlanTest, UnclosedOpenStaysTemplateText) {
  const Described d = describe_plan("a <!-- b \"c", "html");
  EXPECT_EQ(d.text, (Lines{"0/0:a <!-- b \"c"}));
  EXPECT_TRUE(d.strings.empty());
  EXPECT_TRUE(d.removed.empty());
}

TEST_F(PlanTest, StringStartingBeforeACommentHidesIt) {
  const Described hidden = describe_plan("x = 'a /* b */ c';", "js");
  EXPECT_EQ(hidden.strings, (Lines{"0/0:a /* b */ c"}));
  EXPECT_TRUE(hidden.removed.empty());
  const Described comment = describe_plan("x /* 'b' */ + 'c'", "js");
  EXPECT_EQ(comment.strings, (Lines{"0/0:c"}));
  EXPECT_EQ(comment.removed, (Lines{"0/0:/* 'b' */"}));
}

TEST_F(PlanTest, NamedEntryWinsOnEqualStart) {
  ProjectConfig config;
  config.boundaries = {{"quote", "'", "'"}, {"tick", "'", "'"}};
  config.templates = {template_def("t", {}, {boundary_entry("tick", {""})}, {"quote"})};
  use(config);
  const Described d = describe_plan("a 'b' c", "t");
  EXPECT_EQ(d.removed, (Lines{"0/0:'b'"}));
  EXPECT_TRUE(d.strings.empty());
}

TEST_F(PlanTest, EscapedQuotesStayInsideStrings) {
  const Described d = describe_plan(R"(a = "x\"y" + 'p\\' + "q")", "js");
  EXPECT_EQ(d.strings, (Lines{R"(0/0:x\"y)", R"(0/0:p\\)", "0/0:q"}));
}

TEST_F(PlanTest, CommentKeptVerbatimWhenUndefinedTemplatesStay) {
  config_.templates[1].remove_undefined_templates = false;  // js
  use(config_);
  auto result = plan("a /* b */ c", "js");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(describe(result->text_segments, "a /* b */ c"),
            (Lines{"0/0:a /*", "1/1: b ", "0/0:*/ c"}));
  EXPECT_TRUE(result->removed_ranges.empty());
  const Segment& inner = result->text_segments.front();
  EXPECT_EQ(inner.depth, 1);
  EXPECT_FALSE(inner.optimize_whitespaces);
  EXPECT_TRUE(inner.keep_indentation);
  EXPECT_TRUE(inner.keep_new_lines);
}

TEST_F(PlanTest, LineCommentRemovalKeepsTheLineBreak) {
  const Described php = describe_plan("<?php a; # x\nb; // y\r\nc; /* z */ ?>", "php");
  EXPECT_EQ(php.removed, (Lines{"1/1:# x", "1/1:// y\r", "1/1:/* z */"}));
  const Described js = describe_plan("a // c\nb", "js");
  EXPECT_EQ(js.removed, (Lines{"0/0:// c"}));
  EXPECT_EQ(js.text, (Lines{"0/0:a // c\nb"}));
}

TEST_F(PlanTest, PhpTagsAreClaimedBeforeHtml) {
  const std::string text = "<a href=\"<?php echo \"x\"; ?>\">t</a><?= $y ?>\n<!-- c -->";
  auto result = plan(text, "php");
  ASSERT_TRUE(result.ok());
  // php (region 0) claims the tags; their contents are php_code (regions 1
  // and 2); the rest is html (region 3) with the tags protected.
  EXPECT_EQ(describe(result->text_segments, text),
            (Lines{"1/3:<a href=\"", "1/1:echo \"x\"; ", "1/3:\">t</a>", "1/2: $y ",
                   "1/3:\n<!-- c -->"}));
  EXPECT_EQ(describe(result->string_segments, text), (Lines{"1/1:x"}));
  EXPECT_EQ(describe(result->removed_ranges, text), (Lines{"1/3:<!-- c -->"}));
}

TEST_F(PlanTest, OpenOnlyPhpTagRunsToTheEnd) {
  const std::string text = "a<?php echo 1;\n'x'";
  const Described d = describe_plan(text, "php");
  EXPECT_EQ(d.text, (Lines{"1/2:a", "1/1:echo 1;\n'x'"}));
  EXPECT_EQ(d.strings, (Lines{"1/1:x"}));
}

TEST_F(PlanTest, DefaultEntriesOwnTheUnclaimedText) {
  ProjectConfig config;
  config.boundaries = {{"tag", "<", ">"}};
  config.templates = {template_def("t", {}, {boundary_entry("tag", {""}), default_entry("")}, {})};
  config.templates[0].remove_undefined_templates = false;
  use(config);
  const Described d = describe_plan("a<b>c", "t");
  // Tag content at depth 1 (region 1), the rest as a default '' (region 2);
  // the delimiters belong to no segment.
  EXPECT_EQ(d.text, (Lines{"1/2:a", "1/1:b", "1/2:c"}));
}

TEST_F(PlanTest, NestingStopsAtDepthFive) {
  ProjectConfig config;
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i);
    config.boundaries.push_back({"b" + n, "[" + n, "]" + n});
    const std::string next = i < 4 ? "t" + std::to_string(i + 1) : "missing";
    config.templates.push_back(template_def("t" + n, {}, {boundary_entry("b" + n, {next})}, {}));
  }
  use(config);
  auto result = plan("[0[1[2[3[4x]4]3]2]1]0", "t0");
  ASSERT_TRUE(result.ok()) << result.error();
  const Lines text = describe(result->text_segments, "[0[1[2[3[4x]4]3]2]1]0");
  EXPECT_EQ(text, (Lines{"0/0:[0", "1/1:[1", "2/2:[2", "3/3:[3", "4/4:[4", "5/5:x", "4/4:]4",
                         "3/3:]3", "2/2:]2", "1/1:]1", "0/0:]0"}));
  const auto deepest = std::find_if(result->text_segments.begin(), result->text_segments.end(),
                                    [](const Segment& s) { return s.depth == 5; });
  ASSERT_NE(deepest, result->text_segments.end());
  EXPECT_FALSE(deepest->optimize_whitespaces);
  EXPECT_TRUE(deepest->keep_indentation && deepest->keep_new_lines);
}

TEST_F(PlanTest, UnknownNamesFail) {
  ProjectConfig config;
  config.boundaries = {{"tag", "<", ">"}};
  config.templates = {template_def("a", {}, {boundary_entry("nope", {""})}, {}),
                      template_def("b", {}, {}, {"gone"}),
                      template_def("c", {}, {boundary_entry("tag", {"sass"})}, {}),
                      template_def("d", {}, {default_entry("less")}, {})};
  use(config);
  EXPECT_EQ(plan("x", "a").error(), "Unknown boundary: nope");
  EXPECT_EQ(plan("x", "b").error(), "Unknown boundary: gone");
  EXPECT_EQ(plan("x<y>", "c").error(), "Unknown template: sass");
  EXPECT_TRUE(plan("x", "c").ok());  // the entry's region never occurs
  EXPECT_EQ(plan("x", "d").error(), "Unknown template: less");
}

TEST_F(PlanTest, ManyRegionsStayLinear) {
  std::string text;
  for (int i = 0; i < 50000; ++i) text += "<p class=\"a\">x<!-- c --></p><?php 'q' ?>\n";
  auto result = plan(text, "php");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result->string_segments.size(), 100000u);
  EXPECT_EQ(result->removed_ranges.size(), 50000u);
}

}  // namespace
}  // namespace zeviziz
