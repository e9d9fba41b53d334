// Placing warnings: line and column of byte offsets, and the order and form
// of a file's warning lines.
#include "runner/warnings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

std::vector<std::string> positions(std::string_view text, std::vector<size_t> offsets) {
  std::vector<std::string> shown;
  for (const TextPosition& p : text_positions(text, offsets)) {
    shown.push_back(std::to_string(p.line) + ":" + std::to_string(p.column));
  }
  return shown;
}

TEST(Warnings, LinesAndColumnsInCharacters) {
  struct Case {
    std::string text;
    std::vector<size_t> offsets;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"abc", {0, 2, 3}, {"1:1", "1:3", "1:4"}},
      {"a\nb", {2}, {"2:1"}},
      {"a\r\nb", {1, 3}, {"1:2", "2:1"}},
      {"a\rb", {2}, {"2:1"}},
      {"\t\tx", {2}, {"1:3"}},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!", {9}, {"1:4"}},
      {"\n\n\r\n\xC3\xA9 !", {7, 7}, {"4:3", "4:3"}},
  };
  for (const Case& c : cases) EXPECT_EQ(positions(c.text, c.offsets), c.expected) << c.text;
}

TEST(Warnings, FileLinesInTextOrder) {
  const std::string text = "!{a:b}\n!x\n!{c";
  LexTrace trace;
  trace.regions = {0, 7};
  trace.misses = {RegionMiss{11, "unclosed"}};
  const std::vector<RegionFault> faults = {RegionFault{1, 1, "second"}, RegionFault{0, 0, "first"}};
  EXPECT_EQ(file_warnings("d/a.html", text, trace, faults),
            (std::vector<std::string>{"zeviziz: warning: d/a.html:1:1: first",
                                      "zeviziz: warning: d/a.html:2:2: second",
                                      "zeviziz: warning: d/a.html:3:2: unclosed"}));
}

}  // namespace
}  // namespace zeviziz

namespace zeviziz {
namespace {

// Offsets of the replaced text go back to the file as written, through
// every pass (a pair may produce "VELT_TIME" for the last pass).
TEST(Warnings, ReplacementMapFindsPlacesInTheWrittenFile) {
  struct Case {
    std::string written;
    Replacements replacements;
    std::vector<std::pair<size_t, size_t>> offsets;  // compiled -> written
  };
  const std::vector<Case> cases = {
      {"a NOW b NOW c", {{"NOW", "12345"}}, {{0, 0}, {3, 2}, {8, 6}, {16, 12}, {17, 13}}},
      {"x NOW y", {{"NOW", "VELT_TIME"}}, {{2, 2}, {11, 2}, {13, 6}}},
      {"LONGWORD!LONGWORD!", {{"LONGWORD", "a"}, {"", "zz"}}, {{1, 8}, {2, 9}, {3, 17}}},
      {"VELT_TIMEVELT_TIME z", {}, {{5, 0}, {10, 9}, {21, 19}}},
  };
  for (const Case& c : cases) {
    std::string compiled = c.written;
    ASSERT_TRUE(apply_replacements(compiled, c.replacements, "1234567890").ok());
    const ReplacementMap map(c.written, c.replacements, "1234567890");
    for (const auto& [from, to] : c.offsets) {
      EXPECT_EQ(map.to_written(from), to) << c.written << " @" << from << " in " << compiled;
    }
  }
}

}  // namespace
}  // namespace zeviziz
