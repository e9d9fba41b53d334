// libFuzzer target for the configuration file: the INI text is loaded as the
// project configuration (parse, validation, path checks in a scratch
// project), the directive service is built from it, and a sample template
// with directives goes through every template kind it defines, after the
// configured replacements.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "directive/service.h"
#include "fuzz/fuzz_support.h"
#include "runner/build_support.h"
#include "template/compile.h"

namespace {

using namespace zeviziz;

constexpr std::string_view kSample =
    "<p class=\"btn !at(medium){display:none} !id(card){color:red}\">x</p>\n"
    "<a class=\"!copy(card) !:hover{COLOR : Blue}\">y</a>\n"
    "<style>.a{b:c}</style><script>let s = '!{margin:0 auto}';</script>\n"
    "<?php echo \"!{a{b:c}}\"; ?> /* c */ // d\n# e\nSITE_NAME VELT_TIME\n";

void compile_sample(const ProjectConfig& config, const DirectiveService& service) {
  const std::vector<std::string> names = service.names();
  for (const TemplateDef& def : config.templates) {
    if (!needs_compiling(config, def)) continue;
    std::string text(kSample);
    if (!apply_replacements(text, config.replacements, "0").ok()) continue;
    Result<Node> before = compile_template(text, def, config, names);
    if (!before.ok()) continue;
    const Node processed = process_template(service, *before, config);
    Registry registry;
    registry.at_rule_order = at_rule_order(config);
    std::set<uint64_t> ids;
    (void)fuzz::register_template(processed, registry, ids);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::write_scratch("fuzz.ini", std::string_view(reinterpret_cast<const char*>(data), size));
  const fuzz::InScratch in_scratch;
  Result<ProjectConfig> config = load_config("fuzz.ini");
  if (!config.ok()) return 0;
  Result<DirectiveService> service = build_directive_service(*config);
  if (!service.ok()) return 0;
  compile_sample(*config, *service);
  return 0;
}
