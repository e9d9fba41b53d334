// Checks of the outputs on disk before a cycle trusts them. They cost a few
// metadata reads per cycle, not per file: the in-progress marker, the CSS
// file and the output directory each cycle, and the configuration and cache
// times once for a newly opened state.
#include "runner/integrity.h"

#include "fs/file_ops.h"
#include "fs/write_batch.h"

namespace zeviziz {

Result<RebuildReasons> check_outputs(BuildState& state) {
  const ProjectConfig& config = state.config;
  RebuildReasons reasons;
  reasons.interrupted = file_exists(in_progress_marker(config));
  reasons.css_missing = !file_exists(config.css_file);
  reasons.out_missing = !is_dir(config.out_directory);
  if (state.newly_opened && !state.config_changed) {
    ZV_TRY(std::optional<FileTime> config_time, file_mtime(config.config_path));
    ZV_TRY(std::optional<FileTime> cache_time, file_mtime(config.cache_file));
    state.config_changed = config_time && cache_time && *config_time > *cache_time;
  }
  reasons.config_changed = state.config_changed;
  return reasons;
}

Status remove_leftover_temporaries(const ProjectConfig& config) {
  ZV_TRY_STATUS(remove_temporary_files(config.out_directory, true));
  std::vector<Path> others = {config.css_file, config.cache_file};
  if (config.signal_file) others.push_back(*config.signal_file);
  std::vector<Path> done;
  for (const Path& file : others) {
    Path directory = file.parent_path();
    if (directory.empty()) directory = ".";
    if (path_within(directory, config.out_directory)) continue;
    bool seen = false;
    for (const Path& earlier : done) seen = seen || path_equal(earlier, directory);
    if (seen) continue;
    ZV_TRY_STATUS(remove_temporary_files(directory, false));
    done.push_back(directory);
  }
  return {};
}

}  // namespace zeviziz
