// Lexer throughput: plain template text, text dense with regions, and inputs
// where every "!" starts an attempt that fails late. Also reports the heap
// allocations per style region found (tree included).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "allocation_counter.h"
#include "lexer/lexer.h"

namespace zeviziz {
namespace {

constexpr size_t kSize = 1 << 20;

std::string repeat(std::string_view unit, size_t size) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
}

void run(benchmark::State& state, const std::string& text) {
  const Lexer lexer = new_lexer({"at", "copy", "id"});
  uint64_t allocations = 0;
  size_t regions = 0;
  for (auto _ : state) {
    const uint64_t before = bench::allocation_count.load();
    Node tree = lex(lexer, text);
    allocations += bench::allocation_count.load() - before;
    regions = 0;
    for (const Node& child : tree.children) regions += child.kind == NodeKind::Velt ? 1 : 0;
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  if (regions != 0) {
    state.counters["allocs_per_region"] = static_cast<double>(allocations) /
                                          static_cast<double>(state.iterations()) /
                                          static_cast<double>(regions);
  }
}

// The same with the trace the build asks for: region offsets and, for every
// attempt that looked like a region, the reason it failed.
void run_traced(benchmark::State& state, const std::string& text) {
  const Lexer lexer = new_lexer({"at", "copy", "id"});
  for (auto _ : state) {
    LexTrace trace;
    Node tree = lex(lexer, text, trace);
    benchmark::DoNotOptimize(tree);
    benchmark::DoNotOptimize(trace);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Attributes holding several regions each, as authors write them.
std::string dense_regions() {
  return repeat(
      "<a class=\"btn !{color:red} !at(medium){display:none} "
      "!:hover{color:blue;margin:0 auto}\">x</a>\n",
      kSize);
}

// Groups left open, closed only near the end, so every attempt fails late.
std::string nested_groups_failing_late() {
  return repeat(" !{a:(", kSize / 2) + repeat(")", kSize / 10) + " ;1}";
}

void BM_PlainTemplate(benchmark::State& state) {
  run(state,
      repeat("<div class=\"card\"><p>Hello, world: plain text & markup.</p></div>\n", kSize));
}
BENCHMARK(BM_PlainTemplate);

void BM_DenseRegions(benchmark::State& state) {
  run(state, dense_regions());
}
BENCHMARK(BM_DenseRegions);

void BM_UnclosedRegions(benchmark::State& state) {
  run(state, repeat("!{a: ", kSize));
}
BENCHMARK(BM_UnclosedRegions);

void BM_UnclosedGroups(benchmark::State& state) {
  run(state, repeat(" !{a:1;b:(", kSize));
}
BENCHMARK(BM_UnclosedGroups);

void BM_NestedGroupsFailingLate(benchmark::State& state) {
  run(state, nested_groups_failing_late());
}
BENCHMARK(BM_NestedGroupsFailingLate);

void BM_UnclosedBlocks(benchmark::State& state) {
  run(state, repeat(" !{a{", kSize));
}
BENCHMARK(BM_UnclosedBlocks);

void BM_UnclosedStrings(benchmark::State& state) {
  run(state, repeat(" !{a:\"", kSize));
}
BENCHMARK(BM_UnclosedStrings);

void BM_DenseRegionsTraced(benchmark::State& state) {
  run_traced(state, dense_regions());
}
BENCHMARK(BM_DenseRegionsTraced);

void BM_UnclosedRegionsTraced(benchmark::State& state) {
  run_traced(state, repeat("!{a: ", kSize));
}
BENCHMARK(BM_UnclosedRegionsTraced);

void BM_NestedGroupsFailingLateTraced(benchmark::State& state) {
  run_traced(state, nested_groups_failing_late());
}
BENCHMARK(BM_NestedGroupsFailingLateTraced);

void BM_DirectivesWithoutBodyTraced(benchmark::State& state) {
  run_traced(state, repeat(" !at(", kSize / 2) + repeat(")", kSize / 10));
}
BENCHMARK(BM_DirectivesWithoutBodyTraced);

}  // namespace
}  // namespace zeviziz
