// The template path of a build on one thread: reading, compiling,
// processing and numbering every template file of a generated project (see
// gen_project.py), without writing anything. Reports the template bytes
// compiled per second and the heap allocations per style region.
//
//   python3 bench/gen_project.py /dev/shm/p 2000
//   ZEVIZIZ_BENCH_PROJECT=/dev/shm/p build-rel/engine_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "allocation_counter.h"
#include "config/load.h"
#include "fs/scan.h"
#include "runner/compile.h"
#include "template/compile.h"

namespace zeviziz {
namespace {

struct Project {
  ProjectConfig config;
  std::vector<ChangedFile> files;
  size_t template_bytes = 0;
  size_t regions = 0;
};

// Loads the project, lists its files and counts the template bytes and the
// style regions they hold.
std::optional<Project> load_project(std::string& error) {
  const char* dir = std::getenv("ZEVIZIZ_BENCH_PROJECT");
  if (dir == nullptr || ::chdir(dir) != 0) {
    error = "set ZEVIZIZ_BENCH_PROJECT to a project made by gen_project.py";
    return std::nullopt;
  }
  Result<ProjectConfig> config = load_config("zeviziz.ini");
  if (!config.ok()) {
    error = config.error();
    return std::nullopt;
  }
  Project project{std::move(config).value(), {}, 0, 0};
  KnownFiles known;
  Result<ScanResult> scan =
      scan_sources(known, project.config.in_directory, project.config.exclude, std::nullopt, true);
  if (!scan.ok()) {
    error = scan.error();
    return std::nullopt;
  }
  project.files = scan->changed;
  TemplateCompiler compiler(project.config, {"at", "copy", "id"});
  for (const ChangedFile& file : project.files) {
    const TemplateDef* def = find_template_for_path(project.config, file.path);
    if (def == nullptr || !needs_compiling(project.config, *def)) continue;
    Result<std::string> text = read_file(project.config.in_directory / file.path);
    if (!text.ok()) continue;
    project.template_bytes += text->size();
    Result<Node> tree = compiler.compile(*text, *def);
    if (!tree.ok()) continue;
    for (const Node& child : tree->children) project.regions += child.kind == NodeKind::Velt;
  }
  return project;
}

void BM_TemplatePathOneThread(benchmark::State& state) {
  std::string error;
  static std::optional<Project> project = load_project(error);
  if (!project) {
    state.SkipWithError(error.c_str());
    return;
  }
  ::setenv("ZEVIZIZ_JOBS", "1", 1);
  uint64_t allocations = 0;
  for (auto _ : state) {
    Registry registry;
    ReuseTable reuse;
    const uint64_t before = bench::allocation_count.load();
    Result<std::vector<FileRecord>> records =
        compile_files(project->config, registry, reuse, project->files);
    allocations += bench::allocation_count.load() - before;
    if (!records.ok()) {
      state.SkipWithError(records.error().c_str());
      return;
    }
    benchmark::DoNotOptimize(records);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * project->template_bytes));
  state.counters["regions"] = static_cast<double>(project->regions);
  state.counters["allocs_per_region"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations()) /
      static_cast<double>(project->regions == 0 ? 1 : project->regions);
}
BENCHMARK(BM_TemplatePathOneThread)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zeviziz
