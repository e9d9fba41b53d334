// The compile stage of a build: every changed template file is read,
// compiled and turned into rules on worker threads, then one pass in
// file-list order claims the output paths, numbers the rules in the registry
// and renders the class lists, so that the result does not depend on the
// number of threads.
#pragma once

#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "css/registry.h"
#include "fs/scan.h"
#include "runner/build_support.h"
#include "state/build_state.h"

namespace zeviziz {

// Returns the number of threads that compile files: the value of the
// environment variable ZEVIZIZ_JOBS when it is a whole number from 1 to 256,
// else the number of processor cores (at least 1).
unsigned compile_threads();

// Compiles `files` (in scan order) into one FileRecord each: plain files are
// marked for copying, templates rendered with class lists from `registry`
// (numbered in file-list order, IDs reused through `reuse`). Log lines and
// registry changes come out as if the files were compiled one after another
// on one thread. Fails with the first error in file-list order: an output
// conflict, a directive service error, a read error, or a template path +
// ": " + compile or rule error.
Result<std::vector<FileRecord>> compile_files(const ProjectConfig& config, Registry& registry,
                                              const ReuseTable& reuse,
                                              const std::vector<ChangedFile>& files);

}  // namespace zeviziz
