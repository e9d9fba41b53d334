#include "log/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace zeviziz {
namespace {

// Captures standard output and resets the positions for every test.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { set_stdout_capture(&out_); }
  void TearDown() override {
    close_open_line();
    set_stdout_capture(nullptr);
    set_log_positions(LogPositions{});
  }
  void use_fields(const std::vector<std::string>& fields) {
    set_log_positions(log_positions_from_fields(fields));
  }
  void run_task(const std::string& name, const std::string& detail = {}) {
    TaskGuard guard = task_start(name, detail);
  }
  std::string out_;
};

TEST_F(LogTest, PositionsAreFirstOccurrenceCappedAt254) {
  struct Case {
    std::vector<std::string> fields;
    int filesystem, task, time;
  };
  const std::vector<Case> cases = {
      {{}, 255, 255, 255},
      {{"path", "count"}, 255, 255, 255},
      {{"time", "task"}, 255, 1, 0},
      {{"task", "filesystem", "task", "time"}, 1, 0, 3},
  };
  for (const Case& c : cases) {
    const LogPositions p = log_positions_from_fields(c.fields);
    EXPECT_EQ(p.filesystem, c.filesystem);
    EXPECT_EQ(p.task, c.task);
    EXPECT_EQ(p.time, c.time);
  }
  std::vector<std::string> many(300, "path");
  many[299] = "task";
  EXPECT_EQ(log_positions_from_fields(many).task, 254);
}

TEST_F(LogTest, StampPlacesSecondsByPosition) {
  EXPECT_EQ(stamp("line", 0), "line");  // time off
  use_fields({"time", "task"});
  EXPECT_TRUE(std::regex_match(stamp("line", 1), std::regex("[0-9]+ line")));
  use_fields({"task", "time"});
  EXPECT_TRUE(std::regex_match(stamp("line", 0), std::regex("line [0-9]+")));
}

TEST_F(LogTest, FilesystemLinesUseThePathAsGiven) {
  log_filesystem("read", "src/index.html");
  EXPECT_EQ(out_, "");  // off
  use_fields({"filesystem"});
  log_filesystem("read", "src/index.html");
  log_filesystem("rename", "out/.velt-1-2.tmp", "/abs/out/a.html");
  log_filesystem("read", std::string("bad\xff.html"));
  EXPECT_EQ(out_,
            "filesystem read src/index.html\n"
            "filesystem rename out/.velt-1-2.tmp /abs/out/a.html\n"
            "filesystem read bad\xEF\xBF\xBD.html\n");
}

TEST_F(LogTest, RepeatedTasksMergeOntoOneLine) {
  use_fields({"task"});
  run_task("template.compile", "a.html");
  run_task("template.compile", "a.html");
  run_task("template.compile", "b.html");
  run_task("css.generate");
  close_open_line();
  close_open_line();  // a second close writes nothing
  EXPECT_TRUE(std::regex_match(out_, std::regex("task template.compile a.html [0-9]+us [0-9]+us\n"
                                                "task template.compile b.html [0-9]+us\n"
                                                "task css.generate [0-9]+us\n")))
      << out_;
}

TEST_F(LogTest, InnerTaskEndsFirst) {
  use_fields({"task"});
  {
    TaskGuard outer = task_start("compile.process");
    run_task("registry.prepare");
  }
  close_open_line();
  EXPECT_TRUE(std::regex_match(
      out_, std::regex("task registry.prepare [0-9]+us\ntask compile.process [0-9]+us\n")))
      << out_;
}

TEST_F(LogTest, TimestampSideFollowsFieldOrder) {
  use_fields({"time", "task"});
  run_task("config.parse");
  run_task("config.parse");
  close_open_line();
  EXPECT_TRUE(std::regex_match(out_, std::regex("[0-9]+ task config.parse [0-9]+us [0-9]+us\n")))
      << out_;
  out_.clear();
  use_fields({"task", "time"});
  run_task("config.parse");
  run_task("config.parse");
  close_open_line();
  EXPECT_TRUE(std::regex_match(out_, std::regex("task config.parse [0-9]+us [0-9]+ [0-9]+us\n")))
      << out_;
}

TEST_F(LogTest, FilesystemLineClosesOpenTaskLine) {
  use_fields({"task", "filesystem"});
  run_task("config.load", "zeviziz.ini");
  log_filesystem("read", "zeviziz.ini");
  run_task("config.load", "zeviziz.ini");
  close_open_line();
  EXPECT_TRUE(std::regex_match(out_, std::regex("task config.load zeviziz.ini [0-9]+us\n"
                                                "filesystem read zeviziz.ini\n"
                                                "task config.load zeviziz.ini [0-9]+us\n")))
      << out_;
}

TEST_F(LogTest, TaskWritesNothingUnlessLoggingWasOnAtStartAndEnd) {
  use_fields({"filesystem"});
  {
    TaskGuard guard = task_start("css.generate");
    use_fields({"task"});
  }
  {
    TaskGuard guard = task_start("css.generate");
    use_fields({"path"});
  }
  close_open_line();
  EXPECT_EQ(out_, "");
}

TEST_F(LogTest, WriteStdoutGoesToCapture) {
  write_stdout("Reset complete.\n");
  EXPECT_EQ(out_, "Reset complete.\n");
}

}  // namespace
}  // namespace zeviziz
