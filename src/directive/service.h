// The directive service: maps every directive name (the built-in `id` and
// `copy`, and every configured directive) to a handler, collects the
// directive uses of each style region, and runs the handlers in two phases
// around normalisation.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config.h"
#include "lexer/lexer.h"
#include "lexer/node.h"

namespace zeviziz {

// One directive use of a region: its name and the trimmed text inside its
// parentheses (absent without parentheses).
struct DirectiveUse {
  std::string name;
  std::optional<std::string> argument;

  bool operator==(const DirectiveUse&) const = default;
};

// The `id` state of one template: regions by id, ids declared twice, and the
// ids whose regions are being expanded by copies in progress.
struct IdState {
  std::map<std::string, Node> regions;
  std::set<std::string> duplicates;
  std::vector<std::string> copy_chain;
};

// Why a directive use made its region fail, in the author's terms (e.g.
// `no id "nope" to copy in this file`). Handlers count `use` within their
// batch; the service turns it into the region's use index.
struct UseFault {
  size_t use = 0;
  std::string reason;
  bool circular = false;  // a copy cycle, reported as such by every copier
};

// Per-template state, made anew for every compiled template by `prepare`.
struct TemplateState {
  // By handler entry: the error its preparation step returned, if any.
  std::vector<std::optional<std::string>> preparation_errors;
  IdState ids;
  // The use that made the region in process fail, when a handler knew it.
  std::optional<UseFault> fault;
};

// A style region that process_template kept as text: its index among the
// template's Velt children, the byte offset (within the region's source
// text) of the directive use to blame, 0 when none is, and why.
struct RegionFault {
  size_t region = 0;
  size_t offset = 0;
  std::string reason;
};

// A selector or declaration value of a configured directive, read once:
// the nodes it gives (one Selector node, or the declarations) or the message
// reading it failed with.
struct ProbedValue {
  std::string error;  // empty when the value read
  std::vector<Node> nodes;
};

class DirectiveService {
 public:
  // Builds the service for the configured directives: `id`, `copy`, then
  // every configured name. Fails with "Directive name cannot be empty" or
  // "Duplicate directive: " + name.
  static Result<DirectiveService> build(const ProjectConfig& config);

  // Every registered name in ascending byte order (the lexer's list).
  std::vector<std::string> names() const;

  // Runs every preparation step over `template_tree` (a Template node) and
  // returns the per-template state; preparation errors are kept per entry.
  TemplateState prepare(const Node& template_tree) const;

  // Transforms one style region (a Velt node): collects its uses, runs the
  // first phase, normalises the working region, runs the second phase.
  // Returns the processed region or the first error (a use error, a
  // normalisation error, a handler error).
  Result<Node> process_region(const Node& region, const ProjectConfig& config,
                              TemplateState& state) const;

  // The lexer for probe texts of configured directives (same names).
  const Lexer& lexer() const { return lexer_; }

  // The reading of selector or declaration value `value` (after placeholder
  // substitution) made when the service was built, or null when it was not
  // read then (values that depend on the arguments of a use).
  const ProbedValue* probed(DirectiveAction action, std::string_view value) const;

 private:
  enum class Handler { Id, Copy, Configured };
  struct Entry {
    Handler handler;
    int phase;
  };

  DirectiveService() : lexer_(std::vector<std::string>{}) {}
  Status add_name(const std::string& name, size_t entry);
  Status dispatch(const std::vector<DirectiveUse>& uses, int phase, Node& region,
                  const ProjectConfig& config, TemplateState& state) const;
  Status run_batch(size_t entry, const std::vector<DirectiveUse>& batch, Node& region,
                   const ProjectConfig& config, TemplateState& state) const;
  Status run_counted(size_t entry, const std::vector<DirectiveUse>& batch,
                     const std::vector<size_t>& indices, Node& region, const ProjectConfig& config,
                     TemplateState& state) const;

  void probe_fixed_values(const ProjectConfig& config);

  std::vector<Entry> entries_;
  std::map<std::string, size_t> names_;
  Lexer lexer_;
  // By substituted value: selector values, then declaration values.
  std::map<std::string, ProbedValue, std::less<>> probed_[2];
};

// Builds the service in the timed task "directive.service".
Result<DirectiveService> build_directive_service(const ProjectConfig& config);

// Splits a region into its directive uses and its working region (the
// region without Directive children). Fails with "Invalid directive",
// "Invalid directive name" or "Invalid directive argument".
Result<std::vector<DirectiveUse>> collect_uses(const Node& region, Node* working);

// Returns the "after" tree of a Template: the service prepares the tree and
// processes every style region in order; a region that fails is replaced by
// a Text node holding its exact source text. With `faults`, each such region
// is described there (the use to blame and why; the error message when no
// handler gave a reason); otherwise the message is dropped.
Node process_template(const DirectiveService& service, const Node& before_tree,
                      const ProjectConfig& config, std::vector<RegionFault>* faults = nullptr);

// The byte offset, within the source text of `region`, of the "!" that
// starts its use number `use` (collect_uses order); 0 when there is none.
size_t use_offset(const Node& region, size_t use);

}  // namespace zeviziz
