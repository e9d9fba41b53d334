// Rendering of a planned file into its "before" tree: a Template node whose
// Text children hold the output text (template text under its whitespace
// options) and whose Velt children are the style regions lexed from string
// contents. Removed ranges are dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "lexer/lexer.h"
#include "lexer/node.h"
#include "template/plan.h"

namespace zeviziz {

// Returns the Template tree of `text` rendered according to `plan`; string
// contents are lexed with a lexer for `directive_names` (ascending byte
// order). Fails with "Templates cannot contain NUL characters" when `text`
// holds a byte 0, before anything is rendered. With `trace`, also records
// where the file's regions start and the lexer's misses, as byte offsets
// into `text`.
Result<Node> render(std::string_view text, const Plan& plan,
                    const std::vector<std::string>& directive_names, LexTrace* trace = nullptr);

// The same with a lexer made beforehand.
Result<Node> render(std::string_view text, const Plan& plan, const Lexer& lexer,
                    LexTrace* trace = nullptr);

// Receives the children of a rendered Template tree, in order.
class RenderSink {
 public:
  virtual ~RenderSink() = default;
  // Template text written since the previous string piece; never empty. The
  // callee may take its contents.
  virtual void text(std::string& text) = 0;
  // One child (Text or Velt) lexed from a string piece.
  virtual void child(Node&& child) = 0;
};

// Renders like render() but hands the tree's children to `sink` as they are
// made instead of keeping them, so that no more than one region tree lives
// at a time; template text and lexed Text children are not merged. Fails like
// render(), before anything reaches the sink. With `trace`, records what
// render() records, the region offsets of a string piece once the piece is
// lexed.
Status render_each(std::string_view text, const Plan& plan, const Lexer& lexer, RenderSink& sink,
                   LexTrace* trace = nullptr);

// Returns `text` with the whitespace options applied line by line (trailing
// white space dropped, leading white space dropped unless `keep_indentation`
// except on a first line that continues earlier output, line breaks kept only
// with `keep_new_lines` and never forming blank lines). `at_file_start`: the
// text starts at offset 0 of the file. `previous` is the last byte of the
// output so far, or -1 when nothing was written yet. Never fails.
std::string apply_whitespace_options(std::string_view text, bool at_file_start,
                                     bool keep_indentation, bool keep_new_lines, int previous);

}  // namespace zeviziz
