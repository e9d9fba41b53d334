// Placeholder for the build command until the build cycle is implemented: it
// always fails so that no build pretends to have run.
#include "runner/cycle.h"

namespace zeviziz {

Status run_build_command(const Invocation&) {
  return make_error("Building is not available in this build yet");
}

}  // namespace zeviziz
