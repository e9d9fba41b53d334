// The template compile driver: choosing the template definition of a file,
// deciding whether a definition needs compiling at all, and compiling one
// file's text into its "before" tree (boundaries, plan, rendering).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "lexer/lexer.h"
#include "lexer/node.h"
#include "template/boundary.h"
#include "template/plan.h"
#include "template/render.h"

namespace zeviziz {

// What compiling a template takes from the configuration: the compiled
// boundaries, the template definitions by name and the lexer. Made once and
// used for any number of files (also from several threads at once).
class TemplateCompiler {
 public:
  // Keeps a reference to `config`, which must outlive the compiler.
  TemplateCompiler(const ProjectConfig& config, std::vector<std::string> directive_names);

  // Returns the Template tree of `text` compiled as `tmpl`, recording region
  // offsets and misses in `trace` when given; fails like compile_template.
  Result<Node> compile(std::string_view text, const TemplateDef& tmpl,
                       LexTrace* trace = nullptr) const;

  // Compiles like compile() but hands the tree's children to `sink` as they
  // are made (render_each), so that no more than one region tree lives at a
  // time. Fails like compile(), before anything reaches the sink.
  Status compile_each(std::string_view text, const TemplateDef& tmpl, RenderSink& sink,
                      LexTrace* trace = nullptr) const;

 private:
  BoundaryMap boundaries_;
  TemplateMap templates_;
  Lexer lexer_;
};

// Returns the Template tree of `text` compiled as `tmpl`: every configured
// boundary is compiled, the file planned and rendered with a lexer for
// `directive_names` (ascending byte order). Fails with the first error of
// planning ("Unknown boundary: ", "Unknown template: ") or rendering
// ("Templates cannot contain NUL characters"). With `trace`, also records
// region offsets and lexer misses as byte offsets into `text`.
Result<Node> compile_template(std::string_view text, const TemplateDef& tmpl,
                              const ProjectConfig& config,
                              const std::vector<std::string>& directive_names,
                              LexTrace* trace = nullptr);

// Returns the first definition, in configuration order, that lists an
// extension which is a byte suffix of `relative_path` (later definitions are
// not tried), or null when there is none.
const TemplateDef* find_template_for_path(const ProjectConfig& config,
                                          std::string_view relative_path);

// Returns whether files of `tmpl` (looked at with nesting `depth`) need
// compiling: it optimises white space or has string boundaries, or removes a
// boundary entry that names no template, or (at depth 3 or less) a template
// it names needs compiling one level deeper. Unknown names are skipped.
bool needs_compiling(const ProjectConfig& config, const TemplateDef& tmpl, int depth = 0);

}  // namespace zeviziz
