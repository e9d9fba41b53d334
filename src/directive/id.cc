// The built-in `id` directive. Its preparation reads every style region of a
// template once and records which region carries which id (and which ids are
// declared twice); its handler checks a region's own `id` use. The use
// leaves no trace in the region.
#include <algorithm>

#include "config/load.h"
#include "directive/handlers.h"

namespace zeviziz {
namespace {

// The argument of the single `id` use of a region, when it has exactly one
// such use and that use has an argument.
std::optional<std::string> single_id(const std::vector<DirectiveUse>& uses) {
  std::optional<std::string> id;
  size_t count = 0;
  for (const DirectiveUse& use : uses) {
    if (use.name != "id") continue;
    ++count;
    id = use.argument;
  }
  return count == 1 ? id : std::nullopt;
}

}  // namespace

bool is_valid_id(std::string_view id) {
  // Ids follow the rule for template, boundary and directive names.
  return is_valid_name(id);
}

Status check_id(std::string_view id) {
  if (id.empty()) return make_error("Velt id cannot be empty");
  if (!is_valid_id(id)) return make_error("Invalid Velt id: " + std::string(id));
  return {};
}

IdState prepare_ids(const Node& template_tree) {
  IdState state;
  for (const Node& region : template_tree.children) {
    if (region.kind != NodeKind::Velt) continue;
    Result<std::vector<DirectiveUse>> uses = collect_uses(region, nullptr);
    if (!uses.ok()) continue;
    const std::optional<std::string> id = single_id(*uses);
    if (!id || !is_valid_id(*id)) continue;
    if (!state.regions.emplace(*id, region).second) state.duplicates.insert(*id);
  }
  return state;
}

Error fault_error(std::optional<UseFault>* fault, size_t use, std::string reason,
                  std::string message, bool circular) {
  if (fault != nullptr) *fault = UseFault{use, std::move(reason), circular};
  return make_error(std::move(message));
}

std::string id_reason(std::string_view id) {
  if (id.empty()) return "empty id";
  return "invalid id \"" + std::string(id) + "\": use letters, digits, \"_\" and \"-\"";
}

Status handle_id(const std::vector<DirectiveUse>& batch, const IdState& ids,
                 std::optional<UseFault>* fault) {
  for (size_t i = 0; i < batch.size(); ++i) {
    if (!batch[i].argument) {
      return fault_error(fault, i, "\"id\" needs an id: write !id(card)", "id requires an id");
    }
  }
  for (size_t i = 0; i < batch.size(); ++i) {
    Status checked = check_id(*batch[i].argument);
    if (!checked.ok()) {
      return fault_error(fault, i, id_reason(*batch[i].argument), checked.error());
    }
  }
  if (batch.size() > 1) {
    return fault_error(fault, 1, "a region can have only one id",
                       "Velt declaration has multiple ids");
  }
  const std::string& id = *batch.front().argument;
  if (ids.duplicates.contains(id)) {
    return fault_error(fault, 0, "id \"" + id + "\" is given to more than one region in this file",
                       "Duplicate Velt id: " + id);
  }
  return {};
}

}  // namespace zeviziz
