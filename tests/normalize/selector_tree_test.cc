#include "normalize/selector_tree.h"

#include <gtest/gtest.h>

#include <initializer_list>

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
Node comma() {
  return leaf(NodeKind::Comma, ",");
}
Node space() {
  return leaf(NodeKind::Space, " ");
}
Node nesting() {
  return leaf(NodeKind::Nesting, "&");
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
