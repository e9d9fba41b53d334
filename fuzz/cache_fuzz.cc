// libFuzzer target for the cache file. Whatever decodes and restores must
// encode again, and the encoded bytes must be a fixed point: decoding,
// restoring and encoding them once more gives the same bytes, so a cache
// carries the same class IDs from run to run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "state/build_state.h"
#include "state/cache.h"

namespace {

using namespace zeviziz;

// The bytes the build would write after restoring `bytes`, or nothing when
// they do not decode, restore or encode.
Result<std::string> restore_and_encode(std::string_view bytes) {
  ZV_TRY(DecodedCache decoded, decode_cache(bytes));
  BuildState state;
  ZV_TRY_STATUS(restore_cache(state, std::move(decoded)));
  return encode_cache(state.registry, state.records);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Result<std::string> first = restore_and_encode(bytes);
  if (!first.ok()) return 0;
  Result<std::string> second = restore_and_encode(*first);
  if (!second.ok() || *second != *first) std::abort();
  return 0;
}
