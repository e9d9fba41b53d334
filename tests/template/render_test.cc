#include "template/render.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

using Lines = std::vector<std::string>;

// The Template's children as "Text:..." / "Velt:..." with their source text.
Lines children(const Node& root) {
  Lines out;
  for (const Node& child : root.children) {
    out.push_back(std::string(kind_name(child.kind)) + ":" + collect_text(child));
  }
  return out;
}

Segment seg(size_t start, size_t end, int depth, uint64_t region, bool optimize = true,
            bool indentation = false, bool new_lines = true) {
  return Segment{start, end, depth, region, optimize, indentation, new_lines};
}

Lines rendered(const std::string& text, const Plan& plan) {
  auto result = render(text, plan, {"at", "copy", "id"});
  EXPECT_TRUE(result.ok()) << result.error();
  return result.ok() ? children(*result) : Lines{"error"};
}

TEST(ApplyWhitespaceOptions, LineByLine) {
  const struct {
    std::string text;
    bool at_start;
    bool indentation;
    bool new_lines;
    int previous;
    std::string out;
  } cases[] = {
      {"  a  \n    b", true, false, true, -1, "a\nb"},
      {"  a  \n    b", true, false, false, -1, "ab"},
      {"  a  \n    b", true, true, true, -1, "  a\n    b"},
      {"  a\n  b", false, false, true, 'x', "  a\nb"},  // first line continues earlier text
      {"a\r\nb\n", true, false, true, -1, "a\r\nb\n"},
      {"a\n\n  \n\r\nb", true, false, true, -1, "a\nb"},  // no blank lines
      {"\nb", false, false, true, 'x', "\nb"},
      {"\nb", false, false, true, '\n', "b"},
      {"\r\nb", false, false, true, '\r', "b"},
      {"\nb", true, false, true, -1, "b"},
      {"   \nb", false, false, true, 'x', "\nb"},
      {"   \n\nb", false, false, false, 'x', "b"},
      {"a\xC2\xA0\n\xE3\x80\x80"
       "b",
       true, false, true, -1, "a\nb"},
      {"a  ", false, false, true, 'x', "a"},
      {"\t", true, true, true, -1, ""},
      {"a\rb \r", true, false, true, -1, "a\rb"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(apply_whitespace_options(c.text, c.at_start, c.indentation, c.new_lines, c.previous),
              c.out)
        << c.text;
  }
}

TEST(Render, NulCharactersAreRejectedFirst) {
  const std::string text("a\0b", 3);
  auto result = render(text, Plan{{seg(0, 3, 0, 0)}, {}, {}}, {});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Templates cannot contain NUL characters");
}

TEST(Render, UncoveredTextIsCopiedUnchanged) {
  EXPECT_EQ(rendered("  a \n\n b ", Plan{}), (Lines{"Text:  a \n\n b "}));
  EXPECT_EQ(rendered("", Plan{}), Lines{});
  // Only the covered middle gets the whitespace treatment.
  EXPECT_EQ(rendered(" a  b \n c ", Plan{{seg(2, 7, 0, 0)}, {}, {}}), (Lines{"Text: a  b\n c "}));
}

TEST(Render, TreatmentOfOverlappingSegments) {
  const std::string text = "x !{color:red} y";  // region at [2, 14)
  const struct {
    const char* name;
    Plan plan;
    Lines out;
  } cases[] = {
      {"string beats text of equal depth",
       Plan{{seg(0, 16, 0, 0)}, {seg(2, 14, 0, 0)}, {}},
       {"Text:x", "Velt:!{color:red}", "Text: y"}},
      {"deeper text beats string",
       Plan{{seg(0, 16, 1, 1)}, {seg(2, 14, 0, 0)}, {}},
       {"Text:x !{color:red} y"}},
      {"string beats removed of equal depth",
       Plan{{}, {seg(2, 14, 1, 0)}, {seg(0, 16, 1, 0)}},
       {"Velt:!{color:red}"}},
      {"deeper removed beats string", Plan{{}, {seg(2, 14, 0, 0)}, {seg(0, 16, 1, 0)}}, {}},
      {"removed beats text of equal depth",
       Plan{{seg(0, 16, 2, 0)}, {}, {seg(1, 15, 2, 0)}},
       {"Text:xy"}},
      {"deeper text beats removed",
       Plan{{seg(0, 16, 3, 0)}, {}, {seg(1, 15, 2, 0)}},
       {"Text:x !{color:red} y"}},
      {"removed inside a string at equal depth loses",
       Plan{{}, {seg(0, 16, 1, 0)}, {seg(4, 6, 1, 0)}},
       {"Text:x ", "Velt:!{color:red}", "Text: y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(rendered(text, c.plan), c.out) << c.name;
}

TEST(Render, HighestRegionOfTheDeepestSegmentGivesTheFlags) {
  const std::string text = "  a  b  ";
  // Region 2 (optimised) wins over region 1 (verbatim) at the same depth.
  Plan plan{{seg(0, 8, 1, 1, false, true, true), seg(0, 8, 1, 2)}, {}, {}};
  EXPECT_EQ(rendered(text, plan), (Lines{"Text:a  b"}));
  std::swap(plan.text_segments[0].region, plan.text_segments[1].region);
  EXPECT_EQ(rendered(text, plan), (Lines{"Text:  a  b  "}));
}

TEST(Render, AdjacentPiecesOfOneSegmentMerge) {
  // A shallower removed range splits the events but not the winning segment,
  // so the text is treated as one piece: the indentation of line 2 goes.
  const std::string text = "x\n   y";
  EXPECT_EQ(rendered(text, Plan{{seg(0, 6, 1, 1)}, {}, {seg(2, 3, 0, 0)}}), (Lines{"Text:x\ny"}));
}

TEST(Render, StringsAreLexedAndTheirWhiteSpaceCollapsed) {
  const std::string text = "<a title=\"  a \n   b \">";
  EXPECT_EQ(rendered(text, Plan{{seg(0, 22, 0, 0)}, {seg(10, 20, 0, 0)}, {}}),
            (Lines{"Text:<a title=\"", "Text: a b \">"}));
  Segment verbatim = seg(10, 20, 0, 0, false);
  EXPECT_EQ(rendered(text, Plan{{seg(0, 22, 0, 0)}, {verbatim}, {}}),
            (Lines{"Text:<a title=\"", "Text:  a \n   b \">"}));
  const std::string style = "'!{color:\n  red}  x'";
  EXPECT_EQ(rendered(style, Plan{{}, {seg(1, 19, 0, 0)}, {}}),
            (Lines{"Text:'", "Velt:!{color: red}", "Text: x'"}));
}

}  // namespace
}  // namespace zeviziz
