#include "css/registry.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zeviziz {
namespace {

Rule rule_of(std::string declaration, std::vector<std::string> at_rules = {},
             std::string selector = std::string(1, '\0')) {
  Result<Rule> rule = make_rule(std::move(at_rules), std::move(selector), std::move(declaration));
  EXPECT_TRUE(rule.ok());
  return std::move(rule).value();
}

Rule rule_from_view(const RuleView& view) {
  Rule rule;
  rule.at_rules.assign(view.at_rules->texts.begin(), view.at_rules->texts.end());
  rule.selector = view.selector;
  rule.declaration = view.declaration;
  return rule;
}

// The held IDs in the order the registry visits them.
std::vector<uint64_t> held_ids(const Registry& registry) {
  std::vector<uint64_t> ids;
  for_each_rule(registry, [&ids](uint64_t id, const RuleView&) { ids.push_back(id); });
  return ids;
}

// Checks that the key index gives every held rule the highest ID holding its
// key, that IDs are visited ascending and that the counter covers them.
void expect_consistent(const Registry& registry) {
  size_t distinct = 0;
  uint64_t previous = 0;
  for_each_rule(registry, [&](uint64_t id, const RuleView& view) {
    uint64_t indexed = find_id(registry, rule_from_view(view));
    EXPECT_GE(indexed, id);
    if (indexed == id) ++distinct;
    EXPECT_GT(id, previous);
    previous = id;
    EXPECT_GE(registry.counter, id);
  });
  EXPECT_EQ(registry.key_count, distinct);
  EXPECT_EQ(registry.rule_count, held_ids(registry).size());
}

// A history offering `ids` to `rule`, keyed in `catalog`.
IdHistory history_for(RuleCatalog& catalog, const Rule& rule, std::vector<uint64_t> ids) {
  IdHistory history{&catalog, {}};
  history.ids[catalog.intern(rule)] = std::move(ids);
  return history;
}

uint64_t assign(Registry& registry, const Rule& rule, IdHistory& history) {
  Result<uint64_t> id = lookup_or_assign(registry, rule, history);
  EXPECT_TRUE(id.ok());
  return id.ok() ? *id : 0;
}

TEST(MakeRule, DerivesKindPropertyAndBounds) {
  struct Case {
    std::vector<std::string> at_rules;
    std::string declaration, kind, property;
    uint32_t min_width, max_width;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {{}, "color:red", "media", "color", 0, 0},
      {{"@media (min-width: 768px)", "@media(max-width:1023px)"}, "margin:0", "media", "margin", 768, 1023},
      {{"@media print", "@supports(display:grid)"}, "display:grid", "supports", "display", 0, 0},
      {{"@@container x", "@layer"}, "a:b", "container", "a", 0, 0},
      {{"@-webkit-keyframes"}, "a:b", "-webkit-keyframes", "a", 0, 0},
      {{"@1x"}, "a:b", "", "a", 0, 0},
      {{}, "no-colon", "media", "no-colon", 0, 0},
      {{}, " padding :1px:2px", "media", " padding ", 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    Rule rule = rule_of(c.declaration, c.at_rules);
    EXPECT_EQ(rule.at_rule_kind, c.kind);
    EXPECT_EQ(rule.property, c.property);
    EXPECT_EQ(rule.min_width, c.min_width);
    EXPECT_EQ(rule.max_width, c.max_width);
  }
  EXPECT_EQ(rule_of("a:b", {"@media (min-width: 768px)"}).at_rules,
            std::vector<std::string>{"@media(min-width:768px)"});
  Result<Rule> bad = make_rule({"@media(min-width:1024px)", "@media(max-width:767px)"}, "", "a:b");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(), "Declaration has non-overlapping media ranges");
}

TEST(LookupOrAssign, NumbersNewRulesAndReusesKnownOnes) {
  Registry registry;
  IdHistory history;
  EXPECT_EQ(assign(registry, rule_of("a:1"), history), 1u);
  EXPECT_EQ(assign(registry, rule_of("a:2"), history), 2u);
  EXPECT_EQ(assign(registry, rule_of("a:3"), history), 3u);
  EXPECT_EQ(assign(registry, rule_of("a:2"), history), 2u);
  // Same declaration, different selector or at-rules: distinct rules.
  EXPECT_EQ(assign(registry, rule_of("a:1", {}, "x"), history), 4u);
  EXPECT_EQ(assign(registry, rule_of("a:1", {"@media print"}), history), 5u);
  // Spacing variants of one range share the canonical key.
  EXPECT_EQ(assign(registry, rule_of("a:1", {"@media (max-width: 5px)"}), history), 6u);
  EXPECT_EQ(assign(registry, rule_of("a:1", {"@media(max-width:5px)"}), history), 6u);
  EXPECT_EQ(held_ids(registry), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(registry.counter, 6u);
  expect_consistent(registry);
}

struct HistoryCase {
  std::vector<uint64_t> history;
  std::vector<uint64_t> taken;  // IDs already held by other rules
  uint64_t counter;
  uint64_t expected_id;
  uint64_t expected_counter;
};

TEST(LookupOrAssign, PrefersFreeIdsFromTheFileHistory) {
  const std::vector<HistoryCase> cases = {
      {{4, 9}, {}, 5, 9, 9}, {{4, 9}, {9}, 9, 4, 9}, {{4, 9}, {4, 9}, 9, 10, 10},
      {{0}, {}, 0, 1, 1},    {{3, 0}, {}, 0, 3, 3},  {{}, {}, 2, 3, 3},
  };
  for (const HistoryCase& c : cases) {
    Registry registry;
    RuleCatalog catalog;
    for (uint64_t id : c.taken)
      insert_restored(registry, id, rule_of("other:" + std::to_string(id)));
    registry.counter = c.counter;
    Rule rule = rule_of("color:red");
    IdHistory history = history_for(catalog, rule, c.history);
    EXPECT_EQ(assign(registry, rule, history), c.expected_id);
    EXPECT_EQ(registry.counter, c.expected_counter);
    expect_consistent(registry);
  }
}

TEST(LookupOrAssign, HistoryOfAnotherKeyIsIgnoredAndTakenIdsAreConsumed) {
  Registry registry;
  RuleCatalog catalog;
  IdHistory history = history_for(catalog, rule_of("a:1"), {7, 8});
  EXPECT_EQ(assign(registry, rule_of("b:1"), history), 1u);
  EXPECT_EQ(assign(registry, rule_of("a:1", {"@media print"}), history), 2u);
  EXPECT_EQ(assign(registry, rule_of("a:1"), history), 8u);
  EXPECT_EQ(history.ids[*catalog.find(rule_of("a:1"))], std::vector<uint64_t>{7});
  EXPECT_EQ(assign(registry, rule_of("c:1"), history), 9u);
}

TEST(LookupOrAssign, RulesOfAnotherCatalogGetTheIdsOfTheirRuleForm) {
  Registry registry;
  RuleCatalog previous;
  IdHistory history = history_for(previous, rule_of("a:1", {"@media print"}), {7});
  const std::vector<std::pair<Rule, uint64_t>> cases = {
      {rule_of("a:1"), 1},
      {rule_of("a:1", {}, "x"), 2},
      {rule_of("a:1", {"@media print"}), 7},
      {rule_of("b:1", {"@media (max-width: 5px)"}), 8},
      {rule_of("a:1"), 1},
  };
  auto file = std::make_unique<RuleCatalog>();
  for (const auto& [rule, expected] : cases) {
    Result<uint64_t> id = lookup_or_assign(registry, file->view(file->intern(rule)), history);
    ASSERT_TRUE(id.ok());
    EXPECT_EQ(*id, expected) << rule.declaration;
  }
  // The registry keeps its own copies of the texts.
  file.reset();
  for (const auto& [rule, expected] : cases) {
    EXPECT_EQ(find_id(registry, rule), expected) << rule.declaration;
    Result<RuleView> held = get_rule(registry, expected);
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(held->declaration, rule.declaration);
    EXPECT_EQ(held->at_rules->kind, rule.at_rule_kind);
    EXPECT_EQ(held->at_rules->max_width, rule.max_width);
  }
  expect_consistent(registry);
}

TEST(LookupOrAssign, FailsWhenTheCounterIsExhausted) {
  Registry registry;
  IdHistory history;
  registry.counter = std::numeric_limits<uint64_t>::max();
  Result<uint64_t> id = lookup_or_assign(registry, rule_of("a:1"), history);
  ASSERT_FALSE(id.ok());
  EXPECT_EQ(id.error(), "Class ID overflow");
  EXPECT_TRUE(held_ids(registry).empty());
  EXPECT_EQ(find_id(registry, rule_of("a:1")), 0u);
  // A free ID from the history still works at the limit.
  RuleCatalog catalog;
  history = history_for(catalog, rule_of("a:1"), {5});
  EXPECT_EQ(assign(registry, rule_of("a:1"), history), 5u);
}

TEST(Retain, KeepsListedIdsAndTheCounter) {
  Registry registry;
  IdHistory history;
  for (int i = 1; i <= 5; ++i) assign(registry, rule_of("p:" + std::to_string(i)), history);
  retain(registry, {2, 4, 99});
  EXPECT_EQ(held_ids(registry), (std::vector<uint64_t>{2, 4}));
  EXPECT_EQ(get_rule(registry, 4)->declaration, "p:4");
  EXPECT_EQ(find_id(registry, rule_of("p:1")), 0u);
  EXPECT_EQ(registry.counter, 5u);
  expect_consistent(registry);
  retain(registry, {});
  EXPECT_TRUE(held_ids(registry).empty());
  EXPECT_EQ(registry.key_count, 0u);
  EXPECT_EQ(assign(registry, rule_of("p:1"), history), 6u);
}

TEST(InsertRestored, RaisesTheCounterAndIndexesTheHighestDuplicate) {
  Registry registry;
  insert_restored(registry, 7, rule_of("a:1"));
  insert_restored(registry, 3, rule_of("b:1"));
  EXPECT_EQ(registry.counter, 7u);
  insert_restored(registry, 9, rule_of("a:1"));
  insert_restored(registry, 2, rule_of("a:1"));
  EXPECT_EQ(find_id(registry, rule_of("a:1")), 9u);
  expect_consistent(registry);
  // Dropping the indexed holder hands the key to the next remaining one.
  retain(registry, {2, 3, 7});
  EXPECT_EQ(find_id(registry, rule_of("a:1")), 7u);
  expect_consistent(registry);
  // Replacing the rule under an ID removes its old key.
  insert_restored(registry, 3, rule_of("c:1"));
  EXPECT_EQ(find_id(registry, rule_of("b:1")), 0u);
  expect_consistent(registry);
  IdHistory history;
  EXPECT_EQ(assign(registry, rule_of("a:1"), history), 7u);
  EXPECT_EQ(assign(registry, rule_of("d:1"), history), 10u);
}

TEST(GetRule, FindsHeldIdsOnly) {
  Registry registry;
  insert_restored(registry, 4, rule_of("a:1"));
  Result<RuleView> found = get_rule(registry, 4);
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found->declaration, "a:1");
  Result<RuleView> missing = get_rule(registry, 5);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), "Missing registry rule");
}

// A copy holds its own texts: it outlives the registry it was made from and
// numbers the same rules alike, while the two then grow apart.
TEST(Registry, CopyIsIndependentOfItsSource) {
  auto source = std::make_unique<Registry>();
  IdHistory history;
  assign(*source, rule_of("a:1", {"@media print", "@supports (x)"}, std::string("\0 b", 3)),
         history);
  assign(*source, rule_of("b:1"), history);
  Registry copy = *source;
  assign(*source, rule_of("c:1"), history);
  source.reset();
  EXPECT_EQ(held_ids(copy), (std::vector<uint64_t>{1, 2}));
  Result<RuleView> first = get_rule(copy, 1);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->at_rules->texts,
            (std::vector<std::string_view>{"@media print", "@supports (x)"}));
  EXPECT_EQ(first->at_rules->kind, "supports");
  EXPECT_EQ(first->selector, std::string_view("\0 b", 3));
  EXPECT_EQ(
      find_id(copy, rule_of("a:1", {"@media print", "@supports (x)"}, std::string("\0 b", 3))), 1u);
  EXPECT_EQ(assign(copy, rule_of("d:1"), history), 3u);
  expect_consistent(copy);
}

// IDs far beyond the number of rules (from an edited cache) are held apart
// until the rules catch up with them; the order, the lookups and the derived
// fields must not depend on where an ID is held.
TEST(InsertRestored, MixesLargeAndSmallIdsInAscendingOrder) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  Registry registry;
  insert_restored(registry, max, rule_of("a:1", {"@media (min-width: 5px)"}));
  insert_restored(registry, 5000, rule_of("b:1"));
  insert_restored(registry, 2, rule_of("c:1", {"@supports (x)"}));
  insert_restored(registry, 1 << 20, rule_of("a:1", {"@media (min-width: 5px)"}));
  for (int i = 3; i < 3000; ++i) insert_restored(registry, i, rule_of("n:" + std::to_string(i)));
  std::vector<uint64_t> ids = held_ids(registry);
  ASSERT_EQ(ids.size(), 3001u);
  EXPECT_EQ(ids.front(), 2u);
  EXPECT_EQ(ids[ids.size() - 3], 5000u);
  EXPECT_EQ(ids.back(), max);
  EXPECT_EQ(registry.counter, max);
  EXPECT_EQ(find_id(registry, rule_of("a:1", {"@media(min-width:5px)"})), max);
  Result<RuleView> top = get_rule(registry, max);
  ASSERT_TRUE(top.ok());
  EXPECT_EQ(top->at_rules->texts, std::vector<std::string_view>{"@media(min-width:5px)"});
  EXPECT_EQ(top->at_rules->min_width, 5u);
  EXPECT_EQ(get_rule(registry, 2)->at_rules->kind, "supports");
  EXPECT_EQ(get_rule(registry, 2)->property(), "c");
  expect_consistent(registry);
  retain(registry, {2, 5000, max});
  EXPECT_EQ(held_ids(registry), (std::vector<uint64_t>{2, 5000, max}));
  expect_consistent(registry);
}

}  // namespace
}  // namespace zeviziz
