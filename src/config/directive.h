// Configured directives: reading a `[directive.NAME]` section into its
// cases, placeholder substitution, the lookup of the cases that serve a use,
// and the load-time reading of at-rule values.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "ini/document.h"

namespace zeviziz {

// Reads the section of directive `name` (already a valid name): each key in
// order of appearance is an action whose plain value and table children
// register cases. Fails with "Unknown directive action: " + name + "[" + key
// + "]", "Config value must be a string: directive." + name + "." + key,
// "Directive action cannot be empty: " + name + "." + action,
// "Directive placeholders start at \1", or "Directive placeholder \N
// exceeds argument count M".
Result<DirectiveDef> read_directive_section(std::string_view name, const IniTable& section);

// Returns `value` with every placeholder (backslash + decimal digits) replaced
// by that argument (counted from 1). Fails with "Directive placeholders start
// at \1", "Directive placeholder overflow" or "Missing directive argument for
// \N".
Result<std::string> substitute_placeholders(std::string_view value,
                                            std::span<const std::string> args);

// The cases serving a use with `args` for `action`: the plain case first (if
// any), then the no-arguments case (no args), the named case equal to the one
// argument or else the count-1 case (one arg), or the count case (more).
// Pointers into `def`; never fails.
std::vector<const DirectiveCase*> find_cases(const DirectiveDef& def, DirectiveAction action,
                                             std::span<const std::string> args);

// The value of case `c` as every use it serves sees it, when that does not
// depend on the arguments of the use: plain and no-arguments cases, named
// cases (their one argument is their name) and count cases without
// placeholders. Returns nullopt for a count case with placeholders; fails
// like substitute_placeholders.
Result<std::optional<std::string>> fixed_case_value(const DirectiveCase& c);

// Reads trimmed `text` as one or more complete at-rule preludes and returns
// each, trimmed and white-space-normalised, outermost first. Fails with
// "Invalid at-rule: " + trimmed text.
Result<std::vector<std::string>> read_at_rule_value(std::string_view text);

// Reads every at-rule case that can be read at load time (all but count
// cases whose value has placeholders) and stores its preludes in
// `DirectiveCase::at_rules`. Fails with the first substitution or
// read_at_rule_value error.
Status check_directive_at_rules(std::vector<DirectiveDef>& defs);

}  // namespace zeviziz
