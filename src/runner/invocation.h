// The parsed command line, as the run driver takes it. The command-line
// module fills it in; the runner only reads it, so this record lives with
// the runner and the command-line code sits above both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zeviziz {

struct Invocation {
  // One of run, help, version, init, reset, ast.
  std::string command = "run";
  // The configuration file, relative to the working directory unless absolute.
  std::filesystem::path config_path = "zeviziz.ini";
  // The first value after the command option (the template for ast).
  std::string ast_file;
  // The --ast values after the first, in order, repetitions kept.
  std::vector<std::string> ast_targets;
  // The --log values in order, repetitions kept.
  std::vector<std::string> log_fields;
  // The --select values in order, when the option was given.
  std::optional<std::vector<std::string>> select;
  // 0: no watching; otherwise the polling interval, 1 to 3600 seconds.
  uint64_t watch_seconds = 0;
};

}  // namespace zeviziz
