// Serialisation, declarations, nesting and flattening on hand-built trees
// (the shapes the lexer documents), independent of the lexer's machines.
#include <gtest/gtest.h>

#include <initializer_list>

#include "normalize/declaration.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

using K = NodeKind;

Node n(K kind, std::string value = {}, std::initializer_list<Node> children = {}) {
  Node node(kind, std::move(value));
  node.children = children;
  return node;
}
Node n(K kind, std::initializer_list<Node> children) {
  return n(kind, {}, children);
}

Node declaration(std::string name, std::initializer_list<Node> value) {
  return n(K::Attribute, {n(K::Name, std::move(name)), n(K::Colon, ":"), n(K::Value, value)});
}

Node block(std::initializer_list<Node> items) {
  Node node = n(K::Declaration, items);
  node.children.insert(node.children.begin(), n(K::Open, "{"));
  node.children.push_back(n(K::Close, "}"));
  return node;
}

const std::string kNul(1, '\0');

TEST(Serialize, RequestedSpacesAndHeldBackSemicolons) {
  struct Case {
    std::vector<Node> nodes;
    std::string expected;
  };
  const Case cases[] = {
      {{n(K::Element, "a"), n(K::Space, "  "), n(K::Element, "b")}, "a b"},
      {{n(K::Element, "a"), n(K::Space, " "), n(K::Combinator, {n(K::Child, ">")}),
        n(K::Space, " "), n(K::Element, "b")},
       "a>b"},
      {{n(K::Space, " "), n(K::Element, "a"), n(K::Space, " ")}, "a"},
      {{n(K::Element, "a"), n(K::Space, "/* c */"), n(K::Comma, ","), n(K::Element, "b")}, "a,b"},
      {{n(K::Attribute,
          {n(K::Open, "["), n(K::AttName, "t"), n(K::Operator, "="), n(K::StringValue, "'a"),
           n(K::Space, "  "), n(K::StringValue, "b'"), n(K::Close, "]")})},
       "[t='a b']"},
      {{n(K::Open, "{"), n(K::Name, "a"), n(K::Semicolon, ";"), n(K::Close, "}")}, "{a}"},
      {{n(K::Name, "a"), n(K::Semicolon, ";;"), n(K::Name, "b")}, "a;;b"},
      {{n(K::Name, "a"), n(K::Semicolon, ";")}, "a;"},
      {{n(K::Element, "a"), n(K::Space, " "), n(K::Close, ")")}, "a)"},
  };
  for (const Case& c : cases) EXPECT_EQ(serialize_nodes(c.nodes), c.expected);
}

TEST(NestSelector, NestingRules) {
  struct Case {
    std::string_view parent, selector, expected;
  };
  const Case cases[] = {
      {"a", "&:hover", "a:hover"},           {"a", "span", "a span"},
      {"a b", "span &", "span :is(a b)"},    {"a b", "&:hover", "a b:hover"},
      {"a,b", "span", ":is(a,b) span"},      {"a,b", "&:hover", ":is(a,b):hover"},
      {"a>b", "& + &", ":is(a>b)+:is(a>b)"}, {"f(a,b) c", "  > span ", "f(a,b) c>span"},
      {"a", "[x='&'] &", "[x='&'] a"},       {"a,b", "", "a,b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nest_selector(c.parent, c.selector), c.expected) << c.parent << " / " << c.selector;
  }
  EXPECT_EQ(replace_nesting_in_prelude("@scope(&)", "a b"), "@scope(:is(a b))");
  EXPECT_EQ(replace_nesting_in_prelude("@scope(&)", "a"), "@scope(a)");
}

TEST(Declaration, ValueCaseAndGroups) {
  struct Case {
    Node attribute;
    std::string property, value;
  };
  const Case cases[] = {
      {declaration("color", {n(K::Char, "RED")}), "color", "red"},
      {declaration("animation-name", {n(K::Char, "FadeIn")}), "animation-name", "FadeIn"},
      {declaration("--Accent", {n(K::Char, "Blue")}), "--Accent", "Blue"},
      {declaration("background", {n(K::Char, "URL"), n(K::Parenthesis, "( Img.PNG )")}),
       "background", "url(Img.PNG)"},
      {declaration("border", {n(K::Char, "1px"), n(K::Space, " "), n(K::Char, "/* x */"),
                              n(K::Space, " "), n(K::Char, "solid")}),
       "border", "1px /**/ solid"},
      {declaration("font-family", {n(K::StringValue, "'Open  Sans'"), n(K::Char, ","),
                                   n(K::Space, " "), n(K::Char, "Serif")}),
       "font-family", "'Open  Sans',serif"},
      {declaration("color", {n(K::Char, "RGB"), n(K::Parenthesis, "( 1 ,  2 ,3 )")}), "color",
       "rgb(1,2,3)"},
      {declaration("content", {n(K::Char, "COUNTER"), n(K::Parenthesis, "(Item)")}), "content",
       "COUNTER(Item)"},
      {declaration("margin", {}), "margin", ""},
  };
  for (const Case& c : cases) {
    Result<NormalizedDeclaration> result = normalize_declaration(c.attribute);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->property, c.property);
    EXPECT_EQ(result->value, c.value);
    // The stored form normalises to the same texts again.
    Result<NormalizedDeclaration> again = normalize_declaration(result->node);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->value, c.value);
  }
}

TEST(Declaration, MissingParts) {
  EXPECT_EQ(normalize_declaration(n(K::Attribute, {n(K::Value, "x")})).error(),
            "Missing normalized property name");
  EXPECT_EQ(normalize_declaration(n(K::Attribute, {n(K::Name, "x")})).error(),
            "Missing normalized property value");
}

TEST(NormalizeTree, BlocksNamesAndAtRules) {
  const Node rule =
      n(K::Rule, {n(K::Selector, {n(K::Element, "A"), n(K::Space, " ")}),
                  block({n(K::Space, " "), declaration("COLOR", {n(K::Char, "x")}),
                         n(K::Semicolon, ";"), declaration("--Main", {n(K::Char, "y")})})});
  Result<std::vector<Node>> walked = normalize_tree(rule);
  ASSERT_TRUE(walked.ok());
  ASSERT_EQ(walked->size(), 1u);
  const Node& result = walked->front();
  EXPECT_EQ(collect_text(result.children[0]), "A ");  // selectors stay unchanged
  const Node& walked_block = result.children[1];
  ASSERT_EQ(walked_block.children.size(), 4u);  // "{", two declarations, "}"
  EXPECT_EQ(walked_block.children[1].children[0].value, "color");
  EXPECT_EQ(walked_block.children[2].children[0].value, "--Main");

  const Node at_rule =
      n(K::AtRule, {n(K::Prefix, "@"), n(K::Name, "media"), n(K::Space, " "), n(K::Value, "print"),
                    n(K::Prefix, "@"), n(K::Name, "layer"), n(K::Space, " "), n(K::Value, "x")});
  Result<std::vector<Node>> split = normalize_tree(at_rule);
  ASSERT_TRUE(split.ok());
  ASSERT_EQ(split->size(), 2u);
  EXPECT_EQ(collect_text((*split)[0]), "@media print");
  EXPECT_EQ(collect_text((*split)[1]), "@layer x");

  EXPECT_EQ(normalize_tree(block({n(K::Attribute, {n(K::Value, "x")})})).error(),
            "Missing property name in lexer AST");
}

// A working region: `!@media (min-width : 768px){...}` style input built by
// hand, normalised and flattened.
TEST(NormalizeRegion, FlattensNestedRulesAndAtRules) {
  const Node velt =
      n(K::Velt,
        {n(K::AtRule, {n(K::Prefix, "@"), n(K::Name, "media"), n(K::Space, " "),
                       n(K::Parenthesis, "( min-width : 768px )")}),
         n(K::Rule,
           {n(K::Selector, {n(K::Pseudoclass, {n(K::Prefix, ":"), n(K::Name, "HOVER")})}),
            block({declaration("COLOR", {n(K::Char, "RED")}), n(K::Semicolon, ";"),
                   n(K::Rule, {n(K::Selector, {n(K::Element, "SPAN"), n(K::Space, " ")}),
                               block({declaration("margin", {n(K::Char, "0")})})}),
                   n(K::Rule, {n(K::Selector, {n(K::Element, "b")}), block({})}),
                   n(K::AtRule, {n(K::Prefix, "@"), n(K::Name, "supports"),
                                 n(K::Parenthesis, "(display: grid)"),
                                 block({declaration("display", {n(K::Char, "grid")})})})})})});
  Result<Node> working = normalize_working_region(velt);
  ASSERT_TRUE(working.ok()) << working.error();
  EXPECT_EQ(working->children[0].value, "@media(min-width:768px)");
  Result<std::vector<NormalizedRule>> rules = normalize_region(*working);
  ASSERT_TRUE(rules.ok()) << rules.error();
  const std::vector<NormalizedRule> expected = {
      {{"@media(min-width:768px)"}, kNul + ":hover", {{"color", "red"}}},
      {{"@media(min-width:768px)"}, kNul + ":hover span", {{"margin", "0"}}},
      {{"@media(min-width:768px)", "@supports(display:grid)"},
       kNul + ":hover",
       {{"display", "grid"}}},
  };
  EXPECT_EQ(*rules, expected);
  // Flattening the raw region gives the same rules but the own selector.
  Result<std::vector<NormalizedRule>> raw = normalize_region(velt);
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(raw->at(0).selector, ":hover");
}

TEST(NormalizeRegion, PlaceholderAndLeadingSpace) {
  const Node velt = n(
      K::Velt,
      {n(K::Rule, {n(K::Selector, {n(K::Combinator, {n(K::Descendant, " ")}), n(K::Element, "a")}),
                   block({declaration("color", {n(K::Char, "red")})})})});
  Result<Node> working = normalize_working_region(velt);
  ASSERT_TRUE(working.ok());
  const Node& selector = working->children[0].children[0];
  ASSERT_GE(selector.children.size(), 2u);
  EXPECT_EQ(selector.children[0].kind, K::Char);
  EXPECT_EQ(selector.children[0].value, kNul);
  EXPECT_EQ(selector.children[1].kind, K::Combinator);
  Result<std::vector<NormalizedRule>> rules = normalize_region(*working);
  ASSERT_TRUE(rules.ok());
  ASSERT_EQ(rules->size(), 1u);
  EXPECT_EQ(rules->at(0).selector, kNul + " a");
}

TEST(NormalizeRegion, MissingValueFailsTheFlattening) {
  const Node velt =
      n(K::Velt, {n(K::Rule, {n(K::Selector), block({n(K::Attribute, {n(K::Name, "color")})})})});
  Result<Node> working = normalize_working_region(velt);
  ASSERT_TRUE(working.ok());
  EXPECT_EQ(normalize_region(*working).error(), "Missing normalized property value");
}

}  // namespace
}  // namespace zeviziz
