#include "config/load.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "config/default_config.h"
#include "log/log.h"
#include "support/temp_cwd_test.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

const std::string_view kDefaultConfig = default_config_text();

constexpr std::string_view kVelt =
    "[velt]\nin_directory='src'\nout_directory='out'\ncss_file='out/velt.css'\n";

// Runs each test in a fresh temporary working directory holding `src`.
class ConfigLoad : public TempCwdTest {
 protected:
  void SetUp() override {
    TempCwdTest::SetUp();
    fs::create_directory("src");
  }

  // Writes zeviziz.ini and loads it; "ok" or the error message.
  static std::string load(std::string_view text) {
    write("zeviziz.ini", text);
    Result<ProjectConfig> config = load_config("zeviziz.ini");
    return config.ok() ? "ok" : config.error();
  }

  static ProjectConfig load_ok(std::string_view text) {
    write("zeviziz.ini", text);
    Result<ProjectConfig> config = load_config("zeviziz.ini");
    EXPECT_TRUE(config.ok()) << config.error();
    return config.ok() ? std::move(config).value() : ProjectConfig{};
  }
};

std::string velt_with(std::string_view extra) {
  return std::string(kVelt) + std::string(extra);
}

// A [velt] section with the three required paths replaced.
std::string velt_paths(std::string_view in, std::string_view out, std::string_view css,
                       std::string_view extra = "") {
  return "[velt]\nin_directory='" + std::string(in) + "'\nout_directory='" + std::string(out) +
         "'\ncss_file='" + std::string(css) + "'\n" + std::string(extra);
}

struct Case {
  std::string input;
  std::string expected;
};

TEST_F(ConfigLoad, DefaultConfigurationLoads) {
  ASSERT_EQ(kDefaultConfig.size(), 1981u);
  ProjectConfig config = load_ok(kDefaultConfig);
  EXPECT_EQ(config.config_path, fs::path("zeviziz.ini"));
  EXPECT_EQ(config.in_directory, fs::path("src"));
  EXPECT_EQ(config.out_directory, fs::path("out"));
  EXPECT_EQ(config.css_file, fs::path("out/velt.css"));
  EXPECT_EQ(config.cache_file, fs::path("out") / ".zeviziz");
  EXPECT_FALSE(config.signal_file.has_value());
  ASSERT_EQ(config.boundaries.size(), 12u);
  EXPECT_EQ(config.boundaries[1].name, "php_tag");
  EXPECT_EQ(config.boundaries[1].open, "<?php\\s[1:]");
  EXPECT_EQ(config.boundaries[2].close, "");
  EXPECT_EQ(config.boundaries[6].open, "#");
  EXPECT_EQ(config.boundaries[6].close, "\\n");
  ASSERT_EQ(config.templates.size(), 5u);
  const TemplateDef& php = config.templates[4];
  EXPECT_EQ(php.name, "php");
  EXPECT_EQ(php.extensions, std::vector<std::string>{".php"});
  ASSERT_EQ(php.templates.size(), 4u);
  EXPECT_TRUE(php.templates[0].has_boundary);
  EXPECT_EQ(php.templates[0].boundary, "php_tag");
  EXPECT_EQ(php.templates[0].names, std::vector<std::string>{"php_code"});
  EXPECT_FALSE(php.templates[3].has_boundary);
  EXPECT_EQ(php.templates[3].names, std::vector<std::string>{"html"});
  EXPECT_EQ(config.templates[1].boundaries,
            (std::vector<std::string>{"single_quotation_string", "double_quotation_string",
                                      "backtick_string"}));
  ASSERT_EQ(config.directives.size(), 1u);
  const DirectiveDef& at = config.directives[0];
  ASSERT_EQ(at.cases.size(), 14u);
  EXPECT_EQ(at.cases[7].name, "medium");
  EXPECT_EQ(at.cases[7].at_rules, std::vector<std::string>{"@media(min-width:768px)"});
  EXPECT_EQ(at.cases[2].at_rules,
            std::vector<std::string>{"@media(min-width:320px) and (max-width:479px)"});
}

TEST_F(ConfigLoad, ReadsEverySetting) {
  ProjectConfig config = load_ok(
      "[velt]\nin_directory='src'\nout_directory='out\\sub'\ncss_file='css\\a.css'\n"
      "cache_file='state/cache'\nsignal_file='signal'\nsignal_content='done'\n"
      "exclude[]='drafts','a\\b'\n"
      "[replacements]\n'{{year}}'='2024'\nTITLE=''\n"
      "[boundaries]\nb[1]='close'\nb[0]='open'\nc[]='x',''\n"
      "[template.t]\nextensions[]='.blade.php','.t'\noptimize_whitespaces=false\n"
      "keep_indentation=false\nkeep_new_lines=false\nremove_undefined_templates=false\n"
      "templates[b]='u'\ntemplates[c][]='','t'\ntemplates[]=''\nboundaries[]='c'\n"
      "[template.u]\n");
  EXPECT_EQ(config.out_directory, fs::path("out/sub"));
  EXPECT_EQ(config.css_file, fs::path("css/a.css"));
  EXPECT_EQ(config.cache_file, fs::path("state/cache"));
  EXPECT_EQ(config.signal_file, fs::path("signal"));
  EXPECT_EQ(config.signal_content, "done");
  EXPECT_EQ(config.exclude, (std::vector<fs::path>{"drafts", "a/b"}));
  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(config.replacements, (std::vector<Pair>{{"{{year}}", "2024"}, {"TITLE", ""}}));
  ASSERT_EQ(config.boundaries.size(), 2u);
  EXPECT_EQ(config.boundaries[0].open, "open");
  EXPECT_EQ(config.boundaries[0].close, "close");
  ASSERT_EQ(config.templates.size(), 2u);
  const TemplateDef& t = config.templates[0];
  EXPECT_FALSE(t.optimize_whitespaces || t.keep_indentation || t.keep_new_lines ||
               t.remove_undefined_templates);
  EXPECT_TRUE(config.templates[1].optimize_whitespaces);
  ASSERT_EQ(t.templates.size(), 3u);
  EXPECT_EQ(t.templates[1].boundary, "c");
  EXPECT_EQ(t.templates[1].names, (std::vector<std::string>{"", "t"}));
  EXPECT_EQ(t.templates[2].names, std::vector<std::string>{""});
}

TEST_F(ConfigLoad, SectionAndKeyMessages) {
  const Case cases[] = {
      {"[velt]", "Missing config key: in_directory"},
      {"[velt]\nin_directory=''", "Missing config key: in_directory"},
      {"[velt]\nin_directory='src'", "Missing config key: out_directory"},
      {"[velt]\nin_directory='src'\nout_directory='out'", "Missing config key: css_file"},
      {"[boundaries]\nx[]='a','b'", "Missing section: velt"},
      {"", "Missing section: velt"},
      {"x=1\n" + std::string(kVelt), "Config value must be a collection: x"},
      {velt_with("port='80'"), "Unknown config key: port"},
      {velt_with("[template.html]\nminify=true"), "Unknown template key: html[minify]"},
      {velt_with("[styles]"), "Unknown section: styles"},
      {velt_with("[Velt]"), "Unknown section: Velt"},
      {velt_with("[template.my page]"), "Invalid template name: my page"},
      {velt_with("[template.-a]"), "Invalid template name: -a"},
      {velt_with("[template.]"), "Invalid template name: "},
      {velt_with("[directive.a.b]"), "Invalid directive name: a.b"},
      {"[velt]\nin_directory[]='x'", "Config value must be a string: in_directory"},
      {"[velt]\nin_directory=1", "Config value must be a string: in_directory"},
      {velt_with("signal_content=1"), "Config value must be a string: signal_content"},
      {velt_with("exclude='x'"), "Config value must be a collection: exclude"},
      {velt_with("exclude[a]='x'"), "exclude must be a list"},
      {velt_with("exclude[]=1"), "Config value must be a string: exclude"},
      {velt_with("[replacements]\na=1"), "Config value must be a string: a"},
      {velt_with("[boundaries]\n'bad name'[]='a','b'"), "Invalid boundary name: bad name"},
      {velt_with("[boundaries]\nxml_comment[]='<!--'"),
       "boundaries.xml_comment must contain exactly two strings"},
      {velt_with("[boundaries]\nb='x'"), "Config value must be a collection: boundaries.b"},
      {velt_with("[boundaries]\nb[]='x',1"), "Config value must be a string: boundaries.b"},
      {velt_with("[template.html]\nextensions[]='html'"),
       "template.html.extensions must contain file suffixes such as .html or .blade.php"},
      {velt_with("[template.html]\nextensions[]='.'"),
       "template.html.extensions must contain file suffixes such as .html or .blade.php"},
      {velt_with("[template.html]\nextensions[]='.a\\b'"),
       "template.html.extensions must contain file suffixes such as .html or .blade.php"},
      {velt_with("[template.html]\nextensions='.html'"),
       "Config value must be a collection: extensions"},
      {velt_with("[template.html]\nkeep_new_lines='yes'"), "keep_new_lines must be true or false"},
      {velt_with("[template.html]\nboundaries='x'"),
       "Config value must be a collection: boundaries"},
      {velt_with("[template.html]\ntemplates='x'"), "Config value must be a collection: templates"},
      {velt_with("[template.html]\ntemplates[]=1"), "Config value must be a string: templates"},
      {velt_with("[template.html]\ntemplates[b]=1"),
       "Config value must be a collection: templates[b]"},
      {velt_with("[template.html]\ntemplates[b][]=1"),
       "Config value must be a string: templates[b]"},
      {velt_with("[template.html]\nboundaries[]='nope'"),
       "Unknown boundary in template html: nope"},
      {velt_with("[boundaries]\ncss_tag[]='<style>','</style>'\n[template.html]\n"
                 "templates[css_tag]='sass'"),
       "Unknown template in template html: sass"},
      {velt_with("[template.html]\ntemplates[]='x'"), "Unknown template in template html: x"},
      {velt_with("[template.html]\ntemplates[nope]=''"), "Unknown boundary in template html: nope"},
      {velt_with("[directive.at]\ncolor[x]='red'"), "Unknown directive action: at[color]"},
      {velt_with("[directive.at]\nat-rule[x]=' '"), "Directive action cannot be empty: at.at-rule"},
      {velt_with("[directive.at]\nat-rule='nope'"), "Invalid at-rule: nope"},
      {"[velt\n", "INI line 1: Unclosed section"},
  };
  for (const Case& c : cases) EXPECT_EQ(load(c.input), c.expected) << c.input;
}

TEST_F(ConfigLoad, PathRules) {
  const Case cases[] = {
      {velt_paths("src", "out", "/tmp/a.css"), "css_file must be relative and cannot contain .."},
      {velt_paths("src", "out", "\\a.css"), "css_file must be relative and cannot contain .."},
      {velt_paths("C:src", "out", "a.css"), "in_directory must be relative and cannot contain .."},
      {velt_paths("./src", "out", "a.css"), "Expected a relative path inside in_directory: ./src"},
      {velt_paths(".", "out", "a.css"), "Expected a relative path inside in_directory: ."},
      {velt_paths("src", "a/../b", "a.css"),
       "out_directory must be relative and cannot contain .."},
      {velt_paths("src", "a\\..", "a.css"), "out_directory must be relative and cannot contain .."},
      {velt_paths("src", "out", "a.css", "cache_file='../c'"),
       "cache_file must be relative and cannot contain .."},
      {velt_paths("src", "out", "a.css", "exclude[]='a','/b'"),
       "exclude must be relative and cannot contain .."},
      {velt_paths("src", "out", "a.css", "exclude[]=''"),
       "Expected a relative path inside in_directory: "},
      {velt_paths("src", "out", "a.css", "signal_file='./s'"),
       "Expected a relative path inside in_directory: ./s"},
      {velt_paths("src", "out", "a.css", "cache_file=''\nsignal_file=''"), "ok"},
      {velt_paths("src/", "o..ut/./x", "a..css"), "ok"},
      {velt_paths("missing", "out", "a.css"), "Input directory does not exist: missing"},
      {velt_paths("missing\\x", "out", "a.css"), "Input directory does not exist: missing\\x"},
      {velt_paths("src", "src/out", "a.css"), "Input and output directories must not overlap"},
      {velt_paths("src/a/..", "src", "a.css"),
       "in_directory must be relative and cannot contain .."},
      {velt_paths("src", "src", "a.css"), "Input and output directories must not overlap"},
      {velt_paths("src", ".", "a.css"), "Expected a relative path inside in_directory: ."},
      {velt_paths("src", "out", "out"), "css_file must be outside in_directory and name a file"},
      {velt_paths("src", "out", "src/a.css"),
       "css_file must be outside in_directory and name a file"},
      {velt_paths("src", "out", "src"), "css_file must be outside in_directory and name a file"},
      {velt_with("cache_file='out/velt.css'"),
       "cache_file must be outside in_directory and distinct from CSS and output directory"},
      {velt_with("cache_file='out'"),
       "cache_file must be outside in_directory and distinct from CSS and output directory"},
      {velt_with("cache_file='src/c'"),
       "cache_file must be outside in_directory and distinct from CSS and output directory"},
      {velt_paths("src", "out", "zeviziz.ini"), "Generated files must not overwrite configuration"},
      {velt_with("cache_file='zeviziz.ini'"), "Generated files must not overwrite configuration"},
      {velt_with("signal_file='src/s'"),
       "signal_file must be outside in_directory and distinct from CSS, cache and output "
       "directory"},
      {velt_with("signal_file='out/.zeviziz'"),
       "signal_file must be outside in_directory and distinct from CSS, cache and output "
       "directory"},
      {velt_with("signal_file='out'"),
       "signal_file must be outside in_directory and distinct from CSS, cache and output "
       "directory"},
      {velt_with("signal_file='out/velt.css'"),
       "signal_file must be outside in_directory and distinct from CSS, cache and output "
       "directory"},
      {velt_with("signal_file='zeviziz.ini'"), "Generated files must not overwrite configuration"},
      {velt_with("signal_file='out/signal'"), "ok"},
  };
  for (const Case& c : cases) EXPECT_EQ(load(c.input), c.expected) << c.input;
}

TEST_F(ConfigLoad, FirstFaultWins) {
  const Case cases[] = {
      // Sections are checked in order of appearance, before the missing [velt].
      {"[styles]\n[template.-x]", "Unknown section: styles"},
      {"[template.-x]\n[styles]", "Invalid template name: -x"},
      {"[template.t]\nboundaries[]='b'", "Unknown boundary in template t: b"},
      {"[directive.d]\nat-rule='x'", "Missing section: velt"},
      // Within a template, boundaries come before unnamed and then boundary entries.
      {velt_with("[template.t]\ntemplates[b]='x'\ntemplates[]='y'\nboundaries[]='z'"),
       "Unknown boundary in template t: z"},
      {velt_with("[template.t]\ntemplates[b]='x'\ntemplates[]='y'"),
       "Unknown template in template t: y"},
      // Required settings in order, each with its path rule before the next.
      {velt_paths("", "/out", "a.css"), "Missing config key: in_directory"},
      {velt_paths("./src", "", "a.css"), "Expected a relative path inside in_directory: ./src"},
      {velt_paths("src", "out", "a.css", "cache_file='/c'\nexclude[]='../x'"),
       "cache_file must be relative and cannot contain .."},
      {velt_paths("src", "out", "a.css", "exclude[]='../x'\nsignal_file='/s'"),
       "exclude must be relative and cannot contain .."},
      // Settings before the file system, file system before directives.
      {velt_paths("missing", "out", "/a.css"), "css_file must be relative and cannot contain .."},
      {velt_paths("missing", "missing/out", "a.css"), "Input directory does not exist: missing"},
      {velt_paths("src", "src/out", "src/a.css"), "Input and output directories must not overlap"},
      {velt_paths("src", "out", "out", "cache_file='out'"),
       "css_file must be outside in_directory and name a file"},
      {velt_paths("src", "out", "zeviziz.ini", "cache_file='out'"),
       "cache_file must be outside in_directory and distinct from CSS and output directory"},
      {velt_paths("src", "out", "a.css", "[directive.d]\nat-rule='x'\n[template.t]\n") +
           "boundaries[]='q'",
       "Unknown boundary in template t: q"},
      {velt_paths("src", "out", "zeviziz.ini", "[directive.d]\nat-rule='x'"),
       "Generated files must not overwrite configuration"},
      {velt_paths("src", "out", "a.css", "[directive.d]\nat-rule='x'\n[directive.e]\n") +
           "at-rule='y'",
       "Invalid at-rule: x"},
  };
  for (const Case& c : cases) EXPECT_EQ(load(c.input), c.expected) << c.input;
}

TEST_F(ConfigLoad, FileSystemFaults) {
  EXPECT_EQ(load_config("absent.ini").error().rfind("absent.ini: ", 0), 0u);
  write("bad.ini", "\xFF");
  EXPECT_EQ(load_config("bad.ini").error(), "bad.ini: stream did not contain valid UTF-8");

  fs::create_symlink("src", "link");
  EXPECT_EQ(load(velt_paths("link", "out", "a.css")), "Symbolic links are not supported: link");
  EXPECT_EQ(load(velt_paths("src", "link/out", "a.css")), "Symbolic links are not supported: link");
  // The link test of every path comes before the input directory test.
  EXPECT_EQ(load(velt_paths("missing", "out", "link/a.css")),
            "Symbolic links are not supported: link");

  // The configuration compared by path: another name for the same file.
  fs::create_directory("conf");
  write("conf/project.ini", velt_paths("src", "out", "conf/../conf/project.ini"));
  EXPECT_EQ(load_config("conf/project.ini").error(),
            "css_file must be relative and cannot contain ..");
  write("conf/project.ini", velt_paths("src", "out", "conf/project.ini"));
  EXPECT_EQ(load_config("conf/../conf/project.ini").error(),
            "Generated files must not overwrite configuration");
  // A generated path that does not exist yet is fine.
  EXPECT_EQ(load(velt_paths("src", "new/out", "new/css/a.css")), "ok");
  EXPECT_FALSE(fs::exists("new"));
  EXPECT_FALSE(fs::exists("out"));
}

TEST_F(ConfigLoad, LogsTasksAndFileOperations) {
  write("zeviziz.ini", kVelt);
  std::string output;
  set_stdout_capture(&output);
  set_log_positions(LogPositions{1, 0, kLogOff});
  Result<ProjectConfig> config = load_config("zeviziz.ini");
  set_log_positions(LogPositions{});
  close_open_line();
  set_stdout_capture(nullptr);
  ASSERT_TRUE(config.ok()) << config.error();
  EXPECT_EQ(std::regex_replace(output, std::regex("[0-9]+us"), "Nus"),
            "filesystem read zeviziz.ini\ntask config.parse Nus\nfilesystem is-dir src\n"
            "task config.load zeviziz.ini Nus\n");
}

TEST(ConfigNames, NameRule) {
  for (std::string_view name : {"a", "_", "0", "a-b_c9", "A", "9-"}) {
    EXPECT_TRUE(is_valid_name(name)) << name;
  }
  for (std::string_view name : {"", "-a", "a b", "a.b", "\xC3\xA9", "a/b"}) {
    EXPECT_FALSE(is_valid_name(name)) << name;
  }
}

}  // namespace
}  // namespace zeviziz
