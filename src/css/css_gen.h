// CSS generation: turns the rules of the class registry that are in use into
// the text of the one CSS file, ordered so that later rules win where it
// matters and grouped under shared at-rule blocks, without white space of its
// own.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "css/registry.h"

namespace zeviziz {

// Returns the CSS text of every rule of `registry` whose ID is in
// `used` (empty text when there is none). Rules are ordered by their at-rule
// blocks (configured lists of `registry.at_rule_order` first, in
// configuration order), then selector specificity, property length and the
// rule texts; each NUL of a selector becomes ".i" + ID. Never fails. Timed as
// task "css.generate".
std::string generate_css(const Registry& registry, const IdSet& used);

}  // namespace zeviziz
