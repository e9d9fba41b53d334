// libFuzzer target for whole templates under the default configuration. The
// first byte picks the template kind, the rest is the file's text. The text
// goes the way of a build: replacements, plan and render, directives and
// normalisation, registry, CSS generation, and the cache bytes of the
// result, which must decode, restore and encode to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/unicode.h"
#include "css/css_gen.h"
#include "directive/service.h"
#include "fuzz/fuzz_support.h"
#include "runner/build_support.h"
#include "state/build_state.h"
#include "state/cache.h"
#include "template/compile.h"

namespace {

using namespace zeviziz;

struct Setup {
  const ProjectConfig& config = fuzz::default_config();
  DirectiveService service = [this] {
    Result<DirectiveService> built = build_directive_service(config);
    if (!built.ok()) std::abort();
    return std::move(built).value();
  }();
  std::vector<std::string> names = service.names();
  std::vector<std::vector<std::string>> order = at_rule_order(config);
};

const Setup& setup() {
  static const Setup instance;
  return instance;
}

// The cache bytes of one file's rules must survive a decode, restore and
// encode unchanged.
void check_cache(const Registry& registry, const std::set<uint64_t>& ids) {
  FileRecords records;
  if (!ids.empty()) records["page"] = IdList(ids.begin(), ids.end());
  Result<std::string> bytes = encode_cache(registry, records);
  if (!bytes.ok()) return;
  Result<DecodedCache> decoded = decode_cache(*bytes);
  if (!decoded.ok()) std::abort();
  BuildState state;
  if (!restore_cache(state, std::move(decoded).value()).ok()) std::abort();
  Result<std::string> again = encode_cache(state.registry, state.records);
  if (!again.ok() || *again != *bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Setup& s = setup();
  const TemplateDef& def = s.config.templates[data[0] % s.config.templates.size()];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!is_valid_utf8(text)) return 0;  // reading the file refuses such text
  if (!apply_replacements(text, s.config.replacements, "1700000000").ok()) return 0;
  Result<Node> before = compile_template(text, def, s.config, s.names);
  if (!before.ok()) return 0;
  const Node processed = process_template(s.service, *before, s.config);
  Registry registry;
  registry.at_rule_order = s.order;
  std::set<uint64_t> ids;
  if (!fuzz::register_template(processed, registry, ids).ok()) return 0;
  (void)generate_css(registry, IdSet(ids.begin(), ids.end()));
  check_cache(registry, ids);
  return 0;
}
