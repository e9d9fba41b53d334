// The build state: everything that carries over from one build to the next
// within a run (the registry, the per-file class IDs, the known files of the
// scan, the output times) and its opening from the cache file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "css/registry.h"
#include "fs/file_ops.h"
#include "fs/scan.h"
#include "state/cache.h"

namespace zeviziz {

// The rules each file's previous output used, as the previous build knew
// them; offered to the file's ID history when it is compiled again. Each
// rule is held once, in `rules`, however many files used it.
struct ReuseTable {
  Registry rules;
  FileTable files;  // template path -> IDs of `rules`, paths ascending

  void clear() { *this = ReuseTable{}; }
};

// The ID history of `path` from `reuse`: each ID of the file's record under
// the key of its rule, ascending. Empty when the file has no record.
IdHistory reuse_history(const ReuseTable& reuse, const std::string& path);

struct BuildState {
  // The configuration the state was opened with, and its file's stamp.
  ProjectConfig config;
  std::optional<FileTime> config_stamp;
  // Directories of the last successful build. A new state starts with the
  // configured ones, so a later run of an unchanged project is incremental.
  Path recorded_in_directory;
  Path recorded_out_directory;
  // Set when opened, cleared by the first successful build.
  bool newly_opened = true;
  // Set when the configuration changed since the outputs were made (watch
  // mode reloaded it, or it is newer than the cache file); cleared by a
  // successful cycle. Such a cycle rebuilds every output.
  bool config_changed = false;
  // Set when the registry and records came from the cache file; cleared by a
  // successful build.
  bool restored = false;
  KnownFiles known;
  Registry registry;
  // Class IDs used by each output file of the previous build (template path
  // -> ascending IDs); files using none have no record.
  FileRecords records;
  // Filled from the cache; emptied by the first successful build.
  ReuseTable reuse;
  // Output last-write times recorded after each write or copy (and by
  // pruning), keyed by template path.
  std::unordered_map<std::string, FileTime> output_times;
};

// Tasks "memory.load", "cache.decode" and "cache.restore": opens the build
// state for `config`. When `cache_file` is not a regular file (missing, a
// directory or a link) the state starts empty. Fails with the read error of
// the cache file, or with "Invalid cache " + display path + ": " + the
// decoding message; the cache file itself is left untouched.
Result<BuildState> open_build_state(const ProjectConfig& config,
                                    std::optional<FileTime> config_stamp);

// Enters the decoded cache into `state`: rules into the registry under their
// numbers (counter = largest number), file sets as records and reuse
// entries; sets `restored`. Fails with the rule construction's message.
Status restore_cache(BuildState& state, DecodedCache cache);

// True when the recorded directories differ (by components) from the
// configured in_directory and out_directory: the next build starts from an
// empty registry and scans every file as changed.
bool needs_fresh_build(const BuildState& state);

// The time the output of a vanished file is expected to still have: the one
// recorded after its last write, else the source time recorded for it.
std::optional<FileTime> expected_output_time(const BuildState& state, const RemovedFile& file);

// The file that marks a write phase in progress: the cache file's path with
// ".building" appended. It exists from before the first output changes until
// the CSS, cache and signal files are written.
Path in_progress_marker(const ProjectConfig& config);

// Tells whether a template path selects a template kind that is compiled.
using CompiledKindTest = std::function<bool(std::string_view template_path)>;

// Filters the changed list of the first cycle of a newly opened state (the
// caller runs it only then, and only when the build is not fresh). An entry
// stays when its output under out_directory is missing or older than the
// source; otherwise a compiled template stays only when `force_css` is on
// and any other file only when it has a record. A dropped entry counts as
// processed: its output time and source time are recorded. Fails with a
// mtime error.
Status prune_first_cycle(BuildState& state, std::vector<ChangedFile>& changed, bool force_css,
                         const CompiledKindTest& is_compiled);

}  // namespace zeviziz
