// The languages whose lexical rules the plan applies on top of a template
// kind's configured boundaries, the one rule that says which kind reads which
// language, and the HTML elements whose white space is part of their content.
// The JavaScript and PHP scanners live in javascript.h and php.h.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "template/boundary.h"
#include "template/plan.h"

namespace zeviziz {

enum class Language : uint8_t {
  None,        // only the configured boundaries apply
  JavaScript,  // regular-expression and template literals
  Php,         // strings and comments hide "?>", heredocs, "#[" attributes
  Html,        // <pre> and <textarea> keep their white space
};

// Returns the language `tmpl` reads, judged by the files it compiles:
// JavaScript when one of its extensions ends in ".js", ".mjs" or ".cjs";
// HTML for ".html" or ".htm"; PHP when a kind whose extensions end in ".php"
// hands it the content of one of its boundary entries (the inside of a PHP
// file's tags); None otherwise. Never fails.
Language language_of(const TemplateDef& tmpl, const TemplateMap& templates);

// Returns, in file order, the content ranges of the <pre> and <textarea>
// elements (tag names in any letter case) of `range`. Tags are read from "<"
// and a letter to the ">" outside quoted attribute values; `opaque` (sorted,
// non-overlapping: comments, nested templates) is passed over. An element
// without its end tag runs to the end of `range`. Never fails.
std::vector<Range> find_preformatted(std::string_view text, Range range,
                                     std::span<const Range> opaque);

}  // namespace zeviziz
