// The build pipeline. A build runs as a fixed sequence of timed tasks: it
// collects the IDs the previous build used, prepares the registry (empty,
// taken out of the state, or a retained copy of a restored one), compiles
// every changed file into a FileRecord (templates rendered with class lists
// in place of their style regions, plain files marked for copying), decides
// what must be regenerated, produces the CSS text, cache bytes and signal
// text, and only then writes anything. A failure before the writing phase
// writes nothing and gives the state back its registry as it was.
#include "runner/build.h"

#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "css/css_gen.h"
#include "css/media.h"
#include "css/registry.h"
#include "fs/write_batch.h"
#include "log/log.h"
#include "normalize/normalize.h"
#include "runner/build_support.h"
#include "runner/compile.h"
#include "state/cache.h"

namespace zeviziz {
namespace {

// Where the registry of a build came from; decides what a failure restores.
enum class RegistrySource { Fresh, TakenFromState, RetainedCopy };

struct PreparedRegistry {
  Registry registry;
  RegistrySource source = RegistrySource::Fresh;
  uint64_t counter_before = 0;
};

// The IDs used by the previous build's records: all of them, and those of
// the paths this build does not touch.
struct PreviousUse {
  IdSet all;
  IdSet untouched;
};

PreviousUse previous_use(const BuildState& state, const ScanResult& scan) {
  TaskGuard task = task_start("state.used");
  IdUsage usage(state.records);
  PreviousUse use;
  use.all = usage.ids();
  std::unordered_set<std::string_view> touched;
  touched.reserve(scan.changed.size() + scan.removed.size());
  for (const ChangedFile& file : scan.changed) {
    if (touched.insert(file.path).second) usage.drop(state.records, file.path);
  }
  for (const RemovedFile& file : scan.removed) {
    if (touched.insert(file.path).second) usage.drop(state.records, file.path);
  }
  use.untouched = usage.ids();
  return use;
}

PreparedRegistry prepare_registry(BuildState& state, const PreviousUse& use, bool fresh) {
  TaskGuard task = task_start("registry.prepare");
  PreparedRegistry prepared;
  if (fresh) return prepared;
  prepared.counter_before = state.registry.counter;
  if (!state.restored) {
    prepared.source = RegistrySource::TakenFromState;
    prepared.registry = std::move(state.registry);
    state.registry = Registry{};
    return prepared;
  }
  prepared.source = RegistrySource::RetainedCopy;
  // The restored registry reduced to the rules of untouched records.
  prepared.registry = retained_copy(state.registry, use.untouched);
  return prepared;
}

// Undoes a failed build: a registry taken out of the state goes back,
// retained to the IDs used before the build and with its old counter; any
// other registry was a private one and is dropped.
void give_back_registry(BuildState& state, PreparedRegistry& prepared, const IdSet& previous_used) {
  if (prepared.source != RegistrySource::TakenFromState) return;
  retain(prepared.registry, previous_used);
  prepared.registry.counter = prepared.counter_before;
  state.registry = std::move(prepared.registry);
}

// Everything a build writes besides the per-file outputs.
struct Generated {
  RebuildPlan plan;
  // Present when the state's records were rebuilt in place; undoes that.
  std::optional<RecordsUndo> undo;
  std::optional<std::string> css;
  std::optional<std::string> cache;
  std::optional<std::string> signal;
};

Result<std::string> encode_task(const Registry& registry, const FileRecords& records) {
  TaskGuard task = task_start("cache.encode");
  return encode_cache(registry, records);
}

std::optional<std::string> make_signal(const ProjectConfig& config,
                                       const std::vector<FileRecord>& processed,
                                       const std::vector<RemovedFile>& removed) {
  if (!config.signal_file || (processed.empty() && removed.empty())) return std::nullopt;
  std::vector<std::string> processed_paths;
  processed_paths.reserve(processed.size());
  for (const FileRecord& record : processed) processed_paths.push_back(record.path);
  std::vector<std::string> removed_paths;
  removed_paths.reserve(removed.size());
  for (const RemovedFile& file : removed) removed_paths.push_back(file.path);
  return signal_text(config.signal_content, time_text_now(), processed_paths, removed_paths);
}

// Decides what changed and produces the CSS text, the cache bytes and the
// signal text. Rebuilt records go straight into the state (undone when the
// build fails later); on failure here the state is as before.
Result<Generated> generate(BuildState& state, const Registry& registry, const PreviousUse& use,
                           const std::vector<FileRecord>& processed, const ScanResult& scan,
                           bool fresh, bool force_css) {
  Generated out;
  out.plan = plan_rebuild(state.records, use.all, use.untouched, processed, scan.removed, fresh,
                          force_css);
  if (out.plan.css) out.css = generate_css(registry, out.plan.used_now);
  if (out.plan.records) {
    out.undo = apply_record_changes(state.records, processed, scan.removed, fresh);
    Result<std::string> bytes = encode_task(registry, state.records);
    if (!bytes.ok()) {
      undo_record_changes(state.records, std::move(*out.undo));
      return bytes.take_error();
    }
    out.cache = std::move(bytes).value();
  }
  out.signal = make_signal(state.config, processed, scan.removed);
  return out;
}

// True for an entry under out_directory that stands in the way of a new
// output (a file where a directory must go, or the reverse) and is stale:
// the source at the same place is now of the other kind, so the entry is the
// output of a source that was removed or replaced.
StaleOutputTest stale_output_test(const ProjectConfig& config) {
  return [&config](const Path& output) {
    const Path relative = output.lexically_relative(config.out_directory);
    if (relative.empty() || *relative.begin() == "..") return false;
    return is_dir(config.in_directory / relative) != is_dir(output);
  };
}

// Records the last-write time of a renamed output for the removal check of a
// later build. When a template's source changed after the build read it, the
// output gets the source time the build saw, so that the output is not taken
// as newer than the edited source and the next run rebuilds it.
Status record_output(BuildState& state, const FileRecord& record, const Path& written) {
  ZV_TRY(std::optional<FileTime> time, file_mtime(written));
  if (record.output) {
    ZV_TRY(std::optional<FileTime> source_now, file_mtime(record.source_path));
    if (source_now != record.source_time) {
      ZV_TRY_STATUS(set_file_mtime(written, record.source_time));
      time = record.source_time;
    }
  }
  if (time) state.output_times[record.path] = *time;
  return {};
}

// The staging indices of the CSS, cache and signal files, when written.
struct GeneratedStaging {
  std::optional<size_t> css;
  std::optional<size_t> cache;
  std::optional<size_t> signal;
};

// Stages every output in list order, then the CSS, cache and signal files.
Result<GeneratedStaging> stage_all(WriteBatch& batch, const ProjectConfig& config,
                                   const std::vector<FileRecord>& processed,
                                   std::vector<Path>& written, const Generated& generated) {
  written.reserve(processed.size());
  for (const FileRecord& record : processed) {
    if (record.output) {
      ZV_TRY_STATUS(batch.stage_bytes(record.output_path, *record.output));
      written.push_back(record.output_path);
    } else {
      ZV_TRY(Path destination, resolve_inside(config.out_directory, record.path));
      ZV_TRY_STATUS(batch.stage_copy(record.source_path, destination));
      written.push_back(std::move(destination));
    }
  }
  GeneratedStaging staging;
  auto stage = [&batch](const Path& destination, const std::optional<std::string>& bytes,
                        std::optional<size_t>& index) -> Status {
    if (!bytes) return {};
    ZV_TRY(index, batch.stage_bytes(destination, *bytes));
    return {};
  };
  ZV_TRY_STATUS(stage(config.css_file, generated.css, staging.css));
  ZV_TRY_STATUS(stage(config.cache_file, generated.cache, staging.cache));
  if (config.signal_file)
    ZV_TRY_STATUS(stage(*config.signal_file, generated.signal, staging.signal));
  return staging;
}

// The writing phase as one batch: every file staged beside its destination,
// one flush, then the renames in list order with the removal of vanished
// outputs before the CSS, cache and signal files. The first failure stops it;
// the in-progress marker then stays once any destination has changed.
Status write_all(BuildState& state, const std::vector<FileRecord>& processed,
                 const ScanResult& scan, const Generated& generated) {
  const ProjectConfig& config = state.config;
  WriteBatch batch(in_progress_marker(config), stale_output_test(config));
  ZV_TRY_STATUS(batch.begin(processed.size() + 3));
  std::vector<Path> written;
  ZV_TRY(GeneratedStaging staging, stage_all(batch, config, processed, written, generated));
  ZV_TRY_STATUS(batch.flush());
  for (size_t i = 0; i < processed.size(); ++i) {
    ZV_TRY_STATUS(batch.rename_staged(i));
    ZV_TRY_STATUS(record_output(state, processed[i], written[i]));
  }
  for (const RemovedFile& file : scan.removed) {
    ZV_TRY_STATUS(
        remove_vanished_output(config.out_directory, file.path, expected_output_time(state, file)));
    state.output_times.erase(file.path);
  }
  for (const std::optional<size_t>& index : {staging.css, staging.cache, staging.signal}) {
    if (index) ZV_TRY_STATUS(batch.rename_staged(*index));
  }
  return batch.finish();
}

// Frees the bytes that are on disk now (pages, CSS, cache and signal texts)
// before the registry is trimmed, which briefly holds two copies of it.
void release_written(Generated& generated, std::vector<FileRecord>& processed) {
  for (FileRecord& record : processed) record.output.reset();
  generated.css.reset();
  generated.cache.reset();
  generated.signal.reset();
}

// Hands the registry to the state for the next build (the records are
// already there) and marks the processed files as unchanged.
void commit_state(BuildState& state, PreparedRegistry& prepared, const IdSet& previous_used,
                  const std::vector<FileRecord>& processed, const Generated& generated) {
  if (prepared.source == RegistrySource::TakenFromState &&
      generated.plan.used_now != previous_used) {
    retain(prepared.registry, generated.plan.used_now);
  }
  state.registry = std::move(prepared.registry);
  for (const FileRecord& record : processed) {
    mark_processed(state.known, record.path, record.source_time);
  }
  state.recorded_in_directory = state.config.in_directory;
  state.recorded_out_directory = state.config.out_directory;
  state.reuse.clear();
  state.restored = false;
}

BuildReport make_report(const std::vector<FileRecord>& processed) {
  BuildReport report;
  report.reserve(processed.size());
  for (const FileRecord& record : processed) {
    report.push_back(ReportEntry{record.path, record.class_ids.size()});
  }
  return report;
}

}  // namespace

Result<BuildReport> run_build(BuildState& state, const ScanResult& scan, bool fresh,
                              bool force_css) {
  TaskGuard task = task_start("compile.process");
  const PreviousUse use = previous_use(state, scan);
  PreparedRegistry prepared = prepare_registry(state, use, fresh);
  prepared.registry.at_rule_order = at_rule_order(state.config);
  Result<std::vector<FileRecord>> processed =
      compile_files(state.config, prepared.registry, state.reuse, scan.changed);
  Result<Generated> generated =
      processed.ok() ? generate(state, prepared.registry, use, *processed, scan, fresh, force_css)
                     : Result<Generated>(processed.take_error());
  Status written = generated.ok() ? write_all(state, *processed, scan, *generated)
                                  : Status(generated.take_error());
  if (!written.ok()) {
    if (generated.ok() && generated->undo) {
      undo_record_changes(state.records, std::move(*generated->undo));
    }
    give_back_registry(state, prepared, use.all);
    return written.take_error();
  }
  release_written(*generated, *processed);
  commit_state(state, prepared, use.all, *processed, *generated);
  return make_report(*processed);
}

}  // namespace zeviziz
