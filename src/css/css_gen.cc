// CSS generation in three steps. Collect: one entry per rule in use. Each
// distinct at-rule list gets the level of each of its at-rules in the
// configured order, and each distinct selector text its specificity (read
// from the text with NUL as "&"); lists, specificities and selector texts are then
// ranked once, so the sort compares integers before any rule text. Order: a
// stable sort by block (configured blocks first; unconfigured width ranges by
// their bounds, the others by text), specificity, property length, selector
// and the remaining texts. Emit: walk the sorted entries keeping the stack of open
// at-rule blocks, closing and opening only where neighbours differ. A first,
// counting emission pass sizes the output exactly, so the text is written
// into one allocation.
#include "css/css_gen.h"

#include <algorithm>
#include <charconv>
#include <compare>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "base/unicode.h"
#include "css/media.h"
#include "css/selector_weight.h"
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

// One rule to emit. The ranks order the entry's at-rule list, selector
// specificity and selector text among all those in use, so that sorting
// compares integers where it can. The rule's texts are looked up through
// its key, which keeps the entry small.
struct CssEntry {
  uint64_t id = 0;
  RuleKey key;
  uint32_t property_chars = 0;
  uint32_t block_rank = 0;
  uint32_t specificity_rank = 0;  // equal records share a rank
  uint32_t selector_rank = 0;
};

// Length of the longest prefix of `list` that equals the entries of `at_rules`
// ending at position `i`, 0 when none does.
size_t match_length(const std::vector<std::string_view>& at_rules, size_t i,
                    const std::vector<std::string>& list) {
  for (size_t k = std::min(i + 1, list.size()); k >= 1; --k) {
    if (std::equal(list.begin(), list.begin() + k, at_rules.begin() + (i + 1 - k))) return k;
  }
  return 0;
}

// The level of the at-rule at position `i` of `at_rules`.
Level level_at(const std::vector<std::string_view>& at_rules, size_t i,
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

// Specificity of a selector text (NUL counts nothing), its pseudo-class
// codes sorted.
Specificity sorted_specificity(std::string_view selector) {
  Specificity result = selector_specificity(selector);
  std::sort(result.codes.begin(), result.codes.end());
  return result;
}

// One distinct at-rule list in use, with the level of each of its at-rules
// and, for unconfigured ones in the canonical range form, their range.
struct Block {
  const std::vector<std::string_view>* at_rules;
  std::vector<Level> levels;
  std::vector<std::optional<MediaRange>> ranges;
};

// The range of `text` when it is a pure width range in canonical form.
std::optional<MediaRange> canonical_range(std::string_view text) {
  std::optional<MediaRange> range = parse_range(text);
  if (range && canonical_range_text(*range) != text) range.reset();
  return range;
}

// Orders two different unconfigured at-rule texts of the same level. Two
// ranges compare mobile-first: lower bound ascending, then upper bound
// descending (no upper bound first), so a range comes before the ranges it
// contains; then by text. Any other pair compares by text, except that a
// range stands for the common start of its kind ("@media(max-width:" without
// lower bound, "@media(min-width:" with one) and comes before other texts
// with that start: reordering ranges among themselves must not let a text
// such as "@media(min-width:50em)" fall between two of them in a way that
// contradicts their order.
std::weak_ordering compare_unconfigured(std::string_view x, const std::optional<MediaRange>& a,
                                        std::string_view y, const std::optional<MediaRange>& b) {
  auto stand_in = [](std::string_view text, const std::optional<MediaRange>& range) {
    if (!range) return text;
    return range->min == 0 ? std::string_view("@media(max-width:")
                           : std::string_view("@media(min-width:");
  };
  if (auto c = stand_in(x, a) <=> stand_in(y, b); c != 0) return c;
  if (a.has_value() != b.has_value())
    return a ? std::weak_ordering::less : std::weak_ordering::greater;
  if (a) {
    auto upper = [](uint32_t max) { return max == 0 ? UINT64_MAX : uint64_t{max}; };
    if (auto c = a->min <=> b->min; c != 0) return c;
    if (auto c = upper(b->max) <=> upper(a->max); c != 0) return c;
  }
  return x <=> y;
}

std::weak_ordering compare_blocks(const Block& a, const Block& b) {
  const std::vector<std::string_view>& x = *a.at_rules;
  const std::vector<std::string_view>& y = *b.at_rules;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (x[i] == y[i]) continue;
    if (auto c = a.levels[i] <=> b.levels[i]; c != 0) return c;
    if (a.levels[i].flag == 1) return compare_unconfigured(x[i], a.ranges[i], y[i], b.ranges[i]);
    return x[i] <=> y[i];
  }
  return x.size() <=> y.size();
}

std::weak_ordering compare_specificity(const Specificity& a, const Specificity& b) {
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

// Ranks of `items` under `compare`: 0 for the least; equal items share a rank.
template <typename T, typename Compare>
std::vector<uint32_t> ranks_of(const std::vector<T>& items, Compare compare) {
  std::vector<uint32_t> order(items.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return compare(items[a], items[b]) < 0; });
  std::vector<uint32_t> ranks(items.size());
  uint32_t rank = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    if (k > 0 && compare(items[order[k - 1]], items[order[k]]) < 0) ++rank;
    ranks[order[k]] = rank;
  }
  return ranks;
}

// Entries of the rules in use, with the distinct at-rule lists and selectors
// they refer to (the ranks hold indices into these until ranked).
class Collector {
 public:
  explicit Collector(const Registry& registry) : registry_(registry) {}

  std::vector<CssEntry> collect(const IdSet& used) {
    entries_.reserve(used.size());
    for (uint64_t id : used) {
      const RuleKey* key = rule_key(registry_, id);
      if (key != nullptr) add(id, *key, registry_.catalog.view(*key));
    }
    rank_entries();
    return std::move(entries_);
  }

 private:
  void add(uint64_t id, const RuleKey& key, const RuleView& rule) {
    auto [block, new_block] =
        block_index_.try_emplace(rule.list, static_cast<uint32_t>(blocks_.size()));
    if (new_block) blocks_.push_back(make_block(rule.at_rules->texts));
    auto [selector, new_selector] =
        selector_index_.try_emplace(rule.selector, static_cast<uint32_t>(selectors_.size()));
    if (new_selector) {
      selectors_.push_back(rule.selector);
      specificities_.push_back(sorted_specificity(rule.selector));
    }
    entries_.push_back(CssEntry{id, key, static_cast<uint32_t>(count_chars(rule.property())),
                                block->second, selector->second, selector->second});
  }

  Block make_block(const std::vector<std::string_view>& at_rules) const {
    Block block{&at_rules, {}, {}};
    block.levels.reserve(at_rules.size());
    block.ranges.reserve(at_rules.size());
    for (size_t i = 0; i < at_rules.size(); ++i) {
      block.levels.push_back(level_at(at_rules, i, registry_.at_rule_order));
      block.ranges.push_back(block.levels.back().flag == 1 ? canonical_range(at_rules[i])
                                                           : std::nullopt);
    }
    return block;
  }

  void rank_entries() {
    std::vector<uint32_t> block_ranks = ranks_of(blocks_, compare_blocks);
    std::vector<uint32_t> specificity_ranks = ranks_of(specificities_, compare_specificity);
    std::vector<uint32_t> selector_ranks =
        ranks_of(selectors_, [](std::string_view a, std::string_view b) { return a <=> b; });
    for (CssEntry& entry : entries_) {
      entry.block_rank = block_ranks[entry.block_rank];
      entry.specificity_rank = specificity_ranks[entry.specificity_rank];
      entry.selector_rank = selector_ranks[entry.selector_rank];
    }
  }

  const Registry& registry_;
  std::vector<CssEntry> entries_;
  std::unordered_map<uint32_t, uint32_t> block_index_;  // at-rule list number -> block
  std::vector<Block> blocks_;
  std::unordered_map<std::string_view, uint32_t> selector_index_;
  std::vector<std::string_view> selectors_;
  std::vector<Specificity> specificities_;
};

// The full entry order: at-rule blocks, specificity, property length,
// selector text, then the remaining rule texts and width bounds.
struct EntryLess {
  const RuleCatalog& catalog;
  bool operator()(const CssEntry& a, const CssEntry& b) const;
};

bool EntryLess::operator()(const CssEntry& a, const CssEntry& b) const {
  if (auto c = std::tie(a.block_rank, a.specificity_rank, a.property_chars, a.selector_rank) <=>
               std::tie(b.block_rank, b.specificity_rank, b.property_chars, b.selector_rank);
      c != 0) {
    return c < 0;
  }
  const RuleView x = catalog.view(a.key);
  const RuleView y = catalog.view(b.key);
  if (auto c = x.property() <=> y.property(); c != 0) return c < 0;
  if (auto c = x.declaration <=> y.declaration; c != 0) return c < 0;
  if (auto c = x.at_rules->kind <=> y.at_rules->kind; c != 0) return c < 0;
  return std::tie(x.at_rules->min_width, x.at_rules->max_width) <
         std::tie(y.at_rules->min_width, y.at_rules->max_width);
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

// Closes the blocks of `open` that `at_rules` does not share and opens the
// rest of `at_rules`.
template <typename Sink>
void switch_blocks(std::vector<std::string_view>& open,
                   const std::vector<std::string_view>& at_rules, Sink& sink) {
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
}

// Writes the sorted entries; entries with the same block rank hold the same
// at-rule list, so the open blocks change only where the rank changes.
template <typename Sink>
void emit(const std::vector<CssEntry>& entries, const RuleCatalog& catalog, Sink& sink) {
  std::vector<std::string_view> open;
  uint32_t open_rank = 0;  // block rank of the entry that opened `open`
  for (const CssEntry& entry : entries) {
    const RuleView rule = catalog.view(entry.key);
    if (open_rank != entry.block_rank || &entry == entries.data()) {
      switch_blocks(open, rule.at_rules->texts, sink);
      open_rank = entry.block_rank;
    }
    emit_selector(rule.selector, entry.id, sink);
    sink.append('{');
    sink.append(rule.declaration);
    sink.append('}');
  }
  for (size_t i = 0; i < open.size(); ++i) sink.append('}');
}

}  // namespace

std::string generate_css(const Registry& registry, const IdSet& used) {
  TaskGuard guard = task_start("css.generate");
  std::vector<CssEntry> entries = Collector(registry).collect(used);
  std::stable_sort(entries.begin(), entries.end(), EntryLess{registry.catalog});
  CountingSink counter;
  emit(entries, registry.catalog, counter);
  StringSink writer;
  writer.text.reserve(counter.size);
  emit(entries, registry.catalog, writer);
  return std::move(writer.text);
}

}  // namespace zeviziz
