// Configured directive definitions. A section's keys name actions; a plain
// value and each child of an action's table register one case, whose value
// is checked for emptiness and for placeholders beyond what its key allows.
// Placeholders (a backslash and decimal digits) are found by one scanner used
// both for that check and for substitution. At load time every at-rule case
// that does not depend on its arguments is read with the lexer's at-rule
// grammar and its preludes are kept for the build.
#include "config/directive.h"

#include <optional>

#include "base/unicode.h"
#include "lexer/lexer.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

// One placeholder: bytes [begin, end) of the value and its number
// (saturated at the largest 64-bit value when `overflow`).
struct Placeholder {
  size_t begin = 0;
  size_t end = 0;
  uint64_t number = 0;
  bool overflow = false;
};

bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// The first placeholder at or after `from`, if any.
std::optional<Placeholder> next_placeholder(std::string_view value, size_t from) {
  for (size_t pos = value.find('\\', from); pos != std::string_view::npos;
       pos = value.find('\\', pos + 1)) {
    if (pos + 1 >= value.size() || !is_ascii_digit(value[pos + 1])) continue;
    Placeholder placeholder{pos, pos + 1};
    for (; placeholder.end < value.size() && is_ascii_digit(value[placeholder.end]);
         ++placeholder.end) {
      const uint64_t digit = static_cast<uint64_t>(value[placeholder.end] - '0');
      if (placeholder.number > (UINT64_MAX - digit) / 10) placeholder.overflow = true;
      placeholder.number = placeholder.overflow ? UINT64_MAX : placeholder.number * 10 + digit;
    }
    return placeholder;
  }
  return std::nullopt;
}

bool has_placeholder(std::string_view value) {
  return next_placeholder(value, 0).has_value();
}

Error placeholder_zero() {
  return make_error("Directive placeholders start at \\1");
}

std::string_view action_text(DirectiveAction action) {
  switch (action) {
    case DirectiveAction::AtRule:
      return "at-rule";
    case DirectiveAction::Selector:
      return "selector";
    case DirectiveAction::Declaration:
      break;
  }
  return "declaration";
}

std::optional<DirectiveAction> parse_action(std::string_view key) {
  for (DirectiveAction action :
       {DirectiveAction::AtRule, DirectiveAction::Selector, DirectiveAction::Declaration}) {
    if (key == action_text(action)) return action;
  }
  return std::nullopt;
}

// Highest placeholder a case with this key may use.
uint64_t allowed_placeholders(const DirectiveCase& c) {
  switch (c.key) {
    case CaseKeyKind::Count:
      return c.count;
    case CaseKeyKind::Named:
      return 1;
    case CaseKeyKind::Plain:
    case CaseKeyKind::NoArguments:
      break;
  }
  return 0;
}

Status check_placeholders(std::string_view value, uint64_t allowed) {
  for (auto found = next_placeholder(value, 0); found;
       found = next_placeholder(value, found->end)) {
    if (found->number == 0) return placeholder_zero();
    if (found->number > allowed) {
      return make_error("Directive placeholder \\" + std::to_string(found->number) +
                        " exceeds argument count " + std::to_string(allowed));
    }
  }
  return {};
}

Status register_case(DirectiveDef& def, DirectiveCase c) {
  if (trim_white_space(c.value).empty()) {
    return make_error("Directive action cannot be empty: " + def.name + "." +
                      std::string(action_text(c.action)));
  }
  ZV_TRY_STATUS(check_placeholders(c.value, allowed_placeholders(c)));
  def.cases.push_back(std::move(c));
  return {};
}

// Registers the case of one child of an action's table.
Status register_child(DirectiveDef& def, DirectiveAction action, const IniTable::Child& child,
                      const std::string& display) {
  ZV_TRY(std::string value, read_string(*child.node, display));
  DirectiveCase c{action, CaseKeyKind::Named, 0, {}, std::move(value), {}};
  if (!child.indexed) {
    c.name = std::string(child.name);
  } else if (child.index == 0) {
    c.key = CaseKeyKind::NoArguments;
  } else {
    c.key = CaseKeyKind::Count;
    c.count = child.index;
  }
  return register_case(def, std::move(c));
}

Status read_action(DirectiveDef& def, std::string_view key, const IniNode& node) {
  const std::optional<DirectiveAction> action = parse_action(key);
  if (!action) {
    return make_error("Unknown directive action: " + def.name + "[" + std::string(key) + "]");
  }
  const std::string display = "directive." + def.name + "." + std::string(key);
  if (node.scalar) {
    ZV_TRY(std::string value, read_string(node, display));
    ZV_TRY_STATUS(register_case(
        def, DirectiveCase{*action, CaseKeyKind::Plain, 0, {}, std::move(value), {}}));
  }
  if (!node.table) return {};
  for (const IniTable::Child& child : node.table->children()) {
    ZV_TRY_STATUS(register_child(def, *action, child, display));
  }
  return {};
}

}  // namespace

Result<DirectiveDef> read_directive_section(std::string_view name, const IniTable& section) {
  DirectiveDef def;
  def.name = std::string(name);
  for (const IniTable::Child& child : section.children()) {
    const std::string key = child.indexed ? std::to_string(child.index) : std::string(child.name);
    ZV_TRY_STATUS(read_action(def, key, *child.node));
  }
  return def;
}

Result<std::string> substitute_placeholders(std::string_view value,
                                            std::span<const std::string> args) {
  std::string out;
  size_t pos = 0;
  for (auto found = next_placeholder(value, 0); found; found = next_placeholder(value, pos)) {
    out.append(value.substr(pos, found->begin - pos));
    if (found->number == 0) return placeholder_zero();
    if (found->overflow) return make_error("Directive placeholder overflow");
    if (found->number > args.size()) {
      return make_error("Missing directive argument for \\" + std::to_string(found->number));
    }
    out += args[found->number - 1];
    pos = found->end;
  }
  out.append(value.substr(pos));
  return out;
}

std::vector<const DirectiveCase*> find_cases(const DirectiveDef& def, DirectiveAction action,
                                             std::span<const std::string> args) {
  const DirectiveCase* plain = nullptr;
  const DirectiveCase* named = nullptr;
  const DirectiveCase* counted = nullptr;
  for (const DirectiveCase& c : def.cases) {
    if (c.action != action) continue;
    if (c.key == CaseKeyKind::Plain && !plain) plain = &c;
    if (c.key == CaseKeyKind::Named && args.size() == 1 && c.name == args[0] && !named) named = &c;
    const bool counts = (c.key == CaseKeyKind::NoArguments && args.empty()) ||
                        (c.key == CaseKeyKind::Count && c.count == args.size());
    if (counts && !counted) counted = &c;
  }
  std::vector<const DirectiveCase*> found;
  if (plain) found.push_back(plain);
  if (named || counted) found.push_back(named ? named : counted);
  return found;
}

Result<std::optional<std::string>> fixed_case_value(const DirectiveCase& c) {
  switch (c.key) {
    case CaseKeyKind::Plain:
    case CaseKeyKind::NoArguments:
      break;
    case CaseKeyKind::Named: {
      const std::string args[] = {c.name};
      ZV_TRY(std::string text, substitute_placeholders(c.value, args));
      return std::optional<std::string>(std::move(text));
    }
    case CaseKeyKind::Count:
      // Without placeholders the value is what any N empty arguments give.
      if (has_placeholder(c.value)) return std::optional<std::string>();
      return std::optional<std::string>(c.value);
  }
  ZV_TRY(std::string text, substitute_placeholders(c.value, {}));
  return std::optional<std::string>(std::move(text));
}

Result<std::vector<std::string>> read_at_rule_value(std::string_view text) {
  const std::string_view trimmed = trim_white_space(text);
  std::optional<std::vector<std::string>> preludes = read_at_rule_preludes(trimmed);
  if (!preludes || preludes->empty()) {
    return make_error("Invalid at-rule: " + std::string(trimmed));
  }
  std::vector<std::string> at_rules;
  at_rules.reserve(preludes->size());
  for (const std::string& prelude : *preludes) {
    at_rules.push_back(normalize_whitespace(trim_white_space(prelude), WhitespaceMode::AtRule));
  }
  return at_rules;
}

Status check_directive_at_rules(std::vector<DirectiveDef>& defs) {
  for (DirectiveDef& def : defs) {
    for (DirectiveCase& c : def.cases) {
      if (c.action != DirectiveAction::AtRule) continue;
      ZV_TRY(std::optional<std::string> text, fixed_case_value(c));
      if (!text) continue;
      ZV_TRY(c.at_rules, read_at_rule_value(*text));
    }
  }
  return {};
}

}  // namespace zeviziz
