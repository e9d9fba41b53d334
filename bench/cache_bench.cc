// Benchmarks of the cache file: decoding alone, decoding and restoring into
// a build state, and encoding the restored state again. They read the cache
// file named by ZEVIZIZ_CACHE_FILE (for example the cache of a build of a
// project made by gen_project.py) and report bytes per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "state/build_state.h"
#include "state/cache.h"

namespace zeviziz {
namespace {

// The bytes of the cache file, or empty when none is named or readable.
const std::string& cache_bytes() {
  static const std::string bytes = [] {
    const char* path = std::getenv("ZEVIZIZ_CACHE_FILE");
    if (path == nullptr) return std::string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }();
  return bytes;
}

bool have_cache(benchmark::State& state) {
  if (!cache_bytes().empty()) return true;
  state.SkipWithError("set ZEVIZIZ_CACHE_FILE to a cache file");
  return false;
}

void BM_Decode(benchmark::State& state) {
  if (!have_cache(state)) return;
  for (auto _ : state) {
    Result<DecodedCache> decoded = decode_cache(cache_bytes());
    if (!decoded.ok()) state.SkipWithError(decoded.error().c_str());
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cache_bytes().size()));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_DecodeAndRestore(benchmark::State& state) {
  if (!have_cache(state)) return;
  for (auto _ : state) {
    BuildState build;
    Result<DecodedCache> decoded = decode_cache(cache_bytes());
    Status restored = decoded.ok() ? restore_cache(build, std::move(decoded).value())
                                   : Status(decoded.take_error());
    if (!restored.ok()) state.SkipWithError(restored.error().c_str());
    benchmark::DoNotOptimize(build);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cache_bytes().size()));
}
BENCHMARK(BM_DecodeAndRestore)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& state) {
  if (!have_cache(state)) return;
  BuildState build;
  Status restored = restore_cache(build, decode_cache(cache_bytes()).value());
  if (!restored.ok()) {
    state.SkipWithError(restored.error().c_str());
    return;
  }
  for (auto _ : state) {
    Result<std::string> bytes = encode_cache(build.registry, build.records);
    if (!bytes.ok() || *bytes != cache_bytes()) state.SkipWithError("encoding differs");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cache_bytes().size()));
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zeviziz
