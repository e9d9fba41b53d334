// Dropping the declarations of a region that a later declaration of the same
// region overrides. The CSS file orders rules by at-rule block, specificity,
// property length and text, not by their place in the source, so two rules of
// one region that set the same property for the same element would otherwise
// be ordered by chance and the earlier one could win.
//
// A target is one at-rule list (in the form rules are built with, ranges
// merged and canonical) and one selector alternative. The declarations are
// walked from the last to the first in registration order, keeping for each
// target the strongest later declaration (normal or important) that set each
// longhand; a declaration whose longhands are all set by stronger-or-equal
// later ones is dropped. A declaration repeated word for word is one rule:
// its fate is decided at its last appearance and shared by the earlier ones,
// so its first appearance still fixes its class number.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/unicode.h"
#include "css/media.h"
#include "normalize/normalize.h"
#include "normalize/shorthand.h"

namespace zeviziz {
namespace {

// How strongly a declaration sets its longhands; 0 = not set.
constexpr uint8_t kUnset = 0;
constexpr uint8_t kNormal = 1;
constexpr uint8_t kImportant = 2;

// True when `value` ends with "!important" (letter case and white space or
// comments between "!" and "important" are allowed, as in CSS).
bool is_important(std::string_view value) {
  constexpr std::string_view kWord = "important";
  constexpr std::string_view kComment = "/**/";
  auto skip_gaps = [&](std::string_view& text) {
    while (true) {
      text = trim_white_space(text);
      if (!text.ends_with(kComment)) return;
      text.remove_suffix(kComment.size());
    }
  };
  skip_gaps(value);
  if (value.size() < kWord.size()) return false;
  if (ascii_lower(value.substr(value.size() - kWord.size())) != kWord) return false;
  value.remove_suffix(kWord.size());
  skip_gaps(value);
  if (!value.ends_with('!')) return false;
  value.remove_suffix(1);
  return !value.ends_with('\\');
}

// The name a property is compared by: custom properties exactly (their
// names are case-sensitive), every other one in lower case.
std::string property_key(std::string_view property) {
  return property.starts_with("--") ? std::string(property) : ascii_lower(property);
}

// The longhands `key` sets: its table entry, or itself (through `single`).
std::span<const std::string_view> longhands_of(std::string_view key, std::string_view& single) {
  std::span<const std::string_view> longhands = shorthand_longhands(key);
  if (!longhands.empty()) return longhands;
  single = key;
  return {&single, 1};
}

// What later declarations of one target have set, while walking backwards.
class TargetState {
 public:
  // Visits a declaration (earlier than every one visited before) and tells
  // whether later ones override it.
  bool visit(const std::string& property, const std::string& value) {
    auto [seen, first] = seen_.try_emplace(property + ":" + value, false);
    if (!first) return seen->second;  // a repeat: the same rule as its later copy
    const uint8_t strength = is_important(value) ? kImportant : kNormal;
    const std::string key = property_key(property);
    std::string_view single;
    std::span<const std::string_view> longhands = longhands_of(key, single);
    seen->second = std::ranges::all_of(
        longhands, [&](std::string_view longhand) { return set_by_later(longhand) >= strength; });
    for (std::string_view longhand : longhands) {
      uint8_t& known = set_[std::string(longhand)];
      known = std::max(known, strength);
    }
    if (key == "all") all_ = std::max(all_, strength);
    return seen->second;
  }

 private:
  uint8_t set_by_later(std::string_view longhand) const {
    auto found = set_.find(std::string(longhand));
    uint8_t strength = found == set_.end() ? kUnset : found->second;
    return reset_by_all(longhand) ? std::max(strength, all_) : strength;
  }

  std::unordered_map<std::string, uint8_t> set_;  // longhand -> strongest later setter
  uint8_t all_ = kUnset;                          // strongest later "all"
  std::unordered_map<std::string, bool> seen_;    // declaration text -> dropped
};

// Names seen so far, searched linearly while few (the common case, without
// allocating a hash table) and through a hash set once many.
class NameSet {
 public:
  bool contains(std::string_view name) const {
    return many_.empty() ? std::ranges::find(few_, name) != few_.end() : many_.contains(name);
  }
  void insert(std::span<const std::string_view> names) {
    if (many_.empty() && few_.size() + names.size() <= kFew) {
      few_.insert(few_.end(), names.begin(), names.end());
      return;
    }
    if (many_.empty()) many_.insert(few_.begin(), few_.end());
    many_.insert(names.begin(), names.end());
  }

 private:
  static constexpr size_t kFew = 48;
  std::vector<std::string_view> few_;
  std::unordered_set<std::string_view> many_;
};

// A cheap necessary condition for any drop: the first longhand of some
// declaration is set by a later declaration of the region (any target).
bool may_override(const std::vector<NormalizedRule>& rules) {
  size_t count = 0;
  for (const NormalizedRule& rule : rules) count += rule.declarations.size();
  if (count < 2) return false;
  std::vector<std::string> lowered;  // keys that differ from the property text
  lowered.reserve(count);            // no reallocation: `keys` points into it
  std::vector<std::string_view> keys;
  keys.reserve(count);
  for (const NormalizedRule& rule : rules) {
    for (const auto& declaration : rule.declarations) {
      const std::string& property = declaration.first;
      const bool folded = property.starts_with("--") || std::ranges::none_of(property, [](char c) {
                            return c >= 'A' && c <= 'Z';
                          });
      keys.push_back(folded ? std::string_view(property)
                            : std::string_view(lowered.emplace_back(property_key(property))));
    }
  }
  NameSet later;  // longhands set after the current declaration
  bool later_all = false;
  for (size_t i = keys.size(); i-- > 0;) {
    std::string_view single;
    std::span<const std::string_view> longhands = longhands_of(keys[i], single);
    if (later.contains(longhands.front()) || (later_all && reset_by_all(longhands.front()))) {
      return true;
    }
    later.insert(longhands);
    later_all = later_all || keys[i] == "all";
  }
  return false;
}

// The at-rule part of a target key: the list as rules are built with it,
// each text prefixed with its length so that keys cannot run together.
std::string at_rule_key(const std::vector<std::string>& at_rules) {
  Result<NormalizedAtRules> normalized = normalize_at_rules(at_rules);
  const std::vector<std::string>& list = normalized.ok() ? normalized->at_rules : at_rules;
  std::string key;
  for (const std::string& text : list) key += std::to_string(text.size()) + ":" + text;
  return key + "|";
}

// Per rule: its selector alternatives and, alternative-major, whether each
// declaration is dropped.
struct RuleDrops {
  std::vector<std::string> alternatives;
  std::vector<char> dropped;  // [alternative * declarations + declaration]
  bool any = false;
};

std::vector<RuleDrops> find_drops(const std::vector<NormalizedRule>& rules) {
  std::vector<RuleDrops> drops(rules.size());
  std::vector<std::vector<size_t>> targets(rules.size());
  std::unordered_map<std::string, size_t> target_index;
  for (size_t r = 0; r < rules.size(); ++r) {
    drops[r].alternatives = split_top_level(rules[r].selector);
    const std::string prefix = at_rule_key(rules[r].at_rules);
    for (const std::string& alternative : drops[r].alternatives) {
      auto [found, added] = target_index.try_emplace(prefix + alternative, target_index.size());
      targets[r].push_back(found->second);
    }
  }
  std::vector<TargetState> states(target_index.size());
  for (size_t r = rules.size(); r-- > 0;) {
    const auto& declarations = rules[r].declarations;
    RuleDrops& rule = drops[r];
    rule.dropped.assign(rule.alternatives.size() * declarations.size(), 0);
    for (size_t a = rule.alternatives.size(); a-- > 0;) {
      for (size_t d = declarations.size(); d-- > 0;) {
        const bool dropped =
            states[targets[r][a]].visit(declarations[d].first, declarations[d].second);
        rule.dropped[a * declarations.size() + d] = dropped;
        rule.any = rule.any || dropped;
      }
    }
  }
  return drops;
}

// The declarations of `rule` whose flag in `dropped` (from `offset`) is off.
NormalizedRule kept(const NormalizedRule& rule, std::string selector,
                    const std::vector<char>& dropped, size_t offset) {
  NormalizedRule result{rule.at_rules, std::move(selector), {}};
  for (size_t d = 0; d < rule.declarations.size(); ++d) {
    if (!dropped[offset + d]) result.declarations.push_back(rule.declarations[d]);
  }
  return result;
}

// Rebuilds `rule` without its dropped declarations. When the alternatives of
// its selector lost different declarations, each alternative becomes a rule
// of its own; the order of registration stays the same.
void append_kept(NormalizedRule& rule, const RuleDrops& drops, std::vector<NormalizedRule>& out) {
  const size_t count = rule.declarations.size();
  bool uniform = true;
  for (size_t a = 1; a < drops.alternatives.size() && uniform; ++a) {
    uniform = std::equal(drops.dropped.begin(), drops.dropped.begin() + count,
                         drops.dropped.begin() + a * count);
  }
  auto append = [&](NormalizedRule item) {
    if (!item.declarations.empty()) out.push_back(std::move(item));
  };
  if (uniform) {
    append(kept(rule, std::move(rule.selector), drops.dropped, 0));
    return;
  }
  for (size_t a = 0; a < drops.alternatives.size(); ++a) {
    append(kept(rule, drops.alternatives[a], drops.dropped, a * count));
  }
}

}  // namespace

void drop_overridden_declarations(std::vector<NormalizedRule>& rules) {
  if (!may_override(rules)) return;
  const std::vector<RuleDrops> drops = find_drops(rules);
  if (std::ranges::none_of(drops, [](const RuleDrops& rule) { return rule.any; })) return;
  std::vector<NormalizedRule> out;
  out.reserve(rules.size());
  for (size_t r = 0; r < rules.size(); ++r) {
    if (drops[r].any) {
      append_kept(rules[r], drops[r], out);
    } else {
      out.push_back(std::move(rules[r]));
    }
  }
  rules = std::move(out);
}

}  // namespace zeviziz
