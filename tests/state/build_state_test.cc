#include "state/build_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

// Test texts write the NUL byte as "|".
std::string nul(std::string text) {
  for (char& ch : text) {
    if (ch == '|') ch = '\0';
  }
  return text;
}

Rule rule(std::vector<std::string> at_rules, std::string selector, std::string declaration) {
  Result<Rule> made = make_rule(std::move(at_rules), std::move(selector), std::move(declaration));
  EXPECT_TRUE(made.ok()) << made.error();
  return made.value();
}

// Every test runs in a fresh temporary working directory holding the
// project directories "in" and "out"; the cache file is "out/.zeviziz".
class BuildStateTest : public TempCwdTest {
 protected:
  void SetUp() override {
    TempCwdTest::SetUp();
    fs::create_directories("in");
    fs::create_directories("out");
    config_.config_path = "zeviziz.ini";
    config_.in_directory = "in";
    config_.out_directory = "out";
    config_.css_file = "velt.css";
    config_.cache_file = "out/.zeviziz";
  }
  static FileTime mtime_of(const Path& path) { return file_mtime(path).value().value(); }

  ProjectConfig config_;
};

TEST_F(BuildStateTest, NoCacheFileGivesAnEmptyState) {
  for (int variant = 0; variant < 3; ++variant) {
    fs::remove_all("out/.zeviziz");
    if (variant == 1) fs::create_directories("out/.zeviziz");
    if (variant == 2) {
      write("real_cache", "damaged");
      fs::create_symlink(root_ / "real_cache", "out/.zeviziz");
    }
    Result<BuildState> state = open_build_state(config_, FileTime{42});
    ASSERT_TRUE(state.ok()) << variant << ": " << state.error();
    EXPECT_FALSE(state->restored);
    EXPECT_TRUE(state->newly_opened);
    EXPECT_EQ(state->registry.rule_count, 0u);
    EXPECT_EQ(state->registry.counter, 0u);
    EXPECT_EQ(state->config_stamp, FileTime{42});
    // Opened for this configuration: the next build is not a fresh one.
    EXPECT_EQ(state->recorded_in_directory, Path("in"));
    EXPECT_EQ(state->recorded_out_directory, Path("out"));
    EXPECT_FALSE(needs_fresh_build(state.value()));
  }
}

TEST_F(BuildStateTest, RestoresRegistryRecordsAndReuseTable) {
  Registry registry;
  insert_restored(registry, 3, rule({"@media print"}, std::string("\0>a", 3), "color:red"));
  insert_restored(registry, 8, rule({}, "", "margin:0"));
  insert_restored(registry, 12, rule({}, "", "padding:0"));
  FileRecords records = {{"a.html", {3, 8}}, {"sub/b.php", {8}}};
  Result<std::string> bytes = encode_cache(registry, records);
  ASSERT_TRUE(bytes.ok()) << bytes.error();
  write("out/.zeviziz", bytes.value());

  Result<BuildState> state = open_build_state(config_, std::nullopt);
  ASSERT_TRUE(state.ok()) << state.error();
  EXPECT_TRUE(state->restored);
  EXPECT_EQ(state->records, records);
  EXPECT_EQ(state->registry.counter, 8u);  // rule 12 is used by no file
  EXPECT_EQ(state->registry.rule_count, 2u);
  EXPECT_EQ(find_id(state->registry, rule({"@media print"}, std::string("\0>a", 3), "color:red")),
            3u);
  EXPECT_EQ(find_id(state->registry, rule({}, "", "margin:0")), 8u);
  EXPECT_FALSE(has_rule(state->registry, 12));
  // The history of a file offers each of its IDs to the rule that had it.
  IdHistory history = reuse_history(state->reuse, "a.html");
  ASSERT_EQ(history.ids.size(), 2u);
  Registry next;
  EXPECT_EQ(*lookup_or_assign(next, rule({}, "", "margin:0"), history), 8u);
  EXPECT_EQ(*lookup_or_assign(next, rule({}, "", "padding:0"), history), 9u);
  EXPECT_EQ(
      *lookup_or_assign(next, rule({"@media print"}, std::string("\0>a", 3), "color:red"), history),
      3u);
  EXPECT_TRUE(reuse_history(state->reuse, "c.html").ids.empty());
  EXPECT_EQ(reuse_history(state->reuse, "sub/b.php").ids.size(), 1u);
}

TEST_F(BuildStateTest, OpeningIsTimedInThreeTasks) {
  write("out/.zeviziz", std::string("\0\n\0\n\0\n\0\n", 8));
  std::string log;
  set_stdout_capture(&log);
  set_log_positions(log_positions_from_fields({"task"}));
  ASSERT_TRUE(open_build_state(config_, std::nullopt).ok());
  close_open_line();
  set_stdout_capture(nullptr);
  EXPECT_TRUE(
      std::regex_match(log, std::regex("task cache.decode \\d+us\ntask cache.restore \\d+us\n"
                                       "task memory.load \\d+us\n")))
      << log;
}

TEST_F(BuildStateTest, DamagedCacheStopsAndIsLeftAlone) {
  struct Case {
    Path cache_file;
    std::string bytes;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"out/.zeviziz", "", "Invalid cache out/.zeviziz: Missing cache section"},
      {root_ / "out/.zeviziz", "x\n", "Invalid cache out/.zeviziz: Invalid cache file record"},
      {"out/.zeviziz", std::string("\0\n\0\n\0\n\0\n\0\n", 10),
       "Invalid cache out/.zeviziz: Too many cache sections"},
      {"out/.zeviziz",
       nul("|\n1|a:b\n|\n|\n1|@media(min-width:500px)\n2|@media(max-width:100px)\n|\n"
           "5|1|0|2|1\n"),
       "Invalid cache out/.zeviziz: Declaration has non-overlapping media ranges"},
      {"out/.zeviziz", "\xff\n", "out/.zeviziz: stream did not contain valid UTF-8"},
  };
  for (const Case& c : cases) {
    write("out/.zeviziz", c.bytes);
    config_.cache_file = c.cache_file;
    Result<BuildState> state = open_build_state(config_, std::nullopt);
    ASSERT_FALSE(state.ok()) << c.message;
    EXPECT_EQ(state.error(), c.message);
    EXPECT_EQ(slurp("out/.zeviziz"), c.bytes);
  }
}

TEST_F(BuildStateTest, FirstCyclePruning) {
  // Sources at time 100; outputs newer (200) unless said otherwise.
  for (const char* name : {"new.html", "older.html", "tpl.html", "plain.txt", "rec.txt"}) {
    write(Path("in") / name, name);
    set_mtime(Path("in") / name, 100);
    if (std::string(name) == "new.html") continue;
    write(Path("out") / name, name);
    set_mtime(Path("out") / name, std::string(name) == "older.html" ? 50 : 200);
  }
  auto compiled = [](std::string_view path) { return path.ends_with(".html"); };
  for (bool force_css : {false, true}) {
    BuildState state = open_build_state(config_, std::nullopt).value();
    state.records["rec.txt"] = {4};
    std::vector<ChangedFile> changed;
    for (const char* name : {"new.html", "older.html", "tpl.html", "plain.txt", "rec.txt"}) {
      changed.push_back(ChangedFile{name, mtime_of(Path("in") / name)});
    }
    ASSERT_TRUE(prune_first_cycle(state, changed, force_css, compiled).ok());
    std::vector<std::string> kept;
    for (const ChangedFile& file : changed) kept.push_back(file.path);
    if (force_css) {
      EXPECT_EQ(kept, (std::vector<std::string>{"new.html", "older.html", "tpl.html", "rec.txt"}));
    } else {
      EXPECT_EQ(kept, (std::vector<std::string>{"new.html", "older.html", "rec.txt"}));
      EXPECT_EQ(state.output_times.at("tpl.html"), mtime_of("out/tpl.html"));
      EXPECT_EQ(state.known.files.at("tpl.html").time, mtime_of("in/tpl.html"));
    }
    // A dropped plain file counts as processed; a kept one does not.
    EXPECT_EQ(state.output_times.at("plain.txt"), mtime_of("out/plain.txt"));
    EXPECT_EQ(state.known.files.at("plain.txt").time, mtime_of("in/plain.txt"));
    EXPECT_FALSE(state.output_times.contains("rec.txt"));
    EXPECT_FALSE(state.known.files.contains("rec.txt"));
  }
}

}  // namespace
}  // namespace zeviziz
