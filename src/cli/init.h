// The --init command.
#pragma once

#include "base/result.h"

namespace zeviziz {

// Writes the default configuration to "zeviziz.ini" in the working directory
// and prints "Created zeviziz.ini.". Fails with "zeviziz.ini already exists"
// when anything of that name exists, or with the atomic write's error.
Status run_init();

}  // namespace zeviziz
