// Opening the build state: a state for the configuration is created with the
// configured directories recorded; when the cache file is a regular file it
// is read, decoded and entered into the registry, the per-file records and
// the per-file reuse table. Also holds the first-cycle pruning, which needs
// the state's records and output times.
#include "state/build_state.h"

#include <algorithm>
#include <utility>

#include "log/log.h"

namespace zeviziz {
namespace {

BuildState new_state(const ProjectConfig& config, std::optional<FileTime> config_stamp) {
  BuildState state;
  state.config = config;
  state.config_stamp = config_stamp;
  state.recorded_in_directory = config.in_directory;
  state.recorded_out_directory = config.out_directory;
  return state;
}

Result<DecodedCache> decode_task(std::string_view bytes) {
  TaskGuard task = task_start("cache.decode");
  return decode_cache(bytes);
}

Status restore_task(BuildState& state, DecodedCache cache) {
  TaskGuard task = task_start("cache.restore");
  return restore_cache(state, std::move(cache));
}

// Whether one changed entry survives pruning; records it as processed when
// it does not.
Result<bool> keep_entry(BuildState& state, const ChangedFile& entry, bool force_css,
                        const CompiledKindTest& is_compiled) {
  // Scan paths are plain relative paths, so joining cannot leave
  // out_directory; the link test of `mtime` covers the whole output path,
  // and each output is read once. Joined as text, as a Path would join it
  // (backslashes separate too), without building one per file.
  std::string output = join_path_text(state.config.out_directory.native(), entry.path);
  std::replace(output.end() - static_cast<std::ptrdiff_t>(entry.path.size()), output.end(), '\\',
               '/');
  ZV_TRY(std::optional<FileTime> output_time, file_mtime_at(output));
  if (!output_time || entry.time > *output_time) return true;
  bool keep = is_compiled(entry.path) ? force_css : state.records.contains(entry.path);
  if (keep) return true;
  state.output_times[entry.path] = *output_time;
  mark_processed(state.known, entry.path, entry.time);
  return false;
}

}  // namespace

Result<BuildState> open_build_state(const ProjectConfig& config,
                                    std::optional<FileTime> config_stamp) {
  TaskGuard task = task_start("memory.load");
  BuildState state = new_state(config, config_stamp);
  if (!is_file(config.cache_file)) return state;
  ZV_TRY(std::string bytes, read_file(config.cache_file));
  std::string prefix = "Invalid cache " + display_path(config.cache_file) + ": ";
  Result<DecodedCache> decoded = decode_task(bytes);
  if (!decoded.ok()) return prefix_error(prefix, decoded.take_error());
  Status restored = restore_task(state, std::move(decoded).value());
  if (!restored.ok()) return prefix_error(prefix, restored.take_error());
  return state;
}

Status restore_cache(BuildState& state, DecodedCache cache) {
  for (const auto& [id, entry] : cache.rules) {
    ZV_TRY(Rule rule, rule_from_cache(cache, id));
    insert_restored(state.registry, id, rule);
    insert_restored(state.reuse.rules, id, rule);
  }
  state.records = cache.files.to_records();
  state.reuse.files = std::move(cache.files);
  state.restored = true;
  return {};
}

IdHistory reuse_history(const ReuseTable& reuse, const std::string& path) {
  IdHistory history;
  const std::span<const uint64_t> ids = reuse.files.find(path);
  if (ids.empty()) return history;
  history.catalog = &reuse.rules.catalog;
  for (uint64_t id : ids) {
    const RuleKey* key = rule_key(reuse.rules, id);
    if (key != nullptr) history.ids[*key].push_back(id);
  }
  return history;
}

Path in_progress_marker(const ProjectConfig& config) {
  Path marker = config.cache_file;
  marker += ".building";
  return marker;
}

bool needs_fresh_build(const BuildState& state) {
  return !path_equal(state.recorded_in_directory, state.config.in_directory) ||
         !path_equal(state.recorded_out_directory, state.config.out_directory);
}

std::optional<FileTime> expected_output_time(const BuildState& state, const RemovedFile& file) {
  auto found = state.output_times.find(file.path);
  if (found != state.output_times.end()) return found->second;
  return file.recorded_time;
}

Status prune_first_cycle(BuildState& state, std::vector<ChangedFile>& changed, bool force_css,
                         const CompiledKindTest& is_compiled) {
  std::vector<ChangedFile> kept;
  kept.reserve(changed.size());
  // Most entries of a first cycle with nothing edited are dropped, each
  // storing its output's time.
  state.output_times.reserve(state.output_times.size() + changed.size());
  for (const ChangedFile& entry : changed) {
    ZV_TRY(bool keep, keep_entry(state, entry, force_css, is_compiled));
    if (keep) kept.push_back(entry);
  }
  changed = std::move(kept);
  return {};
}

}  // namespace zeviziz
