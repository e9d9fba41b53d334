// The build command. It loads the configuration, normalises the selection,
// opens the build state and runs build cycles: each cycle decides the
// pipeline's switches, scans the input tree, prunes the first cycle of a
// newly opened state, and runs the pipeline only when something changed,
// then prints the report lines of --log. In watch mode it waits between
// cycles and reloads the configuration (with a new build state) when the
// configuration file's last-write time changes; failures of a cycle or a
// reload are printed and the loop goes on. The wait ends at the first
// file-system notification (after a short settle time) or after the
// interval; without notifications it sleeps the interval. While the
// notifications are complete, a cycle scans only the notified paths (none
// when the interval passed quietly); every other cycle scans the whole tree.
#include "runner/cycle.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "config/load.h"
#include "fs/file_ops.h"
#include "fs/scan.h"
#include "fs/watcher.h"
#include "fs/write_batch.h"
#include "log/log.h"
#include "runner/build.h"
#include "runner/build_support.h"
#include "runner/integrity.h"
#include "runner/project_lock.h"
#include "state/build_state.h"
#include "template/compile.h"

namespace zeviziz {
namespace {

using Stamp = std::optional<FileTime>;

// True when `a` and `b` have the same components once made absolute.
bool same_components(const Path& a, const Path& b) {
  std::error_code ec_a;
  std::error_code ec_b;
  Path abs_a = std::filesystem::absolute(a, ec_a);
  Path abs_b = std::filesystem::absolute(b, ec_b);
  if (ec_a || ec_b) return path_equal(a, b);
  return path_equal(abs_a, abs_b);
}

Status check_generated_paths(const ProjectConfig& config) {
  const Path& config_path = config.config_path;
  if (same_components(config_path, config.css_file) ||
      same_components(config_path, config.cache_file) ||
      (config.signal_file && same_components(config_path, *config.signal_file))) {
    return make_error("Generated files must not overwrite configuration");
  }
  return {};
}

bool is_compiled_kind(const ProjectConfig& config, std::string_view template_path) {
  const TemplateDef* def = find_template_for_path(config, template_path);
  return def != nullptr && needs_compiling(config, *def);
}

// One build cycle: checks of the outputs on disk, switches, scan,
// first-cycle pruning, and the pipeline when there is anything to do. With a
// `limit`, the scan looks only at the paths it names (the scan ignores it
// when the build is fresh). A cycle that cannot trust the outputs on disk
// (an unfinished write phase, a missing CSS file or output directory, a
// changed configuration) rebuilds every output and the CSS and cache files.
Result<BuildReport> run_cycle(BuildState& state, const std::optional<Selection>& selection,
                              const ScanLimit* limit) {
  // Each directory is checked for links once per cycle, not once per file.
  PathCheckScope path_checks;
  const ProjectConfig& config = state.config;
  ZV_TRY_STATUS(check_generated_paths(config));
  ZV_TRY(RebuildReasons reasons, check_outputs(state));
  if (reasons.interrupted) ZV_TRY_STATUS(remove_leftover_temporaries(config));
  // After an unfinished write phase neither the outputs nor the cache file
  // can be trusted to match each other: build as a clean build does, from an
  // empty registry and without the numbers the cache offers.
  const bool fresh = needs_fresh_build(state) || reasons.interrupted;
  if (reasons.interrupted) state.reuse.clear();
  const bool rebuild_all = reasons.any();
  // A newly opened state knows no files yet: only a full scan lists them.
  if (state.newly_opened || rebuild_all) limit = nullptr;
  // A selection still limits the files processed; the CSS file is rebuilt
  // from the records of the others.
  const bool forced = fresh || (rebuild_all && !selection);
  ZV_TRY(ScanResult scan,
         scan_sources(state.known, config.in_directory, config.exclude, selection, forced, limit));
  bool force_css = rebuild_all;
  if (state.newly_opened) {
    force_css = !is_file(config.cache_file) || force_css;
    if (!fresh && !rebuild_all) {
      auto is_compiled = [&config](std::string_view path) {
        return is_compiled_kind(config, path);
      };
      ZV_TRY_STATUS(prune_first_cycle(state, scan.changed, force_css, is_compiled));
    }
  }
  BuildReport report;
  if (!scan.changed.empty() || !scan.removed.empty() || fresh || force_css) {
    ZV_TRY(BuildReport built, run_build(state, scan, fresh, force_css));
    report = std::move(built);
  }
  state.newly_opened = false;
  state.config_changed = false;
  return report;
}

bool wants_report(const std::vector<std::string>& fields) {
  for (const std::string& field : fields) {
    if (field == "path" || field == "time" || field == "count") return true;
  }
  return false;
}

// One line per report entry with the fields of --log in their order.
void print_report(const BuildReport& report, const std::vector<std::string>& fields) {
  if (report.empty()) return;
  close_open_line();
  const std::string seconds = time_text_now();
  std::string text;
  for (const ReportEntry& entry : report) {
    const std::string count = std::to_string(entry.count);
    bool first = true;
    for (const std::string& field : fields) {
      const std::string* piece = field == "path"    ? &entry.path
                                 : field == "time"  ? &seconds
                                 : field == "count" ? &count
                                                    : nullptr;
      if (piece == nullptr) continue;
      if (!first) text += ' ';
      text += *piece;
      first = false;
    }
    text += '\n';
  }
  write_stdout(text);
}

// Watch mode's own error output; the loop goes on after it.
void print_error(const std::string& message) {
  close_open_line();
  std::fflush(stdout);
  std::string line = "zeviziz: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

Result<BuildState> load_project(const Path& config_path, Stamp stamp) {
  ZV_TRY(ProjectConfig config, load_config(config_path));
  return open_build_state(config, stamp);
}

// Watch mode's warnings; they go to standard error and the loop goes on.
void print_warning(const std::string& message) {
  close_open_line();
  std::fflush(stdout);
  std::string line = "zeviziz: warning: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// How watch mode waits: for notifications while a watcher runs, by sleeping
// the interval once notifications turned out to be unavailable.
struct Waiting {
  std::unique_ptr<Watcher> watcher;
  bool polling = false;
};

// Leaves notifications for good and says so, once.
void fall_back_to_polling(Waiting& waiting, const std::string& reason) {
  waiting.watcher.reset();
  waiting.polling = true;
  print_warning("file-system notifications are unavailable (" + reason +
                "), checking for changes every interval instead");
}

// Starts watching the configured tree and the configuration file, unless
// watch mode already polls. The environment variable ZEVIZIZ_NO_INOTIFY
// (set and not empty) turns notifications off, so that tests can cover
// the polling fallback.
void start_watching(Waiting& waiting, const Invocation& invocation, const ProjectConfig& config) {
  if (waiting.polling) return;
  const char* disabled = std::getenv("ZEVIZIZ_NO_INOTIFY");
  if (disabled != nullptr && *disabled != '\0') {
    fall_back_to_polling(waiting, "ZEVIZIZ_NO_INOTIFY is set");
    return;
  }
  Result<std::unique_ptr<Watcher>> started =
      Watcher::start(config.in_directory, config.exclude, invocation.config_path);
  if (!started.ok()) {
    fall_back_to_polling(waiting, started.error());
    return;
  }
  waiting.watcher = std::move(started).value();
}

// Waits for the next cycle: until a notification or the interval, or the
// whole interval when polling. Returns the paths the next cycle may limit its
// scan to (none when the interval passed without a change), or nothing when
// it must scan everything (the notified set is incomplete, or notifications
// are unavailable).
std::optional<ScanLimit> wait_for_change(Waiting& waiting, uint64_t seconds) {
  // At most ten years, so that deadlines stay within the clocks' range.
  const std::chrono::seconds interval(std::min<uint64_t>(seconds, 315'360'000));
  if (waiting.watcher == nullptr) {
    std::this_thread::sleep_for(interval);
    return std::nullopt;
  }
  Result<WatchResult> woken = waiting.watcher->wait(interval);
  if (!woken.ok()) {
    fall_back_to_polling(waiting, woken.error());
    return std::nullopt;
  }
  if (!woken->complete) return std::nullopt;
  return std::move(woken->paths);
}

// Waits, then reloads the project when the configuration file changed.
// Returns what wait_for_change returned, or nothing (a full scan) when the
// configuration changed. Only the query of the configuration file's time
// ends watch mode.
Result<std::optional<ScanLimit>> wait_and_reload(const Invocation& invocation, Stamp& stamp,
                                                 BuildState& state, Waiting& waiting) {
  std::optional<ScanLimit> limit = wait_for_change(waiting, invocation.watch_seconds);
  ZV_TRY(Stamp now, file_mtime(invocation.config_path));
  if (now == stamp) return limit;
  stamp = now;
  Result<BuildState> reloaded = load_project(invocation.config_path, stamp);
  if (reloaded.ok()) {
    state = std::move(reloaded).value();
    start_watching(waiting, invocation, state.config);
  } else {
    print_error(reloaded.error());
  }
  return std::optional<ScanLimit>();
}

// A one-shot run ends right after its build. Its state holds one small
// allocation per rule, text and file record; freeing them one by one costs
// more than the rest of a no-change run, so the state is parked in a place
// that stays reachable until the process exits and is never destroyed.
void keep_until_exit(BuildState&& state) {
  static BuildState* parked = nullptr;
  delete parked;
  parked = new BuildState(std::move(state));
}

}  // namespace

Status run_build_command(const Invocation& invocation) {
  install_interrupt_cleanup();
  const bool watching = invocation.watch_seconds != 0;
  // Held while a cycle runs (and while the first one loads the project),
  // released between watch cycles.
  ProjectLock lock(invocation.config_path);
  lock.acquire();
  Stamp stamp;
  if (watching) {
    ZV_TRY(Stamp first, file_mtime(invocation.config_path));
    stamp = first;
  }
  ZV_TRY(ProjectConfig config, load_config(invocation.config_path));
  std::optional<Selection> selection;
  if (invocation.select) {
    ZV_TRY(Selection normalized, normalize_selection(*invocation.select));
    selection = std::move(normalized);
  }
  const bool report = wants_report(invocation.log_fields);
  ZV_TRY(BuildState state, open_build_state(config, stamp));
  // Watching starts before the first scan, so no change slips in between.
  Waiting waiting;
  if (watching) start_watching(waiting, invocation, state.config);
  // With every file-system operation logged, every cycle logs a full scan.
  const bool may_limit = log_positions().filesystem == kLogOff;
  std::optional<ScanLimit> limit;
  for (;;) {
    Result<BuildReport> built = run_cycle(state, selection, limit ? &*limit : nullptr);
    lock.release();
    if (!built.ok()) {
      if (!watching) return built.take_error();
      print_error(built.error());
    } else {
      if (report) print_report(*built, invocation.log_fields);
      if (!watching) {
        keep_until_exit(std::move(state));
        return {};
      }
    }
    const Stamp before = stamp;
    ZV_TRY(limit, wait_and_reload(invocation, stamp, state, waiting));
    // After a failure, files of the failed cycle are pending, and only a
    // full scan lists them again.
    if (!built.ok() || !may_limit) limit.reset();
    // A reloaded configuration may change any output.
    if (stamp != before && state.config_stamp == stamp) state.config_changed = true;
    lock.acquire();
  }
}

}  // namespace zeviziz
