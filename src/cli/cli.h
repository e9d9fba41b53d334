// Program entry: parses the command line, performs help, version and init,
// and hands reset, ast and the build to the runner.
#pragma once

#include <string_view>

#include "base/result.h"
#include "cli/invocation.h"

namespace zeviziz {

// Performs the parsed command; returns its error, if any. help and version
// print their text; run, reset and ast set the log positions first.
Status run_invocation(const Invocation& invocation);

// Writes "zeviziz: " + message + line feed to standard error after flushing
// standard output.
void report_error(std::string_view message);

// Runs the program for `argv`; returns the process exit status (0 on
// success, 1 after reporting an error).
int run_cli(int argc, char** argv);

}  // namespace zeviziz
