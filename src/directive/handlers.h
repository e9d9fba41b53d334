// The directive handlers the service dispatches to, and the read-out of a
// normalised region's rule that `copy` and configured directives share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "directive/service.h"
#include "lexer/node.h"

namespace zeviziz {

// True for a valid id: non-empty, first character an ASCII letter, digit or
// "_", every character an ASCII letter, digit, "_" or "-".
bool is_valid_id(std::string_view id);

// Checks an id text: "Velt id cannot be empty" or "Invalid Velt id: " + id.
Status check_id(std::string_view id);

// The `id` preparation: fills the id table and duplicate set from every
// style region (Velt child) of `template_tree`. Never fails.
IdState prepare_ids(const Node& template_tree);

// Returns the error `message` after noting in `fault` (when given) that batch
// use `use` failed for `reason`, in the author's terms.
Error fault_error(std::optional<UseFault>* fault, size_t use, std::string reason,
                  std::string message, bool circular = false);

// The reason an id text is refused: it is empty or has other characters.
std::string id_reason(std::string_view id);

// The `id` handler for the batch of `id` uses of one region; `fault`, when
// given, receives the use to blame on failure.
Status handle_id(const std::vector<DirectiveUse>& batch, const IdState& ids,
                 std::optional<UseFault>* fault = nullptr);

// The `copy` handler: merges the named regions into `region` (normalised).
Status handle_copy(const DirectiveService& service, const std::vector<DirectiveUse>& batch,
                   Node& region, const ProjectConfig& config, TemplateState& state);

// The handler of configured directives (expansion into at-rules, selectors
// and declarations) for one batch of uses on `region` (normalised); `fault`,
// when given, receives the use to blame on failure.
Status expand_configured(const DirectiveService& service, const std::vector<DirectiveUse>& batch,
                         Node& region, const ProjectConfig& config,
                         std::optional<UseFault>* fault = nullptr);

// Reads a selector or declaration value of a configured directive (after
// placeholder substitution) by lexing and normalising a probe region: the
// selector as one Selector node, or the declarations; or the message of the
// first check it fails.
ProbedValue probe_case_value(const DirectiveService& service, DirectiveAction action,
                             const std::string& value);

// The parts of a normalised region's rule.
struct RuleParts {
  std::vector<Node> at_rules;      // AtRule nodes, outermost first
  Node selector;                   // a Selector node (no children: none)
  std::vector<Node> declarations;  // the block's items
};

// Returns the first Rule child of `region`, or null.
Node* find_rule(Node& region);
const Node* find_rule(const Node& region);

// Returns the first child of `node` of `kind`, or null.
Node* find_child(Node& node, NodeKind kind);
const Node* find_child(const Node& node, NodeKind kind);

// Reads out the at-rules, selector and declarations of the region's rule.
// Fails with "Missing normalized Velt rule" when the region holds no Rule.
Result<RuleParts> read_rule_parts(const Node& region);

// The property name of a declaration item (its Name children's text), or
// empty for an item that is not a declaration.
std::string property_of(const Node& item);

}  // namespace zeviziz
