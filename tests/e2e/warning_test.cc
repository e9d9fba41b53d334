// End-to-end tests of build warnings: text that began like a style region
// but stayed text, and regions whose directives failed, are reported on
// standard error with their template path, line and column, while outputs,
// exit status and standard output stay as without them.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kPrefix = "zeviziz: warning: ";

// Standard error's warning lines grouped by template path, each group in
// the order written; "line:column: reason" per line. Other lines are kept
// under "".
std::map<std::string, Lines> by_file(const std::string& err) {
  std::map<std::string, Lines> files;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':', kPrefix.size());
    if (!line.starts_with(kPrefix) || colon == std::string::npos) {
      files[""].push_back(line);
      continue;
    }
    files[line.substr(kPrefix.size(), colon - kPrefix.size())].push_back(line.substr(colon + 1));
  }
  return files;
}

struct WarningCase {
  std::string path;
  std::string text;
  Lines expected;  // "line:column: reason"
};

const std::string kAtCases =
    "(cases: base-only, xx-small, xx-small-only, x-small, x-small-only, small, small-only, "
    "medium, medium-only, large, large-only, x-large, x-large-only, xx-large)";

const std::vector<WarningCase>& mistakes() {
  static const std::vector<WarningCase> cases = {
      {"unclosed.html", "<p class=\"!{color:red\">x</p>\n", {"1:12: unclosed \"{\" opened here"}},
      {"no-colon.html",
       "<p class=\"!{color red}\">x</p>\n",
       {"1:19: expected \":\" after property \"color\""}},
      {"unknown-case.html",
       "<p class=\"!at(medum){display:none}\">x</p>\n",
       {"1:11: unknown case \"medum\" of directive \"at\" " + kAtCases}},
      {"extra-brace.html",
       "<p class=\"!{color:red}}\">x</p>\n",
       {"1:23: unexpected \"}\" after the region: a region must be followed by white space or "
        "the end"}},
      {"unknown-id.html",
       "<p class=\"!copy(nope){color:red}\">x</p>\n",
       {"1:11: no id \"nope\" to copy in this file"}},
      {"parentheses.html",
       "<p class=\"!(color:red)\">x</p>\n",
       {"1:12: expected a directive name or \"{\" after \"!\""}},
      {"copy-without-body.html",
       "<p class=\"!id(card){color:red}\">x</p>\n<p class=\"card !copy(card)\">y</p>\n",
       {"2:16: \"copy\" needs a body: write !copy(card){}"}},
      {"two-cases.html",
       "<p class=\"!at(medium,large){display:none}\">x</p>\n",
       {"1:11: directive \"at\" has no case for 2 arguments (it takes 1)"}},
      {"glued.html",
       "<p class=\"!{color:red}!{margin:0}\">x</p>\n",
       {"1:23: regions must be separated by white space"}},
      {"space-before-block.html",
       "<p class=\"!at(medium) {display:none}\">x</p>\n",
       {"1:22: unexpected white space before \"{\""}},
      {"ids.html",
       "<p class=\"!id(a)!id(b){x:y}\">x</p>\n",
       {"1:17: a region can have only one id"}},
      {"circular.html",
       "<p class=\"!id(a)!copy(b){x:y} !id(b)!copy(a){z:w}\">x</p>\n",
       {"1:17: circular copy through id \"b\"", "1:37: circular copy through id \"a\""}},
      // CRLF line ends, a tab and multi-byte characters before the region.
      {"position.html",
       "<p>\r\n\t<b class=\"\xC3\xA9 \xE2\x82\xAC !{color red}\">x</b>\r\n",
       {"2:24: expected \":\" after property \"color\""}},
      // Positions are those of the source, comments that the output drops
      // included.
      {"position.js",
       "// \xC3\xBCn\xC3\xAF"
       "code\nlet a = 1;\nx = '\xC3\xB1 !copy(nope){a:b}';\n",
       {"3:8: no id \"nope\" to copy in this file"}},
  };
  return cases;
}

class WarningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    project.configure();
  }
  Project project;
};

TEST_F(WarningTest, EachMistakeIsReportedWhereItIs) {
  for (const WarningCase& c : mistakes()) project.write("src/" + c.path, c.text);
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  std::map<std::string, Lines> warnings = by_file(run.err);
  for (const WarningCase& c : mistakes()) {
    EXPECT_EQ(warnings[c.path], c.expected) << c.path;
    warnings.erase(c.path);
  }
  EXPECT_TRUE(warnings.empty()) << run.err;
  // The regions with mistakes stayed text, byte for byte.
  for (const WarningCase& c : mistakes()) {
    // The first removes its comment, the second has a good region too.
    if (c.path == "position.js" || c.path == "copy-without-body.html") continue;
    EXPECT_EQ(project.read("out/" + c.path), c.text) << c.path;
  }
  EXPECT_EQ(project.read("out/copy-without-body.html"),
            "<p class=\"i1\">x</p>\n<p class=\"card !copy(card)\">y</p>\n");
}

// An unclosed region does not hide a good one after it; the CSS and the
// cache are those of the same file with the mistake written as plain text.
TEST_F(WarningTest, OutputsAreThoseOfTheMistakesAsText) {
  project.write("src/a.html", "<p class=\"!{color:red !{margin:0}\">x</p>\n");
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zeviziz: warning: a.html:1:12: unclosed \"{\" opened here\n");
  EXPECT_EQ(project.read("out/a.html"), "<p class=\"!{color:red i1\">x</p>\n");

  Project quiet;
  quiet.configure();
  quiet.write("src/a.html", "<p class=\"color:red !{margin:0}\">x</p>\n");
  RunResult reference = quiet.run({});
  ASSERT_EQ(reference.status, 0);
  EXPECT_EQ(reference.err, "");
  EXPECT_EQ(project.read("out/velt.css"), ".i1{margin:0}");
  EXPECT_EQ(project.read("out/velt.css"), quiet.read("out/velt.css"));
  EXPECT_EQ(project.read("out/.zeviziz"), quiet.read("out/.zeviziz"));
}

// Replacements change the text before it compiles; places are still those
// of the file as written.
TEST_F(WarningTest, PlacesAreThoseOfTheFileAsWritten) {
  project.configure("", "\n[replacements]\nNOW='VELT_TIME'\nLONG-NAME='x'\n");
  project.write("src/a.html",
                "<p title=\"NOW VELT_TIME\">\n<p class=\"NOW LONG-NAME !{color red}\">x</p>\n");
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zeviziz: warning: a.html:2:33: expected \":\" after property \"color\"\n");
}

// With --log fields, standard output holds exactly the lines it holds when
// the same files have no mistakes; the warnings go to standard error only.
TEST_F(WarningTest, StandardOutputIsUnchangedWithLogFields) {
  project.write("src/a.html", "<p class=\"!{color:red\">x</p>\n");
  Project clean;
  clean.configure();
  clean.write("src/a.html", "<p class=\"color:red\">x</p>\n");
  for (const Lines& fields : {Lines{"--log", "path", "count"}, Lines{"--log", "count", "path"}}) {
    fs::remove_all(project.path("out"));
    fs::remove_all(clean.path("out"));
    RunResult run = project.run(fields);
    RunResult reference = clean.run(fields);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, reference.out);
    EXPECT_EQ(run.err, "zeviziz: warning: a.html:1:12: unclosed \"{\" opened here\n");
  }
  fs::remove_all(project.path("out"));
  RunResult logged = project.run({"--log", "task", "filesystem"});
  ASSERT_EQ(logged.status, 0);
  EXPECT_NE(logged.out.find("task template.compile a.html"), std::string::npos) << logged.out;
  EXPECT_EQ(logged.out.find("warning"), std::string::npos) << logged.out;
  EXPECT_EQ(logged.err, "zeviziz: warning: a.html:1:12: unclosed \"{\" opened here\n");
}

TEST_F(WarningTest, PunctuationAndOrdinaryCodeStaySilent) {
  project.write("src/page.html",
                "<!DOCTYPE html>\n<p class=\"note\" title=\"Hello!\">Bonjour ! Hi!</p>\n"
                "<style>a{color:red !important}</style>\n"
                "<script>if (a !== b && !c) { s = \"!==\"; t = '!important'; }</script>\n"
                "<p class=\"Look !at this !copy that !(a && b) ![img](x.png) !#tag\">x</p>\n");
  project.write("src/site.css", "a{color:red !important;content:\"!important\"}\n");
  project.write("src/app.js",
                "if (!x && a !== b) { s = \"Bonjour ! \\u00c7a va ?\"; t = '!important'; }\n"
                "const re = `!${name}`; u = \"!(a ? b : c)\";\n");
  project.write("src/form.php",
                "<?php if (!empty($a) && $b != '!') { echo \"Hello !\"; } ?>\n"
                "<p class=\"!{color:red}\"><?= !$x ? 'a!' : \"b !\" ?></p>\n");
  const std::string jquery = read_text("/usr/share/javascript/jquery/jquery.js");
  if (!jquery.empty()) project.write("src/jquery.js", jquery);
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

// The bundled example builds without warnings, apart from its one card
// that copies another without a body of its own.
TEST(WarningExample, ExampleSiteStaysSilent) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  fs::copy(fs::path(ZEVIZIZ_EXAMPLES_DIR) / "site", project.root(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0) << run.err;
  std::map<std::string, Lines> warnings = by_file(run.err);
  std::erase(warnings["index.html"], "37:28: \"copy\" needs a body: write !copy(card){}");
  for (const auto& [path, lines] : warnings) EXPECT_EQ(lines, Lines{}) << path;
}

// Warnings come from compiling a file: watch mode does not repeat them for
// a file that did not change, and repeats them when it is compiled again.
TEST(WarningWatch, RepeatedOnlyWhenTheFileIsCompiledAgain) {
  if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  Project project;
  project.configure();
  project.write("src/a.html", "<p class=\"!{color:red\">x</p>\n");
  Background watch = project.start({"--watch", "1"});
  const std::string line = "zeviziz: warning: a.html:1:12: unclosed \"{\" opened here\n";
  auto warned = [&line](size_t times) {
    return [&line, times](const std::string&, const std::string& err) {
      size_t count = 0;
      for (size_t at = err.find(line); at != std::string::npos; at = err.find(line, at + 1)) {
        ++count;
      }
      return count >= times;
    };
  };
  ASSERT_TRUE(watch.wait_for(warned(1), 5s)) << watch.err();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(watch.err(), line);
  project.write("src/a.html", "<p class=\"!{color:red\">y</p>\n");
  project.set_mtime("src/a.html", std::time(nullptr) + 1000);
  ASSERT_TRUE(watch.wait_for(warned(2), 5s)) << watch.err();
  EXPECT_EQ(watch.err(), line + line);
}

}  // namespace
}  // namespace zeviziz::build_e2e
