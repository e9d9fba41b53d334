// End-to-end tests of the build command: the real binary on temporary
// projects, checking rendered outputs, the exact CSS and cache bytes, the
// signal file, report lines, --select, and that failed or unchanged builds
// write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <sstream>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

using namespace std::string_literals;

class BuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    project.configure();
  }

  // The lines of `text`, sorted (the scan order of files is the platform's).
  static std::multiset<std::string> lines(const std::string& text) {
    std::multiset<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.insert(line);
    return result;
  }

  Project project;
};

const char* const kPage =
    "<div class=\"card !{color:red;margin:0}\">\n"
    "<p class=\"!{color:red} !at(medium){display:none}\">x</p>\n";

TEST_F(BuildTest, RendersClassListsCssCacheAndReport) {
  project.write("src/index.html", kPage);
  project.write("src/img/logo.svg", "<svg/>\n");
  RunResult run = project.run({"--log", "path", "count"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(lines(run.out), (std::multiset<std::string>{"index.html 3", "img/logo.svg 0"}));
  EXPECT_EQ(project.read("out/index.html"),
            "<div class=\"card i1 i2\">\n<p class=\"i1 i3\">x</p>\n");
  EXPECT_EQ(project.read("out/img/logo.svg"), "<svg/>\n");
  EXPECT_EQ(project.read("out/velt.css"),
            ".i1{color:red}.i2{margin:0}@media(min-width:768px){.i3{display:none}}");
  const std::string cache =
      "index.html\0"s
      "1\0"s
      "2\0"s
      "3\n"s
      "\0\n"s
      "1\0color:red\n"s
      "2\0margin:0\n"s
      "3\0display:none\n"s
      "\0\n"s
      "1\0\0\n"s
      "\0\n"s
      "1\0@media(min-width:768px)\n"s
      "\0\n"s
      "1\0"s
      "1\0"s
      "1\n"s
      "2\0"s
      "2\0"s
      "1\n"s
      "3\0"s
      "3\0"s
      "1\0"s
      "1\n"s;
  EXPECT_EQ(project.read("out/.zeviziz"), cache);
  EXPECT_FALSE(project.exists("out/signal.txt"));
}

TEST_F(BuildTest, IdsCopiesAndFailedRegions) {
  project.write("src/a.html",
                "<b class=\"!id(card){padding:1rem;color:red}\"></b>\n"
                "<i class=\"!copy(card){color:blue}\"></i>\n"
                "<u class=\"!copy(nope){color:red}\"></u>\n"
                "<s class=\"!at(huge){color:red}\"></s>\n");
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.substr(0, run.err.find('(')),
            "zeviziz: warning: a.html:3:11: no id \"nope\" to copy in this file\n"
            "zeviziz: warning: a.html:4:11: unknown case \"huge\" of directive \"at\" ");
  // Failing regions stay as their source text, with only a warning; the
  // copying region gets classes of its own for the copied declarations.
  EXPECT_EQ(project.read("out/a.html"),
            "<b class=\"i1 i2\"></b>\n"
            "<i class=\"i3 i4\"></i>\n"
            "<u class=\"!copy(nope){color:red}\"></u>\n"
            "<s class=\"!at(huge){color:red}\"></s>\n");
  const std::string css = project.read("out/velt.css");
  EXPECT_EQ(css.find("nope"), std::string::npos) << css;
  EXPECT_NE(css.find("{color:blue}"), std::string::npos) << css;
}

TEST_F(BuildTest, ReplacementsThenTimeAndClassDeduplication) {
  project.configure("", "\n[replacements]\nNOW='VELT_TIME'\n");
  project.write("src/t.html",
                "<p title=\"VELT_TIME NOW\" class=\"!{color:red;color:red} !{color:red}\"></p>\n");
  const int64_t before = std::time(nullptr);
  RunResult run = project.run({});
  const int64_t after = std::time(nullptr);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string out = project.read("out/t.html");
  const size_t space = out.find(' ', 10);
  const std::string first = out.substr(10, space - 10);
  const std::string second = out.substr(space + 1, first.size());
  EXPECT_EQ(first, second) << out;
  EXPECT_GE(std::stoll(first), before);
  EXPECT_LE(std::stoll(first), after);
  EXPECT_NE(out.find("class=\"i1 i1\""), std::string::npos) << out;
}

TEST_F(BuildTest, SignalFileTextAndTime) {
  project.configure(
      "signal_file='out/signal.txt'\n"
      "signal_content='a VELT_PATHS b'\n");
  project.write("src/x.html", "x\n");
  project.write("src/y.png", "y");
  RunResult run = project.run({"--select", "y.png", "x.html"});
  ASSERT_EQ(run.status, 0) << run.err;
  // A selection is processed in ascending order.
  EXPECT_EQ(project.read("out/signal.txt"), "a x.html\ny.png b");

  project.configure("signal_file='out/signal.txt'\n");
  project.write("src/x.html", "changed\n");
  project.set_mtime("src/x.html", std::time(nullptr) + 100);
  const int64_t before = std::time(nullptr);
  run = project.run({});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string signal = project.read("out/signal.txt");
  EXPECT_TRUE(!signal.empty() && std::all_of(signal.begin(), signal.end(), ::isdigit)) << signal;
  EXPECT_GE(std::stoll(signal), before);
}

TEST_F(BuildTest, FailingBuildWritesNothing) {
  project.configure("signal_file='out/signal.txt'\n");
  project.write("src/good.html", "<p class=\"!{color:red}\"></p>\n");
  project.write("src/bad.html", "a\0b"s);
  RunResult run = project.run({});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zeviziz: bad.html: Templates cannot contain NUL characters\n");
  EXPECT_FALSE(project.exists("out"));

  project.remove("src/bad.html");
  run = project.run({});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto before = project.snapshot("out");
  project.write("src/good.html", "<p class=\"!{margin:0}\"></p>\n");
  project.set_mtime("src/good.html", std::time(nullptr) + 100);
  project.write("src/velt.css", "a{}\n");  // its output would be the CSS file
  // File times are as coarse as the kernel's clock tick: without this, the new
  // source can share its time with the CSS file written just before and be
  // pruned as up to date.
  project.set_mtime("src/velt.css", std::time(nullptr) + 100);
  run = project.run({});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zeviziz: Template output conflicts with another output: out/velt.css\n");
  EXPECT_EQ(project.snapshot("out"), before);
}

TEST_F(BuildTest, UnchangedProjectWritesNothing) {
  project.write("src/index.html", kPage);
  project.write("src/img/logo.svg", "<svg/>\n");
  ASSERT_EQ(project.run({}).status, 0);
  const auto before = project.snapshot("out");
  // A new process sees the unchanged project through the cache and the
  // outputs' times: no file is read for compiling, nothing is written.
  RunResult run = project.run({"--log", "filesystem", "path"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    for (const char* op : {"open-write ", "rename ", "copy ", "remove-file ", "create-dir-all "}) {
      EXPECT_EQ(line.find(std::string("filesystem ") + op), std::string::npos) << line;
    }
    // Only the configuration and the cache file are read.
    if (line.rfind("filesystem read ", 0) == 0) {
      EXPECT_TRUE(line.ends_with("zeviziz.ini") || line.ends_with(".zeviziz")) << line;
    }
  }
  EXPECT_EQ(project.snapshot("out"), before);
}

TEST_F(BuildTest, ClassIdsStayStableAcrossRuns) {
  project.write("src/a.html", "<p class=\"!{color:red} !{margin:0}\"></p>\n");
  project.write("src/b.html", "<p class=\"!{display:block}\"></p>\n");
  ASSERT_EQ(project.run({"--select", "a.html", "b.html"}).status, 0);
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1 i2\"></p>\n");
  EXPECT_EQ(project.read("out/b.html"), "<p class=\"i3\"></p>\n");

  project.write("src/a.html", "<p class=\"!{margin:0} !{padding:0}\"></p>\n");
  project.set_mtime("src/a.html", std::time(nullptr) + 100);
  RunResult run = project.run({"--log", "path"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a.html\n");
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i2 i4\"></p>\n");
  EXPECT_EQ(project.read("out/velt.css"), ".i2{margin:0}.i3{display:block}.i4{padding:0}");

  // Rules get back the IDs they had in the file's previous output, whatever
  // their order; a new rule continues above every ID handed out before.
  project.write("src/a.html", "<p class=\"!{padding:0} !{color:red} !{margin:0}\"></p>\n");
  project.set_mtime("src/a.html", std::time(nullptr) + 200);
  ASSERT_EQ(project.run({}).status, 0);
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i4 i5 i2\"></p>\n");
  EXPECT_EQ(project.read("out/velt.css"),
            ".i5{color:red}.i2{margin:0}.i3{display:block}.i4{padding:0}");
}

TEST_F(BuildTest, SelectProcessesOnlySelectedFiles) {
  project.write("src/a.html", "<p class=\"!{color:red}\"></p>\n");
  project.write("src/pages/about.html", "<p class=\"!{margin:0}\"></p>\n");
  RunResult run =
      project.run({"--select", "pages\\about.html", "pages/about.html", "--log", "path", "count"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "pages/about.html 1\n");
  EXPECT_FALSE(project.exists("out/a.html"));
  EXPECT_EQ(project.read("out/velt.css"), ".i1{margin:0}");

  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case failures[] = {
      {{"--select", "missing.html"}, "zeviziz: Selected template does not exist: missing.html\n"},
      {{"--select", "../x.html"},
       "zeviziz: Expected a relative path inside in_directory: ../x.html\n"},
      {{"--select", ""}, "zeviziz: Expected a relative path inside in_directory: \n"},
  };
  for (const Case& c : failures) {
    run = project.run(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST_F(BuildTest, ReportLinesFollowLogFields) {
  project.write("src/index.html", kPage);
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // "T" stands for the seconds
  };
  const Case cases[] = {
      {{"--log", "count", "path"}, "3 index.html\n"},
      {{"--log", "path", "path"}, "index.html index.html\n"},
      {{"--log", "task", "count"}, "3\n"},
      {{"--log", "time"}, "T\n"},
      {{"--log", "path", "time", "count"}, "index.html T 3\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(project.path("out"));
    RunResult run = project.run(c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string out = run.out;
    if (c.args[1] == "task") {
      // Task lines come first; the report line is the last line.
      out = out.substr(out.rfind('\n', out.size() - 2) + 1);
    }
    std::string expected = c.expected;
    size_t t = expected.find('T');
    if (t != std::string::npos) {
      size_t end = out.find_first_not_of("0123456789", t);
      expected.replace(t, 1, out.substr(t, end - t));
    }
    EXPECT_EQ(out, expected);
  }
  // Without changes there is no report line.
  RunResult run = project.run({"--log", "path"});
  EXPECT_EQ(run.out, "");
}

TEST_F(BuildTest, TaskLogShowsPipelineTasks) {
  project.write("src/index.html", kPage);
  RunResult run = project.run({"--log", "task"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string heads;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.rfind("task ", 0), 0u) << line;
    heads += line.substr(5, line.find(' ', 5) - 5) + ",";
  }
  EXPECT_NE(heads.find("state.used,registry.prepare,directive.service,cache.reuse,"
                       "template.compile,css.generate,cache.encode,registry.retain,"
                       "compile.process,"),
            std::string::npos)
      << heads;
}

TEST_F(BuildTest, GeneratedFilesMustNotOverwriteConfiguration) {
  project.write("out/velt.css", project.read("zeviziz.ini"));
  project.remove("zeviziz.ini");
  RunResult run = project.run({"--config", "out/velt.css"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zeviziz: Generated files must not overwrite configuration\n");
}

}  // namespace
}  // namespace zeviziz::build_e2e
