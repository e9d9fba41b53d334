// The watcher against real notifications: each step changes the project
// and checks what the next wait reports. The steps run in order on one
// watcher, so later steps also check that directories added or set up anew
// by earlier steps are watched.
#include "fs/watcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class WatcherTest : public TempCwdTest {};

std::string describe(const WatchResult& result) {
  std::string text = result.woke ? "woke" : "timeout";
  if (!result.complete) text += " incomplete";
  for (const std::string& path : result.paths) text += " [" + path + "]";
  return text;
}

TEST_F(WatcherTest, ReportsWhatChanged) {
  write("in/a.html", "a");
  write("in/d/b.txt", "b");
  write("in/vendor/v.js", "v");
  write("zeviziz.ini", "[velt]\n");
  Result<std::unique_ptr<Watcher>> started = Watcher::start("in", {"vendor"}, "zeviziz.ini");
  ASSERT_TRUE(started.ok()) << started.error();
  Watcher& watcher = **started;
  struct Step {
    const char* name;
    std::function<void()> change;
    const char* expected;
  };
  const std::vector<Step> steps = {
      {"nothing", [] {}, "timeout"},
      {"edited file", [] { write("in/a.html", "a2"); }, "woke [a.html]"},
      {"touched file", [] { set_mtime("in/d/b.txt", 1000); }, "woke [d/b.txt]"},
      {"new file in new subdirectories",
       [] {
         fs::create_directories("in/n/deep");
         write("in/n/deep/c.html", "c");
       },
       "woke [n]"},
      {"file in a directory created before its watch", [] { write("in/n/deep/e.txt", "e"); },
       "woke [n/deep/e.txt]"},
      {"renamed file", [] { fs::rename("in/d/b.txt", "in/n/b.txt"); }, "woke [d/b.txt] [n/b.txt]"},
      {"deleted file", [] { fs::remove("in/a.html"); }, "woke [a.html]"},
      {"excluded entries", [] { write("in/vendor/w.js", "w"); }, "timeout"},
      {"configuration replaced by a rename",
       [] {
         write("new.ini", "[velt]\n\n");
         fs::rename("new.ini", "zeviziz.ini");
       },
       "woke"},
      {"other files beside the configuration", [] { write("cache.bin", "x"); }, "timeout"},
      {"deleted directory", [] { fs::remove_all("in/n"); }, "woke incomplete"},
      {"file after the watches were set up anew", [] { write("in/d/f.txt", "f"); },
       "woke [d/f.txt]"},
      {"moved directory", [] { fs::rename("in/d", "in/e"); }, "woke incomplete"},
      {"file in the moved directory", [] { write("in/e/g.txt", "g"); }, "woke [e/g.txt]"},
  };
  for (const Step& step : steps) {
    step.change();
    // A long settle time keeps each step's changes together on a busy machine.
    const bool quiet = step.expected == std::string("timeout");
    Result<WatchResult> result = watcher.wait(quiet ? 200ms : 5s, 300ms, 2s);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(describe(*result), step.expected) << step.name;
  }
}

TEST_F(WatcherTest, MissingInputDirectoryIsWatchedOnceItExists) {
  write("zeviziz.ini", "[velt]\n");
  Result<std::unique_ptr<Watcher>> started = Watcher::start("in", {}, "zeviziz.ini");
  ASSERT_TRUE(started.ok()) << started.error();
  Result<WatchResult> result = (*started)->wait(100ms);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(describe(*result), "timeout incomplete");
  // The next wait finds it and sets up its watches.
  write("in/a.html", "a");
  result = (*started)->wait(100ms);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(describe(*result), "timeout incomplete");
  write("in/a.html", "a2");
  result = (*started)->wait(5s);
  EXPECT_EQ(describe(*result), "woke [a.html]");
}

}  // namespace
}  // namespace zeviziz
