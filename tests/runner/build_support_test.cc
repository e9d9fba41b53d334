#include "runner/build_support.h"

#include <gtest/gtest.h>

namespace zeviziz {
namespace {

TEST(TimeText, DecimalSecondsAndZeroBeforeEpoch) {
  EXPECT_EQ(time_text(1700000000), "1700000000");
  EXPECT_EQ(time_text(0), "0");
  EXPECT_EQ(time_text(-5), "0");
  EXPECT_FALSE(time_text_now().empty());
}

TEST(Replacements, TableOfCases) {
  struct Case {
    std::string text;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string expected;
  };
  const Case cases[] = {
      {"VELT_TIME and VELT_TIME", {}, "42 and 42"},
      // Replacement pairs run first, so a pair that spells the placeholder
      // is substituted too.
      {"NOW", {{"NOW", "VELT_TIME"}}, "42"},
      {"aaa", {{"aa", "b"}}, "ba"},              // left to right, non-overlapping
      {"abc", {{"a", "b"}, {"b", "c"}}, "ccc"},  // in configuration order
      {"abc", {{"", "x"}}, "abc"},               // an empty needle changes nothing
      {"", {{"a", "b"}}, ""},
      {"VELT_TIMEVELT_TIME", {}, "4242"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_TRUE(apply_replacements(text, c.pairs, "42").ok());
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

TEST(Replacements, GrowthStopsAtSixteenTimesTheInputPlusOneMebibyte) {
  const std::string too_large =
      "Replacement makes the template too large (over 16 times its size plus 1 MiB): ";
  const size_t limit = replacement_limit(4);
  ASSERT_EQ(limit, 4 * 16 + (size_t{1} << 20));
  struct Case {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string time;
    std::string error;  // empty: succeeds
  };
  const Case cases[] = {
      // Two "a" grow the text to exactly the limit; two bytes more are refused.
      {{{"a", std::string(limit / 2 - 1, 'x')}}, "", ""},
      {{{"a", std::string(limit / 2, 'x')}}, "", too_large + "a"},
      // The later pair of a chain is named, before anything is built.
      {{{"a", "bbbb"}, {"b", std::string(1 << 18, 'y')}}, "", too_large + "b"},
      {{{"b", "VELT_TIME"}}, std::string(limit, '9'), too_large + "VELT_TIME"},
      // Shrinking pairs never count.
      {{{"ab", ""}, {"", std::string(limit, 'z')}}, "", ""},
  };
  for (const Case& c : cases) {
    std::string text = "abab";
    Status status = apply_replacements(text, c.pairs, c.time);
    EXPECT_EQ(status.ok() ? "" : status.error(), c.error) << c.pairs.back().first;
    if (status.ok()) {
      EXPECT_LE(text.size(), limit);
    }
  }
}

TEST(ClassList, FirstAppearanceOrderOnceEach) {
  struct Case {
    std::vector<uint64_t> ids;
    std::string expected;
  };
  std::vector<uint64_t> many;
  for (uint64_t i = 0; i < 40; ++i) many.push_back(i % 3 + 1);
  const Case cases[] = {
      {{}, ""},
      {{12}, "i12"},
      {{3, 1, 2}, "i3 i1 i2"},
      {{5, 5, 7, 5}, "i5 i7"},
      {{18446744073709551615ull}, "i18446744073709551615"},
      {many, "i1 i2 i3"},
  };
  for (const Case& c : cases) {
    std::string out = "x ";
    append_class_list(out, c.ids);
    EXPECT_EQ(out, "x " + c.expected);
  }
}

TEST(SignalText, TableOfCases) {
  const std::vector<std::string> xy = {"x", "y"};
  const std::vector<std::string> none;
  const std::vector<std::string> gone = {"old.html"};
  EXPECT_EQ(signal_text("", "99", xy, none), "99");
  EXPECT_EQ(signal_text("a VELT_PATHS b", "99", xy, none), "a x\ny b");
  EXPECT_EQ(signal_text("VELT_PATHS", "99", xy, gone), "x\ny\nold.html");
  EXPECT_EQ(signal_text("VELT_PATHS", "99", none, gone), "old.html");
  EXPECT_EQ(signal_text("t=VELT_TIME;VELT_TIME", "99", xy, none), "t=99;99");
  // The time goes in first, so a path spelling the placeholder stays as is.
  const std::vector<std::string> odd = {"VELT_TIME.html"};
  EXPECT_EQ(signal_text("VELT_PATHS", "99", odd, none), "VELT_TIME.html");
}

FileRecord record(std::string path, std::set<uint64_t> ids) {
  FileRecord r;
  r.path = std::move(path);
  r.class_ids.assign(ids.begin(), ids.end());
  return r;
}

TEST(PlanRebuild, Decisions) {
  const FileRecords previous = {{"a.html", {1, 2}}, {"b.html", {2, 3}}};
  const IdSet previous_used = {1, 2, 3};
  struct Case {
    const char* name;
    std::vector<FileRecord> processed;
    std::vector<RemovedFile> removed;
    bool fresh, force;
    IdSet used_now;
    bool records, css;
  };
  const Case cases[] = {
      {"same ids", {record("a.html", {1, 2})}, {}, false, false, {1, 2, 3}, false, false},
      {"plain file", {record("x.png", {})}, {}, false, false, {1, 2, 3}, false, false},
      {"new id", {record("a.html", {1, 2, 4})}, {}, false, false, {1, 2, 3, 4}, true, true},
      {"overlapping new ids",
       {record("a.html", {1, 5}), record("c.html", {5, 4})},
       {},
       false,
       false,
       {1, 2, 3, 4, 5},
       true,
       true},
      {"id dropped", {record("a.html", {2})}, {}, false, false, {2, 3}, true, true},
      // IDs move between files without changing the used set.
      {"same used set", {record("a.html", {3, 1})}, {}, false, false, {1, 2, 3}, true, false},
      {"new file known ids", {record("c.html", {1})}, {}, false, false, {1, 2, 3}, true, false},
      {"removed with record", {}, {{"b.html", 1}}, false, false, {1, 2}, true, true},
      {"removed without record", {}, {{"z.png", 1}}, false, false, {1, 2, 3}, false, false},
      {"record lost", {record("b.html", {})}, {}, false, false, {1, 2}, true, true},
      {"forced", {}, {}, false, true, {1, 2, 3}, true, true},
      {"fresh ignores previous", {record("a.html", {1, 2})}, {}, true, false, {1, 2}, true, true},
  };
  for (const Case& c : cases) {
    IdUsage usage(previous);
    for (const FileRecord& r : c.processed) usage.drop(previous, r.path);
    for (const RemovedFile& r : c.removed) usage.drop(previous, r.path);
    RebuildPlan plan = plan_rebuild(previous, previous_used, usage.ids(), c.processed, c.removed,
                                    c.fresh, c.force);
    EXPECT_EQ(plan.used_now, c.used_now) << c.name;
    EXPECT_EQ(plan.records, c.records) << c.name;
    EXPECT_EQ(plan.css, c.css) << c.name;
  }
}

TEST(IdUsage, CountsRecordsPerId) {
  const FileRecords records = {{"a", {3, 1}}, {"b", {1, 7}}, {"c", {7}}};
  IdUsage usage(records);
  EXPECT_EQ(usage.ids(), (IdSet{1, 3, 7}));
  usage.drop(records, "b");
  EXPECT_EQ(usage.ids(), (IdSet{1, 3, 7}));
  usage.drop(records, "a");
  EXPECT_EQ(usage.ids(), (IdSet{7}));
  usage.drop(records, "missing");
  usage.drop(records, "c");
  EXPECT_TRUE(usage.ids().empty());
  EXPECT_TRUE(IdUsage(FileRecords{}).ids().empty());
}

TEST(RecordChanges, ApplyAndUndo) {
  const FileRecords previous = {{"a.html", {1}}, {"b.html", {2}}, {"c.html", {3}}};
  const std::vector<FileRecord> processed = {record("a.html", {4}), record("c.html", {}),
                                             record("d.html", {5}), record("a.html", {6})};
  const std::vector<RemovedFile> removed = {{"b.html", std::nullopt}};
  FileRecords records = previous;
  RecordsUndo undo = apply_record_changes(records, processed, removed, false);
  EXPECT_EQ(records, (FileRecords{{"a.html", {6}}, {"d.html", {5}}}));
  undo_record_changes(records, std::move(undo));
  EXPECT_EQ(records, previous);

  undo = apply_record_changes(records, {}, {}, true);
  EXPECT_EQ(records, FileRecords{});
  undo_record_changes(records, std::move(undo));
  EXPECT_EQ(records, previous);
}

}  // namespace
}  // namespace zeviziz
