#include "css/css_gen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

using namespace std::string_literals;

// One rule to register: its ID, at-rules, selector and declaration.
struct Input {
  uint64_t id;
  std::vector<std::string> at_rules;
  std::string selector;
  std::string declaration;
};

struct GenCase {
  std::string name;
  std::vector<std::vector<std::string>> at_rule_order;
  std::vector<Input> rules;
  std::set<uint64_t> used;  // empty: every registered ID
  std::string expected;
};

std::string generate(const GenCase& c) {
  Registry registry;
  registry.at_rule_order = c.at_rule_order;
  std::set<uint64_t> used = c.used;
  for (const Input& input : c.rules) {
    Result<Rule> rule = make_rule(input.at_rules, input.selector, input.declaration);
    EXPECT_TRUE(rule.ok()) << c.name;
    if (!rule.ok()) continue;
    insert_restored(registry, input.id, std::move(rule).value());
    if (c.used.empty()) used.insert(input.id);
  }
  return generate_css(registry, used);
}

void run_cases(const std::vector<GenCase>& cases) {
  for (const GenCase& c : cases) EXPECT_EQ(generate(c), c.expected) << c.name;
}

const std::string kSelf = "\0"s;

// clang-format off
TEST(GenerateCss, EmissionAndBlocks) {
  run_cases({
      {"no rules", {}, {}, {}, ""},
      {"no rule in use", {}, {{1, {}, kSelf, "a:b"}}, {2}, ""},
      {"one rule", {}, {{7, {}, kSelf, "color:red"}}, {}, ".i7{color:red}"},
      {"selector without class", {}, {{3, {}, "body", "margin:0"}}, {}, "body{margin:0}"},
      {"two class references", {}, {{12, {}, "\0 p+\0"s, "a:b"}}, {}, ".i12 p+.i12{a:b}"},
      {"shared block", {}, {{1, {"@media print"}, kSelf, "a:1"}, {2, {"@media print"}, kSelf, "b:2"}}, {},
       "@media print{.i1{a:1}.i2{b:2}}"},
      {"nested blocks share their outer block", {},
       {{1, {"@supports(x)", "@layer b"}, kSelf, "a:1"}, {2, {"@supports(x)", "@layer c"}, kSelf, "a:1"}}, {},
       "@supports(x){@layer b{.i1{a:1}}@layer c{.i2{a:1}}}"},
      {"plain rules before blocks", {}, {{1, {"@media print"}, kSelf, "a:1"}, {2, {}, kSelf, "z:1"}}, {},
       ".i2{z:1}@media print{.i1{a:1}}"},
      {"unused rules are left out", {}, {{1, {}, kSelf, "a:1"}, {2, {}, kSelf, "b:1"}, {3, {}, kSelf, "c:1"}},
       {1, 3}, ".i1{a:1}.i3{c:1}"},
      {"texts are written unchanged", {}, {{1, {"@media screen and (color)"}, "\0 > a"s, "content:\"; }\""}}, {},
       "@media screen and (color){.i1 > a{content:\"; }\"}}"},
  });
}

TEST(GenerateCss, AtRuleOrder) {
  const std::vector<std::vector<std::string>> breakpoints = {
      {"@media(min-width:320px)"}, {"@media(min-width:768px)"}, {"@media(min-width:1024px)"}};
  run_cases({
      {"configured order, not text order", breakpoints,
       {{1, {"@media(min-width:1024px)"}, kSelf, "a:1"}, {2, {"@media(min-width:320px)"}, kSelf, "a:1"},
        {3, {"@media (min-width: 768px)"}, kSelf, "a:1"}}, {},
       "@media(min-width:320px){.i2{a:1}}@media(min-width:768px){.i3{a:1}}@media(min-width:1024px){.i1{a:1}}"},
      {"configured before unconfigured", breakpoints,
       {{1, {"@layer a"}, kSelf, "a:1"}, {2, {"@media(min-width:1024px)"}, kSelf, "a:1"}}, {},
       "@media(min-width:1024px){.i2{a:1}}@layer a{.i1{a:1}}"},
      {"unconfigured blocks in text order", breakpoints,
       {{1, {"@layer b"}, kSelf, "a:1"}, {2, {"@layer a"}, kSelf, "a:1"}}, {},
       "@layer a{.i2{a:1}}@layer b{.i1{a:1}}"},
      {"inner levels follow the longest configured prefix",
       {{"@supports(x)"}, {"@supports(x)", "@layer b"}, {"@layer d"}},
       {{1, {"@supports(x)", "@layer c"}, kSelf, "a:1"}, {2, {"@supports(x)", "@layer d"}, kSelf, "a:1"},
        {3, {"@supports(x)", "@layer b"}, kSelf, "a:1"}, {4, {"@supports(x)"}, kSelf, "a:1"}}, {},
       "@supports(x){.i4{a:1}@layer b{.i3{a:1}}@layer d{.i2{a:1}}@layer c{.i1{a:1}}}"},
      {"a longer configured list matches only as a whole prefix",
       {{"@layer a", "@layer b"}, {"@layer b"}},
       {{1, {"@layer z", "@layer c"}, kSelf, "a:1"}, {2, {"@layer z", "@layer b"}, kSelf, "a:1"}}, {},
       "@layer z{@layer b{.i2{a:1}}@layer c{.i1{a:1}}}"},
  });
}

TEST(GenerateCss, PropertyAndTextOrder) {
  run_cases({
      {"shorthand before longhand", {}, {{1, {}, kSelf, "margin-top:0"}, {2, {}, kSelf, "margin:0"}}, {},
       ".i2{margin:0}.i1{margin-top:0}"},
      {"property length before text", {}, {{1, {}, kSelf, "ab:1"}, {2, {}, kSelf, "z:1"}}, {},
       ".i2{z:1}.i1{ab:1}"},
      {"property length counts characters", {}, {{1, {}, kSelf, "\u00e9\u00e9\u00e9:1"}, {2, {}, kSelf, "ab:1"}}, {},
       ".i2{ab:1}.i1{\u00e9\u00e9\u00e9:1}"},
      {"then declaration text", {}, {{1, {}, kSelf, "a:2"}, {2, {}, kSelf, "a:1"}}, {}, ".i2{a:1}.i1{a:2}"},
  });
}

TEST(GenerateCss, SpecificityOrder) {
  run_cases({
      {"class before id", {}, {{1, {}, "#y \0"s, "a:1"}, {2, {}, ".x \0"s, "a:1"}}, {},
       ".x .i2{a:1}#y .i1{a:1}"},
      {"element before class", {}, {{1, {}, ".x \0"s, "a:1"}, {2, {}, "p \0"s, "a:1"}}, {},
       "p .i2{a:1}.x .i1{a:1}"},
      {"own class counts nothing", {}, {{1, {}, "\0.a"s, "a:1"}, {2, {}, "\0\0"s, "a:1"}}, {},
       ".i2.i2{a:1}.i1.a{a:1}"},
      {"focus, hover, active", {},
       {{1, {}, "\0:active"s, "a:1"}, {2, {}, "\0:hover"s, "a:1"}, {3, {}, "\0:focus"s, "a:1"}}, {},
       ".i3:focus{a:1}.i2:hover{a:1}.i1:active{a:1}"},
      {"other pseudo-classes before focus", {}, {{1, {}, "\0:focus"s, "a:1"}, {2, {}, "\0:checked"s, "a:1"}}, {},
       ".i2:checked{a:1}.i1:focus{a:1}"},
      {"more where pseudo-classes first", {}, {{1, {}, kSelf, "a:1"}, {2, {}, "\0:where(.a)"s, "a:1"}}, {},
       ".i2:where(.a){a:1}.i1{a:1}"},
      {"specificity before property length", {}, {{1, {}, "#y \0"s, "a:1"}, {2, {}, kSelf, "margin-top:1"}}, {},
       ".i2{margin-top:1}#y .i1{a:1}"},
  });
}
// clang-format on

}  // namespace
}  // namespace zeviziz
