// A scan limited to some entries must give exactly what a full scan gives
// for those entries: the same changed files in the same order (the order
// decides class numbering and report lines), the same removals, the same
// errors. Each case changes a scanned tree, then compares a limited scan
// with a full scan of a copy of the same known-files table.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fs/scan.h"
#include "log/log.h"
#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

bool under(const std::string& path, const ScanLimit& limit) {
  for (const std::string& root : limit) {
    if (path == root || path.starts_with(root + "/")) return true;
  }
  return false;
}

// The scan result as text, keeping only entries under `limit`.
std::string describe(const Result<ScanResult>& result, const ScanLimit& limit) {
  if (!result.ok()) return "error: " + result.error();
  std::string text;
  for (const ChangedFile& file : result->changed) {
    if (under(file.path, limit))
      text += "changed " + file.path + " " + std::to_string(file.time) + "\n";
  }
  for (const RemovedFile& file : result->removed) {
    if (!under(file.path, limit)) continue;
    text += "removed " + file.path;
    text += file.recorded_time ? " " + std::to_string(*file.recorded_time) + "\n" : " -\n";
  }
  return text;
}

// Writes `text` to in/`rel`, creating parent directories.
void put(const std::string& rel, const std::string& text) {
  const fs::path path = fs::path("in") / rel;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Rewrites in/`rel` with a time no earlier write shares.
void edit(const std::string& rel) {
  static int edits = 0;
  put(rel, "edited " + rel);
  const struct timespec times[2] = {{5000 + ++edits, 0}, {5000 + edits, 0}};
  ::utimensat(AT_FDCWD, (fs::path("in") / rel).c_str(), times, 0);
}

class ScanLimitTest : public TempCwdTest {
 protected:
  // A scanned and processed tree; "vendor" is excluded.
  void SetUp() override {
    TempCwdTest::SetUp();
    for (const char* rel : {"a.html", "b.txt", "d1/x.html", "d1/y.css", "d1/sub/z.js",
                            "d1/sub/w.txt", "d2/p.php", "d2/q.txt", "vendor/v.js", "m.js"}) {
      write(Path("in") / rel, rel);
    }
    Result<ScanResult> first = scan_sources(known_, "in", excludes_, std::nullopt, false);
    ASSERT_TRUE(first.ok()) << first.error();
    for (const ChangedFile& file : first->changed) mark_processed(known_, file.path, file.time);
  }

  KnownFiles known_;
  std::vector<Path> excludes_ = {"vendor"};
};

TEST_F(ScanLimitTest, GivesWhatTheFullScanGivesForTheLimitedEntries) {
  struct Case {
    const char* name;
    std::function<void()> change;
    ScanLimit limit;
    // A file the limited scan must not look at.
    const char* untouched;
  };
  const std::vector<Case> cases = {
      {"edits in several directories",
       [] {
         for (const char* rel : {"d2/q.txt", "a.html", "d1/sub/z.js", "m.js"}) edit(rel);
         put("d1/new.html", "n");
         put("d1/sub/new.txt", "n");
       },
       {"d2/q.txt", "a.html", "d1/sub/z.js", "d1/new.html", "m.js", "d1/sub/new.txt"},
       "in/d1/y.css"},
      {"new file in a new subdirectory", [] { put("d3/deep/n.html", "n"); }, {"d3"}, "in/a.html"},
      {"deleted file", [] { fs::remove("in/d1/y.css"); }, {"d1/y.css"}, "in/d1/x.html"},
      {"deleted directory", [] { fs::remove_all("in/d1"); }, {"d1"}, "in/a.html"},
      {"path below a deleted directory",
       [] { fs::remove_all("in/d2"); },
       {"d2/p.php"},
       "in/a.html"},
      {"file replaced by a directory",
       [] {
         fs::remove("in/b.txt");
         put("b.txt/inner.txt", "i");
       },
       {"b.txt"},
       "in/a.html"},
      {"directory replaced by a file",
       [] {
         fs::remove_all("in/d1/sub");
         put("d1/sub", "s");
       },
       {"d1/sub"},
       "in/d1/x.html"},
      {"excluded entry", [] { put("vendor/w.js", "w"); }, {"vendor/w.js", "vendor"}, "in/a.html"},
      {"nested and unchanged entries",
       [] { edit("d1/x.html"); },
       {"d1", "d1/x.html", "d1/sub", "a.html"},
       "in/d2/p.php"},
      {"link replacing a file",
       [] {
         fs::remove("in/a.html");
         fs::create_symlink("d1/x.html", "in/a.html");
       },
       {"a.html"},
       nullptr},
      {"link replacing a directory",
       [] {
         fs::remove_all("in/d2");
         fs::create_directory_symlink("d1", "in/d2");
       },
       {"d2/p.php", "d2/new.txt"},
       nullptr},
      {"path that is not UTF-8", [] { put("d2/bad\xff.txt", "x"); }, {"d2/bad\xff.txt"}, nullptr},
      {"nothing", [] { edit("a.html"); }, {}, "in/a.html"},
      {"input directory itself", [] { edit("d2/p.php"); }, {""}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.change();
    // A limit of in_directory itself covers everything.
    const ScanLimit compared =
        c.limit.contains("") ? ScanLimit{"a.html", "b.txt", "d1", "d2", "m.js"} : c.limit;
    KnownFiles full_known = known_;
    const std::string expected =
        describe(scan_sources(full_known, "in", excludes_, std::nullopt, false), compared);
    std::string log;
    set_stdout_capture(&log);
    set_log_positions(log_positions_from_fields({"filesystem"}));
    const std::string limited =
        describe(scan_sources(known_, "in", excludes_, std::nullopt, false, &c.limit), compared);
    set_log_positions(LogPositions{});
    set_stdout_capture(nullptr);
    EXPECT_EQ(limited, expected);
    if (c.untouched != nullptr) {
      EXPECT_EQ(log.find(c.untouched), std::string::npos) << log;
    }
    // Known files outside the limit keep their entries.
    if (!under("m.js", compared)) {
      EXPECT_TRUE(known_.files.contains("m.js"));
    }
  }
}

TEST_F(ScanLimitTest, ForcedScanIgnoresTheLimit) {
  const ScanLimit limit = {"a.html"};
  Result<ScanResult> result = scan_sources(known_, "in", excludes_, std::nullopt, true, &limit);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result->changed.size(), 9u);
}

}  // namespace
}  // namespace zeviziz
