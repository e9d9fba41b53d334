// The build command: one build, or repeated builds in watch mode.
#pragma once

#include "base/result.h"
#include "runner/invocation.h"

namespace zeviziz {

// Builds the project (command `run`); returns the first error. In watch mode
// it returns only when polling the configuration file fails.
Status run_build_command(const Invocation& invocation);

}  // namespace zeviziz
