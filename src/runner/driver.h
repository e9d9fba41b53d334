// The run driver: the reset and ast commands.
#pragma once

#include "base/result.h"
#include "runner/invocation.h"

namespace zeviziz {

// Performs `reset` or `ast` for the invocation; returns the first error.
Status run_driver(const Invocation& invocation);

}  // namespace zeviziz
