#include "fs/file_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

// Every test runs in a fresh temporary working directory.
class FileOpsTest : public TempCwdTest {
 protected:
  std::vector<std::string> names_in(const Path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(FileOpsTest, DisplayPathIsRelativeBelowTheWorkingDirectory) {
  const std::vector<std::pair<Path, std::string>> cases = {
      {root_ / "a" / "b.html", "a/b.html"},
      {root_, root_.string()},  // empty remainder: the whole path
      {"/elsewhere/x", "/elsewhere/x"},
      {"rel/x", "rel/x"},
      {root_.string() + "x/y", root_.string() + "x/y"},  // sibling sharing a name prefix
      {Path(std::string("bad\xff")), "bad\xEF\xBF\xBD"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(display_path(path), expected) << path;
}

TEST_F(FileOpsTest, PathFromTextSplitsOnBothSeparators) {
  EXPECT_EQ(path_from_text("a\\b/c"), Path("a/b/c"));
  EXPECT_EQ(path_from_text("pages\\about.html"), path_from_text("pages/about.html"));
}

TEST(RelativePathRule, ClassifiesPathTexts) {
  using F = RelativePathFault;
  const std::vector<std::pair<std::string, F>> cases = {
      {"a/b.html", F::kNone}, {"a\\b", F::kNone},        {"a/./b", F::kNone},
      {"a/.b/c", F::kNone},   {"..a/b", F::kNone},       {"a/b..", F::kNone},
      {"a//b/", F::kNone},    {"", F::kNotPlain},        {".", F::kNotPlain},
      {"./a", F::kNotPlain},  {".\\a", F::kNotPlain},    {"/a", F::kEscapes},
      {"\\a", F::kEscapes},   {"C:a", F::kEscapes},      {"..", F::kEscapes},
      {"a/..", F::kEscapes},  {"a\\..\\b", F::kEscapes}, {"./..", F::kEscapes},
  };
  for (const auto& [text, fault] : cases) {
    EXPECT_EQ(relative_path_fault(text), fault) << text;
    EXPECT_EQ(is_plain_relative(text), fault == F::kNone) << text;
  }
}

TEST_F(FileOpsTest, PathTextsJoinLikePaths) {
  // The walk and the pruning join texts where they used to join Paths; the
  // texts, and so the log lines and messages, must not change.
  const std::pair<std::string, std::string> cases[] = {
      {"src", "a.html"}, {"src/", "a.html"}, {"/abs/out", "d/b.css"}, {".", "x"},
      {"", "x"},         {"a/./b", "c"},     {"out//", "c"},          {"/", "etc"}};
  for (const auto& [directory, name] : cases) {
    EXPECT_EQ(join_path_text(directory, name), (Path(directory) / Path(name)).native())
        << directory << " + " << name;
  }
}

TEST_F(FileOpsTest, SymlinkTest) {
  fs::create_directories("real/sub");
  write("file", "x");
  fs::create_directory_symlink("real", "link");
  EXPECT_TRUE(check_no_symlinks("real/sub").ok());
  EXPECT_TRUE(check_no_symlinks("real/missing/deeper").ok());
  EXPECT_TRUE(check_no_symlinks("file/below").ok());  // the rest does not exist
  EXPECT_TRUE(check_no_symlinks(root_ / "real").ok());
  for (const Path& path : {Path("link"), Path("link/sub/x"), root_ / "link" / "sub"}) {
    const Status status = check_no_symlinks(path);
    ASSERT_FALSE(status.ok()) << path;
    EXPECT_EQ(status.error(), "Symbolic links are not supported: link");
  }
}

// Inside a scope verified directories are remembered, but a link is still
// refused wherever it stands, and a new scope sees a directory that became a
// link in between.
TEST_F(FileOpsTest, PathCheckScopeRemembersOnlyVerifiedDirectories) {
  fs::create_directories("a/b");
  write("a/b/file", "x");
  fs::create_directory("target");
  {
    PathCheckScope scope;
    EXPECT_TRUE(check_no_symlinks("a/b/file").ok());
    EXPECT_TRUE(file_mtime("a/b/file").value().has_value());
    EXPECT_EQ(file_mtime("a/b").value(), std::nullopt);
    fs::create_directory_symlink(root_ / "target", "a/b/link");
    EXPECT_EQ(file_mtime("a/b/link/x").error(), "Symbolic links are not supported: a/b/link");
    EXPECT_EQ(resolve_path("a/b/file").value(), root_ / "a/b/file");
  }
  fs::remove_all("a/b");
  fs::create_directory_symlink(root_ / "target", "a/b");
  PathCheckScope scope;
  EXPECT_EQ(check_no_symlinks("a/b/file").error(), "Symbolic links are not supported: a/b");
}

TEST_F(FileOpsTest, ExistenceQueries) {
  fs::create_directory("dir");
  write("file", "x");
  fs::create_symlink("file", "file_link");
  fs::create_symlink("nowhere", "dangling");
  struct Case {
    const char* path;
    bool exists, file, dir;
  };
  for (const Case& c : std::vector<Case>{{"dir", true, false, true},
                                         {"file", true, true, false},
                                         {"file_link", true, false, false},
                                         {"dangling", false, false, false},
                                         {"missing", false, false, false}}) {
    EXPECT_EQ(file_exists(c.path), c.exists) << c.path;
    EXPECT_EQ(is_file(c.path), c.file) << c.path;
    EXPECT_EQ(is_dir(c.path), c.dir) << c.path;
  }
}

TEST_F(FileOpsTest, Mtime) {
  fs::create_directory("dir");
  write("file", "x");
  set_mtime("file", 1700000000, 123456789);
  EXPECT_EQ(file_mtime("missing").value(), std::nullopt);
  EXPECT_EQ(file_mtime("dir").value(), std::nullopt);
  EXPECT_EQ(file_mtime("file").value(), FileTime{1700000000123456789});
  write("file", "y");
  set_mtime("file", 1700000001, 0);
  EXPECT_EQ(file_mtime("file").value(), FileTime{1700000001000000000});
  fs::create_symlink("file", "link");
  EXPECT_EQ(file_mtime("link").error(), "Symbolic links are not supported: link");
}

TEST_F(FileOpsTest, ReadFile) {
  fs::create_directory("dir");
  write("ok.html", "caf\xC3\xA9");
  write("bad.html", "a\xC3(b");
  EXPECT_EQ(read_file("ok.html").value(), "caf\xC3\xA9");
  EXPECT_EQ(read_file("bad.html").error(), "bad.html: stream did not contain valid UTF-8");
  EXPECT_EQ(read_file("missing.html").error(), "missing.html: No such file or directory");
  EXPECT_EQ(read_file("dir").error(), "dir: Is a directory");
  EXPECT_EQ(read_file(root_ / "missing").error(), "missing: No such file or directory");
}

TEST_F(FileOpsTest, ReadDirAndFileType) {
  fs::create_directory("d");
  fs::create_directory("d/sub");
  write("d/f", "");
  fs::create_symlink("f", "d/l");
  auto entries = read_dir("d");
  ASSERT_TRUE(entries.ok());
  std::map<std::string, EntryType> types;
  for (const DirEntry& entry : *entries) types[entry.path.string()] = file_type(entry);
  EXPECT_EQ(types, (std::map<std::string, EntryType>{{"d/f", EntryType::File},
                                                     {"d/l", EntryType::Symlink},
                                                     {"d/sub", EntryType::Directory}}));
  EXPECT_EQ(read_dir("nope").error(), "nope: No such file or directory");

  auto named = read_dir_names("d/");
  ASSERT_TRUE(named.ok());
  std::map<std::string, EntryType> by_name;
  for (const NamedEntry& entry : *named) by_name[entry.name] = entry.type;
  EXPECT_EQ(by_name,
            (std::map<std::string, EntryType>{
                {"f", EntryType::File}, {"l", EntryType::Symlink}, {"sub", EntryType::Directory}}));
  EXPECT_EQ(read_dir_names("nope").error(), "nope: No such file or directory");
  EXPECT_EQ(*file_mtime_at("d/gone"), std::optional<FileTime>());
  EXPECT_EQ(file_mtime_at("d/l").error(), "Symbolic links are not supported: d/l");
  EXPECT_EQ(*file_mtime_at("d/f"), *file_mtime(Path("d/f")));
}

TEST_F(FileOpsTest, RemoveAndCreate) {
  write("f", "x");
  ::chmod("f", 0444);
  EXPECT_TRUE(remove_file("f").ok());
  EXPECT_FALSE(fs::exists("f"));
  EXPECT_EQ(remove_file("f").error(), "f: No such file or directory");

  EXPECT_TRUE(create_dir_all("a/b/c").ok());
  EXPECT_TRUE(create_dir_all("a/b/c/").ok());  // existing is fine
  EXPECT_TRUE(fs::is_directory("a/b/c"));
  write("a/file", "");
  EXPECT_EQ(create_dir_all("a/file/x").error(), "a/file/x: File exists");

  write("a/b/c/deep", "");
  EXPECT_TRUE(remove_dir_all("a").ok());
  EXPECT_FALSE(fs::exists("a"));
}

TEST_F(FileOpsTest, CopyKeepsContentAndModificationTime) {
  write("src", "new content");
  set_mtime("src", 1600000000, 42);
  write("dst", "old content that is longer");
  ASSERT_TRUE(copy_file("src", "dst").ok());
  EXPECT_EQ(slurp("dst"), "new content");
  EXPECT_EQ(file_mtime("dst").value(), FileTime{1600000000000000042});
  EXPECT_EQ(copy_file("missing", "dst").error(), "missing -> dst: No such file or directory");
  EXPECT_FALSE(copy_file("src", "src").ok());
  EXPECT_EQ(slurp("src"), "new content");  // copying onto itself never truncates
}

TEST_F(FileOpsTest, AtomicWriteCreatesParentAndLogsItsSteps) {
  std::string out;
  set_stdout_capture(&out);
  set_log_positions(log_positions_from_fields({"filesystem"}));
  ASSERT_TRUE(write_atomic("out/deep/a.html", "hello").ok());
  EXPECT_EQ(slurp("out/deep/a.html"), "hello");
  EXPECT_EQ(names_in("out/deep"), std::vector<std::string>{"a.html"});
  const std::string temp = "out/deep/\\.velt-" + std::to_string(::getpid()) + "-[0-9]+\\.tmp";
  EXPECT_TRUE(std::regex_match(out, std::regex("filesystem create-dir-all out/deep\n"
                                               "filesystem open-write " +
                                               temp +
                                               "\n"
                                               "filesystem write " +
                                               temp +
                                               "\n"
                                               "filesystem sync " +
                                               temp +
                                               "\n"
                                               "filesystem rename " +
                                               temp + " out/deep/a.html\n")))
      << out;
  ASSERT_TRUE(write_atomic("out/deep/a.html", "").ok());  // replaces, empty is fine
  EXPECT_EQ(slurp("out/deep/a.html"), "");
  ASSERT_TRUE(write_atomic("plain.txt", "x").ok());  // no parent: "."
  EXPECT_EQ(slurp("plain.txt"), "x");
}

TEST_F(FileOpsTest, AtomicWriteRefusesLinksAndWritesNothing) {
  fs::create_directory("real");
  fs::create_directory_symlink("real", "link");
  EXPECT_EQ(write_atomic("link/sub/a.css", "x").error(), "Symbolic links are not supported: link");
  EXPECT_TRUE(fs::is_empty("real"));
}

TEST_F(FileOpsTest, FailedRenameLeavesDestinationAndNoTemporaryFile) {
  fs::create_directories("out/page.html/inner");
  const Status status = write_atomic("out/page.html", "x");
  EXPECT_EQ(status.error(), "out/page.html: Is a directory");
  EXPECT_EQ(names_in("out"), std::vector<std::string>{"page.html"});
  EXPECT_EQ(names_in("out/page.html"), std::vector<std::string>{"inner"});
}

TEST_F(FileOpsTest, ResolveInsideRefusesNonPlainPaths) {
  fs::create_directory("base");
  for (const char* relative :
       {"./a", "../a", "/a", "\\a", "C:a", "c:\\a", "", "a/../b", "a\\..\\b", ".", "./"}) {
    EXPECT_EQ(resolve_inside("base", relative).error(),
              std::string("Expected a relative path inside in_directory: ") + relative);
  }
}

TEST_F(FileOpsTest, ResolveInsideAcceptsPlainPaths) {
  fs::create_directories("base/a");
  const std::vector<std::pair<const char*, Path>> cases = {
      {"a/./b", "base/a/./b"},
      {"a\\b", "base/a/b"},
      {"new/dir/x.html", "base/new/dir/x.html"},
      {"a/", "base/a/"},
  };
  for (const auto& [relative, expected] : cases) {
    EXPECT_EQ(resolve_inside("base", relative).value(), expected) << relative;
  }
}

TEST_F(FileOpsTest, ResolveInsideRefusesALinkLeadingOutside) {
  fs::create_directories("base");
  fs::create_directories("outside");
  fs::create_directory_symlink(root_ / "outside", "base/jump");
  EXPECT_EQ(resolve_inside("base", "jump/x.html").error(),
            "Symbolic links are not supported: base/jump");
}

TEST_F(FileOpsTest, PathComparisons) {
  fs::create_directory("b");
  EXPECT_TRUE(same_path("a/../b", "b").value());
  EXPECT_TRUE(same_path(root_ / "b" / "new", "b/new").value());
  EXPECT_FALSE(same_path("b", "c").value());

  struct Case {
    Path inner, outer;
    bool within, equal;
  };
  for (const Case& c : std::vector<Case>{{"src", "src", true, true},
                                         {"src/a", "src", true, false},
                                         {"src", "src/a", false, false},
                                         {"srcx", "src", false, false},
                                         {"./src/", "src", true, true},
                                         {"out/../src/x", "src", true, false},
                                         {root_ / "src", "src", true, true}}) {
    EXPECT_EQ(path_within(c.inner, c.outer), c.within) << c.inner << " " << c.outer;
    EXPECT_EQ(path_equal(c.inner, c.outer), c.equal) << c.inner << " " << c.outer;
  }
}

}  // namespace
}  // namespace zeviziz
