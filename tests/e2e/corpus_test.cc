// Third-party code through a build with the default configuration: Debian's
// packaged jQuery and Bootstrap 5 and small files covering the constructs
// that a naive reading of JavaScript, PHP or HTML breaks. Every output must
// still parse (`node --check`, `php -l`); small programs must print what
// their sources print; <pre> and <textarea> text must come out unchanged.
// A test whose tools or packages are missing reports itself skipped.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/build_fixture.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;
using build_e2e::Project;

// Where Debian's libjs-jquery and libjs-bootstrap5 install their scripts.
const char* const kLibraryDirs[] = {"/usr/share/javascript/jquery",
                                    "/usr/share/javascript/bootstrap5/js"};

// The executable `name` found on PATH, or empty.
std::string find_tool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
    if (!candidate.parent_path().empty() && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    start = end + 1;
  }
  return {};
}

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs `argv` in `cwd` and collects its output.
ToolRun run_tool(const std::vector<std::string>& argv, const fs::path& cwd) {
  ToolRun result;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], 1);
    ::dup2(pipe_fds[1], 2);
    ::close(pipe_fds[0]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    result.output.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Small JavaScript programs, valid as written; each prints what it computed.
const std::pair<const char*, const char*> kJavaScriptFiles[] = {
    {"regex.js",
     "var t = 'say \"hi\"';\n"
     "var s = t.replace(/\"/g, \"&quot;\")\n"
     "var a = 1\n"
     "var b = \"x\"\n"
     "var rprotocol = /^\\/\\//,\n"
     "  rclass = /[/\"']/g,\n"
     "  rslash = /a\\/\"/;\n"
     "function f(x) { return /'/.test(x) }\n"
     "var d = a / 2 / (b ? 1 : 2);\n"
     "var k = typeof /'/ + ' done';\n"
     "// a comment with ' a quote\n"
     "/* a block ' quote */\n"
     "switch (a) { case 1: d += /\"/.source.length; break; default: d = 0 }\n"
     "if (!a) d = 1; else d += /'/.exec(\"'\").length\n"
     "var e = [/'/, /\"/][1].source, g = a ? /`/ : /'/;\n"
     "console.log(s, a, b, rprotocol.test('//x'), rclass.source, rslash.source, f(\"'\"), d, k, "
     "e, g.source);\n"},
    {"template.js",
     "var v = 'V';\n"
     "var tl = `a ${ \"`\" } b ${ `in ${ '}' } ${v}` } c`;\n"
     "var tr = `${ 'x`y'.replace(/`/g, '-') } // not a comment`;\n"
     "var obj = `${ {k: 1}.k }`;\n"
     "console.log(tl, tr, obj)\n"},
    {"minified.js",
     "var r=/^\\/\\//,q=/\"/g,w=\"a\".replace(q,\"b\"),z=1/2/1;console.log(r.test(\"//\"),w,z)\n"},
};

// Small PHP programs, valid as written; each prints what it computed.
const std::pair<const char*, const char*> kPhpFiles[] = {
    {"strings.php",
     "<?php\n"
     "$s = \"?>\";\n"
     "$b = \"a\"; // comment\n"
     "$c = \"b\";\n"
     "$d = '?>'; # hash comment\n"
     "$e = 'e';\n"
     "/** a doc comment <?php echo $x; ?> with a \" quote */\n"
     "function g() { return \"y\"; }\n"
     "/* ?> */ $f = 'f';\n"
     "echo $s, $b, $c, $d, $e, g(), $f, \"\\n\";\n"},
    {"heredoc.php",
     "<?php\n"
     "$x = \"X\";\n"
     "$s = <<<EOT\n"
     "don't {$x}\n"
     "  \"quoted\" ?> /*\n"
     "EOT;\n"
     "$n = <<<'N'\n"
     "    it's ?> not closed\n"
     "\n"
     "      indented\n"
     "    N;\n"
     "$q = <<<\"Q\"\n"
     "  a $x\n"
     "  Q;\n"
     "$b = 'x';\n"
     "#[Attribute]\n"
     "class A {}\n"
     "# a hash comment\n"
     "echo $s, '|', $n, '|', $q, '|', $b, '|', count((new ReflectionClass('A'))"
     "->getAttributes()), \"\\n\";\n"},
    {"page.php",
     "<html><body class=\"!{margin:0}\">\n"
     "<?php $title = \"?> not the end\"; ?>\n"
     "<h1><?= $title ?></h1>\n"
     "<?php\n"
     "// a line comment ends the block ?>\n"
     "<pre>\n"
     "  kept   as\n"
     "\n"
     "  it is  \n"
     "</pre>\n"
     "<?php\n"
     "$html = <<<HTML\n"
     "  <p class=\"a !{color:red} b\">{$title}</p>\n"
     "  HTML;\n"
     "echo $html;\n"},
};

const char kPreformatted[] =
    "<pre>\n"
    "  kept   as\n"
    "\n"
    "  it is  \n"
    "</pre>";
const char kTextarea[] = "<TEXTAREA name=\"t\">\n  line one  \n\n\tline two\n</TEXTAREA>";

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (build_e2e::binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
    project_.configure();
  }

  // Builds the project and expects success.
  void build() {
    const auto result = project_.run({});
    ASSERT_EQ(result.status, 0) << result.err;
  }

  // Skips the test unless `name` is on PATH; returns its path.
  std::string need_tool(const std::string& name, const std::string& package) {
    std::string path = find_tool(name);
    if (path.empty()) missing_ += " " + name + " (" + package + ")";
    return path;
  }

  Project project_;
  std::string missing_;
};

TEST_F(CorpusTest, PackagedLibrariesStillParse) {
  const std::string node = need_tool("node", "nodejs");
  std::vector<std::string> files;
  for (const char* dir : kLibraryDirs) {
    if (!fs::is_directory(dir)) {
      missing_ += std::string(" ") + dir;
      continue;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (entry.path().extension() != ".js" || !fs::is_regular_file(entry.path())) continue;
      const std::string rel = "lib" + entry.path().string();
      fs::create_directories(project_.path("src/" + rel).parent_path());
      fs::copy_file(entry.path(), project_.path("src/" + rel));
      files.push_back(rel);
    }
  }
  if (!missing_.empty()) GTEST_SKIP() << "missing:" << missing_;
  build();
  ASSERT_GT(files.size(), 10u);
  for (const std::string& rel : files) {
    const auto out = run_tool({node, "--check", "out/" + rel}, project_.root());
    if (out.status == 0) continue;
    const auto source = run_tool({node, "--check", "src/" + rel}, project_.root());
    EXPECT_NE(source.status, 0) << rel << " parses, its output does not:\n" << out.output;
  }
}

TEST_F(CorpusTest, SmallJavaScriptFilesParseAndBehaveAlike) {
  const std::string node = need_tool("node", "nodejs");
  if (!missing_.empty()) GTEST_SKIP() << "missing:" << missing_;
  for (const auto& [name, text] : kJavaScriptFiles)
    project_.write(std::string("src/") + name, text);
  project_.write("src/script.html",
                 std::string("<p>\n\n</p><script>\n") + kJavaScriptFiles[0].second + "</script>\n");
  build();
  for (const auto& [name, text] : kJavaScriptFiles) {
    const auto source = run_tool({node, std::string("src/") + name}, project_.root());
    ASSERT_EQ(source.status, 0) << name << ": " << source.output;
    const auto out = run_tool({node, std::string("out/") + name}, project_.root());
    EXPECT_EQ(out.status, 0) << name;
    EXPECT_EQ(out.output, source.output) << name;
  }
  // The script of the page, taken out of the rendered HTML.
  const std::string page = project_.read("out/script.html");
  const size_t open = page.find("<script>") + 8;
  project_.write("script.js", page.substr(open, page.find("</script>") - open));
  const auto script = run_tool({node, "script.js"}, project_.root());
  const auto source = run_tool({node, "src/regex.js"}, project_.root());
  EXPECT_EQ(script.output, source.output);
}

TEST_F(CorpusTest, SmallPhpFilesParseAndBehaveAlike) {
  const std::string php = need_tool("php", "php-cli");
  if (!missing_.empty()) GTEST_SKIP() << "missing:" << missing_;
  for (const auto& [name, text] : kPhpFiles) project_.write(std::string("src/") + name, text);
  build();
  for (const auto& [name, text] : kPhpFiles) {
    const std::string out = std::string("out/") + name;
    const auto lint = run_tool({php, "-l", out}, project_.root());
    EXPECT_EQ(lint.status, 0) << name << ":\n" << lint.output << "\n" << project_.read(out);
    if (std::string(name) == "page.php") continue;  // its HTML white space is optimised
    const auto source = run_tool({php, std::string("src/") + name}, project_.root());
    ASSERT_EQ(source.status, 0) << name << ": " << source.output;
    EXPECT_EQ(run_tool({php, out}, project_.root()).output, source.output) << name;
  }
  const std::string page = project_.read("out/page.php");
  EXPECT_NE(page.find(kPreformatted), std::string::npos) << page;
  EXPECT_NE(page.find("$html = <<<HTML\n  <p class=\"a i"), std::string::npos) << page;
}

TEST_F(CorpusTest, PreformattedTextIsUnchanged) {
  const std::string page = std::string("<div>\n\n   <p>  a  </p>  \n") + kPreformatted + "\n\n" +
                           kTextarea + "\n\n</div>\n";
  project_.write("src/page.html", page);
  build();
  EXPECT_EQ(project_.read("out/page.html"), std::string("<div>\n   <p>  a  </p>\n") +
                                                kPreformatted + "\n" + kTextarea + "\n</div>\n");
}

}  // namespace
}  // namespace zeviziz
