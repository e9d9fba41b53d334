// Benchmarks of the class registry and CSS generation on synthetic rules:
// a registry of 100,000 rules spread over breakpoint blocks, a few hundred
// distinct selectors and many properties.
#include <benchmark/benchmark.h>

#include <set>
#include <string>
#include <vector>

#include "css/css_gen.h"
#include "css/registry.h"

namespace zeviziz {
namespace {

const std::vector<std::vector<std::string>> kBreakpoints = {
    {"@media(min-width:320px)"}, {"@media(min-width:768px)"}, {"@media(min-width:1024px)"}};

using namespace std::string_literals;

const std::vector<std::string> kSelectors = {
    "\0"s,       "\0:hover"s,   "\0:focus"s,     "\0 > a"s,   "#main \0"s,
    ".card \0"s, "\0::before"s, "\0:is(.a,#b)"s, "ul li \0"s, "\0:nth-child(2n+1)"s};

// The i-th synthetic rule: no block or one of three breakpoints, one of 10
// selector shapes times 2 parent variants, 97 properties, a unique value.
Rule synthetic_rule(size_t i) {
  std::vector<std::string> at_rules;
  if (i % 4 != 0) at_rules = kBreakpoints[i % 4 - 1];
  std::string selector = kSelectors[i % 10];
  if (i % 20 >= 10) selector += " .p" + std::to_string(i % 7);
  std::string declaration = "prop-" + std::to_string(i % 97) + ":value-" + std::to_string(i);
  return std::move(make_rule(std::move(at_rules), std::move(selector), std::move(declaration)))
      .value();
}

Registry synthetic_registry(size_t count, std::set<uint64_t>& used) {
  Registry registry;
  registry.at_rule_order = kBreakpoints;
  IdHistory history;
  for (size_t i = 0; i < count; ++i) {
    used.insert(*lookup_or_assign(registry, synthetic_rule(i), history));
  }
  return registry;
}

void BM_GenerateCss(benchmark::State& state) {
  std::set<uint64_t> used;
  Registry registry = synthetic_registry(static_cast<size_t>(state.range(0)), used);
  const IdSet ids(used.begin(), used.end());
  size_t bytes = 0;
  for (auto _ : state) {
    std::string css = generate_css(registry, ids);
    bytes = css.size();
    benchmark::DoNotOptimize(css);
  }
  state.counters["css_bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GenerateCss)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_LookupKnownRule(benchmark::State& state) {
  std::set<uint64_t> used;
  Registry registry = synthetic_registry(100000, used);
  std::vector<Rule> probes;
  for (size_t i = 0; i < 1024; ++i) probes.push_back(synthetic_rule(i * 97));
  IdHistory history;
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lookup_or_assign(registry, probes[next++ & 1023], history));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupKnownRule);

void BM_RegisterNewRules(benchmark::State& state) {
  for (auto _ : state) {
    std::set<uint64_t> used;
    benchmark::DoNotOptimize(synthetic_registry(100000, used));
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_RegisterNewRules)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zeviziz
