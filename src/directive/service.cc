// The directive service. Building it registers one handler entry per
// directive kind and maps every name to its entry. Processing a region
// collects the region's uses from its Directive children, dispatches the
// first-phase uses (`id`) on the working region, normalises it, and
// dispatches the second-phase uses (`copy`, configured directives).
// Consecutive uses of one entry are handed to its handler as one batch.
#include "directive/service.h"

#include <algorithm>

#include "base/unicode.h"
#include "config/directive.h"
#include "directive/handlers.h"
#include "log/log.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

constexpr size_t kIdEntry = 0;

// Appends the text of the Value children of a directive's Parenthesis.
std::string argument_text(const Node& parenthesis) {
  std::string text;
  for (const Node& child : parenthesis.children) {
    if (child.kind == NodeKind::Value) collect_text(child, text);
  }
  return std::string(trim_white_space(text));
}

// Reads one Directive node's children into `uses`.
Status read_directive(const Node& directive, std::vector<DirectiveUse>& uses,
                      std::optional<DirectiveUse>& current) {
  for (const Node& child : directive.children) {
    if (child.kind == NodeKind::Prefix) {
      if (current && !current->name.empty()) uses.push_back(std::move(*current));
      current.emplace();
    } else if (child.kind == NodeKind::Name) {
      if (!current) return make_error("Invalid directive");
      if (!current->name.empty()) return make_error("Invalid directive name");
      current->name = child.value;
    } else if (child.kind == NodeKind::Parenthesis) {
      if (!current || current->argument) return make_error("Invalid directive argument");
      current->argument = argument_text(child);
    }
  }
  return {};
}

}  // namespace

Result<std::vector<DirectiveUse>> collect_uses(const Node& region, Node* working) {
  std::vector<DirectiveUse> uses;
  std::optional<DirectiveUse> current;
  if (working != nullptr) *working = Node(region.kind, region.value);
  for (const Node& child : region.children) {
    if (child.kind == NodeKind::Directive) {
      ZV_TRY_STATUS(read_directive(child, uses, current));
    } else if (working != nullptr) {
      working->children.push_back(child);
    }
  }
  if (current && !current->name.empty()) uses.push_back(std::move(*current));
  return uses;
}

Status DirectiveService::add_name(const std::string& name, size_t entry) {
  if (name.empty()) return make_error("Directive name cannot be empty");
  if (!names_.emplace(name, entry).second) return make_error("Duplicate directive: " + name);
  return {};
}

Result<DirectiveService> DirectiveService::build(const ProjectConfig& config) {
  DirectiveService service;
  service.entries_ = {{Handler::Id, 0}, {Handler::Copy, 1}};
  ZV_TRY_STATUS(service.add_name("id", kIdEntry));
  ZV_TRY_STATUS(service.add_name("copy", 1));
  if (!config.directives.empty()) service.entries_.push_back({Handler::Configured, 1});
  for (const DirectiveDef& def : config.directives) {
    ZV_TRY_STATUS(service.add_name(def.name, 2));
  }
  service.lexer_ = new_lexer(service.names());
  service.probe_fixed_values(config);
  return service;
}

// Reads every selector and declaration value that does not depend on the
// arguments of a use once, so that uses find it read.
void DirectiveService::probe_fixed_values(const ProjectConfig& config) {
  for (const DirectiveDef& def : config.directives) {
    for (const DirectiveCase& c : def.cases) {
      if (c.action == DirectiveAction::AtRule) continue;
      Result<std::optional<std::string>> value = fixed_case_value(c);
      if (!value.ok() || !*value) continue;
      auto& table = probed_[c.action == DirectiveAction::Selector ? 0 : 1];
      if (table.contains(**value)) continue;
      ProbedValue probed = probe_case_value(*this, c.action, **value);
      table.emplace(std::move(**value), std::move(probed));
    }
  }
}

const ProbedValue* DirectiveService::probed(DirectiveAction action, std::string_view value) const {
  if (action == DirectiveAction::AtRule) return nullptr;
  const auto& table = probed_[action == DirectiveAction::Selector ? 0 : 1];
  const auto found = table.find(value);
  return found == table.end() ? nullptr : &found->second;
}

std::vector<std::string> DirectiveService::names() const {
  std::vector<std::string> names;
  names.reserve(names_.size());
  for (const auto& [name, entry] : names_) names.push_back(name);
  return names;
}

TemplateState DirectiveService::prepare(const Node& template_tree) const {
  TemplateState state;
  state.preparation_errors.resize(entries_.size());
  state.ids = prepare_ids(template_tree);
  return state;
}

Result<Node> DirectiveService::process_region(const Node& region, const ProjectConfig& config,
                                              TemplateState& state) const {
  Node working;
  ZV_TRY(std::vector<DirectiveUse> uses, collect_uses(region, &working));
  ZV_TRY_STATUS(dispatch(uses, 0, working, config, state));
  ZV_TRY(Node normalized, normalize_working_region(std::move(working)));
  ZV_TRY_STATUS(dispatch(uses, 1, normalized, config, state));
  return normalized;
}

Status DirectiveService::dispatch(const std::vector<DirectiveUse>& uses, int phase, Node& region,
                                  const ProjectConfig& config, TemplateState& state) const {
  std::vector<DirectiveUse> batch;
  std::vector<size_t> indices;  // of the batch's uses in `uses`
  size_t batch_entry = 0;
  for (size_t i = 0; i < uses.size(); ++i) {
    const auto found = names_.find(uses[i].name);
    if (found == names_.end() || entries_[found->second].phase != phase) continue;
    if (!batch.empty() && found->second != batch_entry) {
      ZV_TRY_STATUS(run_counted(batch_entry, batch, indices, region, config, state));
      batch.clear();
      indices.clear();
    }
    batch_entry = found->second;
    batch.push_back(uses[i]);
    indices.push_back(i);
  }
  if (batch.empty()) return {};
  return run_counted(batch_entry, batch, indices, region, config, state);
}

// Runs a batch; on failure the state's fault names the region's use to
// blame (the batch's first when the handler named none).
Status DirectiveService::run_counted(size_t entry, const std::vector<DirectiveUse>& batch,
                                     const std::vector<size_t>& indices, Node& region,
                                     const ProjectConfig& config, TemplateState& state) const {
  state.fault.reset();
  Status status = run_batch(entry, batch, region, config, state);
  if (status.ok()) return status;
  if (!state.fault) state.fault.emplace();
  state.fault->use = indices[std::min(state.fault->use, indices.size() - 1)];
  return status;
}

Status DirectiveService::run_batch(size_t entry, const std::vector<DirectiveUse>& batch,
                                   Node& region, const ProjectConfig& config,
                                   TemplateState& state) const {
  if (entry < state.preparation_errors.size() && state.preparation_errors[entry]) {
    return make_error(*state.preparation_errors[entry]);
  }
  switch (entries_[entry].handler) {
    case Handler::Id:
      return handle_id(batch, state.ids, &state.fault);
    case Handler::Copy:
      return handle_copy(*this, batch, region, config, state);
    case Handler::Configured:
      return expand_configured(*this, batch, region, config, &state.fault);
  }
  return {};
}

Result<DirectiveService> build_directive_service(const ProjectConfig& config) {
  TaskGuard task = task_start("directive.service");
  return DirectiveService::build(config);
}

Node process_template(const DirectiveService& service, const Node& before_tree,
                      const ProjectConfig& config, std::vector<RegionFault>* faults) {
  TemplateState state = service.prepare(before_tree);
  Node after(before_tree.kind, before_tree.value);
  after.children.reserve(before_tree.children.size());
  size_t region = 0;
  for (const Node& child : before_tree.children) {
    if (child.kind != NodeKind::Velt) {
      after.children.push_back(child);
      continue;
    }
    state.fault.reset();
    Result<Node> processed = service.process_region(child, config, state);
    if (processed.ok()) {
      after.children.push_back(std::move(processed).value());
    } else {
      if (faults != nullptr) {
        RegionFault& fault = faults->emplace_back(RegionFault{region, 0, processed.error()});
        if (state.fault) fault.offset = use_offset(child, state.fault->use);
        if (state.fault && !state.fault->reason.empty()) fault.reason = state.fault->reason;
      }
      after.children.emplace_back(NodeKind::Text, collect_text(child));
    }
    ++region;
  }
  return after;
}

size_t use_offset(const Node& region, size_t use) {
  size_t offset = 0;
  size_t named = 0;  // uses with a name met so far
  for (const Node& child : region.children) {
    if (child.kind != NodeKind::Directive) break;
    for (size_t i = 0; i < child.children.size(); ++i) {
      const Node& part = child.children[i];
      const bool named_use = part.kind == NodeKind::Prefix && i + 1 < child.children.size() &&
                             child.children[i + 1].kind == NodeKind::Name;
      if (named_use && named++ == use) return offset;
      offset += collect_text(part).size();
    }
  }
  return 0;
}

}  // namespace zeviziz
