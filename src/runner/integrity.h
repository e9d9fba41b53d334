// The checks a build cycle makes before it trusts the outputs on disk: a
// write phase that did not finish, a missing CSS file or output directory,
// and a configuration newer than the outputs. Any of them makes the cycle
// rebuild every output and the CSS and cache files.
#pragma once

#include "base/result.h"
#include "state/build_state.h"

namespace zeviziz {

// Why a cycle rebuilds every output instead of trusting the ones on disk.
struct RebuildReasons {
  bool interrupted = false;     // the in-progress marker exists
  bool css_missing = false;     // css_file is missing
  bool out_missing = false;     // out_directory is missing
  bool config_changed = false;  // see BuildState::config_changed

  bool any() const { return interrupted || css_missing || out_missing || config_changed; }
};

// Runs the per-cycle checks (`exists` on the marker and on css_file, `is-dir`
// on out_directory) and, on the first cycle of a newly opened state, compares
// the configuration file's and the cache file's last-write times (`mtime`),
// setting `state.config_changed` when the configuration is newer. Fails with
// an mtime error.
Result<RebuildReasons> check_outputs(BuildState& state);

// Removes the temporary files a write phase that did not finish left in the
// output tree and beside the CSS, cache and signal files. Fails with the
// first read-dir or remove-file error.
Status remove_leftover_temporaries(const ProjectConfig& config);

}  // namespace zeviziz
