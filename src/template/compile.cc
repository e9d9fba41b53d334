// The compile driver and the two configuration questions the build asks
// before compiling: which template definition a path selects and whether that
// definition changes anything. Definitions are looked up by name in
// configuration order, the first of a name winning.
#include "template/compile.h"

#include <algorithm>

#include "template/boundary.h"
#include "template/plan.h"
#include "template/render.h"

namespace zeviziz {
namespace {

// Nested definitions are looked at down to this depth.
constexpr int kMaxLookDepth = 3;

const TemplateDef* first_named(const ProjectConfig& config, const std::string& name) {
  for (const TemplateDef& tmpl : config.templates) {
    if (tmpl.name == name) return &tmpl;
  }
  return nullptr;
}

bool has_name(const TemplateEntry& entry) {
  return std::any_of(entry.names.begin(), entry.names.end(),
                     [](const std::string& name) { return !name.empty(); });
}

// The non-empty template names `tmpl` refers to: default entries first, then
// the names of each boundary entry, in order.
std::vector<const std::string*> referenced_names(const TemplateDef& tmpl) {
  std::vector<const std::string*> names;
  for (int pass = 0; pass < 2; ++pass) {
    for (const TemplateEntry& entry : tmpl.templates) {
      if (entry.has_boundary != (pass == 1)) continue;
      for (const std::string& name : entry.names) {
        if (!name.empty()) names.push_back(&name);
      }
    }
  }
  return names;
}

}  // namespace

TemplateCompiler::TemplateCompiler(const ProjectConfig& config,
                                   std::vector<std::string> directive_names)
    : boundaries_(compile_boundaries(config.boundaries)),
      templates_(map_templates(config.templates)),
      lexer_(new_lexer(std::move(directive_names))) {}

Result<Node> TemplateCompiler::compile(std::string_view text, const TemplateDef& tmpl,
                                       LexTrace* trace) const {
  ZV_TRY(Plan plan, plan_file(text, tmpl, boundaries_, templates_));
  return render(text, plan, lexer_, trace);
}

Status TemplateCompiler::compile_each(std::string_view text, const TemplateDef& tmpl,
                                      RenderSink& sink, LexTrace* trace) const {
  ZV_TRY(Plan plan, plan_file(text, tmpl, boundaries_, templates_));
  return render_each(text, plan, lexer_, sink, trace);
}

Result<Node> compile_template(std::string_view text, const TemplateDef& tmpl,
                              const ProjectConfig& config,
                              const std::vector<std::string>& directive_names, LexTrace* trace) {
  return TemplateCompiler(config, directive_names).compile(text, tmpl, trace);
}

const TemplateDef* find_template_for_path(const ProjectConfig& config,
                                          std::string_view relative_path) {
  for (const TemplateDef& tmpl : config.templates) {
    for (const std::string& extension : tmpl.extensions) {
      if (relative_path.ends_with(extension)) return &tmpl;
    }
  }
  return nullptr;
}

bool needs_compiling(const ProjectConfig& config, const TemplateDef& tmpl, int depth) {
  if (tmpl.optimize_whitespaces || !tmpl.boundaries.empty()) return true;
  if (tmpl.remove_undefined_templates &&
      std::any_of(tmpl.templates.begin(), tmpl.templates.end(), [](const TemplateEntry& entry) {
        return entry.has_boundary && !has_name(entry);
      })) {
    return true;
  }
  if (depth > kMaxLookDepth) return false;
  for (const std::string* name : referenced_names(tmpl)) {
    const TemplateDef* nested = first_named(config, *name);
    if (nested && needs_compiling(config, *nested, depth + 1)) return true;
  }
  return false;
}

}  // namespace zeviziz
