// Class registry. Texts are interned in tables that store each text once in
// large blocks and index it with open addressing over its number; an at-rule
// list is interned as the string of its texts' numbers. A rule is then a key
// of three numbers. Rules by ID live in a vector indexed by ID (IDs are
// handed out from 1 upwards), with a tree only for IDs far beyond the number
// of rules; the key index is open addressing over IDs. Nothing is erased one
// by one: retain builds fresh tables from the kept rules, so texts no rule
// uses any more are dropped and the work is linear in the registry size.
#include "css/registry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include "css/media.h"
#include "log/log.h"

namespace zeviziz {
namespace {

constexpr size_t kMinBlock = 4096;

size_t mix(size_t seed, size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

size_t hash_text(std::string_view text) {
  return std::hash<std::string_view>()(text);
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

}  // namespace

const RuleKey* rule_key(const Registry& registry, uint64_t id) {
  if (id < registry.dense.size()) {
    const RuleKey& key = registry.dense[id];
    return key.declaration == TextTable::kNone ? nullptr : &key;
  }
  auto found = registry.sparse.find(id);
  return found == registry.sparse.end() ? nullptr : &found->second;
}

namespace {

// The slot of `key` in the key index: the one holding it, or the empty one
// where it would go.
size_t key_slot(const Registry& registry, const RuleKey& key) {
  const size_t mask = registry.key_slots.size() - 1;
  size_t slot = RuleKeyHash()(key) & mask;
  while (registry.key_slots[slot] != 0 && *rule_key(registry, registry.key_slots[slot]) != key) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

uint64_t find_key(const Registry& registry, const RuleKey& key) {
  if (registry.key_slots.empty()) return 0;
  return registry.key_slots[key_slot(registry, key)];
}

void grow_key_index(Registry& registry) {
  std::vector<uint64_t> old = std::move(registry.key_slots);
  registry.key_slots.assign(std::max<size_t>(64, old.size() * 2), 0);
  for (uint64_t id : old) {
    if (id != 0) registry.key_slots[key_slot(registry, *rule_key(registry, id))] = id;
  }
}

// Points the key of `id` at `id` unless a higher ID already holds it.
void index_rule(Registry& registry, uint64_t id, const RuleKey& key) {
  if ((registry.key_count + 1) * 4 > registry.key_slots.size() * 3) grow_key_index(registry);
  uint64_t& slot = registry.key_slots[key_slot(registry, key)];
  if (slot == 0) ++registry.key_count;
  if (slot < id) slot = id;
}

// Enters `key` under `id` in the rule table, growing the in-place part while
// IDs stay within twice the number of rules.
void place_rule(Registry& registry, uint64_t id, const RuleKey& key) {
  const RuleKey kFree{0, 0, TextTable::kNone};
  if (id >= registry.dense.size() && id <= 2 * registry.rule_count + 1024) {
    const size_t size = std::max<size_t>(id + 1, registry.dense.size() * 2);
    registry.dense.resize(size, kFree);
    auto it = registry.sparse.begin();
    for (; it != registry.sparse.end() && it->first < size; ++it) {
      registry.dense[it->first] = it->second;
    }
    registry.sparse.erase(registry.sparse.begin(), it);
  }
  if (id < registry.dense.size()) {
    if (registry.dense[id].declaration == TextTable::kNone) ++registry.rule_count;
    registry.dense[id] = key;
  } else if (registry.sparse.insert_or_assign(id, key).second) {
    ++registry.rule_count;
  }
}

// Takes IDs from the back of the history entry of `rule` (a Rule or a
// RuleView) until one is free.
template <typename AnyRule>
uint64_t take_from_history(const Registry& registry, const AnyRule& rule, IdHistory& history) {
  if (history.catalog == nullptr || history.ids.empty()) return 0;
  std::optional<RuleKey> key = history.catalog->find(rule);
  if (!key) return 0;
  auto entry = history.ids.find(*key);
  if (entry == history.ids.end()) return 0;
  std::vector<uint64_t>& ids = entry->second;
  while (!ids.empty()) {
    uint64_t id = ids.back();
    ids.pop_back();
    if (id != 0 && !has_rule(registry, id)) return id;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- texts

TextTable::TextTable(const TextTable& other) {
  *this = other;
}

TextTable& TextTable::operator=(const TextTable& other) {
  if (this == &other) return *this;
  *this = TextTable();
  for (std::string_view text : other.texts_) intern(text);
  return *this;
}

std::string_view TextTable::store(std::string_view text) {
  if (text.empty()) return {};
  if (block_size_ - block_used_ < text.size()) {
    block_size_ = std::max({kMinBlock, text.size(), block_size_ * 2});
    block_size_ = std::min(block_size_, std::max<size_t>(text.size(), 1 << 20));
    blocks_.push_back(std::make_unique<char[]>(block_size_));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  std::memcpy(at, text.data(), text.size());
  block_used_ += text.size();
  return {at, text.size()};
}

void TextTable::grow() {
  slots_.assign(std::max<size_t>(64, slots_.size() * 2), kNone);
  const size_t mask = slots_.size() - 1;
  for (uint32_t id = 0; id < texts_.size(); ++id) {
    size_t slot = hash_text(texts_[id]) & mask;
    while (slots_[slot] != kNone) slot = (slot + 1) & mask;
    slots_[slot] = id;
  }
}

uint32_t TextTable::find(std::string_view text) const {
  if (slots_.empty()) return kNone;
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash_text(text) & mask;; slot = (slot + 1) & mask) {
    if (slots_[slot] == kNone || texts_[slots_[slot]] == text) return slots_[slot];
  }
}

uint32_t TextTable::intern(std::string_view text) {
  if ((texts_.size() + 1) * 4 > slots_.size() * 3) grow();
  const size_t mask = slots_.size() - 1;
  size_t slot = hash_text(text) & mask;
  for (; slots_[slot] != kNone; slot = (slot + 1) & mask) {
    if (texts_[slots_[slot]] == text) return slots_[slot];
  }
  slots_[slot] = static_cast<uint32_t>(texts_.size());
  texts_.push_back(store(text));
  return slots_[slot];
}

// ---------------------------------------------------------------- catalog

size_t RuleKeyHash::operator()(const RuleKey& key) const {
  size_t seed = mix(key.at_rules * 0x9e3779b97f4a7c15ULL, key.selector);
  seed = mix(seed, key.declaration);
  return seed * 0xff51afd7ed558ccdULL ^ (seed >> 29);
}

// The at-rule texts of `texts` as the string of their numbers by `number_of`
// (intern or find); nothing when one has no number.
template <typename Texts, typename NumberOf>
std::optional<std::string> list_numbers(const Texts& texts, NumberOf number_of) {
  std::string numbers(texts.size() * sizeof(uint32_t), '\0');
  for (size_t i = 0; i < texts.size(); ++i) {
    const uint32_t id = number_of(texts[i]);
    if (id == TextTable::kNone) return std::nullopt;
    std::memcpy(numbers.data() + i * sizeof id, &id, sizeof id);
  }
  return numbers;
}

uint32_t RuleCatalog::find_list(const std::vector<std::string>& texts) const {
  std::optional<std::string> numbers =
      list_numbers(texts, [this](std::string_view text) { return at_rule_texts_.find(text); });
  return numbers ? list_keys_.find(*numbers) : TextTable::kNone;
}

uint32_t RuleCatalog::find_list(const std::vector<std::string_view>& texts) const {
  std::optional<std::string> numbers =
      list_numbers(texts, [this](std::string_view text) { return at_rule_texts_.find(text); });
  return numbers ? list_keys_.find(*numbers) : TextTable::kNone;
}

template <typename Texts>
uint32_t RuleCatalog::enter_list(const Texts& texts, std::string_view kind, uint32_t min_width,
                                 uint32_t max_width) {
  const std::string numbers =
      *list_numbers(texts, [this](std::string_view text) { return at_rule_texts_.intern(text); });
  const uint32_t list = list_keys_.intern(numbers);
  if (list < lists_.size()) return list;
  AtRuleList& entry = lists_.emplace_back();
  entry.texts.reserve(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    entry.texts.push_back(at_rule_texts_.text(at_rule_texts_.find(texts[i])));
  }
  entry.kind = at_rule_texts_.text(at_rule_texts_.intern(kind));
  entry.min_width = min_width;
  entry.max_width = max_width;
  return list;
}

RuleCatalog::RuleCatalog(const RuleCatalog& other) {
  *this = other;
}

RuleCatalog& RuleCatalog::operator=(const RuleCatalog& other) {
  if (this == &other) return *this;
  selectors_ = other.selectors_;
  declarations_ = other.declarations_;
  at_rule_texts_ = other.at_rule_texts_;
  list_keys_ = other.list_keys_;
  lists_.clear();
  auto own = [this](std::string_view text) {
    return at_rule_texts_.text(at_rule_texts_.find(text));
  };
  for (const AtRuleList& list : other.lists_) {
    AtRuleList& copy = lists_.emplace_back(list);
    for (std::string_view& text : copy.texts) text = own(text);
    copy.kind = own(list.kind);
  }
  return *this;
}

RuleKey RuleCatalog::intern(const Rule& rule) {
  return RuleKey{enter_list(rule.at_rules, rule.at_rule_kind, rule.min_width, rule.max_width),
                 selectors_.intern(rule.selector), declarations_.intern(rule.declaration)};
}

RuleKey RuleCatalog::intern(const RuleView& rule) {
  const AtRuleList& list = *rule.at_rules;
  return RuleKey{enter_list(list.texts, list.kind, list.min_width, list.max_width),
                 selectors_.intern(rule.selector), declarations_.intern(rule.declaration)};
}

std::optional<RuleKey> RuleCatalog::find(const Rule& rule) const {
  RuleKey key{find_list(rule.at_rules), selectors_.find(rule.selector),
              declarations_.find(rule.declaration)};
  if (key.at_rules == TextTable::kNone || key.selector == TextTable::kNone ||
      key.declaration == TextTable::kNone) {
    return std::nullopt;
  }
  return key;
}

std::optional<RuleKey> RuleCatalog::find(const RuleView& rule) const {
  RuleKey key{find_list(rule.at_rules->texts), selectors_.find(rule.selector),
              declarations_.find(rule.declaration)};
  if (key.at_rules == TextTable::kNone || key.selector == TextTable::kNone ||
      key.declaration == TextTable::kNone) {
    return std::nullopt;
  }
  return key;
}

RuleView RuleCatalog::view(const RuleKey& key) const {
  return RuleView{&lists_[key.at_rules], selectors_.text(key.selector),
                  declarations_.text(key.declaration), key.at_rules};
}

// ---------------------------------------------------------------- registry

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

uint64_t find_id(const Registry& registry, const Rule& rule) {
  std::optional<RuleKey> key = registry.catalog.find(rule);
  return key ? find_key(registry, *key) : 0;
}

namespace {

// Returns the ID of `rule`, a Rule or a RuleView (see lookup_or_assign).
template <typename AnyRule>
Result<uint64_t> assign_id(Registry& registry, const AnyRule& rule, IdHistory& history) {
  if (std::optional<RuleKey> key = registry.catalog.find(rule)) {
    if (uint64_t known = find_key(registry, *key); known != 0) return known;
  }
  uint64_t id = take_from_history(registry, rule, history);
  if (id != 0) {
    registry.counter = std::max(registry.counter, id);
  } else {
    if (registry.counter == std::numeric_limits<uint64_t>::max()) {
      return make_error("Class ID overflow");
    }
    id = ++registry.counter;
  }
  const RuleKey key = registry.catalog.intern(rule);
  place_rule(registry, id, key);
  index_rule(registry, id, key);
  return id;
}

}  // namespace

Result<uint64_t> lookup_or_assign(Registry& registry, const Rule& rule, IdHistory& history) {
  return assign_id(registry, rule, history);
}

Result<uint64_t> lookup_or_assign(Registry& registry, const RuleView& rule, IdHistory& history) {
  return assign_id(registry, rule, history);
}

Registry retained_copy(const Registry& registry, const IdSet& ids) {
  Registry copy;
  copy.at_rule_order = registry.at_rule_order;
  copy.counter = registry.counter;
  for (uint64_t id : ids) {
    const RuleKey* key = rule_key(registry, id);
    if (key == nullptr) continue;
    const RuleKey fresh = copy.catalog.intern(registry.catalog.view(*key));
    place_rule(copy, id, fresh);
    index_rule(copy, id, fresh);
  }
  return copy;
}

void retain(Registry& registry, const IdSet& ids) {
  TaskGuard guard = task_start("registry.retain");
  registry = retained_copy(registry, ids);
}

void insert_restored(Registry& registry, uint64_t id, const Rule& rule) {
  registry.counter = std::max(registry.counter, id);
  const bool replaced = has_rule(registry, id);
  const RuleKey key = registry.catalog.intern(rule);
  place_rule(registry, id, key);
  if (!replaced) {
    index_rule(registry, id, key);
    return;
  }
  // A replaced rule may leave its old key behind: rebuild the key index.
  registry.key_slots.clear();
  registry.key_count = 0;
  for_each_rule(registry, [&registry](uint64_t each, const RuleView&) {
    index_rule(registry, each, *rule_key(registry, each));
  });
}

bool has_rule(const Registry& registry, uint64_t id) {
  return rule_key(registry, id) != nullptr;
}

Result<RuleView> get_rule(const Registry& registry, uint64_t id) {
  const RuleKey* key = rule_key(registry, id);
  if (key == nullptr) return make_error("Missing registry rule");
  return registry.catalog.view(*key);
}

}  // namespace zeviziz
