// CSS generation in three steps. Collect: one entry per rule in use, with the
// position of each of its at-rules in the configured at-rule order and the
// specificity of its selector (computed once per distinct selector text by
// lexing it with NUL read as "&"). Order: a stable sort by at-rule levels,
// specificity, property length and the rule texts. Emit: walk the sorted
// entries keeping the stack of open at-rule blocks, closing and opening only
// where neighbours differ. The output size is counted exactly by a first
// emission pass, so the text is written into one allocation.
#include "css/css_gen.h"

#include <algorithm>
#include <charconv>
#include <compare>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "base/unicode.h"
#include "css/selector.h"
#include "lexer/lexer.h"
#include "log/log.h"

namespace zeviziz {
namespace {

// Position of one at-rule in the configured order: configured lists
// (flag 0, list index) come before unconfigured at-rules (flag 1, 0).
struct Level {
  uint8_t flag = 1;
  uint64_t index = 0;

  auto operator<=>(const Level&) const = default;
};

struct CssEntry {
  const Rule* rule = nullptr;
  uint64_t id = 0;
  const Specificity* specificity = nullptr;
  uint64_t property_chars = 0;
  size_t levels_begin = 0;  // this entry's levels in the shared level pool
};

// Length of the longest prefix of `list` that equals the at-rules of `rule`
// ending at position `i`, 0 when none does.
size_t match_length(const std::vector<std::string>& at_rules, size_t i,
                    const std::vector<std::string>& list) {
  for (size_t k = std::min(i + 1, list.size()); k >= 1; --k) {
    if (std::equal(list.begin(), list.begin() + k, at_rules.begin() + (i + 1 - k))) return k;
  }
  return 0;
}

// The level of the at-rule at position `i` of `at_rules`.
Level level_at(const std::vector<std::string>& at_rules, size_t i,
               const std::vector<std::vector<std::string>>& order) {
  Level level;
  size_t best = 0;
  for (size_t index = 0; index < order.size(); ++index) {
    size_t length = match_length(at_rules, i, order[index]);
    if (length > best) {
      best = length;
      level = Level{0, index};
    }
  }
  return level;
}

// Specificity of a selector text with each NUL read as "&" (so the rule's own
// class counts nothing), its pseudo-class codes sorted.
Specificity selector_specificity(std::string_view selector) {
  std::string text(selector);
  std::replace(text.begin(), text.end(), '\0', '&');
  text += '{';
  Specificity result = specificity(lex_selector(text));
  std::sort(result.codes.begin(), result.codes.end());
  return result;
}

class EntryOrder {
 public:
  explicit EntryOrder(const std::vector<Level>& levels) : levels_(levels) {}

  bool operator()(const CssEntry& a, const CssEntry& b) const { return compare(a, b) < 0; }

 private:
  std::weak_ordering compare(const CssEntry& a, const CssEntry& b) const {
    if (auto c = compare_at_rules(a, b); c != 0) return c;
    if (a.specificity != b.specificity) {
      if (auto c = compare_specificity(*a.specificity, *b.specificity); c != 0) return c;
    }
    if (auto c = a.property_chars <=> b.property_chars; c != 0) return c;
    return compare_texts(*a.rule, *b.rule);
  }

  std::weak_ordering compare_at_rules(const CssEntry& a, const CssEntry& b) const {
    const std::vector<std::string>& x = a.rule->at_rules;
    const std::vector<std::string>& y = b.rule->at_rules;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
      if (x[i] == y[i]) continue;
      const Level& lx = levels_[a.levels_begin + i];
      const Level& ly = levels_[b.levels_begin + i];
      if (auto c = lx <=> ly; c != 0) return c;
      return std::string_view(x[i]) <=> std::string_view(y[i]);
    }
    return x.size() <=> y.size();
  }

  static std::weak_ordering compare_specificity(const Specificity& a, const Specificity& b) {
    if (auto c = std::tie(a.ids, a.classes, a.elements) <=> std::tie(b.ids, b.classes, b.elements);
        c != 0) {
      return c;
    }
    if (auto c = b.where_count <=> a.where_count; c != 0) return c;
    if (auto c = std::tie(a.ids_all, a.classes_all, a.elements_all) <=>
                 std::tie(b.ids_all, b.classes_all, b.elements_all);
        c != 0) {
      return c;
    }
    if (auto c = b.combinators <=> a.combinators; c != 0) return c;
    return a.codes <=> b.codes;
  }

  static std::weak_ordering compare_texts(const Rule& a, const Rule& b) {
    using V = std::string_view;
    if (auto c = V(a.selector) <=> V(b.selector); c != 0) return c;
    if (auto c = V(a.property) <=> V(b.property); c != 0) return c;
    if (auto c = V(a.declaration) <=> V(b.declaration); c != 0) return c;
    if (auto c = V(a.at_rule_kind) <=> V(b.at_rule_kind); c != 0) return c;
    if (auto c = a.min_width <=> b.min_width; c != 0) return c;
    return a.max_width <=> b.max_width;
  }

  const std::vector<Level>& levels_;
};

struct Collected {
  std::vector<CssEntry> entries;
  std::vector<Level> levels;
  std::unordered_map<std::string_view, Specificity> specificities;
};

void collect(const Registry& registry, const std::set<uint64_t>& used, Collected& out) {
  auto next_used = used.begin();
  for (const auto& [id, rule] : registry.by_id) {
    while (next_used != used.end() && *next_used < id) ++next_used;
    if (next_used == used.end()) break;
    if (*next_used != id) continue;
    CssEntry entry{&rule, id, nullptr, count_chars(rule.property), out.levels.size()};
    for (size_t i = 0; i < rule.at_rules.size(); ++i) {
      out.levels.push_back(level_at(rule.at_rules, i, registry.at_rule_order));
    }
    auto [slot, inserted] = out.specificities.try_emplace(rule.selector);
    if (inserted) slot->second = selector_specificity(rule.selector);
    entry.specificity = &slot->second;
    out.entries.push_back(entry);
  }
}

// Counts the bytes an emission would write.
struct CountingSink {
  size_t size = 0;
  void append(std::string_view text) { size += text.size(); }
  void append(char) { ++size; }
  void append_class(uint64_t id) {
    size += 3;  // ".i" and the first digit
    for (; id >= 10; id /= 10) ++size;
  }
};

struct StringSink {
  std::string text;
  void append(std::string_view part) { text.append(part); }
  void append(char ch) { text.push_back(ch); }
  void append_class(uint64_t id) {
    char digits[24] = {'.', 'i'};
    char* end = std::to_chars(digits + 2, digits + sizeof digits, id).ptr;
    text.append(digits, end);
  }
};

template <typename Sink>
void emit_selector(std::string_view selector, uint64_t id, Sink& sink) {
  size_t start = 0;
  for (size_t nul = selector.find('\0'); nul != std::string_view::npos;
       nul = selector.find('\0', start)) {
    sink.append(selector.substr(start, nul - start));
    sink.append_class(id);
    start = nul + 1;
  }
  sink.append(selector.substr(start));
}

template <typename Sink>
void emit(const std::vector<CssEntry>& entries, Sink& sink) {
  std::vector<std::string_view> open;
  for (const CssEntry& entry : entries) {
    const std::vector<std::string>& at_rules = entry.rule->at_rules;
    size_t common = 0;
    while (common < open.size() && common < at_rules.size() && open[common] == at_rules[common]) {
      ++common;
    }
    for (size_t i = common; i < open.size(); ++i) sink.append('}');
    open.resize(common);
    for (size_t i = common; i < at_rules.size(); ++i) {
      sink.append(at_rules[i]);
      sink.append('{');
      open.push_back(at_rules[i]);
    }
    emit_selector(entry.rule->selector, entry.id, sink);
    sink.append('{');
    sink.append(entry.rule->declaration);
    sink.append('}');
  }
  for (size_t i = 0; i < open.size(); ++i) sink.append('}');
}

}  // namespace

std::string generate_css(const Registry& registry, const std::set<uint64_t>& used) {
  TaskGuard guard = task_start("css.generate");
  Collected collected;
  collect(registry, used, collected);
  std::stable_sort(collected.entries.begin(), collected.entries.end(),
                   EntryOrder(collected.levels));
  CountingSink counter;
  emit(collected.entries, counter);
  StringSink writer;
  writer.text.reserve(counter.size);
  emit(collected.entries, writer);
  return std::move(writer.text);
}

}  // namespace zeviziz
