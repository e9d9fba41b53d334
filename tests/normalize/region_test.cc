// Realistic regions taken from the lexer through normalisation to the
// flattened rules.
#include <gtest/gtest.h>

#include "lexer/lexer.h"
#include "normalize/declaration.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

const std::string kNul(1, '\0');

// Lexes `source` (one region) and returns its working region: the Velt node
// without its Directive children.
Node working_region(std::string_view source) {
  const Node tree = lex(new_lexer({}), source);
  EXPECT_EQ(tree.children.size(), 1u) << source;
  EXPECT_EQ(tree.children.at(0).kind, NodeKind::Velt) << source;
  Node region(NodeKind::Velt);
  for (const Node& child : tree.children.at(0).children) {
    if (child.kind != NodeKind::Directive) region.children.push_back(child);
  }
  return region;
}

std::vector<NormalizedRule> flatten(std::string_view source) {
  Result<Node> working = normalize_working_region(working_region(source));
  EXPECT_TRUE(working.ok()) << working.error();
  if (!working.ok()) return {};
  Result<std::vector<NormalizedRule>> rules = normalize_region(*working);
  EXPECT_TRUE(rules.ok()) << rules.error();
  if (!rules.ok()) return {};
  // Normalising the normalised region again changes nothing.
  Result<Node> again = normalize_working_region(*working);
  EXPECT_TRUE(again.ok());
  if (again.ok()) {
    EXPECT_EQ(normalize_region(*again).value(), *rules) << source;
  }
  return std::move(rules).value();
}

using Rules = std::vector<NormalizedRule>;

TEST(Region, ValueCase) {
  EXPECT_EQ(flatten("!{COLOR:RED}"), (Rules{{{}, kNul, {{"color", "red"}}}}));
  EXPECT_EQ(flatten("!{animation-name:FadeIn}"),
            (Rules{{{}, kNul, {{"animation-name", "FadeIn"}}}}));
  EXPECT_EQ(flatten("!{--Accent:Blue}"), (Rules{{{}, kNul, {{"--Accent", "Blue"}}}}));
  EXPECT_EQ(flatten("!{background:URL(Img.PNG)}"),
            (Rules{{{}, kNul, {{"background", "url(Img.PNG)"}}}}));
  EXPECT_EQ(flatten("!{border:1px /* x */ solid;}"),
            (Rules{{{}, kNul, {{"border", "1px /**/ solid"}}}}));
  EXPECT_EQ(flatten("!{font-family:\"Open  Sans\" , Arial;COLOR:#FFF}"),
            (Rules{{{}, kNul, {{"font-family", "\"Open  Sans\",arial"}, {"color", "#fff"}}}}));
  EXPECT_EQ(flatten("!{margin:calc( 1PX + 2PX )  AUTO}"),
            (Rules{{{}, kNul, {{"margin", "calc(1px + 2px) auto"}}}}));
}

TEST(Region, SelectorsAndPlaceholder) {
  EXPECT_EQ(flatten("!:HOVER{x:y}"), (Rules{{{}, kNul + ":hover", {{"x", "y"}}}}));
  EXPECT_EQ(flatten("! a{x:y}"), (Rules{{{}, kNul + " a", {{"x", "y"}}}}));
  EXPECT_EQ(flatten("!>LI.Item{x:y}"), (Rules{{{}, kNul + ">li.Item", {{"x", "y"}}}}));
  // "&" in the region's own selector stands for the carrying element.
  EXPECT_EQ(flatten("!.dark &{x:y}"), (Rules{{{}, ".dark " + kNul, {{"x", "y"}}}}));
  EXPECT_EQ(flatten("!.a:NOT(.B , .c)[HREF=\"X\" I]>b{x:y}"),
            (Rules{{{}, kNul + ".a:not(.B,.c)[href=\"X\" i]>b", {{"x", "y"}}}}));
}

TEST(Region, AtRules) {
  EXPECT_EQ(flatten("!@media ( min-width : 768px )  and ( max-width:1023px ){x:y}"),
            (Rules{{{"@media(min-width:768px) and (max-width:1023px)"}, kNul, {{"x", "y"}}}}));
  EXPECT_EQ(flatten("!@media print@supports (display:grid){x:y}"),
            (Rules{{{"@media print", "@supports(display:grid)"}, kNul, {{"x", "y"}}}}));
  EXPECT_EQ(flatten("!@media(x)&:hover{a:b}"),
            (Rules{{{"@media(x)"}, kNul + ":hover", {{"a", "b"}}}}));
}

TEST(Region, NestedRules) {
  // A block with only nested rules gives no rule of its own.
  EXPECT_EQ(flatten("!{&:hover{x:y} span{a:b}}"),
            (Rules{{{}, kNul + ":hover", {{"x", "y"}}}, {{}, kNul + " span", {{"a", "b"}}}}));
  EXPECT_EQ(flatten("! a{b:c; span &{d:e} &:hover{f:g}}"),
            (Rules{{{}, kNul + " a", {{"b", "c"}}},
                   {{}, "span :is(" + kNul + " a)", {{"d", "e"}}},
                   {{}, kNul + " a:hover", {{"f", "g"}}}}));
  EXPECT_EQ(flatten("!{a:b; @media print{c:d} e:f}"),
            (Rules{{{}, kNul, {{"a", "b"}, {"e", "f"}}}, {{"@media print"}, kNul, {{"c", "d"}}}}));
  EXPECT_EQ(flatten("!@media print{p{@supports (x:y){q:r}}}"),
            (Rules{{{"@media print", "@supports(x:y)"}, kNul + " p", {{"q", "r"}}}}));
  // Each alternative of a nested selector list is nested on its own.
  EXPECT_EQ(flatten("!{a  >  b , c{x:y}}"),
            (Rules{{{}, kNul + " a>b," + kNul + " c", {{"x", "y"}}}}));
  EXPECT_EQ(flatten("! a{&.x, span{x:y}}"),
            (Rules{{{}, kNul + " a.x," + kNul + " a span", {{"x", "y"}}}}));
}

TEST(Region, OverriddenDeclarationsAreDropped) {
  // "!important" may be spelt with space or a comment after "!", in any case.
  EXPECT_EQ(flatten("!{color:red ! important;color:blue}"),
            (Rules{{{}, kNul, {{"color", "red ! important"}, {"color", "blue"}}}}));
  EXPECT_EQ(flatten("!{color:red;color:blue !/* x */IMPORTANT}"),
            (Rules{{{}, kNul, {{"color", "blue !/**/important"}}}}));
  // Inside a string it is only text.
  EXPECT_EQ(flatten("!{content:\"a !important\";content:\"b\"}"),
            (Rules{{{}, kNul, {{"content", "\"b\""}}}}));
  // A declaration overridden by several later ones together.
  EXPECT_EQ(flatten("!{flex:1;flex-grow:0;flex-shrink:0;flex-basis:0}"),
            (Rules{{{}, kNul, {{"flex-grow", "0"}, {"flex-shrink", "0"}, {"flex-basis", "0"}}}}));
  // A rule whose alternatives lose different declarations is split, keeping
  // the order in which its declarations are registered.
  EXPECT_EQ(flatten("!{a,b{color:red;margin:0} a{color:blue}}"),
            (Rules{{{}, kNul + " a", {{"margin", "0"}}},
                   {{}, kNul + " b", {{"color", "red"}, {"margin", "0"}}},
                   {{}, kNul + " a", {{"color", "blue"}}}}));
  EXPECT_EQ(flatten("!{a,b{color:red} a,b{color:blue}}"),
            (Rules{{{}, kNul + " a," + kNul + " b", {{"color", "blue"}}}}));
}

// Flattening reads declarations that the working region holds normalised
// without normalising them again; what it reads must be what normalising
// the source gives, and a lexed declaration is never taken for a normalised
// one.
TEST(Region, NormalisedDeclarationsReadBack) {
  const std::vector<std::string> sources = {
      "COLOR:RED",
      "background:URL( Img.PNG )",
      "border:1px /* x */ solid",
      "font-family:\"Open  Sans\" , Arial",
      "margin:calc( 1PX + 2PX )  AUTO",
      "content:\"a\"'b'",
      "--Accent: Blue ",
      "grid-area:Main",
      "a:\\31 x(y)z",
  };
  for (const std::string& source : sources) {
    const Node region = working_region("!{" + source + "}");
    const Node& block = region.children.at(0).children.back();
    const Node* attribute = nullptr;
    for (const Node& item : block.children) {
      if (item.kind == NodeKind::Attribute) attribute = &item;
    }
    ASSERT_NE(attribute, nullptr) << source;
    std::vector<std::pair<std::string, std::string>> read;
    EXPECT_FALSE(read_normalized_declaration(*attribute, read)) << source;
    Result<NormalizedDeclaration> normalized = normalize_declaration(*attribute);
    ASSERT_TRUE(normalized.ok()) << source;
    ASSERT_TRUE(read_normalized_declaration(normalized->node, read)) << source;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].first, normalized->property) << source;
    EXPECT_EQ(read[0].second, normalized->value) << source;
  }
}

TEST(Region, WorkingRegionShape) {
  Result<Node> working = normalize_working_region(working_region("!:hover{COLOR:RED; a{b:c}}"));
  ASSERT_TRUE(working.ok());
  ASSERT_EQ(working->children.size(), 1u);
  const Node& rule = working->children[0];
  ASSERT_EQ(rule.children.size(), 2u);
  const Node& selector = rule.children[0];
  ASSERT_EQ(selector.kind, NodeKind::Selector);
  EXPECT_EQ(selector.children.at(0).kind, NodeKind::Char);
  EXPECT_EQ(selector.children.at(0).value, kNul);
  const Node& block = rule.children[1];
  ASSERT_EQ(block.children.size(), 2u);  // braces and separators are gone
  EXPECT_EQ(collect_text(block.children[0]), "colorred");
  EXPECT_EQ(block.children[1].kind, NodeKind::Rule);
  EXPECT_EQ(normalize_working_region(working_region("!{--x:a{b}}")).ok(), true);
}

}  // namespace
}  // namespace zeviziz

namespace zeviziz {
namespace {

std::string dump(const Node& node) {
  std::string out;
  dump_json(node, out);
  return out;
}

// The working region holds every selector as the selector grammar reads its
// normalised text, whether normalising changed the text or not.
TEST(Region, WorkingSelectorsReadAsTheirText) {
  const std::vector<std::string> sources = {
      "!.a>b:hover,.c{x:y}",  "!:is(.b,c) d{x:y}",   "!:IS(.B,C) D{x:y}",
      "!{a:is(.b,c) d{x:y}}", "!{A  >  B , C{x:y}}", "!{li:nth-child(2n+1 of .a){x:y}}",
      "!{[href='x' i]{x:y}}", "!{&:hover{x:y}}",     "!{.a &{x:y}}",
  };
  for (const std::string& source : sources) {
    Result<Node> working = normalize_working_region(working_region(source));
    ASSERT_TRUE(working.ok()) << source;
    const Node& rule = working->children.at(0);
    std::vector<const Node*> selectors = {&rule.children.at(0)};
    for (const Node& item : rule.children.back().children) {
      if (item.kind == NodeKind::Rule) selectors.push_back(&item.children.at(0));
    }
    for (const Node* selector : selectors) {
      ASSERT_EQ(selector->kind, NodeKind::Selector) << source;
      Node own(NodeKind::Selector);
      std::string text;
      for (const Node& child : selector->children) {
        // The region's own selector starts with the class placeholder.
        if (child.kind == NodeKind::Char && child.value == kNul) continue;
        own.children.push_back(child);
        collect_text(child, text);
      }
      const Node read = lex_selector(text + "{");
      EXPECT_EQ(dump(own), dump(read)) << source;
    }
  }
}

}  // namespace
}  // namespace zeviziz
