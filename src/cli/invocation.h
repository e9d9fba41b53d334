// Parsing of the command line into an `Invocation` (defined with the
// runner, which takes it).
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "runner/invocation.h"

namespace zeviziz {

// Parses the arguments (without the program name). Fails with the message of
// the first problem found, e.g. "Unknown option: " + name.
Result<Invocation> parse_invocation(const std::vector<std::string>& args);

}  // namespace zeviziz
