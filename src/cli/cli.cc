// The command line's entry: turns argv into an Invocation, performs the
// commands that need no project (help, version, init) and hands the others
// to the runner with the log positions set. Every failure ends here as
// "zeviziz: " + message on standard error and exit status 1.
#include "cli/cli.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/help.h"
#include "cli/init.h"
#include "log/log.h"
#include "runner/cycle.h"
#include "runner/driver.h"

namespace zeviziz {
namespace {

// Runs reset, ast or the build with logging set up, keeping any task line
// that is left open from running into later output.
Status run_project_command(const Invocation& invocation) {
  set_log_positions(log_positions_from_fields(invocation.log_fields));
  close_open_line();
  Status status =
      invocation.command == "run" ? run_build_command(invocation) : run_driver(invocation);
  close_open_line();
  return status;
}

}  // namespace

Status run_invocation(const Invocation& invocation) {
  if (invocation.command == "help") {
    write_stdout(std::string(help_text()) + "\n");
    return {};
  }
  if (invocation.command == "version") {
    write_stdout(std::string(version_text()) + "\n");
    return {};
  }
  if (invocation.command == "init") return run_init();
  return run_project_command(invocation);
}

void report_error(std::string_view message) {
  std::fflush(stdout);
  std::string line = "zeviziz: ";
  line.append(message).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

int run_cli(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  Result<Invocation> invocation = parse_invocation(args);
  Status status = invocation.ok() ? run_invocation(*invocation) : Status(invocation.take_error());
  if (status.ok()) return 0;
  report_error(status.error());
  return 1;
}

}  // namespace zeviziz
