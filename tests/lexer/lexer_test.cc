#include "lexer/lexer.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lexer/lexer_internal.h"

namespace zeviziz {
namespace {

// Kind"value"(children...) for a tree.
void compact(const Node& node, std::string& out) {
  out += kind_name(node.kind);
  if (!node.value.empty()) append_json_string(node.value, out);
  if (node.children.empty()) return;
  out += '(';
  for (size_t i = 0; i < node.children.size(); ++i) {
    if (i > 0) out += ' ';
    compact(node.children[i], out);
  }
  out += ')';
}

std::string compact(const Node& node) {
  std::string out;
  compact(node, out);
  return out;
}

// "TEXT" when nothing was recognised; the children of the Velt when the whole
// input is one region; else the whole Template.
std::string shape(const Node& tree) {
  if (tree.children.size() == 1 && tree.children[0].kind == NodeKind::Text) return "TEXT";
  if (tree.children.size() != 1 || tree.children[0].kind != NodeKind::Velt) return compact(tree);
  std::string out;
  for (const Node& child : tree.children[0].children) {
    if (!out.empty()) out += ' ';
    compact(child, out);
  }
  return out;
}

struct Case {
  std::string input;
  std::string expected;
};

void expect_shapes(const Lexer& lexer, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const Node tree = lex(lexer, c.input);
    EXPECT_EQ(shape(tree), c.expected) << c.input;
    EXPECT_EQ(collect_text(tree), c.input);
    EXPECT_EQ(compact(lex_text(lexer, c.input, false)), compact(tree)) << c.input;
  }
}

const Lexer& default_lexer() {
  static const Lexer lexer = new_lexer({"at", "copy", "id"});
  return lexer;
}

TEST(Lexer, RecognisesRegions) {
  expect_shapes(
      default_lexer(),
      {
          {R"~(!{color:red})~",
           R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"color" Colon":" Value(Char"red")) Close"}")))~"},
          {R"~(a!{color:red})~", R"~(TEXT)~"},
          {R"~(!{color:red}x)~", R"~(TEXT)~"},
          {R"~(!a {color:red})~", R"~(TEXT)~"},
          {R"~(!{a {color:red}})~",
           R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a" Space" ") Declaration(Open"{" Attribute(Name"color" Colon":" Value(Char"red")) Close"}")) Close"}")))~"},
          {R"~(!nope{color:red})~", R"~(TEXT)~"},
          {R"~(!{p{color:red}})~",
           R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"p") Declaration(Open"{" Attribute(Name"color" Colon":" Value(Char"red")) Close"}")) Close"}")))~"},
          {R"~(!{--x:a{b}})~",
           R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"--x" Colon":" Value(Char"a{b}")) Close"}")))~"},
          {R"~(!{color:red)~", R"~(TEXT)~"},
          {R"~(!{color:red}})~", R"~(TEXT)~"},
          {R"~(! a{color:blue})~",
           R"~(Directive(Prefix"!") Rule(Selector(Combinator(Descendant" ") Element"a") Declaration(Open"{" Attribute(Name"color" Colon":" Value(Char"blue")) Close"}")))~"},
          {R"~(!.card>p{margin:0})~",
           R"~(Directive(Prefix"!") Rule(Selector(Class".card" Combinator(Child">") Element"p") Declaration(Open"{" Attribute(Name"margin" Colon":" Value(Char"0")) Close"}")))~"},
          {"!{a:b}\t",
           R"~(Template(Velt(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}"))) Text"\t"))~"},
      });
}

TEST(Lexer, PlainTextAndEmptyInput) {
  const Lexer& lexer = default_lexer();
  EXPECT_EQ(compact(lex(lexer, "")), "Template");
  EXPECT_EQ(compact(lex(lexer, "no style here")), R"(Template(Text"no style here"))");
  EXPECT_EQ(compact(lex(lexer, "!")), R"(Template(Text"!"))");
  EXPECT_EQ(
      compact(lex(lexer, "!{a:b} x !{c:d}")),
      R"~(Template(Velt(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" )~"
      R"~(Colon":" Value(Char"b")) Close"}"))) Text" x " Velt(Directive(Prefix"!") )~"
      R"~(Rule(Declaration(Open"{" Attribute(Name"c" Colon":" Value(Char"d")) Close"}")))))~");
}

TEST(Lexer, TriggerNeedsWhiteSpaceOrStartBefore) {
  const Lexer& lexer = default_lexer();
  struct Spacing {
    std::string input;
    size_t velts;
  } cases[] = {
      {"\u00a0!{a:b}", 1},         // U+00A0 is white space
      {"x\u3000!{a:b}\u3000", 1},  // so is U+3000, after the region too
      {"x\u200b!{a:b}", 0},        // U+200B is not
      {"x\n!{a:b}\r\n", 1},
      {"class=\"!{a:b}\"", 0},
      {"!{a:b}!{c:d}", 0},  // glued regions: the first is not followed by space
      {"!!{a:b}", 0},
      {"! !{a:b}", 1},
  };
  for (const Spacing& c : cases) {
    const Node tree = lex(lexer, c.input);
    size_t velts = 0;
    for (const Node& child : tree.children) velts += child.kind == NodeKind::Velt;
    EXPECT_EQ(velts, c.velts) << c.input;
    EXPECT_EQ(collect_text(tree), c.input);
  }
}

TEST(Lexer, DirectivesAndAtRules) {
  expect_shapes(
      default_lexer(), {
                           {R"~(!at(medium){display:none})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"medium") Close")")) Rule(Declaration(Open"{" Attribute(Name"display" Colon":" Value(Char"none")) Close"}")))~"},
                           {R"~(!at(medium)!id(x){a:b})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"medium") Close")") Prefix"!" Name"id" Parenthesis(Open"(" Value(Char"x") Close")")) Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")))~"},
                           {R"~(!id(a)!{x:y})~",
                            R"~(Directive(Prefix"!" Name"id" Parenthesis(Open"(" Value(Char"a") Close")") Prefix"!") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!id(a)!@media print{x:y})~",
                            R"~(Directive(Prefix"!" Name"id" Parenthesis(Open"(" Value(Char"a") Close")") Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at(medium)@media print{x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"medium") Close")")) AtRule(Prefix"@" Name"media" Space" " Value"print") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at(medium)x{x:y})~", R"~(TEXT)~"},
                           {R"~(!at(f(a,b)){x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"f(a,b)") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at(")"){x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Char"\")\"") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at( a  b ){x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Value(Space" " Char"a" Space"  " Char"b" Space" ") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at(){x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Parenthesis(Open"(" Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!at({x:y})~", R"~(TEXT)~"},
                           {R"~(!atx{x:y})~", R"~(TEXT)~"},
                           {R"~(!at!{x:y})~",
                            R"~(Directive(Prefix"!" Name"at" Prefix"!") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media(min-width:768px){display:none})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Parenthesis(Open"(" Value(Char"min-width:768px") Close")")) Rule(Declaration(Open"{" Attribute(Name"display" Colon":" Value(Char"none")) Close"}")))~"},
                           {R"~(!@media(min-width:768px)&:hover{color:red})~", R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Parenthesis(Open"(" Value(Char"min-width:768px") Close")")) And"&" Rule(Selector(Pseudoclass(Prefix":" Name"hover")) Declaration(Open"{" Attribute(Name"color" Colon":" Value(Char"red")) Close"}")))~"},
                           {R"~(!@media print{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print {x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print" Space" ") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print and (color){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print" Space" " And"and" Space" " Parenthesis(Open"(" Value(Char"color") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print @supports (display:grid){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print" Space" " Prefix"@" Name"supports" Space" " Parenthesis(Open"(" Value(Char"display:grid") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@container card (min-width:400px){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"container" Space" " Value"card" Space" " Parenthesis(Open"(" Value(Char"min-width:400px") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@container (min-width:400px) and (orientation:portrait){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"container" Space" " Parenthesis(Open"(" Value(Char"min-width:400px") Close")") Space" " And"and" Space" " Parenthesis(Open"(" Value(Char"orientation:portrait") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@supports (display:grid) and (gap:1px){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"supports" Space" " Parenthesis(Open"(" Value(Char"display:grid") Close")") Space" " And"and" Space" " Parenthesis(Open"(" Value(Char"gap:1px") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@layer base.theme{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"layer" Space" " Value"base.theme") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@layer{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"layer") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@starting-style{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"starting-style") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@scope (.a) to (.b){x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"scope" Space" " Parenthesis(Open"(" Value(Char".a") Close")") Space" " Keyword"to" Space" " Parenthesis(Open"(" Value(Char".b") Close")")) Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@scope{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"scope") Rule(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print&.a{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") And"&" Rule(Selector(Class".a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print& .a{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") And"&" Rule(Selector(Combinator(Descendant" ") Class".a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print&a{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") And"&" Rule(Selector(Element"a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media print&*{x:y})~",
                            R"~(Directive(Prefix"!") AtRule(Prefix"@" Name"media" Space" " Value"print") And"&" Rule(Selector(Universal"*") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!@media{x:y})~", R"~(TEXT)~"},
                           {R"~(!@media (a)and (b){x:y})~", R"~(TEXT)~"},
                           {R"~(!@media (a) and(b){x:y})~", R"~(TEXT)~"},
                           {R"~(!@supports not (x){x:y})~", R"~(TEXT)~"},
                           {R"~(!@supports print{x:y})~", R"~(TEXT)~"},
                           {R"~(!@layer a and (b){x:y})~", R"~(TEXT)~"},
                           {R"~(!@scope to (.b){x:y})~", R"~(TEXT)~"},
                           {R"~(!@scope (.a) to (.b) to (.c){x:y})~", R"~(TEXT)~"},
                           {R"~(!@starting-style (x){x:y})~", R"~(TEXT)~"},
                           {R"~(!@media print&{x:y})~", R"~(TEXT)~"},
                           {R"~(!@media print!{x:y})~", R"~(TEXT)~"},
                           {R"~(!@foo{x:y})~", R"~(TEXT)~"},
                           {R"~(!@mediaprint{x:y})~", R"~(TEXT)~"},
                       });
}

TEST(Lexer, DirectiveNamesMatchExactly) {
  const Lexer sizes = new_lexer({"small", "small-only"});
  EXPECT_EQ(shape(lex(sizes, "!small-x{a:b}")), "TEXT");
  EXPECT_NE(shape(lex(sizes, "!small{a:b}")), "TEXT");
  EXPECT_NE(shape(lex(sizes, "!small-only{a:b}")), "TEXT");
  EXPECT_EQ(shape(lex(sizes, "!smal{a:b}")), "TEXT");
}

TEST(Lexer, EmptyNameListAcceptsAnyNameRun) {
  const Lexer any = new_lexer({});
  expect_shapes(
      any,
      {
          {"!Any-name_9(x){a:b}",
           R"~(Directive(Prefix"!" Name"Any-name_9" Parenthesis(Open"(" Value(Char"x") Close")")) )~"
           R"~(Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")))~"},
          {"!a>b{x:y}",
           R"~(Directive(Prefix"!" Name"a") Rule(Selector(Combinator(Child">") Element"b") )~"
           R"~(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
          {"!a {x:y}", "TEXT"},
          {"!a > b{x:y}", "TEXT"},
          {"!a.b{x:y}",
           R"~(Directive(Prefix"!" Name"a") Rule(Selector(Class".b") )~"
           R"~(Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
          {"!a$b{x:y}", "TEXT"},
      });
}

TEST(Lexer, Selectors) {
  expect_shapes(
      default_lexer(), {
                           {R"~(!:hover{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"hover")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!>a{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Combinator(Child">") Element"a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!+a{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Combinator(NextSibling"+") Element"a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!~a{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Combinator(SubsequentSibling"~") Element"a") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a .b{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Combinator(Descendant" ") Class".b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!#a.b[c]:d::e{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Id"#a" Class".b" Attribute(Open"[" AttName"c" Close"]") Pseudoclass(Prefix":" Name"d") Pseudoclass(Prefix"::" Name"e")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a#b{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Id"#b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a.b{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Class".b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!..a{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a&{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Nesting"&") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           // "&" does not start a rule after the trigger.
                           {R"~(!&:hover{x:y})~", R"~(TEXT)~"},
                           {R"~(!&.a{x:y})~", R"~(TEXT)~"},
                           {R"~(!&a{x:y})~", R"~(TEXT)~"},
                           {R"~(!:hover:focus{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"hover") Pseudoclass(Prefix":" Name"focus")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.md\:flex{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".md\\:flex") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a  .b{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a >.b{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a> .b{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a {x:y})~", R"~(TEXT)~"},
                           {R"~(! {x:y})~", R"~(TEXT)~"},
                           {R"~(!>{x:y})~", R"~(TEXT)~"},
                           {R"~(!*{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a*{x:y})~", R"~(TEXT)~"},
                           // Lists: a space after "," is a Descendant combinator.
                           {R"~(!.a,.b{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Comma"," Class".b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a, .b{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Class".a" Comma"," Combinator(Descendant" ") Class".b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!.a,{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a,,.b{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a ,.b{x:y})~", R"~(TEXT)~"},
                           {R"~(!.a/**/{x:y})~", R"~(TEXT)~"},
                           {"!.a\t.b{x:y}", R"~(TEXT)~"},
                           {R"~(![data-x="1" i]{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Attribute(Open"[" AttName"data-x" Operator"=" StringValue"\"1\"" Space" " Keyword"i" Close"]")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(![ href ^= x ]{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Attribute(Open"[" Space" " AttName"href" AttNameEnd" " OperatorStart"^" Operator"=" OperatorEnd" " NameValue"x" Space" " Close"]")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(![a]{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Attribute(Open"[" AttName"a" Close"]")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(![a|=b]{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Attribute(Open"[" AttName"a" OperatorStart"|" Operator"=" NameValue"b" Close"]")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(![a='x]y']{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Attribute(Open"[" AttName"a" Operator"=" StringValue"'x]y'" Close"]")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(![a=]{x:y})~", R"~(TEXT)~"},
                           {R"~(![1a]{x:y})~", R"~(TEXT)~"},
                           {R"~(![a~b]{x:y})~", R"~(TEXT)~"},
                           {R"~(!::before{x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix"::" Name"before")) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:is(.a, .b){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"is" Parenthesis(Open"(" Selector(Class".a" Comma"," Space" " Class".b") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:where(#x){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"where" Parenthesis(Open"(" Selector(Id"#x") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:not(:is(a)){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"not" Parenthesis(Open"(" Selector(Pseudoclass(Prefix":" Name"is" Parenthesis(Open"(" Selector(Element"a") Close")"))) Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:has(> a, + b){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"has" Parenthesis(Open"(" Selector(Combinator(Child">") Space" " Element"a" Comma"," Space" " Combinator(NextSibling"+") Space" " Element"b") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!::slotted(span){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix"::" Name"slotted" Parenthesis(Open"(" Selector(Element"span") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:host(.a){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"host" Parenthesis(Open"(" Selector(Class".a") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-child(2n + 1 of .a, p){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-child" Parenthesis(Open"(" Value(Char"2n" Space" " Char"+" Space" " Char"1" Space" ") Keyword"of" Space" " Selector(Class".a" Comma"," Space" " Element"p") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-child(odd){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-child" Parenthesis(Open"(" Value(Char"odd") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:NTH-CHILD(2 OF .a){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"NTH-CHILD" Parenthesis(Open"(" Value(Char"2" Space" ") Keyword"OF" Space" " Selector(Class".a") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-last-child(-n+3){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-last-child" Parenthesis(Open"(" Value(Char"-n+3") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-last-child(.a){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-last-child" Parenthesis(Open"(" Selector(Class".a") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-child(2n+1 .a){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-child" Parenthesis(Open"(" Value(Char"2n+1" Space" ") Selector(Class".a") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:nth-child(2 x){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-child" Parenthesis(Open"(" Value(Char"2" Space" ") Selector(Element"x") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:lang(en){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"lang" Parenthesis(Open"(" Value(Char"en") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:dir( rtl ){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"dir" Parenthesis(Open"(" Value(Space" " Char"rtl" Space" ") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:is(){x:y})~", R"~(TEXT)~"},
                           {R"~(!:is(> a){x:y})~", R"~(TEXT)~"},
                           {R"~(!:is(a,){x:y})~", R"~(TEXT)~"},
                           {R"~(!::slotted(a b){x:y})~", R"~(TEXT)~"},
                           {R"~(!:host(a>b){x:y})~", R"~(TEXT)~"},
                           {R"~(!:nth-child(){x:y})~", R"~(TEXT)~"},
                           {R"~(!:nth-child(2n of){x:y})~",
                            R"~(Directive(Prefix"!") Rule(Selector(Pseudoclass(Prefix":" Name"nth-child" Parenthesis(Open"(" Value(Char"2n" Space" ") Selector(Element"of") Close")"))) Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")))~"},
                           {R"~(!:1a{x:y})~", R"~(TEXT)~"},
                           {R"~(!:{x:y})~", R"~(TEXT)~"},
                           {R"~(!:::a{x:y})~", R"~(TEXT)~"},
                           {R"~(!:is(a{x:y})~", R"~(TEXT)~"},
                       });
}

TEST(Lexer, BlocksAndDeclarations) {
  expect_shapes(default_lexer(),
                {
                    {R"~(!{a:b;c:d})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Semicolon";" Attribute(Name"c" Colon":" Value(Char"d")) Close"}")))~"},
                    {R"~(!{ a : b ; })~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Space" " Attribute(Name"a" Space" " Colon":" Space" " Value(Char"b" Space" ")) Semicolon";" Space" " Close"}")))~"},
                    {R"~(!{a:b;;c:d;})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Semicolon";;" Attribute(Name"c" Colon":" Value(Char"d")) Semicolon";" Close"}")))~"},
                    {R"~(!{a})~", R"~(TEXT)~"},
                    {R"~(!{a:})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":") Close"}")))~"},
                    {R"~(!{a:b c})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b" Space" " Char"c")) Close"}")))~"},
                    {R"~(!{1:b})~", R"~(TEXT)~"},
                    {R"~(!{/* c */a:b})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Space"/* c */" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")))~"},
                    {R"~(!{a:b/*x*/c})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b/*x*/c")) Close"}")))~"},
                    {R"~(!{a:url(x;y) no-repeat})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"url" Parenthesis(Open"(" Value(Char"x;y") Close")") Space" " Char"no-repeat")) Close"}")))~"},
                    {R"~(!{a:"x;}"})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(StringValue"\"x;}\"")) Close"}")))~"},
                    {R"~(!{a:'it''s'})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(StringValue"'it''s'")) Close"}")))~"},
                    {R"~(!{a:[b;c] d})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"[b;c]" Space" " Char"d")) Close"}")))~"},
                    {R"~(!{a:calc((1px + 2px) * 3)})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"calc" Parenthesis(Open"(" Value(Char"(1px" Space" " Char"+" Space" " Char"2px)" Space" " Char"*" Space" " Char"3") Close")"))) Close"}")))~"},
                    {R"~(!{a:b\;c})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b\\;c")) Close"}")))~"},
                    {R"~(!{a:b !important})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b" Space" " Char"!important")) Close"}")))~"},
                    {R"~(!{a:b{c}})~", R"~(TEXT)~"},
                    {R"~(!{--x:{a;b}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"--x" Colon":" Value(Char"{a;b}")) Close"}")))~"},
                    {R"~(!{--x:})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"--x" Colon":") Close"}")))~"},
                    {R"~(!{-webkit-box:x})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"-webkit-box" Colon":" Value(Char"x")) Close"}")))~"},
                    {R"~(!{_a:b})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Attribute(Name"_a" Colon":" Value(Char"b")) Close"}")))~"},
                    {R"~(!{.a{b:c}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Class".a") Declaration(Open"{" Attribute(Name"b" Colon":" Value(Char"c")) Close"}")) Close"}")))~"},
                    {R"~(!{> a{b:c}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Combinator(Child">") Space" " Element"a") Declaration(Open"{" Attribute(Name"b" Colon":" Value(Char"c")) Close"}")) Close"}")))~"},
                    {R"~(!{&:hover{b:c}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Nesting"&" Pseudoclass(Prefix":" Name"hover")) Declaration(Open"{" Attribute(Name"b" Colon":" Value(Char"c")) Close"}")) Close"}")))~"},
                    {R"~(!{a > b , c{x:y}})~", R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a" Space" " Combinator(Child">") Space" " Element"b" Space" " Comma"," Space" " Element"c") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")) Close"}")))~"},
                    {R"~(!{a  b{x:y}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a" Combinator(Descendant"  ") Element"b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")) Close"}")))~"},
                    {R"~(!{a /* c */ b{x:y}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a" Combinator(Descendant" ") Space"/* c */ " Element"b") Declaration(Open"{" Attribute(Name"x" Colon":" Value(Char"y")) Close"}")) Close"}")))~"},
                    {R"~(!{a/**/b{x:y}})~", R"~(TEXT)~"},
                    {R"~(!{a,{x:y}})~", R"~(TEXT)~"},
                    {R"~(!{a,,b{x:y}})~", R"~(TEXT)~"},
                    {R"~(!{a >{x:y}})~", R"~(TEXT)~"},
                    {R"~(!{> > a{x:y}})~", R"~(TEXT)~"},
                    {R"~(!{a{b:c}d:e})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a") Declaration(Open"{" Attribute(Name"b" Colon":" Value(Char"c")) Close"}")) Attribute(Name"d" Colon":" Value(Char"e")) Close"}")))~"},
                    {R"~(!{a{b:c} d{e:f}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Rule(Selector(Element"a") Declaration(Open"{" Attribute(Name"b" Colon":" Value(Char"c")) Close"}")) Space" " Rule(Selector(Element"d") Declaration(Open"{" Attribute(Name"e" Colon":" Value(Char"f")) Close"}")) Close"}")))~"},
                    {R"~(!{@media print{a:b}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" AtRule(Prefix"@" Name"media" Space" " Value"print") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")) Close"}")))~"},
                    {R"~(!{@media print @supports (x){a:b}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" AtRule(Prefix"@" Name"media" Space" " Value"print" Space" " Prefix"@" Name"supports" Space" " Parenthesis(Open"(" Value(Char"x") Close")")) Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")) Close"}")))~"},
                    {R"~(!{@media print{a:b}@media screen{c:d}})~",
                     R"~(Directive(Prefix"!") Rule(Declaration(Open"{" AtRule(Prefix"@" Name"media" Space" " Value"print") Rule(Declaration(Open"{" Attribute(Name"a" Colon":" Value(Char"b")) Close"}")) AtRule(Prefix"@" Name"media" Space" " Value"screen") Rule(Declaration(Open"{" Attribute(Name"c" Colon":" Value(Char"d")) Close"}")) Close"}")))~"},
                    {R"~(!{@media print})~", R"~(TEXT)~"},
                    {R"~(!{@media print;a:b})~", R"~(TEXT)~"},
                    {R"~(!{a:b}c{d:e}})~", R"~(TEXT)~"},
                    {R"~(!{!a:b})~", R"~(TEXT)~"},
                    {R"~(!{a:b}})~", R"~(TEXT)~"},
                    {R"~(!{})~", R"~(Directive(Prefix"!") Rule(Declaration(Open"{" Close"}")))~"},
                });
}

TEST(Lexer, MalformedBytesAndNulStayText) {
  const Lexer& lexer = default_lexer();
  const std::string cases[] = {
      "!{a:\xff}",
      std::string("!{a:\0}", 7),
      "!{a:\"\xc3\"}",
      "!at(\xed\xa0\x80){a:b}",
  };
  for (const std::string& input : cases) {
    const Node tree = lex(lexer, input);
    EXPECT_EQ(shape(tree), "TEXT");
    EXPECT_EQ(collect_text(tree), input);
  }
  // Bytes around a region are kept as they are.
  const std::string mixed = "\xff !{a:\xc3\xa9} \xfe";
  const Node tree = lex(lexer, mixed);
  ASSERT_EQ(tree.children.size(), 3u);
  EXPECT_EQ(tree.children[1].kind, NodeKind::Velt);
  EXPECT_EQ(collect_text(tree), mixed);
}

TEST(Lexer, NestingDepthIsBounded) {
  const Lexer& lexer = default_lexer();
  // `depth` blocks: the region's own and depth - 1 nested rules.
  auto nested = [](int depth) {
    std::string text = "!{";
    for (int i = 1; i < depth; ++i) text += "a{";
    return text + "b:c" + std::string(depth, '}');
  };
  EXPECT_NE(shape(lex(lexer, nested(64))), "TEXT");
  EXPECT_EQ(shape(lex(lexer, nested(65))), "TEXT");
  // Very deep input stays text instead of exhausting the stack.
  std::string deep = "!";
  for (int i = 0; i < 200000; ++i) deep += "{a:is(";
  EXPECT_EQ(shape(lex(lexer, deep)), "TEXT");
  std::string pseudo = "!";
  for (int i = 0; i < 100; ++i) pseudo += ":is(";
  EXPECT_EQ(shape(lex(lexer, pseudo + "a" + std::string(100, ')') + "{x:y}")), "TEXT");
}

TEST(Lexer, LexSelectorReadsFreeFormSelectorLists) {
  struct SelectorCase {
    std::string input;
    std::string expected;
  } cases[] = {
      {"&:hover{", R"(Selector(Nesting"&" Pseudoclass(Prefix":" Name"hover")))"},
      {"& a{", R"(Selector(Nesting"&" Combinator(Descendant" ") Element"a"))"},
      {"a b:hover,#c>d{",
       R"~(Selector(Element"a" Combinator(Descendant" ") Element"b" Pseudoclass(Prefix":" )~"
       R"~(Name"hover") Comma"," Id"#c" Combinator(Child">") Element"d"))~"},
      {":is(& a) span{",
       R"~(Selector(Pseudoclass(Prefix":" Name"is" Parenthesis(Open"(" Selector(Nesting"&" )~"
       R"~(Combinator(Descendant" ") Element"a") Close")")) Combinator(Descendant" ") )~"
       R"~(Element"span"))~"},
      {"[a=\"{\"]{",
       R"~(Selector(Attribute(Open"[" AttName"a" Operator"=" StringValue"\"{\"" Close"]")))~"},
      {":nth-last-child(.a){",
       R"~(Selector(Pseudoclass(Prefix":" Name"nth-last-child" Parenthesis(Open"(" )~"
       R"~(Selector(Class".a") Close")"))))~"},
      // Without the block the machine fails at the end and keeps what it read.
      {"a.b", R"(Selector(Element"a" Class".b"))"},
      {"a..b{", R"(Selector(Element"a"))"},
      {"", "Selector"},
  };
  for (const SelectorCase& c : cases)
    EXPECT_EQ(compact(lex_selector(c.input)), c.expected) << c.input;
}

TEST(Lexer, ReadsAtRulePreludes) {
  using Preludes = std::vector<std::string>;
  struct PreludeCase {
    std::string input;
    std::optional<Preludes> expected;
  } cases[] = {
      {"@media print @supports (display:grid)",
       Preludes{"@media print", "@supports (display:grid)"}},
      {"@media(min-width:768px)", Preludes{"@media(min-width:768px)"}},
      {"  @media print\n", Preludes{"@media print"}},
      {"@media (min-width:900px) and (max-width:1000px)",
       Preludes{"@media (min-width:900px) and (max-width:1000px)"}},
      {"@layer a@layer b", Preludes{"@layer a", "@layer b"}},
      {"@scope (.a) to (.b)", Preludes{"@scope (.a) to (.b)"}},
      {"@starting-style", Preludes{"@starting-style"}},
      {"@container card (min-width:1px)", Preludes{"@container card (min-width:1px)"}},
      {"@media(min-width:320px) and (max-width:479px)",
       Preludes{"@media(min-width:320px) and (max-width:479px)"}},
      {"@media(min-width:medium)", Preludes{"@media(min-width:medium)"}},
      {"@media", std::nullopt},
      {"media print", std::nullopt},
      {"@media print x", std::nullopt},
      {"@media print{", std::nullopt},
      {"@media (a", std::nullopt},
      {"@media print,", std::nullopt},
      {"@unknown x", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const PreludeCase& c : cases)
    EXPECT_EQ(read_at_rule_preludes(c.input), c.expected) << c.input;
}

// Checks what the rest of the system relies on for every lexed text.
void check_invariants(const Lexer& lexer, const std::string& input) {
  const Node tree = lex(lexer, input);
  ASSERT_EQ(tree.kind, NodeKind::Template);
  ASSERT_EQ(collect_text(tree), input);
  ASSERT_EQ(compact(lex_text(lexer, input, false)), compact(tree)) << input;
  size_t offset = 0;
  for (size_t i = 0; i < tree.children.size(); ++i) {
    const Node& child = tree.children[i];
    const std::string text = collect_text(child);
    ASSERT_FALSE(text.empty());
    if (child.kind == NodeKind::Text) {
      ASSERT_TRUE(i == 0 || tree.children[i - 1].kind != NodeKind::Text) << input;
      offset += text.size();
      continue;
    }
    ASSERT_EQ(child.kind, NodeKind::Velt);
    ASSERT_FALSE(child.children.empty());
    const Node& first = child.children[0];
    ASSERT_EQ(first.kind, NodeKind::Directive);
    ASSERT_EQ(first.children.at(0).kind, NodeKind::Prefix);
    ASSERT_EQ(first.children[0].value, "!");
    ASSERT_EQ(child.children.back().kind, NodeKind::Rule);
    for (const Node& part : child.children) {
      ASSERT_TRUE(part.kind == NodeKind::Directive || part.kind == NodeKind::AtRule ||
                  part.kind == NodeKind::And || part.kind == NodeKind::Rule);
    }
    // A region stands alone: lexed by itself it gives the same tree.
    const Node alone = lex(lexer, text);
    ASSERT_EQ(alone.children.size(), 1u) << text;
    ASSERT_EQ(compact(alone.children[0]), compact(child));
    offset += text.size();
  }
}

// Tokens that exercise every machine, plus malformed bytes.
const std::vector<std::string>& tokens() {
  static const std::vector<std::string> list = {
      "!",      "!",           "!",    " ",          " ",      "{",         "}",
      "{",      "}",           ":",    ";",          "(",      ")",         "[",
      "]",      "\"",          "'",    "/*",         "*/",     "\t",        "\n",
      "\u00a0", "a",           "b",    "p",          "--",     "-",         "_",
      ".",      "#",           ">",    "+",          "~",      ",",         "&",
      "*",      "=",           "^=",   "\\",         "@media", "@supports", "@scope",
      "@layer", " and ",       " to ", "at",         "at(",    "id(",       "copy",
      "x",      "0",           "1px",  "!important", ":hover", "::before",  ":is(",
      ":has(",  ":nth-child(", " of ", "\xc3\xa9",   "\xff"};
  return list;
}

std::string random_text(std::mt19937& random, size_t max_tokens) {
  std::uniform_int_distribution<size_t> count(0, max_tokens);
  std::uniform_int_distribution<size_t> pick(0, tokens().size() - 1);
  std::string text;
  for (size_t n = count(random); n > 0; --n) text += tokens()[pick(random)];
  return text;
}

// A realistic template with regions, cut and mutated at random points.
std::string mutated_template(std::mt19937& random) {
  static const std::vector<std::string> regions = {"!{color:red}",
                                                   "!:hover{color:blue;margin:0 auto}",
                                                   "!at(medium){display:none}",
                                                   "!@media(min-width:768px)&:hover{a:b}",
                                                   "!{a{b:c} --x:{y};d:url(\"e f\")}",
                                                   "! .a>b:is(.c, #d) [e^='f']{g:h}",
                                                   "!id(main)!{p{x:y}@media print{z:w}}",
                                                   "!{:nth-child(2n of .a) {b:c}/* note */}",
                                                   "!@scope (.a) to (.b){c:d}"};
  std::uniform_int_distribution<size_t> pick(0, regions.size() - 1);
  std::string text = "<div class=\"";
  for (int i = 0; i < 4; ++i) text += regions[pick(random)] + " x ";
  text += "\">don't</div>";
  std::uniform_int_distribution<int> edits(0, 4);
  for (int n = edits(random); n > 0; --n) {
    std::uniform_int_distribution<size_t> at(0, text.size());
    const size_t pos = at(random);
    switch (edits(random) % 3) {
      case 0:
        text.erase(pos, 1);
        break;
      case 1:
        text.insert(pos, tokens()[at(random) % tokens().size()]);
        break;
      default:
        text.resize(pos);
        break;
    }
  }
  return text;
}

TEST(Lexer, InvariantsHoldOnGeneratedInput) {
  std::mt19937 random(20240611);
  const Lexer any = new_lexer({});
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    if (i % 3 == 0) {
      text = random_text(random, 40);
    } else if (i % 3 == 1) {
      text = mutated_template(random);
    } else {
      std::uniform_int_distribution<int> byte(0, 255);
      for (int n = byte(random) % 48; n > 0; --n) text += static_cast<char>(byte(random));
    }
    check_invariants(default_lexer(), text);
    check_invariants(any, text);
    if (HasFatalFailure()) return;
  }
}

TEST(Lexer, LexSelectorFromTokenRunsMatchesPlainReading) {
  // Complete and failing selector texts alike: the partial tree of a failed
  // reading must not change either.
  std::mt19937 random(977);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = random_text(random, 12);
    ASSERT_EQ(compact(lex_selector_text(text, true)), compact(lex_selector_text(text, false)))
        << text;
  }
}

TEST(Lexer, RepeatedFailingAttemptsGiveTheSameTreeAsPlainReading) {
  // Inputs where many attempts fail late; the fast first reading must agree
  // with the plain one.
  std::vector<std::string> inputs;
  auto repeat = [](std::string_view unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
  };
  inputs.push_back(repeat(" !{a:(", 50) + repeat(")", 60) + " ;1}");
  inputs.push_back(repeat(" !{a:(", 50) + repeat(")", 50) + "} !{b:c}");
  inputs.push_back(repeat(" !{--a:b ", 40) + repeat("}", 41));
  inputs.push_back(repeat(" !{a:\"", 30) + "\"}");
  inputs.push_back(repeat(" !at((", 30) + repeat(")", 45) + "{a:b}");
  inputs.push_back(repeat(" !{a{", 30) + "b:c" + repeat("}", 29) + " !{d:e}");
  inputs.push_back(repeat(" !{a:b;", 30) + repeat("c:d;", 30) + "}");
  inputs.push_back(repeat(" !{a:/*", 20) + "*/}");
  for (const std::string& text : inputs) {
    check_invariants(default_lexer(), text);
    if (HasFatalFailure()) return;
  }
}

TEST(Lexer, TokenRunsBuildTheSameTreeAsPlainReading) {
  // Runs that cross the places where a character starts a new node, and
  // grouped constructs taken apart after the region has read.
  const std::vector<std::string> inputs = {
      "!.a\\.b.c#d#e{x:y}",
      "! *.a{b:c}",
      "!{a::before::after{b:c} &&{d:e} *{f:g}}",
      "! [a=b][c='d'] [e]{f:g}",
      "!{a:(b)(c) [d e][f] \"g\"'h' /*i*/ \\j\\\xc3\xa9 k\xc2\xa0l}",
      "!{--a:url(\"b)c\") calc(1px + (2px * 3)) {d} e;f:}",
      "!at(x (y) \"z)\")!{a:b}",
      "!@media (a:b) and (c:d)@supports (e:f){g:h}",
      "!{a /* b */ \t c > /* d */ e{f:g}}",
      "!{:is(a , b) :not( .c )>d:nth-child( 2n+1 of .e ){f:g}}",
      "!:x(a(b)c)::y{d:e}",
      "!{a:b\xe2\x80\x83"
      "c;;; /* x */ }",
  };
  for (const std::string& text : inputs) {
    ASSERT_EQ(lex(default_lexer(), text).children.at(0).kind, NodeKind::Velt) << text;
    check_invariants(default_lexer(), text);
    if (HasFatalFailure()) return;
  }
}

TEST(Lexer, WorkPerByteStaysBounded) {
  // Inputs where many region attempts fail late, and inputs whose regions
  // read completely, at two sizes: the readers' steps per input byte (token
  // runs turned into nodes included) must stay under the bound and must not
  // grow with the size. The bound of the first input holds only while failed
  // reader states are remembered between attempts.
  auto repeat = [](std::string_view unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
  };
  auto& r = repeat;
  struct Case {
    std::function<std::string(int)> make;
    double bound;
  };
  const Case cases[] = {
      {[&](int n) { return r(" !{a:(", n) + r(")", n + n / 5) + " ;1}"; }, 0.8},
      {[&](int n) { return r(" !{a:b;", n) + r("c:d;", n) + "}"; }, 1.0},
      {[&](int n) { return r(" !at((", n) + r(")", n + n / 2) + "{a:b}"; }, 1.0},
      {[&](int n) { return r(" !{a{", n) + "b:c" + r("}", n - 1) + " !{d:e}"; }, 0.5},
      {[&](int n) { return r(" !{--a:b ", n) + r("}", n + 1); }, 0.5},
      {[&](int n) { return r(" !{a b{c:d}", n) + r("e{", n); }, 0.5},
      // Regions that read completely: each is read once, and its token runs
      // become nodes once.
      {[&](int n) { return r("<a class=\"x !{a:b;c:(d e) 'f'} !:hover>x{g:h} y\">", n); }, 1.1},
      {[&](int n) { return " !{" + r("a b{c:d} @media print{e:f}", n) + "}"; }, 2.0},
  };
  const Lexer lexer = default_lexer();
  for (size_t i = 0; i < std::size(cases); ++i) {
    double per_byte[2];
    for (int size = 0; size < 2; ++size) {
      const std::string text = cases[i].make(size == 0 ? 200 : 1600);
      const uint64_t before = lexer_steps();
      lex(lexer, text);
      per_byte[size] = double(lexer_steps() - before) / double(text.size());
    }
    EXPECT_LE(per_byte[1], cases[i].bound) << "case " << i;
    EXPECT_LE(per_byte[1], per_byte[0] * 1.1) << "case " << i;
  }
}

}  // namespace
}  // namespace zeviziz
