// Command line entry (placeholder until the command line lands).
#pragma once
namespace zeviziz {
// Runs the program for `argv`; returns the process exit status.
int run_cli(int argc, char** argv);
}  // namespace zeviziz
