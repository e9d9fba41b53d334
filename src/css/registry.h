// The class registry: gives every distinct style rule a class ID (a positive
// 64-bit number), keeps the rules by ID for CSS generation and the cache, and
// keeps IDs stable from build to build through per-file ID histories.
// Rules are held as small numeric keys into tables of interned texts, so each
// declaration, selector and at-rule list is stored once however many rules
// and files use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"

namespace zeviziz {

// One normalised style rule as the compile path builds it. `at_rule_kind`,
// `property`, `min_width` and `max_width` follow from the other three fields
// (see make_rule).
struct Rule {
  std::vector<std::string> at_rules;  // outermost first, media ranges normalised
  std::string selector;               // NUL stands for the rule's own class
  std::string declaration;            // "property:value"
  std::string at_rule_kind;           // keyword of the first non-"media" at-rule, else "media"
  std::string property;               // declaration before its first ":"
  uint32_t min_width = 0;             // largest min-width in pixels, 0 = none
  uint32_t max_width = 0;             // smallest non-zero max-width in pixels, 0 = none
};

// Distinct texts numbered from 0 in order of entry. Each text is stored once
// in large blocks, so the views handed out stay valid for the table's life.
class TextTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  TextTable() = default;
  TextTable(const TextTable& other);  // same texts under the same numbers
  TextTable(TextTable&&) = default;
  TextTable& operator=(const TextTable& other);
  TextTable& operator=(TextTable&&) = default;

  // Returns the number of `text`, entering it when new.
  uint32_t intern(std::string_view text);
  // Returns the number of `text`, or kNone when it was never entered.
  uint32_t find(std::string_view text) const;
  // The text of number `id` (which must exist).
  std::string_view text(uint32_t id) const { return texts_[id]; }
  uint32_t size() const { return static_cast<uint32_t>(texts_.size()); }

 private:
  std::string_view store(std::string_view text);
  void grow();

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t block_used_ = 0;
  size_t block_size_ = 0;
  std::vector<std::string_view> texts_;
  std::vector<uint32_t> slots_;  // open addressing over texts_, kNone = empty
};

// An at-rule list with what follows from it.
struct AtRuleList {
  std::vector<std::string_view> texts;  // outermost first
  std::string_view kind;                // see Rule::at_rule_kind
  uint32_t min_width = 0;
  uint32_t max_width = 0;
};

// The identity of a rule: numbers of its at-rule list, selector and
// declaration in one RuleCatalog. Equal keys of one catalog are the same rule.
struct RuleKey {
  uint32_t at_rules = 0;
  uint32_t selector = 0;
  uint32_t declaration = 0;

  bool operator==(const RuleKey&) const = default;
};

struct RuleKeyHash {
  size_t operator()(const RuleKey& key) const;
};

// A rule as a registry holds it: views into its catalog.
struct RuleView {
  const AtRuleList* at_rules = nullptr;
  std::string_view selector;
  std::string_view declaration;
  uint32_t list = 0;  // number of the at-rule list, equal lists equal numbers

  // The declaration before its first ":".
  std::string_view property() const { return declaration.substr(0, declaration.find(':')); }
};

// Interned texts and at-rule lists that rule keys refer to.
class RuleCatalog {
 public:
  RuleCatalog() = default;
  RuleCatalog(const RuleCatalog& other);  // same keys for the same rules
  RuleCatalog(RuleCatalog&&) = default;
  RuleCatalog& operator=(const RuleCatalog& other);
  RuleCatalog& operator=(RuleCatalog&&) = default;

  // The key of `rule`, entering its texts when new.
  RuleKey intern(const Rule& rule);
  // The same for a rule of another catalog.
  RuleKey intern(const RuleView& rule);
  // The key of `rule`, or nothing when one of its texts was never entered.
  std::optional<RuleKey> find(const Rule& rule) const;
  // The same for a rule of another catalog.
  std::optional<RuleKey> find(const RuleView& rule) const;
  // The rule of `key` (which must come from this catalog).
  RuleView view(const RuleKey& key) const;

 private:
  uint32_t find_list(const std::vector<std::string>& texts) const;
  uint32_t find_list(const std::vector<std::string_view>& texts) const;
  template <typename Texts>
  uint32_t enter_list(const Texts& texts, std::string_view kind, uint32_t min_width,
                      uint32_t max_width);

  TextTable selectors_;
  TextTable declarations_;
  TextTable at_rule_texts_;
  // Lists as the concatenated 4-byte numbers of their texts.
  TextTable list_keys_;
  std::deque<AtRuleList> lists_;  // by list number; places never move
};

// The IDs rules had in one file's previous output, ascending, by key into
// `catalog` (the history is empty while `catalog` is null).
struct IdHistory {
  const RuleCatalog* catalog = nullptr;
  std::unordered_map<RuleKey, std::vector<uint64_t>, RuleKeyHash> ids;
};

// Class IDs in ascending order, each once: the IDs a build uses, as a flat
// list (8 bytes an ID, where a tree set takes 40).
using IdSet = std::vector<uint64_t>;

// Numbers and keeps rules. Every ID maps to one key; the key index maps each
// key to the highest ID that holds it; `counter` is at least the largest ID.
struct Registry {
  // Configured at-rule lists after media-range normalisation, in
  // configuration order; fixes the order of at-rule blocks in the CSS.
  std::vector<std::vector<std::string>> at_rule_order;
  // Highest ID ever handed out or taken back; 0 at the start.
  uint64_t counter = 0;

  RuleCatalog catalog;
  // Rules by ID: IDs below dense.size() are held in place (a free place has
  // declaration kNone); larger IDs, far beyond the number of rules, in
  // `sparse`.
  std::vector<RuleKey> dense;
  std::map<uint64_t, RuleKey> sparse;
  size_t rule_count = 0;
  // Open addressing over IDs by their keys; 0 = empty.
  std::vector<uint64_t> key_slots;
  size_t key_count = 0;
};

// Builds a Rule: normalises `at_rules` (media ranges) and derives the
// at-rule kind, property and width bounds. Fails with "Declaration has
// non-overlapping media ranges".
Result<Rule> make_rule(std::vector<std::string> at_rules, std::string selector,
                       std::string declaration);

// Returns the ID of `rule`: its existing ID when known; else the last free
// non-zero ID of its entry in `history` (consumed from the back); else the
// next counter value. Fails with "Class ID overflow" when the counter is at
// its maximum and a new ID is needed. A new rule's texts are interned.
Result<uint64_t> lookup_or_assign(Registry& registry, const Rule& rule, IdHistory& history);
// The same for a rule held in another catalog (its texts are interned into
// the registry's catalog when the rule is new).
Result<uint64_t> lookup_or_assign(Registry& registry, const RuleView& rule, IdHistory& history);

// Returns the ID the key index gives `rule`, or 0 when it is unknown.
uint64_t find_id(const Registry& registry, const Rule& rule);

// Keeps only the rules whose IDs are in `ids` and rebuilds the tables to
// hold just their texts (for a key held by several IDs the highest wins).
// The counter is unchanged. Timed as task "registry.retain".
void retain(Registry& registry, const IdSet& ids);

// A registry with the order, counter and those rules of `registry` whose
// IDs are in `ids`, as retain would leave it.
Registry retained_copy(const Registry& registry, const IdSet& ids);

// Enters a rule read from the cache under `id` (at least 1); the counter
// becomes at least `id`. For a key already held by another ID the higher ID
// is indexed, as after retain. A rule already under `id` is replaced.
void insert_restored(Registry& registry, uint64_t id, const Rule& rule);

// Returns the rule with `id`, or fails with "Missing registry rule". The
// views stay valid until the registry changes.
Result<RuleView> get_rule(const Registry& registry, uint64_t id);

// The key of the rule under `id`, or null when there is none.
const RuleKey* rule_key(const Registry& registry, uint64_t id);

// True when a rule is held under `id`.
bool has_rule(const Registry& registry, uint64_t id);

// Calls `visit(id, view)` for every rule in ascending ID order.
template <typename Visit>
void for_each_rule(const Registry& registry, Visit&& visit) {
  for (size_t id = 0; id < registry.dense.size(); ++id) {
    const RuleKey& key = registry.dense[id];
    if (key.declaration != TextTable::kNone) visit(uint64_t{id}, registry.catalog.view(key));
  }
  for (const auto& [id, key] : registry.sparse) visit(id, registry.catalog.view(key));
}

}  // namespace zeviziz
