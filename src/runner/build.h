// The build pipeline: one build of the changed and removed files of a scan,
// from compiling templates and numbering their rules to writing the outputs,
// the CSS file, the cache file and the signal file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/result.h"
#include "fs/scan.h"
#include "state/build_state.h"

namespace zeviziz {

// One processed file of a build: its template path and the number of
// distinct class IDs its output uses (0 for plain files).
struct ReportEntry {
  std::string path;
  size_t count = 0;
};

// The processed files of one build, in processing order.
using BuildReport = std::vector<ReportEntry>;

// Runs one build (task "compile.process") with the configuration held by
// `state`: compiles the changed templates, copies the changed plain files,
// and only when everything compiled writes the outputs, removes the outputs
// of removed files, and writes the CSS, cache and signal files as needed.
// `fresh` starts from an empty registry; `force_css` regenerates CSS and
// cache even when no class ID set changed. On success `state` holds the
// registry and records for the next build. Fails with the first error
// ("Template output conflicts with another output: " + path, a template path
// + ": " + compile or rule error, a directive service error, a read, copy or
// write error, a cache encoding error); a failure before writing writes
// nothing and leaves the state's registry as it was before the build.
Result<BuildReport> run_build(BuildState& state, const ScanResult& scan, bool fresh,
                              bool force_css);

}  // namespace zeviziz
