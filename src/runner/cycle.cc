// The build command. It loads the configuration, normalises the selection,
// opens the build state and runs build cycles: each cycle decides the
// pipeline's switches, scans the input tree, prunes the first cycle of a
// newly opened state, and runs the pipeline only when something changed,
// then prints the report lines of --log. In watch mode it sleeps between
// cycles and reloads the configuration (with a new build state) when the
// configuration file's last-write time changes; failures of a cycle or a
// reload are printed and the loop goes on.
#include "runner/cycle.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "config/load.h"
#include "fs/file_ops.h"
#include "fs/scan.h"
#include "log/log.h"
#include "runner/build.h"
#include "runner/build_support.h"
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

// One build cycle: switches, scan, first-cycle pruning, and the pipeline
// when there is anything to do.
Result<BuildReport> run_cycle(BuildState& state, const std::optional<Selection>& selection) {
  // Each directory is checked for links once per cycle, not once per file.
  PathCheckScope path_checks;
  const ProjectConfig& config = state.config;
  ZV_TRY_STATUS(check_generated_paths(config));
  const bool fresh = needs_fresh_build(state);
  ZV_TRY(ScanResult scan,
         scan_sources(state.known, config.in_directory, config.exclude, selection, fresh));
  bool force_css = false;
  if (state.newly_opened) {
    force_css = !is_file(config.cache_file);
    if (!fresh) {
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

// Sleeps, then reloads the project when the configuration file changed.
// Only the query of the configuration file's time ends watch mode.
Status wait_and_reload(const Invocation& invocation, Stamp& stamp, BuildState& state) {
  std::this_thread::sleep_for(std::chrono::seconds(invocation.watch_seconds));
  ZV_TRY(Stamp now, file_mtime(invocation.config_path));
  if (now == stamp) return {};
  stamp = now;
  Result<BuildState> reloaded = load_project(invocation.config_path, stamp);
  if (reloaded.ok()) {
    state = std::move(reloaded).value();
  } else {
    print_error(reloaded.error());
  }
  return {};
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
  const bool watching = invocation.watch_seconds != 0;
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
  for (;;) {
    Result<BuildReport> built = run_cycle(state, selection);
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
    ZV_TRY_STATUS(wait_and_reload(invocation, stamp, state));
  }
}

}  // namespace zeviziz
