#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/help.h"
#include "cli/invocation.h"
#include "log/log.h"

namespace zeviziz {
namespace {

using Args = std::vector<std::string>;

std::string parse_error(const Args& args) {
  Result<Invocation> result = parse_invocation(args);
  return result.ok() ? "(accepted)" : result.error();
}

TEST(ParseInvocation, ErrorsInTheOrderOfChecks) {
  const std::string between = "--watch must be between 1 and 3600 seconds";
  const std::string positive = "--watch requires a positive integer";
  const std::string only_compile = "--select, --watch and --log apply only to compilation";
  const std::string one_command = "Choose one command: help, version, init, reset, or ast";
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"index.html"}, "Unknown option: index.html"},
      {{"a", "b", "c"}, "Too many values for a"},
      {{"--frob", "x", "y"}, "Too many values for --frob"},
      {{"--frob", "x"}, "Unknown option: --frob"},
      {{"--"}, "Unknown option: --"},
      {{"--watch=5"}, "Unknown option: --watch=5"},
      {{"--Help"}, "Unknown option: --Help"},
      {{"--help", "x"}, "--help takes no value"},
      {{"--help", "x", "y"}, "Too many values for --help"},
      {{"--init", "x"}, "--init takes no value"},
      {{"--reset", "x"}, "--reset takes no value"},
      {{"--version", "x"}, "--version takes no value"},
      {{"--init", "--reset"}, one_command},
      {{"--help", "--help"}, "Repeated option: --help"},
      {{"--select", "a", "--select", "b"}, "Repeated option: --select"},
      {{"--log", "path", "--log", "x", "y"}, "Repeated option: --log"},
      {{"--ast"}, "--ast requires a relative file and at least one target"},
      {{"--ast", "index.html"}, "--ast requires a relative file and at least one target"},
      {{"--ast", "index.html", "before", "middle", "x"}, "Invalid --ast target: middle"},
      {{"--ast", "i.html", "before", "--init"}, one_command},
      {{"--config"}, "--config requires a path"},
      {{"--config", ""}, "--config requires a path"},
      {{"--config", "a", "b"}, "Too many values for --config"},
      {{"--select"}, "--select requires template paths"},
      {{"--log"}, "--log requires one or more of: path, time, count, filesystem, task"},
      {{"--log", "path", "Time", "bogus"}, "Invalid --log field: Time"},
      {{"--watch", "0"}, between},
      {{"--watch", "3601"}, between},
      {{"--watch", "18446744073709551615"}, between},
      {{"--watch", "18446744073709551616"}, positive},
      {{"--watch", "-1"}, positive},
      {{"--watch", ""}, positive},
      {{"--watch", "+"}, positive},
      {{"--watch", "-"}, positive},
      {{"--watch", "++5"}, positive},
      {{"--watch", "1.5"}, positive},
      {{"--watch", " 5"}, positive},
      {{"--watch", "2", "3"}, "Too many values for --watch"},
      {{"--init", "--config", "other.ini"}, "--config does not apply to --init"},
      {{"--init", "--config", "x", "--watch"}, "--config does not apply to --init"},
      {{"--reset", "--watch"}, only_compile},
      {{"--help", "--log", "path"}, only_compile},
      {{"--select", "a", "--ast", "a.html", "after"}, only_compile},
      {{std::string("--config"), std::string("bad\xff")}, "Arguments must be valid UTF-8"},
  };
  for (const auto& [args, expected] : cases) {
    EXPECT_EQ(parse_error(args), expected) << ::testing::PrintToString(args);
  }
}

TEST(ParseInvocation, DefaultsWithoutArguments) {
  const Invocation invocation = parse_invocation({}).value();
  EXPECT_EQ(invocation.command, "run");
  EXPECT_EQ(invocation.config_path, "zeviziz.ini");
  EXPECT_EQ(invocation.ast_file, "");
  EXPECT_TRUE(invocation.ast_targets.empty());
  EXPECT_TRUE(invocation.log_fields.empty());
  EXPECT_FALSE(invocation.select.has_value());
  EXPECT_EQ(invocation.watch_seconds, 0u);
}

TEST(ParseInvocation, WatchValues) {
  const std::vector<std::pair<Args, uint64_t>> cases = {{{"--watch"}, 1},
                                                        {{"--watch", "+5"}, 5},
                                                        {{"--watch", "007"}, 7},
                                                        {{"--watch", "3600"}, 3600}};
  for (const auto& [args, seconds] : cases) {
    EXPECT_EQ(parse_invocation(args).value().watch_seconds, seconds) << args.back();
  }
}

TEST(ParseInvocation, ValuesAreKeptInOrder) {
  Invocation run = parse_invocation({"--log", "path", "path", "time", "--select", "b.html",
                                     "a.html", "--config", "..\\other.ini", "--watch", "2"})
                       .value();
  EXPECT_EQ(run.log_fields, (Args{"path", "path", "time"}));
  EXPECT_EQ(run.select, (Args{"b.html", "a.html"}));
  EXPECT_EQ(run.config_path, "../other.ini");
  EXPECT_EQ(run.watch_seconds, 2u);

  Invocation ast = parse_invocation({"--ast", "index.html", "before", "before", "after-json",
                                     "--config", "x.ini"})
                       .value();
  EXPECT_EQ(ast.command, "ast");
  EXPECT_EQ(ast.ast_file, "index.html");
  EXPECT_EQ(ast.ast_targets, (Args{"before", "before", "after-json"}));
  EXPECT_EQ(ast.config_path, "x.ini");

  EXPECT_EQ(parse_invocation({"--reset", "--config", "other.ini"}).value().command, "reset");
  EXPECT_EQ(parse_invocation({"--version", "--config", "x"}).value().command, "version");
}

TEST(FixedTexts, HelpAndDefaultConfiguration) {
  const std::string_view help = help_text();
  EXPECT_TRUE(help.starts_with("zeviziz\n\nMirror in_directory and compile Velt-enabled files"));
  EXPECT_TRUE(help.ends_with("      Example:\n        zeviziz --log path count"));
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 62);
  EXPECT_EQ(version_text(), "0.0.40");

  const std::string_view config = default_config_text();
  EXPECT_EQ(config.size(), 1981u);
  EXPECT_EQ(std::count(config.begin(), config.end(), '\n'), 63);
  EXPECT_EQ(config.find('\r'), std::string_view::npos);
  EXPECT_TRUE(config.starts_with("[velt]\nin_directory='src'\n"));
  EXPECT_NE(config.find("hash_comment[]=\"#\",'\\n'\n"), std::string_view::npos);
  EXPECT_TRUE(config.ends_with("at-rule[xx-large]='@media(min-width:1536px)'"));
}

TEST(RunInvocation, HelpAndVersionPrintWithALineFeed) {
  std::string out;
  set_stdout_capture(&out);
  Invocation invocation;
  invocation.command = "version";
  EXPECT_TRUE(run_invocation(invocation).ok());
  invocation.command = "help";
  EXPECT_TRUE(run_invocation(invocation).ok());
  set_stdout_capture(nullptr);
  EXPECT_EQ(out, "0.0.40\n" + std::string(help_text()) + "\n");
}

}  // namespace
}  // namespace zeviziz
