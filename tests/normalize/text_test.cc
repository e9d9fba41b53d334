#include <gtest/gtest.h>

#include "normalize/normalize.h"

namespace zeviziz {
namespace {

struct Case {
  std::string_view input;
  std::string_view expected;
};

TEST(NormalizeWhitespace, SelectorMode) {
  const Case cases[] = {
      {"a  >  b , c", "a>b,c"},
      {"[ href = 'x' ]", "[href='x']"},
      {"  a   b  ", "a b"},
      {"a ~ b + c", "a~b+c"},
      {"a\t\n b", "a b"},
      {"a\u00A0b", "a b"},  // U+00A0 is white space too
      {"a[x= '  y  ' ] b", "a[x='  y  '] b"},
      {":is( a , b )", ":is(a,b)"},
      {"a /* c */ b", "a /**/ b"},
      {"a = b", "a = b"},        // "=" only matters inside brackets
      {"]] a = b", "]] a = b"},  // the bracket count never goes below zero
      {"a\\  b", "a\\  b"},      // an escape keeps its white space, the run after it
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_whitespace(c.input, WhitespaceMode::Selector), c.expected) << c.input;
  }
}

TEST(NormalizeWhitespace, AtRuleMode) {
  const Case cases[] = {
      {"@media ( min-width : 768px )  and ( max-width:1023px )",
       "@media(min-width:768px) and (max-width:1023px)"},
      {"@supports (display: grid)", "@supports(display:grid)"},
      {"@container card (width > 30em)", "@container card (width>30em)"},
      {"@scope (.a) to (.b)", "@scope(.a) to (.b)"},
      {"@layer base", "@layer base"},
      {"@media screen , print", "@media screen,print"},
      {"@media (width <= 30em)", "@media(width<=30em)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_whitespace(c.input, WhitespaceMode::AtRule), c.expected) << c.input;
  }
}

TEST(NormalizeWhitespace, ValueMode) {
  const Case cases[] = {
      {"1px  solid   red", "1px solid red"},
      {"1px /* x */ solid", "1px /**/ solid"},
      {"rgb( 1 , 2 , 3 )", "rgb(1,2,3)"},
      {"a > b", "a > b"},
      {"'a   b'  c", "'a   b' c"},
      {"   ", ""},
      {"", ""},
      {"/*x*/", "/**/"},
      {"\"unterminated  ", "\"unterminated  "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_whitespace(c.input, WhitespaceMode::Value), c.expected) << c.input;
  }
}

TEST(FoldValueCase, FoldsIdentifiersOnly) {
  const Case cases[] = {
      {"10PX", "10px"},
      {"#FFF", "#fff"},
      {"-WEBKIT-BOX", "-webkit-box"},
      {"var(--Main)", "var(--Main)"},
      {"RED 'Keep Me' /* Keep */", "red 'Keep Me' /* Keep */"},
      {"\\41 BC", "\\41 bc"},
      {"Caf\xC3\x89 Y", "caf\xC3\x89 y"},  // non-ASCII letters stay, the word goes on
      {"U+00FF", "u+00ff"},
  };
  for (const Case& c : cases) EXPECT_EQ(fold_value_case(c.input), c.expected) << c.input;
}

TEST(NormalizeSelectorCase, NamesAndArguments) {
  const Case cases[] = {
      {"DIV.MyClass#MyId", "div.MyClass#MyId"},
      {"A:HOVER::BEFORE", "a:hover::before"},
      {"[HREF='X' I]", "[href='X' I]"},
      {"[ DATA-X=Y]", "[ data-x=Y]"},
      {":NOT(P.Big, SPAN)", ":not(p.Big, span)"},
      {":NTH-CHILD(2N+1 OF LI.X)", ":nth-child(2n+1 of li.X)"},
      {":nth-last-child(ODD)", ":nth-last-child(odd)"},
      {":lang(EN)", ":lang(EN)"},
      {":is(A, :where(B))", ":is(a, :where(b))"},
      {"'STRING' .Cls\\:Esc", "'STRING' .Cls\\:Esc"},
      {std::string_view("\0:HOVER", 7), std::string_view("\0:hover", 7)},
      {":is(a", ":is(a"},  // an unclosed argument runs to the end
  };
  for (const Case& c : cases) EXPECT_EQ(normalize_selector_case(c.input), c.expected) << c.input;
}

TEST(ReplaceNesting, OutsideBracketsAndTokensOnly) {
  EXPECT_EQ(replace_nesting("&:hover", "a"), std::make_pair(std::string("a:hover"), true));
  EXPECT_EQ(replace_nesting("& + &", ".x"), std::make_pair(std::string(".x + .x"), true));
  EXPECT_EQ(replace_nesting("[data-x='&'] [y=&]", "a"),
            std::make_pair(std::string("[data-x='&'] [y=&]"), false));
  EXPECT_EQ(replace_nesting("span", "a"), std::make_pair(std::string("span"), false));
  EXPECT_EQ(replace_nesting("\\&&", "a"), std::make_pair(std::string("\\&a"), true));
}

TEST(SplitTopLevel, CutsAtTopLevelCommas) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(split_top_level("a, b"), (Pieces{"a", " b"}));
  EXPECT_EQ(split_top_level(""), (Pieces{""}));
  EXPECT_EQ(split_top_level("a,"), (Pieces{"a", ""}));
  EXPECT_EQ(split_top_level("f(a,b),[x=','],'c,d'"), (Pieces{"f(a,b)", "[x=',']", "'c,d'"}));
  EXPECT_EQ(split_top_level("),a"), (Pieces{")", "a"}));  // counts never go below zero
  EXPECT_EQ(split_top_level("a\\,b"), (Pieces{"a\\,b"}));
}

}  // namespace
}  // namespace zeviziz
