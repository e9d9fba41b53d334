// End-to-end tests of builds a user can trust after interruptions, failures
// and edits: every write point of an incremental build is hit by an injected
// exit or ENOSPC (ZEVIZIZ_FAULT) and the next normal run must give exactly the
// outputs of an undisturbed run; deleted CSS files and output directories come
// back; configuration edits reach every output; an edit made during a build
// is picked up by the next run; two runs of one project take turns; and
// swapping a file for a directory (or the reverse) builds like a clean build.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

using namespace std::chrono_literals;

// Every file below the project with its content (directories marked), to
// compare the outputs of two runs byte for byte, without times.
using Tree = std::map<std::string, std::string>;

Tree contents(const Project& project, const std::string& rel) {
  Tree tree;
  for (const auto& [path, entry] : project.snapshot(rel)) tree[path] = entry.first;
  return tree;
}

// The regular files of a snapshot with their contents and times; directories
// are left out (a failed build may have created an empty one).
std::map<std::string, std::pair<std::string, int64_t>> files_of(const Project& project,
                                                                const std::string& rel) {
  auto snapshot = project.snapshot(rel);
  std::erase_if(snapshot, [](const auto& entry) { return entry.second.first == "<dir>"; });
  return snapshot;
}

// Temporary files, markers and other leftovers anywhere in the project.
std::vector<std::string> leftovers(const Project& project) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(project.root())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".velt-") || name.ends_with(".building")) {
      found.push_back(fs::relative(entry.path(), project.root()).string());
    }
  }
  return found;
}

// A run of the binary in the background with ZEVIZIZ_FAULT set, which a
// test can wait for while it is stopped, continue, and wait for to exit.
class FaultedRun {
 public:
  FaultedRun(const Project& project, const std::string& fault,
             const std::vector<std::string>& args = {}) {
    const fs::path err = project.root() / ".logs" / ("err-" + std::to_string(++count_));
    err_path_ = err;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("ZEVIZIZ_FAULT", fault.c_str(), 1);
      const int null_fd = ::open("/dev/null", O_RDWR);
      const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 1);
      ::dup2(err_fd, 2);
      if (::chdir(project.root().c_str()) != 0) ::_exit(126);
      std::string program = binary();
      std::vector<char*> argv{program.data()};
      std::vector<std::string> copies = args;
      for (std::string& arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~FaultedRun() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // True once the process has stopped itself.
  bool wait_stopped() {
    int status = 0;
    return ::waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
  }
  void resume() { ::kill(pid_, SIGCONT); }
  void signal(int number) { ::kill(pid_, number); }

  // The exit status, or -1 when the process did not exit normally.
  int wait_exit() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) == pid_) {
      if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string err() const { return read_text(err_path_); }

 private:
  static inline int count_ = 0;
  pid_t pid_ = -1;
  fs::path err_path_;
};

// Runs the binary in the foreground with ZEVIZIZ_FAULT set.
int run_with_fault(const Project& project, const std::string& fault) {
  FaultedRun run(project, fault);
  return run.wait_exit();
}

// The small project of the fault loop: a first build, then edits that give
// the second build a changed page that drops one rule and gains another, a
// grown plain file, and a new page in a new folder.
void write_first_version(const Project& project) {
  project.configure();
  const int64_t past = std::time(nullptr) - 1000;
  const std::map<std::string, std::string> files = {
      {"src/a.html", "<p class=\"!{color:red} !at(medium){margin:0}\">a</p>\n"},
      {"src/b.txt", "plain\n"},
      {"src/sub/c.html", "<i class=\"!{color:red}\">c</i>\n"},
      {"src/sub/d.css", "x{color:blue}\n"},
      {"src/sub/e.html", "<b class=\"!:hover{color:green}\">e</b>\n"},
  };
  for (const auto& [rel, text] : files) {
    project.write(rel, text);
    project.set_mtime(rel, past);
  }
}

void write_second_version(const Project& project) {
  const int64_t later = std::time(nullptr) + 1000;
  const std::map<std::string, std::string> files = {
      {"src/a.html", "<p class=\"!{color:blue}\">a2</p>\n"},
      {"src/b.txt", std::string(3000, 'b')},
      {"src/new/f.html", "<u class=\"!{padding:0} !{color:red}\">f</u>\n"},
  };
  for (const auto& [rel, text] : files) {
    project.write(rel, text);
    project.set_mtime(rel, later);
  }
}

// Copies the whole project tree of `from` into `to`, keeping times.
void copy_project(const Project& from, const Project& to) {
  const std::string command =
      "cp -a '" + from.root().string() + "/.' '" + to.root().string() + "/'";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST(TrustTest, EveryWritePointOfAnIncrementalBuildRecovers) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  // The project after its first build, with the second version's edits.
  Project base;
  write_first_version(base);
  ASSERT_EQ(base.run({}).status, 0);
  write_second_version(base);
  // An undisturbed incremental run, and a clean build of the same sources.
  Tree incremental;
  Tree clean;
  {
    Project reference;
    copy_project(base, reference);
    RunResult run = reference.run({});
    ASSERT_EQ(run.status, 0) << run.err;
    incremental = contents(reference, "out");
    fs::remove_all(reference.path("out"));
    ASSERT_EQ(reference.run({}).status, 0);
    clean = contents(reference, "out");
    ASSERT_TRUE(clean.contains("out/new/f.html"));
  }
  for (const std::string action : {"exit", "enospc"}) {
    int point = 1;
    for (; point < 100; ++point) {
      SCOPED_TRACE(action + ":" + std::to_string(point));
      Project project;
      copy_project(base, project);
      const int status = run_with_fault(project, action + ":" + std::to_string(point));
      const bool hit = status != 0;
      if (hit) {
        EXPECT_EQ(status, action == "exit" ? 99 : 1);
      }
      // A build that changed outputs before it stopped leaves its marker, and
      // the next run rebuilds everything as a clean build does; otherwise the
      // next run is the undisturbed incremental one.
      const bool marked = project.exists("out/.zeviziz.building");
      RunResult run = project.run({});
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(contents(project, "out"), marked ? clean : incremental);
      EXPECT_EQ(leftovers(project), std::vector<std::string>());
      if (!hit) break;
    }
    // The build has well over ten write points; all were hit.
    EXPECT_GT(point, 10);
    EXPECT_LT(point, 100);
  }
}

TEST(TrustTest, FailedWriteLeavesDestinationsUntouched) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  write_first_version(project);
  ASSERT_EQ(project.run({}).status, 0);
  const auto before = files_of(project, "out");
  write_second_version(project);
  // The marker, temporary files of pages, copies, CSS and cache, the flush.
  for (const char* fault : {"enospc:1", "enospc:2", "enospc:3", "enospc:6", "enospc:11"}) {
    SCOPED_TRACE(fault);
    FaultedRun run(project, fault);
    EXPECT_EQ(run.wait_exit(), 1);
    EXPECT_TRUE(run.err().ends_with("No space left on device\n")) << run.err();
    EXPECT_EQ(files_of(project, "out"), before);
    EXPECT_EQ(leftovers(project), std::vector<std::string>());
  }
}

TEST(TrustTest, InterruptRemovesTemporaryFiles) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  for (const auto& [number, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    Project project;
    write_first_version(project);
    ASSERT_EQ(project.run({}).status, 0);
    const auto before = files_of(project, "out");
    write_second_version(project);
    // Stopped after the marker and the first temporary files were made.
    FaultedRun run(project, "stop:5");
    ASSERT_TRUE(run.wait_stopped());
    run.signal(number);
    run.resume();
    EXPECT_EQ(run.wait_exit(), status);
    EXPECT_EQ(files_of(project, "out"), before);
    EXPECT_EQ(leftovers(project), std::vector<std::string>());
  }
}

TEST(TrustTest, EditDuringBuildIsPickedUpByTheNextRun) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/a.html", "<p class=\"!{color:red}\">v1</p>\n");
  project.set_mtime("src/a.html", std::time(nullptr) - 100);
  // The build stops at its first write, after it has read the page.
  FaultedRun run(project, "stop:1");
  ASSERT_TRUE(run.wait_stopped());
  project.write("src/a.html", "<p class=\"!{color:blue}\">v2</p>\n");
  run.resume();
  ASSERT_EQ(run.wait_exit(), 0) << run.err();
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1\">v1</p>\n");
  RunResult next = project.run({});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i2\">v2</p>\n");
  EXPECT_EQ(project.read("out/velt.css"), ".i2{color:blue}");
}

TEST(TrustTest, SecondRunWaitsForTheFirst) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
  FaultedRun first(project, "stop:1");
  ASSERT_TRUE(first.wait_stopped());
  FaultedRun second(project, "none:1");
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (second.err().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(second.err(), "zeviziz: waiting for another build of this project\n");
  EXPECT_FALSE(project.exists("out/a.html"));
  first.resume();
  EXPECT_EQ(first.wait_exit(), 0) << first.err();
  EXPECT_EQ(second.wait_exit(), 0) << second.err();
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1\"></p>\n");
  EXPECT_EQ(project.read("out/velt.css"), ".i1{color:red}");
  EXPECT_EQ(leftovers(project), std::vector<std::string>());
}

TEST(TrustTest, MissingCssFileComesBack) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  struct Case {
    std::string cache_line;
    std::vector<std::string> removed;
    bool reset;
  };
  const std::vector<Case> cases = {
      {"", {"out/velt.css"}, false},
      {"", {"out"}, false},
      {"", {}, true},
      {"cache_file='cache/velt.cache'\n", {"out/velt.css"}, false},
      {"cache_file='cache/velt.cache'\n", {"out"}, false},
      {"cache_file='cache/velt.cache'\n", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cache_line + (c.reset ? "reset" : c.removed[0]));
    Project project;
    project.configure(c.cache_line);
    project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
    project.write("src/b.txt", "b\n");
    ASSERT_EQ(project.run({}).status, 0);
    const Tree built = contents(project, "out");
    for (const std::string& rel : c.removed) fs::remove_all(project.path(rel));
    if (c.reset) {
      ASSERT_EQ(project.run({"--reset"}).status, 0);
    }
    RunResult run = project.run({});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(contents(project, "out"), built);
  }
}

TEST(TrustTest, WatchRebuildsDeletedOutputs) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure("cache_file='cache/velt.cache'\n");
  project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
  project.write("src/b.txt", "b\n");
  Background watch = project.start({"--watch", "1"});
  auto has_css = [&](const std::string&, const std::string&) {
    return project.read("out/velt.css") == ".i1{color:red}";
  };
  ASSERT_TRUE(watch.wait_for(has_css, 5s)) << watch.err();
  const Tree built = contents(project, "out");
  fs::remove(project.path("out/velt.css"));
  ASSERT_TRUE(watch.wait_for(has_css, 5s)) << watch.err();
  fs::remove_all(project.path("out"));
  ASSERT_TRUE(watch.wait_for(has_css, 5s)) << watch.err();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(contents(project, "out"), built);
}

// Writes a configuration whose replacement and breakpoint can be changed.
void configure_with(const Project& project, const std::string& title, const std::string& width,
                    int64_t mtime) {
  project.configure("", "\n[replacements]\nTITLE='" + title + "'\n");
  std::string text = project.read("zeviziz.ini");
  const std::string medium = "at-rule[medium]='@media(min-width:768px)'";
  text.replace(text.find(medium), medium.size(),
               "at-rule[medium]='@media(min-width:" + width + ")'");
  project.write("zeviziz.ini", text);
  project.set_mtime("zeviziz.ini", mtime);
}

TEST(TrustTest, ConfigurationEditReachesEveryOutput) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  const int64_t now = std::time(nullptr);
  for (const bool watching : {false, true}) {
    SCOPED_TRACE(watching ? "watch" : "new run");
    Project project;
    configure_with(project, "Old", "768px", now - 100);
    project.write("src/a.html", "<title>TITLE</title><p class=\"!at(medium){margin:0}\"></p>\n");
    project.set_mtime("src/a.html", now - 100);
    std::unique_ptr<Background> watch;
    if (watching) {
      watch.reset(new Background(project.start({"--watch", "1"})));
      ASSERT_TRUE(watch->wait_for(
          [&](const std::string&, const std::string&) { return project.exists("out/velt.css"); },
          5s));
    } else {
      ASSERT_EQ(project.run({}).status, 0);
    }
    EXPECT_EQ(project.read("out/a.html"), "<title>Old</title><p class=\"i1\"></p>\n");
    // Newer than the cache file just written.
    configure_with(project, "New", "800px", now + 100);
    if (watching) {
      ASSERT_TRUE(watch->wait_for(
          [&](const std::string&, const std::string&) {
            return project.read("out/velt.css").find("800px") != std::string::npos;
          },
          5s))
          << watch->err();
      std::this_thread::sleep_for(50ms);
    } else {
      RunResult run = project.run({});
      ASSERT_EQ(run.status, 0) << run.err;
    }
    // The changed breakpoint makes a new rule with a number of its own.
    EXPECT_EQ(project.read("out/a.html"), "<title>New</title><p class=\"i2\"></p>\n");
    EXPECT_EQ(project.read("out/velt.css"), "@media(min-width:800px){.i2{margin:0}}");
  }
}

TEST(TrustTest, FileAndDirectorySwapsBuildLikeACleanBuild) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  struct Case {
    std::string name;
    std::map<std::string, std::string> before;
    std::string swapped;  // removed (file or directory) before `after` is written
    std::map<std::string, std::string> after;
  };
  const std::vector<Case> cases = {
      {"file to directory",
       {{"src/a.html", "<p class=\"!{color:red}\"></p>\n"}},
       "src/a.html",
       {{"src/a.html/index.html", "<p class=\"!{margin:0}\"></p>\n"}}},
      {"directory to file",
       {{"src/d/x.txt", "x\n"}, {"src/d/y.html", "<i class=\"!{color:red}\"></i>\n"}},
       "src/d",
       {{"src/d", "now a file\n"}}},
  };
  for (const Case& c : cases) {
    for (const bool watching : {false, true}) {
      SCOPED_TRACE(c.name + (watching ? " (watch)" : ""));
      Project project;
      project.configure();
      for (const auto& [rel, text] : c.before) project.write(rel, text);
      Project clean;
      clean.configure();
      std::unique_ptr<Background> watch;
      if (watching) {
        watch.reset(new Background(project.start({"--watch", "1"})));
        ASSERT_TRUE(watch->wait_for(
            [&](const std::string&, const std::string&) { return project.exists("out/velt.css"); },
            5s));
      } else {
        ASSERT_EQ(project.run({}).status, 0);
      }
      fs::remove_all(project.path(c.swapped));
      for (const auto& [rel, text] : c.after) {
        project.write(rel, text);
        project.set_mtime(rel, std::time(nullptr) + 100);
        clean.write(rel, text);
      }
      const std::string probe = c.after.begin()->first.substr(4);
      if (watching) {
        ASSERT_TRUE(watch->wait_for(
            [&](const std::string&, const std::string&) {
              return fs::is_regular_file(project.path("out/" + probe));
            },
            5s))
            << watch->err();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(watch->err(), "");
      } else {
        RunResult run = project.run({});
        ASSERT_EQ(run.status, 0) << run.err;
      }
      ASSERT_EQ(clean.run({}).status, 0);
      Tree got = contents(project, "out");
      Tree want = contents(clean, "out");
      // Class numbers differ from a clean build's; the files and text do not.
      EXPECT_EQ(got.size(), want.size());
      for (const auto& [path, text] : want) EXPECT_TRUE(got.contains(path)) << path;
      EXPECT_EQ(project.read("out/" + probe).size(), clean.read("out/" + probe).size());
    }
  }
}

TEST(TrustTest, SourceNamedLikeTheMarkerIsRefused) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/.zeviziz.building", "x\n");
  RunResult run = project.run({});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "zeviziz: Template output conflicts with another output: out/.zeviziz.building\n");
  EXPECT_FALSE(project.exists("out/.zeviziz.building"));
}

}  // namespace
}  // namespace zeviziz::build_e2e
