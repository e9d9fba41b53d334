// End-to-end tests of the compile threads: the same projects built with one
// thread and with four must give byte-identical outputs, CSS, cache files,
// report lines and log lines (durations and temporary file names aside),
// on a cold build, after a one-file change, and when a file fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

// Directives of every kind of action, beside the default `at`.
const char* const kDirectives =
    "\n[directive.w]\n"
    "at-rule[1]='@media(min-width:\\1px)'\n"
    "[directive.hov]\n"
    "selector=':hover'\n"
    "[directive.pad]\n"
    "declaration[1]='padding:\\1'\n";

// Style regions in every shape the compiler handles; `n` varies them so that
// files share some rules and not others.
std::string region(int n) {
  static const char* const shapes[] = {
      "!{color:red;margin:0}",
      "!at(medium){display:none}",
      "!:hover{color:blue}",
      "!{a{text-decoration:none}p{margin:0 0 1rem}}",
      "!at(small-only){font-size:.875rem}",
      "!w(900){gap:1rem}",
      "!hov{opacity:.5}",
      "!pad(2px){}",
      "!{&>li{list-style:none}}",
      "!@media print{display:none}",
      "!at(huge){color:red}",
  };
  const int count = sizeof(shapes) / sizeof(shapes[0]);
  std::string text = shapes[n % count];
  if (n % 3 == 0) {
    // A declaration unique to this file: new IDs interleave between files.
    text.insert(text.rfind('}'), ";z-index:" + std::to_string(n));
  }
  return text;
}

// A page that declares an id, copies it, and carries several regions.
std::string page(int n) {
  std::string text = "<div class=\"card !id(box){padding:1rem;color:#" + std::to_string(n % 7) +
                     "}\">\n<i class=\"!copy(box){color:blue}\"></i>\n";
  for (int k = 0; k < 6; ++k) {
    text += "<p class=\"x " + region(n + k) + "\">" + std::to_string(k) + "</p>\n";
  }
  text += "<style>a{b:c}</style><script>let s = \"" + region(n * 5) + "\";</script>\n";
  return text;
}

void write_project(const Project& project, int files) {
  project.configure("", kDirectives);
  for (int n = 0; n < files; ++n) {
    const std::string dir = "src/d" + std::to_string(n % 5) + "/";
    project.write(dir + "p" + std::to_string(n) + ".html", page(n));
    if (n % 4 == 0) {
      project.write(dir + "q" + std::to_string(n) + ".php",
                    "<?php echo 'a !{margin:" + std::to_string(n) + "px}'; ?>\n" + page(n + 1));
    }
    if (n % 6 == 0) project.write(dir + "s" + std::to_string(n) + ".css", "/* x */ a{b:c}\n");
    if (n % 5 == 0) project.write(dir + "img" + std::to_string(n) + ".svg", "<svg/>\n");
  }
}

// The log with the run-dependent parts replaced: durations, the names of
// temporary files and the project's own directory.
std::string stable_log(const Project& project, std::string out) {
  static const std::regex duration(R"( [0-9]+us)");
  static const std::regex temp(R"(\.velt-[0-9]+-[0-9]+\.tmp)");
  const std::string root = project.root().string();
  for (size_t at = out.find(root); at != std::string::npos; at = out.find(root, at)) {
    out.replace(at, root.size(), "ROOT");
  }
  return std::regex_replace(std::regex_replace(out, duration, " _us"), temp, ".velt-_.tmp");
}

// Everything below out/, with contents (modification times differ).
std::map<std::string, std::string> outputs(const Project& project) {
  std::map<std::string, std::string> files;
  for (const auto& [path, entry] : project.snapshot("out")) files[path] = entry.first;
  return files;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::map<std::string, std::string> files;
};

Outcome run_with_threads(const Project& project, const char* threads,
                         const std::vector<std::string>& args) {
  ::setenv("ZEVIZIZ_JOBS", threads, 1);
  RunResult run = project.run(args);
  ::unsetenv("ZEVIZIZ_JOBS");
  return Outcome{run.status, stable_log(project, run.out), run.err, outputs(project)};
}

void expect_same(const Outcome& one, const Outcome& four) {
  EXPECT_EQ(one.status, four.status);
  EXPECT_EQ(one.err, four.err);
  EXPECT_EQ(one.out, four.out);
  EXPECT_EQ(one.files, four.files);
}

const std::vector<std::string> kLogArgs = {"--log", "path", "count", "task", "filesystem"};

class ParallelBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    write_project(single, 40);
    write_project(multi, 40);
  }

  // Builds both projects, one with one thread and one with four, and
  // expects the same results.
  void build_both() {
    Outcome one = run_with_threads(single, "1", kLogArgs);
    Outcome four = run_with_threads(multi, "4", kLogArgs);
    ASSERT_EQ(one.status, 0) << one.err;
    expect_same(one, four);
  }

  Project single;
  Project multi;
};

TEST_F(ParallelBuildTest, ColdBuildAndOneFileChangeMatchSingleThread) {
  build_both();
  const std::string changed = "src/d2/p7.html";
  for (const Project* project : {&single, &multi}) {
    project->write(changed, page(100) + "<b class=\"!{color:green}\"></b>\n");
  }
  build_both();
  EXPECT_NE(single.read("out/velt.css").find("color:green"), std::string::npos);
}

TEST_F(ParallelBuildTest, FailingFileStopsAtTheSameFileAndWritesNothing) {
  for (const Project* project : {&single, &multi}) {
    project->write("src/d1/bad.html",
                   "<p class=\"!at(medium)!@media(max-width:100px){color:red}\"></p>\n");
  }
  Outcome one = run_with_threads(single, "1", kLogArgs);
  Outcome four = run_with_threads(multi, "4", kLogArgs);
  EXPECT_EQ(one.status, 1);
  // The warnings of the files compiled before it come first, in list order.
  EXPECT_TRUE(
      one.err.ends_with("\nzeviziz: d1/bad.html: Declaration has non-overlapping media ranges\n"))
      << one.err;
  expect_same(one, four);
  EXPECT_TRUE(one.files.empty());
}

TEST_F(ParallelBuildTest, ExampleSiteMatchesSingleThread) {
  const fs::path site = fs::path(ZEVIZIZ_EXAMPLES_DIR) / "site";
  for (const Project* project : {&single, &multi}) {
    fs::remove_all(project->path("src"));
    fs::copy(site, project->root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // The build time would differ between the two runs.
    for (const auto& entry : fs::recursive_directory_iterator(project->path("src"))) {
      if (!entry.is_regular_file()) continue;
      std::string text = read_text(entry.path());
      for (size_t at = text.find("VELT_TIME"); at != std::string::npos;
           at = text.find("VELT_TIME")) {
        text.replace(at, 9, "TIME");
      }
      write_text(entry.path(), text);
    }
  }
  Outcome one = run_with_threads(single, "1", kLogArgs);
  Outcome four = run_with_threads(multi, "4", kLogArgs);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_GT(one.files.size(), 3u);
  expect_same(one, four);
}

// A region that copies an id depends on its file even when its text is the
// same as elsewhere; a region without id or copy does not.
TEST(RegionReuseTest, CopiesFollowTheirOwnFile) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  for (const char* threads : {"1", "4"}) {
    SCOPED_TRACE(threads);
    fs::remove_all(project.path("out"));
    for (const std::string color : {"red", "blue", "green"}) {
      project.write("src/" + color + ".html", "<b class=\"!id(x){color:" + color +
                                                  "}\"></b><i class=\"!copy(x){margin:0}\"></i>"
                                                  "<u class=\"!{margin:0}\"></u>\n");
    }
    ASSERT_EQ(run_with_threads(project, threads, {}).status, 0);
    const std::string css = project.read("out/velt.css");
    static const std::regex copy_class("<i class=\"i([0-9]+) i([0-9]+)\">");
    std::set<std::string> shared_classes;
    for (const std::string color : {"red", "blue", "green"}) {
      const std::string page = project.read("out/" + color + ".html");
      std::smatch match;
      ASSERT_TRUE(std::regex_search(page, match, copy_class)) << page;
      const std::string own = ".i" + match[1].str() + ".i" + match[1].str();
      EXPECT_NE(css.find(own + "{color:" + color + "}"), std::string::npos) << css;
      shared_classes.insert(match[2].str());
    }
    EXPECT_EQ(shared_classes.size(), 1u) << css;
  }
}

}  // namespace
}  // namespace zeviziz::build_e2e
