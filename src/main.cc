// Entry point: hands the arguments to the command line and exits with its
// status.
#include "cli/cli.h"

int main(int argc, char** argv) { return zeviziz::run_cli(argc, argv); }
