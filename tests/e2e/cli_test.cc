// End-to-end runs of the binary for the commands that need no project.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/help.h"
#include "e2e/e2e_util.h"

namespace zeviziz::e2e {
namespace {

class CliE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary_path().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    ASSERT_FALSE(dir_.path().empty());
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir dir_;
};

TEST_F(CliE2eTest, VersionAndHelp) {
  const RunOutput version = run_zeviziz({"--version"}, dir_.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "0.0.40\n");
  EXPECT_EQ(version.err, "");

  const RunOutput help = run_zeviziz({"--help", "--config", "ignored.ini"}, dir_.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, std::string(help_text()) + "\n");
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(entries().empty());
}

TEST_F(CliE2eTest, InitWritesTheDefaultConfigurationOnce) {
  const RunOutput first = run_zeviziz({"--init"}, dir_.path());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "Created zeviziz.ini.\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(read_text(dir_ / "zeviziz.ini"), default_config_text());

  write_text(dir_ / "zeviziz.ini", "mine");
  const RunOutput second = run_zeviziz({"--init"}, dir_.path());
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "zeviziz: zeviziz.ini already exists\n");
  EXPECT_EQ(read_text(dir_ / "zeviziz.ini"), "mine");
  EXPECT_EQ(entries(), std::vector<std::string>{"zeviziz.ini"});  // no temporary file left
}

TEST_F(CliE2eTest, InitRefusesADirectoryOfThatName) {
  fs::create_directory(dir_ / "zeviziz.ini");
  const RunOutput run = run_zeviziz({"--init"}, dir_.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zeviziz: zeviziz.ini already exists\n");
}

TEST_F(CliE2eTest, InitRefusesADanglingLink) {
  fs::create_symlink("nowhere.ini", dir_ / "zeviziz.ini");
  const RunOutput run = run_zeviziz({"--init"}, dir_.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zeviziz: Symbolic links are not supported: zeviziz.ini\n");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere.ini"));
}

TEST_F(CliE2eTest, ParseErrorsWriteNothing) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"index.html"}, "zeviziz: Unknown option: index.html\n"},
      {{"--init", "--config", "other.ini"}, "zeviziz: --config does not apply to --init\n"},
      {{"--init", "--watch"}, "zeviziz: --select, --watch and --log apply only to compilation\n"},
      {{"--watch", "0"}, "zeviziz: --watch must be between 1 and 3600 seconds\n"},
  };
  for (const auto& [args, expected] : cases) {
    const RunOutput run = run_zeviziz(args, dir_.path());
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_EQ(run.err, expected);
  }
  EXPECT_TRUE(entries().empty());
}

}  // namespace
}  // namespace zeviziz::e2e
