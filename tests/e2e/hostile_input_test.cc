// End-to-end tests of the binary on input meant to hang it or make it use
// unbounded memory: FIFOs and devices where files are expected, replacement
// chains that grow a template exponentially, and INI array keys whose
// alternatives multiply, and templates made of nothing but style regions.
// Every run has a timeout, so a hang fails the test
// instead of stalling the suite, and, where the build allows it, a limit on
// its address space.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

constexpr unsigned kTimeout = 30;
constexpr size_t kAddressSpace = size_t{768} << 20;

e2e::RunLimits limits() {
  return {kTimeout, e2e::kSanitized ? 0 : kAddressSpace};
}

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    project.configure();
  }

  void make_fifo(const std::string& rel) const {
    fs::create_directories(project.path(rel).parent_path());
    ASSERT_EQ(::mkfifo(project.path(rel).c_str(), 0644), 0) << rel;
  }

  RunResult run(const std::vector<std::string>& args) const {
    return e2e::run_zeviziz(args, project.root(), limits());
  }

  Project project;
};

TEST_F(HostileInputTest, FifosInTheInputTreeAreSkippedLikeLinks) {
  project.write("src/a.html", "<p class=\"!{color:red}\">a</p>");
  make_fifo("src/pipe.txt");
  make_fifo("src/deep/pipe.html");
  const RunResult result = run({});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"i1\">a</p>");
  EXPECT_FALSE(project.exists("out/pipe.txt"));
  EXPECT_FALSE(project.exists("out/deep/pipe.html"));
}

TEST_F(HostileInputTest, FifosAndDevicesAsInputFilesAreRefusedAtOnce) {
  struct Case {
    std::string fifo;  // made before the run; empty for none
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {"pipe.ini", {"--config", "pipe.ini"}, "zeviziz: pipe.ini: Not a regular file\n"},
      {"", {"--config", "/dev/zero"}, "zeviziz: /dev/zero: Not a regular file\n"},
      {"out/.zeviziz", {}, "zeviziz: out/.zeviziz: Not a regular file\n"},
      {"src/pipe.html",
       {"--ast", "pipe.html", "before"},
       "zeviziz: src/pipe.html: Not a regular file\n"},
      {"src/sel.html",
       {"--select", "sel.html"},
       "zeviziz: Selected template does not exist: sel.html\n"},
  };
  for (const Case& c : cases) {
    if (!c.fifo.empty()) make_fifo(c.fifo);
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, 1) << c.args.front();
    EXPECT_EQ(result.err, c.err);
    if (!c.fifo.empty()) fs::remove(project.path(c.fifo));
  }
}

TEST_F(HostileInputTest, ReplacementChainFailsBeforeBuildingTheText) {
  // Each pair doubles the text: 30 pairs would make gigabytes of one page.
  std::string pairs = "\n[replacements]\n";
  for (int i = 0; i < 30; ++i) {
    const std::string next = "R" + std::to_string(i + 1) + ".";
    pairs += "R" + std::to_string(i) + ".='" + next + " " + next + "'\n";
  }
  project.configure("", pairs);
  project.write("src/page.html", "<p>R0.</p>");
  project.write("src/ok.html", "<p>R29.</p>");
  const RunResult result = run({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "zeviziz: page.html: Replacement makes the template too large (over 16 times its "
            "size plus 1 MiB): R17.\n");
  EXPECT_FALSE(project.exists("out/ok.html"));

  // The same pairs on a page that does not start the chain are harmless.
  project.remove("src/page.html");
  const RunResult fine = run({});
  ASSERT_EQ(fine.status, 0) << fine.err;
  EXPECT_EQ(project.read("out/ok.html"), "<p>R30. R30.</p>");
}

TEST_F(HostileInputTest, MultiplyingArrayKeysFailWithinTheLimits) {
  // 19 groups of two 1,000-byte names: a 40 KB line that would create 2^20
  // tables with gigabytes of names.
  std::string key = "k";
  for (int i = 0; i < 19; ++i) {
    key += "[" + std::string(1000, 'a') + "," + std::string(1000, 'b') + "]";
  }
  project.configure("", "\n[replacements]\n" + key + "='x'\n");
  const RunResult result = run({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zeviziz: INI line 66: Too many array key combinations\n");
}

TEST_F(HostileInputTest, LargeTemplatesCompileLikeSmallOnes) {
  // A template past 1 MiB compiles like a small one: copies of later regions,
  // duplicate ids and failed regions come out the same, and so do the
  // warnings, placed in the file as written.
  const std::string page =
      "<div class=\"!copy(later)!{padding:0}\">a</div>\n"
      "<p class=\"!id(later)!{color:red} !at(medium){display:none}\">b</p>\n"
      "<p class=\"!id(twice)!{margin:0}\">c</p><p class=\"!id(twice)!{margin:1px}\">d</p>\n"
      "<p class=\"!copy(missing)!{x:y}\">e</p>\n"
      "<p class=\"a !{color:red\">f</p>\n"
      "<script>let s = ' !{gap:0}  !copy(later){margin:0}';</script>\n";
  project.write("src/page.html", page);
  RunResult result = run({});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string small = project.read("out/page.html");
  const std::string small_err = result.err;
  EXPECT_EQ(small.rfind("<div class=\"i", 0), 0u) << small;  // the copy resolved
  EXPECT_NE(small.find("!id(twice)!{margin:0}"), std::string::npos) << small;
  EXPECT_NE(small_err.find("page.html:4:"), std::string::npos) << small_err;

  std::string padding;
  while (padding.size() <= (size_t{1} << 20)) padding += "<p>x</p>\n";
  project.write("src/page.html", page + padding);
  // File times are as coarse as the kernel's clock tick; a later time keeps
  // the edit from looking as old as the output of the first run.
  project.set_mtime("src/page.html", std::time(nullptr) + 100);
  result = run({});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(project.read("out/page.html") == small + padding);
  EXPECT_EQ(result.err, small_err);
}

TEST_F(HostileInputTest, DenseRegionsStayWithinMemoryBound) {
  // Style regions as densely as they can be written, in one attribute and
  // one per attribute; the build must fit in 8 times the template's size
  // plus 50 MB of address space.
  if (e2e::kSanitized) GTEST_SKIP() << "sanitizers reserve address space of their own";
  struct Shape {
    std::string open, region, close;
  };
  const Shape shapes[] = {{"<p class=\"", "!{color:red} ", "\">x</p>\n"},
                          {"", "<p class=\"!{color:red}\">x</p>\n", ""}};
  for (const Shape& shape : shapes) {
    std::string page = shape.open;
    while (page.size() < (size_t{3} << 20)) page += shape.region;
    page += shape.close;
    project.write("src/page.html", page);
    project.set_mtime("src/page.html", std::time(nullptr) + 100);
    const RunResult result =
        e2e::run_zeviziz({}, project.root(), {kTimeout, 8 * page.size() + (size_t{50} << 20)});
    ASSERT_EQ(result.status, 0) << shape.region << ": " << result.err;
    EXPECT_EQ(project.read("out/page.html").substr(0, 12), "<p class=\"i1") << shape.region;
    project.remove("out/page.html");
  }
}

}  // namespace
}  // namespace zeviziz::build_e2e
