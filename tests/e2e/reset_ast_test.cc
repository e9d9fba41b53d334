// End-to-end runs of --reset and --ast on temporary projects made with the
// default configuration (--init).
#include <gtest/gtest.h>

#include "e2e/e2e_util.h"

namespace zeviziz::e2e {
namespace {

class ResetAstTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary_path().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    ASSERT_EQ(run({"--init"}).status, 0);
    fs::create_directories(dir_ / "src");
  }

  RunOutput run(const std::vector<std::string>& args) { return run_zeviziz(args, dir_.path()); }

  TempDir dir_;
};

TEST_F(ResetAstTest, ResetCreatesAMissingOutputDirectory) {
  const RunOutput result = run({"--reset"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Reset complete.\n");
  EXPECT_TRUE(fs::is_directory(dir_ / "out"));
}

TEST_F(ResetAstTest, ResetRemovesFilesAndFoldersButKeepsTheDirectory) {
  write_text(dir_ / "out/a.html", "a");
  write_text(dir_ / "out/deep/er/b.css", "b");
  write_text(dir_ / "out/.hidden", "c");
  const RunOutput result = run({"--reset"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Reset complete.\n");
  ASSERT_TRUE(fs::is_directory(dir_ / "out"));
  EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

TEST_F(ResetAstTest, ResetRefusesSymbolicLinks) {
  write_text(dir_ / "elsewhere/keep.txt", "keep");
  fs::create_directories(dir_ / "out");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out/link");
  RunOutput result = run({"--reset"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zeviziz: Symbolic links are not supported: out/link\n");
  EXPECT_EQ(read_text(dir_ / "elsewhere/keep.txt"), "keep");

  // The output directory itself being a link is refused before anything.
  fs::remove_all(dir_ / "out");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out");
  result = run({"--reset"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zeviziz: Symbolic links are not supported: out\n");
  EXPECT_EQ(read_text(dir_ / "elsewhere/keep.txt"), "keep");
}

TEST_F(ResetAstTest, AstErrors) {
  write_text(dir_ / "src/page.txt", "x");
  write_text(dir_ / "src/folder.html/inner.html", "x");
  struct Case {
    std::string file, message;
  };
  const Case cases[] = {
      {"page.txt", "Template extension is not active for Velt: page.txt"},
      {"missing.html", "Template does not exist: missing.html"},
      {"folder.html", "Template does not exist: folder.html"},
      {"../x.html", "Expected a relative path inside in_directory: ../x.html"},
  };
  for (const Case& c : cases) {
    const RunOutput result = run({"--ast", c.file, "before"});
    EXPECT_EQ(result.status, 1) << c.file;
    EXPECT_EQ(result.out, "") << c.file;
    EXPECT_EQ(result.err, "zeviziz: " + c.message + "\n");
  }
}

TEST_F(ResetAstTest, AstDumpsBeforeAndAfter) {
  write_text(dir_ / "src/index.html", "<p class=\"!{COLOR:RED}\">x</p>");
  const RunOutput json = run({"--ast", "index.html", "before-json", "after-json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const size_t split = json.out.find('\n');
  ASSERT_NE(split, std::string::npos);
  const std::string before = json.out.substr(0, split);
  const std::string after = json.out.substr(split + 1);
  EXPECT_TRUE(before.starts_with(R"({"name":"Template","value":"","children":[)"));
  EXPECT_NE(before.find(R"({"name":"Char","value":"RED","children":[]})"), std::string::npos);
  EXPECT_NE(after.find(R"({"name":"Char","value":"\u0000","children":[]})"), std::string::npos);
  EXPECT_NE(after.find(R"("value":"red")"), std::string::npos);
  EXPECT_EQ(after.back(), '\n');
  EXPECT_EQ(after.find('\n'), after.size() - 1);

  const RunOutput text = run({"--ast", "index.html", "before"});
  ASSERT_EQ(text.status, 0);
  EXPECT_TRUE(text.out.starts_with("\x1b[94mNode(name:\x1b[0m\x1b[95mTemplate\x1b[0m"));
  const RunOutput twice = run({"--ast", "index.html", "before", "before"});
  EXPECT_EQ(twice.out, text.out + text.out);
  const RunOutput after_text = run({"--ast", "index.html", "after"});
  EXPECT_NE(after_text.out, text.out);
  EXPECT_FALSE(fs::exists(dir_ / "out"));  // ast writes nothing
}

TEST_F(ResetAstTest, AstShowsAFailingRegionAsText) {
  write_text(dir_ / "src/index.html", "<p class=\"!copy(x){a:b} !at(medium){c:d}\">x</p>");
  const RunOutput result = run({"--ast", "index.html", "after-json"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find(R"({"name":"Text","value":"!copy(x){a:b}","children":[]})"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(R"x({"name":"AtRule","value":"@media(min-width:768px)")x"),
            std::string::npos);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace zeviziz::e2e
