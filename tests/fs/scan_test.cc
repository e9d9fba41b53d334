#include "fs/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

TEST(SelectionTest, NormalisesPaths) {
  struct Case {
    std::vector<std::string> input;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"pages\\about.html", "pages/about.html"}, {"pages/about.html"}},
      {{"b.html", "a.html", "b.html"}, {"a.html", "b.html"}},
      {{"a/./b.html", "a//c.html", "d/"}, {"a/b.html", "a/c.html", "d"}},
      {{"caf\xc3\xa9.html"}, {"caf\xc3\xa9.html"}},
  };
  for (const Case& c : cases) {
    Result<Selection> selection = normalize_selection(c.input);
    ASSERT_TRUE(selection.ok()) << selection.error();
    EXPECT_EQ(std::vector<std::string>(selection->begin(), selection->end()), c.expected);
  }
}

TEST(SelectionTest, RejectsPathsOutsideTheInputDirectory) {
  const std::string expected = "Expected a relative path inside in_directory: ";
  for (std::string text : {"", "/a.html", "\\a.html", "./a.html", ".\\a.html", "../a.html",
                           "a/../b.html", "a\\..", "C:a.html", "z:\\a", "."}) {
    Result<Selection> selection = normalize_selection({"ok.html", text});
    ASSERT_FALSE(selection.ok()) << text;
    EXPECT_EQ(selection.error(), expected + text);
  }
  Result<Selection> selection = normalize_selection({"a\xff.html"});
  ASSERT_FALSE(selection.ok());
  EXPECT_EQ(selection.error(), "Template path must be UTF-8");
}

TEST(SelectionTest, ExclusionsCompareWholeComponents) {
  const std::vector<Path> excludes = {"vendor", "pages/draft.html", "./tmp/"};
  struct Case {
    const char* path;
    bool excluded;
  };
  const std::vector<Case> cases = {
      {"vendor", true},
      {"vendor/x.js", true},
      {"vendors/x.js", false},
      {"pages/draft.html", true},
      {"pages/draft.html.bak", false},
      {"pages/index.html", false},
      {"tmp/a", true},
      {"a/vendor/x.js", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_excluded(c.path, excludes), c.excluded) << c.path;
  EXPECT_FALSE(is_excluded("vendor/x.js", {}));
}

// Every test runs in a fresh temporary directory that is also the working
// directory; the project's input is "in", its output "out".
class ScanTest : public TempCwdTest {
 protected:
  void SetUp() override {
    TempCwdTest::SetUp();
    fs::create_directories("in");
  }
  Result<ScanResult> scan(const std::optional<Selection>& selection = std::nullopt,
                          bool forced = false) {
    return scan_sources(known_, "in", excludes_, selection, forced);
  }
  // The changed paths of a successful scan, sorted.
  std::vector<std::string> changed_paths(const std::optional<Selection>& selection = std::nullopt,
                                         bool forced = false) {
    Result<ScanResult> result = scan(selection, forced);
    EXPECT_TRUE(result.ok()) << result.error();
    if (!result.ok()) return {};
    last_ = result.value();
    std::vector<std::string> paths;
    for (const ChangedFile& file : last_.changed) paths.push_back(file.path);
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  // Records every file of the last scan as processed.
  void process_all() {
    for (const ChangedFile& file : last_.changed) mark_processed(known_, file.path, file.time);
  }
  std::vector<std::string> removed_paths() const {
    std::vector<std::string> paths;
    for (const RemovedFile& file : last_.removed) paths.push_back(file.path);
    return paths;
  }

  KnownFiles known_;
  std::vector<Path> excludes_;
  ScanResult last_;
};

using Paths = std::vector<std::string>;

TEST_F(ScanTest, FullScanWalksDepthFirstAndSkipsLinks) {
  write("in/a.html", "a");
  write("in/dir/b.css", "b");
  write("in/dir/sub/c.txt", "c");
  write("elsewhere/d.txt", "d");
  fs::create_directory_symlink(root_ / "elsewhere", "in/linked_dir");
  fs::create_symlink(root_ / "in/a.html", "in/linked_file.html");
  std::string log;
  set_stdout_capture(&log);
  set_log_positions(log_positions_from_fields({"filesystem"}));
  EXPECT_EQ(changed_paths(), (Paths{"a.html", "dir/b.css", "dir/sub/c.txt"}));
  set_stdout_capture(nullptr);
  EXPECT_TRUE(last_.removed.empty());
  // Links are type-tested and nothing more.
  EXPECT_NE(log.find("filesystem file-type in/linked_file.html\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("mtime in/linked_file.html"), std::string::npos) << log;
  EXPECT_EQ(log.find("read-dir in/linked_dir"), std::string::npos) << log;

  // The entries of a directory come right after each other.
  std::vector<std::string> order;
  for (const ChangedFile& file : last_.changed) order.push_back(file.path);
  auto b = std::find(order.begin(), order.end(), "dir/b.css");
  auto c = std::find(order.begin(), order.end(), "dir/sub/c.txt");
  EXPECT_EQ(std::abs(b - c), 1);
}

TEST_F(ScanTest, ExcludedEntriesAreNeverTouched) {
  write("in/keep.html", "k");
  write("in/vendor/lib/x.js", "x");
  write("in/pages/draft.html", "d");
  write("in/pages/index.html", "i");
  excludes_ = {"vendor", "pages\\draft.html"};
  std::string log;
  set_stdout_capture(&log);
  set_log_positions(log_positions_from_fields({"filesystem", "task"}));
  EXPECT_EQ(changed_paths(), (Paths{"keep.html", "pages/index.html"}));
  set_stdout_capture(nullptr);
  EXPECT_NE(log.find("\ntask template.scan in "), std::string::npos) << log;
  EXPECT_EQ(log.find("vendor"), std::string::npos) << log;
  EXPECT_EQ(log.find("draft"), std::string::npos) << log;
  EXPECT_NE(log.find("filesystem read-dir in\n"), std::string::npos) << log;
  EXPECT_NE(log.find("filesystem file-type in/pages/index.html\n"), std::string::npos) << log;
  EXPECT_NE(log.find("filesystem mtime in/pages/index.html\n"), std::string::npos) << log;
}

TEST_F(ScanTest, ChangeDetectionAcrossCycles) {
  write("in/a.html", "a");
  write("in/b/c.css", "c");
  write("in/z.txt", "z");
  EXPECT_EQ(changed_paths(), (Paths{"a.html", "b/c.css", "z.txt"}));
  process_all();
  EXPECT_EQ(changed_paths(), Paths{});  // nothing changed
  EXPECT_TRUE(last_.removed.empty());

  set_mtime("in/a.html", 1000);  // touched: same content, new time
  write("in/new.js", "n");
  fs::remove("in/b/c.css");
  fs::remove("in/z.txt");
  EXPECT_EQ(changed_paths(), (Paths{"a.html", "new.js"}));
  EXPECT_EQ(removed_paths(), (Paths{"b/c.css", "z.txt"}));  // sorted
  EXPECT_TRUE(last_.removed[0].recorded_time.has_value());
  EXPECT_FALSE(known_.files.contains("z.txt"));

  // Only a.html is processed; new.js failed and is offered again.
  mark_processed(known_, "a.html",
                 last_.changed[0].path == "a.html" ? last_.changed[0].time : last_.changed[1].time);
  EXPECT_EQ(changed_paths(), (Paths{"new.js"}));
  EXPECT_TRUE(last_.removed.empty());
}

TEST_F(ScanTest, ForcedScanListsEveryFile) {
  write("in/a.html", "a");
  write("in/b.txt", "b");
  changed_paths();
  process_all();
  EXPECT_EQ(changed_paths(std::nullopt, true), (Paths{"a.html", "b.txt"}));
  // A forced scan is a full walk even with a selection.
  EXPECT_EQ(changed_paths(Selection{"a.html"}, true), (Paths{"a.html", "b.txt"}));
}

TEST_F(ScanTest, SelectionScanLooksOnlyAtTheSelection) {
  write("in/a.html", "a");
  write("in/pages/about.html", "p");
  write("in/other.html", "o");
  changed_paths();
  process_all();
  fs::remove("in/other.html");
  set_mtime("in/pages/about.html", 2000);
  EXPECT_EQ(changed_paths(Selection{"a.html", "pages/about.html"}), (Paths{"pages/about.html"}));
  EXPECT_TRUE(last_.removed.empty());
  EXPECT_TRUE(known_.files.contains("other.html"));
  // The next full scan finds what the selection scan did not look at.
  changed_paths();
  EXPECT_EQ(removed_paths(), (Paths{"other.html"}));
}

TEST_F(ScanTest, ScanFailures) {
  write("in/a.html", "a");
  fs::create_directories("in/dir");
  write("in/vendor/x.js", "x");
  excludes_ = {"vendor"};
  struct Case {
    Selection selection;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"missing.html"}, "Selected template does not exist: missing.html"},
      {{"dir"}, "Selected template does not exist: dir"},
      {{"vendor/x.js"}, "Selected template is excluded: vendor/x.js"},
      {{"a.html", "vendor"}, "Selected template is excluded: vendor"},
  };
  for (const Case& c : cases) {
    Result<ScanResult> result = scan(c.selection);
    ASSERT_FALSE(result.ok()) << c.message;
    EXPECT_EQ(result.error(), c.message);
  }
}

TEST_F(ScanTest, LinkedInputDirectoryIsRefused) {
  write("real/a.html", "a");
  fs::create_directory_symlink(root_ / "real", "linked");
  Result<ScanResult> result = scan_sources(known_, "linked", {}, std::nullopt, false);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Symbolic links are not supported: linked");
  result = scan_sources(known_, "linked/sub", {}, std::nullopt, false);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Symbolic links are not supported: linked");
}

TEST_F(ScanTest, WalkedPathsMustBeUtf8) {
  write("in/bad\xff/ok.txt", "x");
  EXPECT_EQ(scan().error(), "Template paths must be UTF-8");
  fs::remove_all("in/bad\xff");
  fs::create_directories("in/bad\xff");  // a directory alone is fine
  EXPECT_EQ(changed_paths(), Paths{});
}

TEST_F(ScanTest, MirrorCopiesKeepingTheTime) {
  write("in/deep/er/a.txt", "content");
  set_mtime("in/deep/er/a.txt", 1234);
  Result<Path> destination = mirror_file("in", "out", "deep/er/a.txt");
  ASSERT_TRUE(destination.ok()) << destination.error();
  EXPECT_EQ(destination.value(), Path("out/deep/er/a.txt"));
  std::ifstream in("out/deep/er/a.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "content");
  EXPECT_EQ(file_mtime("out/deep/er/a.txt").value(), file_mtime("in/deep/er/a.txt").value());
}

TEST_F(ScanTest, MirrorRefusesLinks) {
  write("in/a.txt", "a");
  write("elsewhere/x", "");
  fs::create_directories("out");
  fs::create_directory_symlink(root_ / "elsewhere", "out/sub");
  Result<Path> destination = mirror_file("in", "out", "sub/a.txt");
  ASSERT_FALSE(destination.ok());
  EXPECT_EQ(destination.error(), "Symbolic links are not supported: out/sub");
  EXPECT_FALSE(fs::exists("elsewhere/a.txt"));
}

TEST_F(ScanTest, VanishedOutputIsRemovedOnlyWhileUnchanged) {
  write("out/a.txt", "a");
  set_mtime("out/a.txt", 500);
  const FileTime recorded = file_mtime("out/a.txt").value().value();
  EXPECT_FALSE(remove_vanished_output("out", "a.txt", std::nullopt).value());
  EXPECT_FALSE(remove_vanished_output("out", "a.txt", recorded + 1).value());  // edited since
  EXPECT_TRUE(fs::exists("out/a.txt"));
  EXPECT_FALSE(remove_vanished_output("out", "gone.txt", recorded).value());
  EXPECT_TRUE(remove_vanished_output("out", "a.txt", recorded).value());
  EXPECT_FALSE(fs::exists("out/a.txt"));
}

}  // namespace
}  // namespace zeviziz
