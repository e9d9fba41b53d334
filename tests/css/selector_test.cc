#include "css/selector.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>

namespace zeviziz {
namespace {

Node leaf(NodeKind kind, std::string value) {
  return Node(kind, std::move(value));
}

Node with_children(NodeKind kind, std::initializer_list<Node> children, std::string value = {}) {
  Node node(kind, std::move(value));
  node.children = children;
  return node;
}

Node el(std::string name) {
  return leaf(NodeKind::Element, std::move(name));
}
Node cls(std::string name) {
  return leaf(NodeKind::Class, std::move(name));
}
Node id(std::string name) {
  return leaf(NodeKind::Id, std::move(name));
}
Node comma() {
  return leaf(NodeKind::Comma, ",");
}
Node space() {
  return leaf(NodeKind::Space, " ");
}
Node nesting() {
  return leaf(NodeKind::Nesting, "&");
}
Node child_combinator() {
  return with_children(NodeKind::Combinator, {leaf(NodeKind::Child, ">")});
}
Node selector(std::initializer_list<Node> children) {
  return with_children(NodeKind::Selector, children);
}

// A pseudo-class with prefix ":" or "::", a name and an optional selector
// argument.
Node pseudo(std::string prefix, std::string name) {
  return with_children(NodeKind::Pseudoclass,
                       {leaf(NodeKind::Prefix, std::move(prefix)), leaf(NodeKind::Name, name)});
}
Node pseudo(std::string prefix, std::string name, Node argument) {
  Node node = pseudo(std::move(prefix), std::move(name));
  node.children.push_back(
      with_children(NodeKind::Parenthesis,
                    {leaf(NodeKind::Open, "("), std::move(argument), leaf(NodeKind::Close, ")")}));
  return node;
}

struct Triples {
  uint16_t ids, classes, elements, ids_all, classes_all, elements_all;
};

void expect_triples(const Specificity& s, Triples t) {
  EXPECT_EQ(s.ids, t.ids);
  EXPECT_EQ(s.classes, t.classes);
  EXPECT_EQ(s.elements, t.elements);
  EXPECT_EQ(s.ids_all, t.ids_all);
  EXPECT_EQ(s.classes_all, t.classes_all);
  EXPECT_EQ(s.elements_all, t.elements_all);
}

TEST(Specificity, CompoundAndCombinators) {
  const Specificity s = specificity(selector({el("a"), cls(".b"), id("#c")}));
  expect_triples(s, {1, 1, 1, 1, 1, 1});
  EXPECT_EQ(s.combinators, 0u);

  const Specificity t = specificity(selector({el("a"), child_combinator(), el("b")}));
  expect_triples(t, {0, 0, 2, 0, 0, 2});
  EXPECT_EQ(t.combinators, 1u);
}

TEST(Specificity, WhereCountsOnlyInSecondTriple) {
  const Specificity s = specificity(selector({pseudo(":", "where", selector({id("#x")}))}));
  expect_triples(s, {0, 0, 0, 1, 0, 0});
  EXPECT_EQ(s.where_count, 1u);
  EXPECT_TRUE(s.codes.empty());
}

TEST(Specificity, IsTakesLargestAlternative) {
  const Specificity s =
      specificity(selector({pseudo(":", "is", selector({id("#x"), comma(), cls(".y")}))}));
  expect_triples(s, {1, 0, 0, 1, 0, 0});
  EXPECT_EQ(s.codes, std::vector<uint16_t>{70});
}

TEST(Specificity, NthChildAddsOneClass) {
  const Specificity s =
      specificity(selector({pseudo(":", "nth-last-child", selector({cls(".a")}))}));
  expect_triples(s, {0, 2, 0, 0, 2, 0});
}

TEST(Specificity, PseudoElements) {
  const Specificity slotted = specificity(pseudo("::", "slotted", selector({el("span")})));
  expect_triples(slotted, {0, 0, 2, 0, 0, 2});
  EXPECT_TRUE(slotted.codes.empty());
  const Specificity before = specificity(pseudo("::", "before"));
  expect_triples(before, {0, 0, 1, 0, 0, 1});
  EXPECT_TRUE(before.codes.empty());
}

TEST(Specificity, PseudoClassCodesInTreeOrderIgnoringCase) {
  const Specificity s =
      specificity(selector({el("a"), pseudo(":", "hover"), pseudo(":", "focus")}));
  EXPECT_EQ(s.codes, (std::vector<uint16_t>{72, 71}));
  expect_triples(s, {0, 2, 1, 0, 2, 1});
  EXPECT_EQ(specificity(pseudo(":", "HOVER")).codes, std::vector<uint16_t>{72});
  EXPECT_EQ(specificity(pseudo(":", "Active")).codes, std::vector<uint16_t>{73});
  // A plain argument such as a language tag does not count.
  expect_triples(specificity(pseudo(":", "lang", selector({el("en")}))), {0, 1, 0, 0, 1, 0});
}

TEST(Specificity, SelectorListKeepsLargestTripleEachSide) {
  const Specificity s = specificity(selector({el("a"), comma(), id("#b")}));
  expect_triples(s, {1, 0, 0, 1, 0, 0});
  // The two triples are maximised independently.
  const Specificity t = specificity(
      selector({pseudo(":", "where", selector({id("#x")})), comma(), cls(".a"), cls(".b")}));
  expect_triples(t, {0, 2, 0, 1, 0, 0});
  EXPECT_EQ(t.where_count, 1u);
  expect_triples(specificity(selector({})), {0, 0, 0, 0, 0, 0});
}

TEST(Specificity, CountersSaturate) {
  Specificity a;
  a.ids = std::numeric_limits<uint16_t>::max() - 1;
  a.where_count = std::numeric_limits<uint64_t>::max();
  a.codes = {70};
  Specificity b;
  b.ids = 5;
  b.where_count = 1;
  b.codes = {71};
  const Specificity sum = add_specificity(a, b);
  EXPECT_EQ(sum.ids, std::numeric_limits<uint16_t>::max());
  EXPECT_EQ(sum.where_count, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(sum.codes, (std::vector<uint16_t>{70, 71}));
}

std::string text_of(const Node& node) {
  std::string out;
  collect_text(node, out);
  return out;
}

std::string text_of(const std::vector<Node>& nodes) {
  std::string out;
  for (const Node& node : nodes) collect_text(node, out);
  return out;
}

TEST(SelectorList, SplitDropsEdgeSpacesAndKeepsEmptyPieces) {
  const Node list = selector({space(), cls(".a"), space(), comma(), space(), cls(".b"), comma()});
  const auto alternatives = split_selector(list.children);
  ASSERT_EQ(alternatives.size(), 3u);
  EXPECT_EQ(text_of(alternatives[0]), ".a");
  EXPECT_EQ(text_of(alternatives[1]), ".b");
  EXPECT_TRUE(alternatives[2].empty());
  EXPECT_EQ(split_selector({}).size(), 1u);
}

TEST(SelectorList, JoinPutsCommasBetween) {
  const Node joined = join_selector({{cls(".a")}, {el("b"), cls(".c")}});
  EXPECT_EQ(joined.kind, NodeKind::Selector);
  EXPECT_EQ(text_of(joined), ".a,b.c");
  EXPECT_EQ(text_of(join_selector({})), "");
}

TEST(SelectorList, SubstituteReplacesNestingAtEveryDepth) {
  std::vector<Node> nodes = {pseudo(":", "not", selector({nesting()})), space(), nesting()};
  const std::vector<Node> parent = {el("a"), cls(".b")};
  EXPECT_TRUE(substitute_nesting(nodes, parent));
  EXPECT_EQ(text_of(nodes), ":not(a.b) a.b");
  std::vector<Node> plain = {cls(".x")};
  EXPECT_FALSE(substitute_nesting(plain, parent));
  EXPECT_EQ(text_of(plain), ".x");
}

TEST(SelectorList, CombineRuleAndDirectiveAlternatives) {
  const Node rule = selector({cls(".a"), comma(), space(), cls(".b")});
  const Node hover = selector({nesting(), pseudo(":", "hover")});
  EXPECT_EQ(text_of(combine_selectors(rule, hover)), ".a:hover,.b:hover");
  const Node focus = selector({pseudo(":", "focus")});
  EXPECT_EQ(text_of(combine_selectors(rule, focus)), ".a:focus,.b:focus");
  // Rule alternatives form the outer loop.
  const Node two = selector({pseudo(":", "x"), comma(), pseudo(":", "y")});
  EXPECT_EQ(text_of(combine_selectors(rule, two)), ".a:x,.a:y,.b:x,.b:y");
}

}  // namespace
}  // namespace zeviziz
