// The class registry: gives every distinct style rule a class ID (a positive
// 64-bit number), keeps the rules by ID for CSS generation and the cache, and
// keeps IDs stable from build to build through per-file ID histories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"

namespace zeviziz {

// One normalised style rule. `at_rule_kind`, `property`, `min_width` and
// `max_width` follow from the other three fields (see make_rule).
struct Rule {
  std::vector<std::string> at_rules;  // outermost first, media ranges normalised
  std::string selector;               // NUL stands for the rule's own class
  std::string declaration;            // "property:value"
  std::string at_rule_kind;           // keyword of the first non-"media" at-rule, else "media"
  std::string property;               // declaration before its first ":"
  uint32_t min_width = 0;             // largest min-width in pixels, 0 = none
  uint32_t max_width = 0;             // smallest non-zero max-width in pixels, 0 = none
};

// The identity of a rule: two rules with equal keys are the same rule.
struct RuleKey {
  std::vector<std::string> at_rules;
  std::string selector;
  std::string declaration;

  bool operator==(const RuleKey&) const = default;
};

// Returns the key of `rule` (a copy of its three identifying texts).
RuleKey rule_key(const Rule& rule);

// Hash and equality over RuleKey that also accept a Rule, so that a map keyed
// by RuleKey can be probed with a Rule without building a key.
struct RuleKeyHash {
  using is_transparent = void;
  size_t operator()(const RuleKey& key) const;
  size_t operator()(const Rule& rule) const;
};
struct RuleKeyEqual {
  using is_transparent = void;
  bool operator()(const RuleKey& a, const RuleKey& b) const { return a == b; }
  bool operator()(const RuleKey& a, const Rule& b) const;
  bool operator()(const Rule& a, const RuleKey& b) const { return (*this)(b, a); }
};

// Numbers and keeps rules. Invariant: `by_key` is exactly the inverse of
// `by_id`, and `counter` is at least the largest ID in `by_id`.
struct Registry {
  // Configured at-rule lists after media-range normalisation, in
  // configuration order; fixes the order of at-rule blocks in the CSS.
  std::vector<std::vector<std::string>> at_rule_order;
  std::unordered_map<RuleKey, uint64_t, RuleKeyHash, RuleKeyEqual> by_key;
  // Highest ID ever handed out or taken back; 0 at the start.
  uint64_t counter = 0;
  std::map<uint64_t, Rule> by_id;
};

// The IDs rules with a given key had in one file's previous output, ascending.
using IdHistory = std::unordered_map<RuleKey, std::vector<uint64_t>, RuleKeyHash, RuleKeyEqual>;

// Builds a Rule: normalises `at_rules` (media ranges) and derives the
// at-rule kind, property and width bounds. Fails with "Declaration has
// non-overlapping media ranges".
Result<Rule> make_rule(std::vector<std::string> at_rules, std::string selector,
                       std::string declaration);

// Returns the ID of `rule`: its existing ID when known; else the last free
// non-zero ID of its entry in `history` (consumed from the back); else the
// next counter value. Fails with "Class ID overflow" when the counter is at
// its maximum and a new ID is needed. A new rule is copied into the registry.
Result<uint64_t> lookup_or_assign(Registry& registry, const Rule& rule, IdHistory& history);

// Keeps only the rules whose IDs are in `ids` and rebuilds `by_key` to match
// (for a key held by several IDs the highest wins). The counter is unchanged.
// Timed as task "registry.retain".
void retain(Registry& registry, const std::set<uint64_t>& ids);

// Enters a rule read from the cache under `id` (at least 1); the counter
// becomes at least `id`. For a key already held by another ID the higher ID
// is indexed, as after retain. A rule already under `id` is replaced.
void insert_restored(Registry& registry, uint64_t id, Rule rule);

// Returns the rule with `id`, or fails with "Missing registry rule".
Result<const Rule*> get_rule(const Registry& registry, uint64_t id);

}  // namespace zeviziz
