#include "cli/cli.h"
namespace zeviziz {
int run_cli(int, char**) { return 1; }
}  // namespace zeviziz
