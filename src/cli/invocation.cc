// Command-line parsing. The walk treats the element under consideration as
// an option name and its values as the following arguments up to the next
// option token ("--" followed by anything, "--" itself included). Each name
// goes through a fixed order of checks (repetition, value count, recognition,
// then the option's own rules); the cross-option rules run once the whole
// list has been walked. The first problem found is the error.
#include "cli/invocation.h"

#include <set>
#include <span>
#include <string_view>

#include "base/unicode.h"
#include "fs/file_ops.h"

namespace zeviziz {
namespace {

using Values = std::span<const std::string>;

bool is_option_token(std::string_view arg) {
  return arg.size() >= 2 && arg.substr(0, 2) == "--";
}

bool is_one_of(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

bool is_command_option(std::string_view name) {
  return is_one_of(name, {"--help", "--version", "--init", "--reset", "--ast"});
}

bool is_known_option(std::string_view name) {
  return is_command_option(name) || is_one_of(name, {"--config", "--select", "--watch", "--log"});
}

// Reads "+"? digits as an unsigned 64-bit number; nullopt for anything else
// or a value that does not fit.
std::optional<uint64_t> parse_unsigned(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(ch - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Status apply_command(Invocation& invocation, std::string_view name, Values values) {
  if (invocation.command != "run") {
    return make_error("Choose one command: help, version, init, reset, or ast");
  }
  invocation.command = std::string(name.substr(2));
  invocation.ast_file = values.empty() ? std::string() : values[0];
  if (name != "--ast") {
    if (!values.empty()) return make_error(std::string(name) + " takes no value");
    return {};
  }
  if (values.size() < 2) {
    return make_error("--ast requires a relative file and at least one target");
  }
  invocation.ast_targets.assign(values.begin() + 1, values.end());
  for (const std::string& target : invocation.ast_targets) {
    if (!is_one_of(target, {"before", "after", "before-json", "after-json"})) {
      return make_error("Invalid --ast target: " + target);
    }
  }
  return {};
}

Status apply_log(Invocation& invocation, Values values) {
  if (values.empty()) {
    return make_error("--log requires one or more of: path, time, count, filesystem, task");
  }
  for (const std::string& field : values) {
    if (!is_one_of(field, {"path", "time", "count", "filesystem", "task"})) {
      return make_error("Invalid --log field: " + field);
    }
  }
  invocation.log_fields.assign(values.begin(), values.end());
  return {};
}

Status apply_watch(Invocation& invocation, Values values) {
  if (values.empty()) {
    invocation.watch_seconds = 1;
    return {};
  }
  const std::optional<uint64_t> seconds = parse_unsigned(values[0]);
  if (!seconds) return make_error("--watch requires a positive integer");
  if (*seconds == 0 || *seconds > 3600) {
    return make_error("--watch must be between 1 and 3600 seconds");
  }
  invocation.watch_seconds = *seconds;
  return {};
}

// The option's own rules, after it has been recognised.
Status apply_option(Invocation& invocation, std::string_view name, Values values) {
  if (is_command_option(name)) return apply_command(invocation, name, values);
  if (name == "--config") {
    if (values.empty() || values[0].empty()) return make_error("--config requires a path");
    invocation.config_path = path_from_text(values[0]);
    return {};
  }
  if (name == "--select") {
    if (values.empty()) return make_error("--select requires template paths");
    invocation.select.emplace(values.begin(), values.end());
    return {};
  }
  if (name == "--log") return apply_log(invocation, values);
  return apply_watch(invocation, values);
}

// Rules between options, checked after the whole list was walked.
Status check_combination(const Invocation& invocation, const std::set<std::string>& seen) {
  if (invocation.command == "run") return {};
  if (invocation.command == "init" && seen.count("--config") != 0) {
    return make_error("--config does not apply to --init");
  }
  if (invocation.select.has_value() || invocation.watch_seconds != 0 ||
      !invocation.log_fields.empty()) {
    return make_error("--select, --watch and --log apply only to compilation");
  }
  return {};
}

}  // namespace

Result<Invocation> parse_invocation(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (!is_valid_utf8(arg)) return make_error("Arguments must be valid UTF-8");
  }
  Invocation invocation;
  std::set<std::string> seen;
  size_t index = 0;
  while (index < args.size()) {
    const std::string& name = args[index];
    size_t end = index + 1;
    while (end < args.size() && !is_option_token(args[end])) ++end;
    const Values values(args.data() + index + 1, end - index - 1);
    index = end;
    if (!seen.insert(name).second) return make_error("Repeated option: " + name);
    if (values.size() >= 2 && !is_one_of(name, {"--ast", "--log", "--select"})) {
      return make_error("Too many values for " + name);
    }
    if (!is_known_option(name)) return make_error("Unknown option: " + name);
    ZV_TRY_STATUS(apply_option(invocation, name, values));
  }
  ZV_TRY_STATUS(check_combination(invocation, seen));
  return invocation;
}

}  // namespace zeviziz
