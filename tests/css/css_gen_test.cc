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
  return generate_css(registry, IdSet(used.begin(), used.end()));
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

TEST(GenerateCss, UnconfiguredWidthRangeOrder) {
  const std::vector<std::vector<std::string>> medium = {{"@media(min-width:768px)"}};
  run_cases({
      {"lower bound ascending, not text order", {},
       {{1, {"@media(min-width:1100px)"}, kSelf, "a:1"}, {2, {"@media(min-width:700px)"}, kSelf, "a:1"}}, {},
       "@media(min-width:700px){.i2{a:1}}@media(min-width:1100px){.i1{a:1}}"},
      {"upper bound descending", {},
       {{1, {"@media(max-width:700px)"}, kSelf, "a:1"}, {2, {"@media(max-width:1100px)"}, kSelf, "a:1"}}, {},
       "@media(max-width:1100px){.i2{a:1}}@media(max-width:700px){.i1{a:1}}"},
      {"a range before the ranges it contains", {},
       {{1, {"@media(min-width:500px) and (max-width:900px)"}, kSelf, "a:1"},
        {2, {"@media(min-width:500px) and (max-width:1100px)"}, kSelf, "a:1"},
        {3, {"@media(min-width:500px)"}, kSelf, "a:1"}, {4, {"@media(max-width:2000px)"}, kSelf, "a:1"}}, {},
       "@media(max-width:2000px){.i4{a:1}}@media(min-width:500px){.i3{a:1}}"
       "@media(min-width:500px) and (max-width:1100px){.i2{a:1}}"
       "@media(min-width:500px) and (max-width:900px){.i1{a:1}}"},
      {"configured blocks first", medium,
       {{1, {"@media(min-width:100px)"}, kSelf, "a:1"}, {2, {"@media(min-width:768px)"}, kSelf, "a:1"}}, {},
       "@media(min-width:768px){.i2{a:1}}@media(min-width:100px){.i1{a:1}}"},
      {"at an inner level", {},
       {{1, {"@layer x", "@media(min-width:1100px)"}, kSelf, "a:1"},
        {2, {"@layer x", "@media(min-width:700px)"}, kSelf, "a:1"}}, {},
       "@layer x{@media(min-width:700px){.i2{a:1}}@media(min-width:1100px){.i1{a:1}}}"},
      // Texts that only look like ranges go after the ranges they resemble;
      // every other text keeps its place by text.
      {"ranges among other at-rules", {},
       {{1, {"@media(min-width:50em)"}, kSelf, "a:1"}, {2, {"@media(min-width:1100px)"}, kSelf, "a:1"},
        {3, {"@media(min-width:800px) and (hover:hover)"}, kSelf, "a:1"},
        {4, {"@media(min-width:700px)"}, kSelf, "a:1"}, {5, {"@media print"}, kSelf, "a:1"},
        {6, {"@media(max-width:50em)"}, kSelf, "a:1"}, {7, {"@media(max-width:600px)"}, kSelf, "a:1"},
        {8, {"@layer z"}, kSelf, "a:1"}, {9, {"@supports(x)"}, kSelf, "a:1"}}, {},
       "@layer z{.i8{a:1}}@media print{.i5{a:1}}@media(max-width:600px){.i7{a:1}}"
       "@media(max-width:50em){.i6{a:1}}@media(min-width:700px){.i4{a:1}}@media(min-width:1100px){.i2{a:1}}"
       "@media(min-width:50em){.i1{a:1}}@media(min-width:800px) and (hover:hover){.i3{a:1}}"
       "@supports(x){.i9{a:1}}"},
  });
}

// The block order is a consistent order: it does not depend on the order in
// which the sort meets the blocks (here, on which ID each block's rule has).
TEST(GenerateCss, WidthRangeOrderIsConsistent) {
  std::vector<std::string> texts;
  for (int width : {100, 250, 700, 999, 1000, 1100, 1200, 5000}) {
    const std::string n = std::to_string(width);
    texts.push_back("@media(min-width:" + n + "px)");
    texts.push_back("@media(max-width:" + n + "px)");
    texts.push_back("@media(min-width:" + n + "px) and (max-width:9000px)");
    texts.push_back("@media(min-width:" + n + "em)");
    texts.push_back("@media(min-width:" + n + "px) and (hover:hover)");
  }
  auto css_for = [&](const std::vector<size_t>& ids) {
    GenCase c{"consistency", {}, {}, {}, ""};
    for (size_t k = 0; k < texts.size(); ++k) c.rules.push_back({ids[k] + 1, {texts[k]}, "p", "a:1"});
    return generate(c);
  };
  std::vector<size_t> ids(texts.size());
  for (size_t k = 0; k < ids.size(); ++k) ids[k] = k;
  const std::string expected = css_for(ids);
  for (size_t step : {7u, 11u, 13u, 39u}) {
    for (size_t k = 0; k < ids.size(); ++k) ids[k] = (k * step) % ids.size();
    EXPECT_EQ(css_for(ids), expected) << step;
  }
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
