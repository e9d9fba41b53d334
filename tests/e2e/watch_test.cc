// End-to-end tests of watch mode: the real binary watches while the test
// edits, breaks and repairs templates, adds and deletes sources and edits the
// configuration; the process is killed at the end. Each test runs twice:
// with file-system notifications and an interval far longer than any wait of
// the test (so only notifications can make the changes arrive in time), and
// with notifications turned off, polling every second.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

size_t count_of(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

// Rewrites a file with a modification time that no earlier write can share.
void touch_write(const Project& project, const std::string& rel, const std::string& text) {
  static int64_t offset = 0;
  project.write(rel, text);
  project.set_mtime(rel, std::time(nullptr) + 1000 + ++offset);
}

// How a test runs watch mode.
struct Mode {
  const char* name;
  const char* interval;
  std::vector<std::string> env;
  // What standard error holds besides the messages a test provokes.
  std::string warning;
};

// Names the mode in test listings.
void PrintTo(const Mode& mode, std::ostream* out) {
  *out << mode.name;
}

const std::string kPollingWarning =
    "zeviziz: warning: file-system notifications are unavailable (ZEVIZIZ_NO_INOTIFY is set), "
    "checking for changes every interval instead\n";

class WatchTest : public ::testing::TestWithParam<Mode> {
 protected:
  Background start(const Project& project, std::vector<std::string> log_fields) const {
    std::vector<std::string> args = {"--watch", GetParam().interval};
    if (!log_fields.empty()) args.push_back("--log");
    args.insert(args.end(), log_fields.begin(), log_fields.end());
    return project.start(args, GetParam().env);
  }
};

INSTANTIATE_TEST_SUITE_P(
    Modes, WatchTest,
    ::testing::Values(Mode{"notifications", "30", {}, ""},
                      Mode{"polling", "1", {"ZEVIZIZ_NO_INOTIFY=1"}, kPollingWarning}),
    [](const auto& info) { return std::string(info.param.name); });

auto file_is(const Project& project, const std::string& rel, const std::string& text) {
  return [&project, rel, text](const std::string&, const std::string&) {
    return project.read(rel) == text;
  };
}

TEST_P(WatchTest, ChangesReachTheOutputWithinSeconds) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
  project.write("src/old.txt", "old\n");
  Background watch = start(project, {});
  ASSERT_TRUE(watch.wait_for(file_is(project, "out/velt.css", ".i1{color:red}"), 10s))
      << watch.err();

  struct Step {
    const char* name;
    std::function<void()> change;
    std::string rel;       // output file to wait for
    std::string expected;  // its content; empty: the file must be gone
  };
  const std::vector<Step> steps = {
      {"edited template",
       [&] { touch_write(project, "src/a.html", "<p class=\"!{color:red;margin:0}\"></p>\n"); },
       "out/velt.css", ".i1{color:red}.i2{margin:0}"},
      {"new file in a new subdirectory",
       [&] { project.write("src/new/deeper/b.html", "<b class=\"!{padding:0}\"></b>\n"); },
       "out/new/deeper/b.html", "<b class=\"i3\"></b>\n"},
      {"deleted file", [&] { project.remove("src/old.txt"); }, "out/old.txt", ""},
      {"configuration edit",
       [&] {
         std::string config = project.read("zeviziz.ini");
         config.replace(config.find("out_directory='out'"), 19, "out_directory='public'");
         touch_write(project, "zeviziz.ini", config);
       },
       "public/new/deeper/b.html", "<b class=\"i3\"></b>\n"},
  };
  for (const Step& step : steps) {
    step.change();
    EXPECT_TRUE(watch.wait_for(file_is(project, step.rel, step.expected), 10s)) << step.name << "\n"
                                                                                << watch.err();
  }
  EXPECT_EQ(project.read("out/velt.css"), ".i1{color:red}.i2{margin:0}.i3{padding:0}");
  EXPECT_TRUE(watch.running());
  EXPECT_EQ(watch.err(), GetParam().warning);
  watch.stop();
}

TEST_P(WatchTest, RebuildsReportsErrorsAndRecovers) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
  project.write("src/b.txt", "b\n");
  project.write("src/c.txt", "c\n");
  Background watch = start(project, {"path", "count"});

  auto out_has = [](const std::string& needle, size_t times) {
    return [needle, times](const std::string& out, const std::string&) {
      return count_of(out, needle) >= times;
    };
  };
  ASSERT_TRUE(watch.wait_for(out_has("a.html 1\n", 1), 5s)) << watch.out() << watch.err();
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1\"></p>\n");

  // A changed template is rebuilt in the next cycle.
  touch_write(project, "src/a.html", "<p class=\"!{color:red;margin:0}\"></p>\n");
  ASSERT_TRUE(watch.wait_for(out_has("a.html 2\n", 1), 4s)) << watch.out() << watch.err();
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1 i2\"></p>\n");
  EXPECT_EQ(project.read("out/velt.css"), ".i1{color:red}.i2{margin:0}");

  // A broken template is reported on standard error; the loop goes on.
  touch_write(project, "src/a.html", "<p>\0</p>"s);
  auto err_has = [](const std::string& needle) {
    return [needle](const std::string&, const std::string& err) {
      return err.find(needle) != std::string::npos;
    };
  };
  ASSERT_TRUE(
      watch.wait_for(err_has("zeviziz: a.html: Templates cannot contain NUL characters\n"), 4s))
      << watch.err();
  EXPECT_TRUE(watch.running());
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1 i2\"></p>\n");

  // Repairing it makes the next cycle succeed.
  touch_write(project, "src/a.html", "<p class=\"!{margin:0}\"></p>\n");
  ASSERT_TRUE(watch.wait_for(out_has("a.html 1\n", 2), 4s)) << watch.out() << watch.err();
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i2\"></p>\n");
  EXPECT_EQ(project.read("out/velt.css"), ".i2{margin:0}");

  // Deleting sources removes their outputs, unless an output was changed
  // since it was written.
  project.write("out/c.txt", "edited by hand\n");
  project.set_mtime("out/c.txt", std::time(nullptr) + 5000);
  project.remove("src/b.txt");
  project.remove("src/c.txt");
  ASSERT_TRUE(watch.wait_for(
      [&](const std::string&, const std::string&) { return !project.exists("out/b.txt"); }, 4s));
  EXPECT_EQ(project.read("out/c.txt"), "edited by hand\n");

  // A broken configuration is reported once; the previous one keeps working.
  touch_write(project, "zeviziz.ini", project.read("zeviziz.ini") + "\n[styles]\n");
  ASSERT_TRUE(watch.wait_for(err_has("zeviziz: Unknown section: styles\n"), 4s)) << watch.err();
  touch_write(project, "src/a.html", "<p class=\"!{padding:0}\"></p>\n");
  ASSERT_TRUE(watch.wait_for(out_has("a.html 1\n", 3), 4s)) << watch.out() << watch.err();
  EXPECT_EQ(count_of(watch.err(), "Unknown section"), 1u);

  // A repaired configuration is loaded with a new build state.
  project.configure("signal_file='out/signal.txt'\n");
  project.set_mtime("zeviziz.ini", std::time(nullptr) + 3000);
  touch_write(project, "src/a.html", "<p class=\"!{padding:1px}\"></p>\n");
  ASSERT_TRUE(watch.wait_for(
      [&](const std::string&, const std::string&) { return project.exists("out/signal.txt"); }, 4s))
      << watch.out() << watch.err();
  EXPECT_TRUE(watch.running());
  watch.stop();
}

}  // namespace
}  // namespace zeviziz::build_e2e
