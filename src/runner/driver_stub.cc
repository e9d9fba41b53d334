// Placeholder for the run driver until reset and ast are implemented: it
// always fails so that no command pretends to have run.
#include "runner/driver.h"

namespace zeviziz {

Status run_driver(const Invocation&) {
  return make_error("--reset and --ast are not available in this build yet");
}

}  // namespace zeviziz
