// Class registry. `by_key` answers "is this rule known" with one hash probe
// (the hash and equality accept a Rule directly, so no key is built for a
// known rule); `by_id` keeps rules in ascending ID order for CSS generation
// and the cache. Retain walks the kept set and `by_id` side by side and then
// rebuilds the reverse index, so it is linear in the registry size.
#include "css/registry.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

#include "css/media.h"
#include "log/log.h"

namespace zeviziz {
namespace {

size_t hash_parts(const std::vector<std::string>& at_rules, std::string_view selector,
                  std::string_view declaration) {
  std::hash<std::string_view> hash;
  size_t seed = at_rules.size();
  auto mix = [&seed](size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  for (const std::string& text : at_rules) mix(hash(text));
  mix(hash(selector));
  mix(hash(declaration));
  return seed;
}

// The keyword of the first at-rule that is not "media", or "media".
std::string at_rule_kind_of(const std::vector<std::string>& at_rules) {
  std::string kind = "media";
  for (const std::string& text : at_rules) {
    if (kind != "media") break;
    size_t start = text.find_first_not_of('@');
    if (start == std::string::npos) start = text.size();
    size_t end = start;
    while (end < text.size() && (text[end] == '-' || (text[end] >= 'a' && text[end] <= 'z') ||
                                 (text[end] >= 'A' && text[end] <= 'Z'))) {
      ++end;
    }
    kind.assign(text, start, end - start);
  }
  return kind;
}

// Takes IDs from the back of the history entry of `rule` until one is free.
uint64_t take_from_history(const Registry& registry, const Rule& rule, IdHistory& history) {
  auto entry = history.find(rule);
  if (entry == history.end()) return 0;
  std::vector<uint64_t>& ids = entry->second;
  while (!ids.empty()) {
    uint64_t id = ids.back();
    ids.pop_back();
    if (id != 0 && !registry.by_id.contains(id)) return id;
  }
  return 0;
}

// Points the key of `rule` at `id` unless a higher ID already holds it.
void index_rule(Registry& registry, uint64_t id, const Rule& rule) {
  auto found = registry.by_key.find(rule);
  if (found == registry.by_key.end()) {
    registry.by_key.emplace(rule_key(rule), id);
  } else if (found->second < id) {
    found->second = id;
  }
}

}  // namespace

RuleKey rule_key(const Rule& rule) {
  return RuleKey{rule.at_rules, rule.selector, rule.declaration};
}

size_t RuleKeyHash::operator()(const RuleKey& key) const {
  return hash_parts(key.at_rules, key.selector, key.declaration);
}

size_t RuleKeyHash::operator()(const Rule& rule) const {
  return hash_parts(rule.at_rules, rule.selector, rule.declaration);
}

bool RuleKeyEqual::operator()(const RuleKey& a, const Rule& b) const {
  return a.selector == b.selector && a.declaration == b.declaration && a.at_rules == b.at_rules;
}

Result<Rule> make_rule(std::vector<std::string> at_rules, std::string selector,
                       std::string declaration) {
  ZV_TRY(NormalizedAtRules normalized, normalize_at_rules(at_rules));
  Rule rule;
  rule.at_rules = std::move(normalized.at_rules);
  rule.min_width = normalized.bound_min;
  rule.max_width = normalized.bound_max;
  rule.at_rule_kind = at_rule_kind_of(rule.at_rules);
  rule.property = declaration.substr(0, declaration.find(':'));
  rule.selector = std::move(selector);
  rule.declaration = std::move(declaration);
  return rule;
}

Result<uint64_t> lookup_or_assign(Registry& registry, const Rule& rule, IdHistory& history) {
  auto known = registry.by_key.find(rule);
  if (known != registry.by_key.end()) return known->second;
  uint64_t id = take_from_history(registry, rule, history);
  if (id != 0) {
    registry.counter = std::max(registry.counter, id);
  } else {
    if (registry.counter == std::numeric_limits<uint64_t>::max()) {
      return make_error("Class ID overflow");
    }
    id = ++registry.counter;
  }
  registry.by_key.emplace(rule_key(rule), id);
  registry.by_id.emplace(id, rule);
  return id;
}

void retain(Registry& registry, const std::set<uint64_t>& ids) {
  TaskGuard guard = task_start("registry.retain");
  auto keep = ids.begin();
  for (auto it = registry.by_id.begin(); it != registry.by_id.end();) {
    while (keep != ids.end() && *keep < it->first) ++keep;
    if (keep != ids.end() && *keep == it->first) {
      ++it;
    } else {
      it = registry.by_id.erase(it);
    }
  }
  std::erase_if(registry.by_key, [&registry](const auto& entry) {
    auto rule = registry.by_id.find(entry.second);
    return rule == registry.by_id.end() || !RuleKeyEqual{}(entry.first, rule->second);
  });
  for (const auto& [id, rule] : registry.by_id) index_rule(registry, id, rule);
}

void insert_restored(Registry& registry, uint64_t id, Rule rule) {
  registry.counter = std::max(registry.counter, id);
  auto [slot, inserted] = registry.by_id.insert_or_assign(id, std::move(rule));
  if (inserted) {
    index_rule(registry, id, slot->second);
    return;
  }
  // A replaced rule may leave its old key behind: rebuild the reverse index.
  registry.by_key.clear();
  for (const auto& [each_id, each_rule] : registry.by_id) index_rule(registry, each_id, each_rule);
}

Result<const Rule*> get_rule(const Registry& registry, uint64_t id) {
  auto found = registry.by_id.find(id);
  if (found == registry.by_id.end()) return make_error("Missing registry rule");
  return &found->second;
}

}  // namespace zeviziz
