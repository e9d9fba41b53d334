#include "config/directive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini/parse.h"

namespace zeviziz {
namespace {

// Reads `text` as the body of `[directive.d]`; an INI or directive error
// comes back as "error: " + message.
Result<DirectiveDef> read_def(std::string_view text) {
  ZV_TRY(IniDocument document, parse_ini("[directive.d]\n" + std::string(text)));
  return read_directive_section("d", *document.root().find("directive.d")->table);
}

std::string describe(const DirectiveCase& c) {
  static const char* const kActions[] = {"at-rule", "selector", "declaration"};
  std::string key;
  switch (c.key) {
    case CaseKeyKind::Plain:
      key = "plain";
      break;
    case CaseKeyKind::NoArguments:
      key = "none";
      break;
    case CaseKeyKind::Count:
      key = "count" + std::to_string(c.count);
      break;
    case CaseKeyKind::Named:
      key = "named:" + c.name;
      break;
  }
  return std::string(kActions[static_cast<int>(c.action)]) + " " + key + " " + c.value;
}

std::string cases_of(std::string_view text) {
  Result<DirectiveDef> def = read_def(text);
  if (!def.ok()) return "error: " + def.error();
  std::string out;
  for (const DirectiveCase& c : def->cases) out += (out.empty() ? "" : " | ") + describe(c);
  return out;
}

struct Case {
  std::string_view input;
  std::string expected;
};

TEST(DirectiveSection, RegistersCases) {
  const Case cases[] = {
      {"at-rule[medium]='@media(min-width:768px)'", "at-rule named:medium @media(min-width:768px)"},
      {"at-rule[medium]='@media(min-width:\\1)'", "at-rule named:medium @media(min-width:\\1)"},
      {"at-rule[1]='@media(min-width:\\1px)'", "at-rule count1 @media(min-width:\\1px)"},
      {"at-rule[0]='a'\nat-rule[]='b'", "at-rule none a | at-rule count1 b"},
      {"at-rule[0]='a'\nat-rule='b'", "at-rule plain b | at-rule none a"},
      {"at-rule['0']='a'", "at-rule named:0 a"},
      {"selector=' &:hover '\ndeclaration[2]='m:\\1 \\2'",
       "selector plain  &:hover  | declaration count2 m:\\1 \\2"},
      {"selector='a\\\\x \\y'", "selector plain a\\\\x \\y"},
      {"at-rule[2]='x\\2\\1'", "at-rule count2 x\\2\\1"},
  };
  for (const Case& c : cases) EXPECT_EQ(cases_of(c.input), c.expected) << c.input;
}

TEST(DirectiveSection, RegistrationErrors) {
  const Case cases[] = {
      {"color[x]='red'", "error: Unknown directive action: d[color]"},
      {"At-rule='x'", "error: Unknown directive action: d[At-rule]"},
      {"at-rule=1", "error: Config value must be a string: directive.d.at-rule"},
      {"selector[x]=true", "error: Config value must be a string: directive.d.selector"},
      {"at-rule[x][y]='a'", "error: Config value must be a string: directive.d.at-rule"},
      {"at-rule[x]=' '", "error: Directive action cannot be empty: d.at-rule"},
      {"declaration=''", "error: Directive action cannot be empty: d.declaration"},
      {"selector='\\0 .x'", "error: Directive placeholders start at \\1"},
      {"at-rule[3]='\\00'", "error: Directive placeholders start at \\1"},
      {"at-rule[1]='@media(min-width:\\2px)'",
       "error: Directive placeholder \\2 exceeds argument count 1"},
      {"at-rule='\\1'", "error: Directive placeholder \\1 exceeds argument count 0"},
      {"at-rule[0]='\\1'", "error: Directive placeholder \\1 exceeds argument count 0"},
      {"at-rule[x]='\\1\\2'", "error: Directive placeholder \\2 exceeds argument count 1"},
      {"at-rule[3]='\\99999999999999999999999'",
       "error: Directive placeholder \\18446744073709551615 exceeds argument count 3"},
      {"at-rule[]='a'\nat-rule[0]='b'", "error: INI line 3: Duplicate key"},
  };
  for (const Case& c : cases) EXPECT_EQ(cases_of(c.input), c.expected) << c.input;
}

std::string substitute(std::string_view value, const std::vector<std::string>& args) {
  Result<std::string> result = substitute_placeholders(value, args);
  return result.ok() ? *result : "error: " + result.error();
}

TEST(DirectiveSubstitution, ReplacesPlaceholders) {
  const std::vector<std::string> twelve = {"a", "b", "c", "d", "e", "f",
                                           "g", "h", "i", "j", "k", "l"};
  EXPECT_EQ(substitute("@media(min-width:\\1px)", {"900"}), "@media(min-width:900px)");
  EXPECT_EQ(substitute("\\2-\\1\\1", {"x", "y"}), "y-xx");
  EXPECT_EQ(substitute("\\12|\\1 2", twelve), "l|a 2");
  EXPECT_EQ(substitute("a\\b\\", {}), "a\\b\\");
  EXPECT_EQ(substitute("\\\\1", {"x"}), "\\x");
  EXPECT_EQ(substitute("\\01", {"x"}), "x");
  EXPECT_EQ(substitute("x\\0", {"a"}), "error: Directive placeholders start at \\1");
  EXPECT_EQ(substitute("\\99999999999999999999", {"a"}), "error: Directive placeholder overflow");
  EXPECT_EQ(substitute("\\18446744073709551615", {"a"}),
            "error: Missing directive argument for \\18446744073709551615");
  EXPECT_EQ(substitute("\\2", {"a"}), "error: Missing directive argument for \\2");
  EXPECT_EQ(substitute("\\1", {}), "error: Missing directive argument for \\1");
}

std::string found(const DirectiveDef& def, DirectiveAction action,
                  const std::vector<std::string>& args) {
  std::string out;
  for (const DirectiveCase* c : find_cases(def, action, args)) {
    out += (out.empty() ? "" : " | ") + describe(*c);
  }
  return out;
}

TEST(DirectiveLookup, FindsPlainThenMatchingCase) {
  Result<DirectiveDef> def = read_def(
      "at-rule[medium]='m'\nat-rule[1]='one'\nat-rule[0]='zero'\nat-rule[3]='three'\n"
      "selector=':hover'\nselector[x]='.x'\ndeclaration[2]='d2'");
  ASSERT_TRUE(def.ok()) << def.error();
  const auto at = DirectiveAction::AtRule;
  EXPECT_EQ(found(*def, at, {"medium"}), "at-rule named:medium m");
  EXPECT_EQ(found(*def, at, {"huge"}), "at-rule count1 one");
  EXPECT_EQ(found(*def, at, {"Medium"}), "at-rule count1 one");
  EXPECT_EQ(found(*def, at, {}), "at-rule none zero");
  EXPECT_EQ(found(*def, at, {"a", "b"}), "");
  EXPECT_EQ(found(*def, at, {"a", "b", "c"}), "at-rule count3 three");
  EXPECT_EQ(found(*def, DirectiveAction::Selector, {"x"}),
            "selector plain :hover | selector named:x .x");
  EXPECT_EQ(found(*def, DirectiveAction::Selector, {}), "selector plain :hover");
  EXPECT_EQ(found(*def, DirectiveAction::Declaration, {"a", "b"}), "declaration count2 d2");
  EXPECT_EQ(found(*def, DirectiveAction::Declaration, {"medium"}), "");

  Result<DirectiveDef> named_only = read_def("at-rule[medium]='@media(min-width:768px)'");
  ASSERT_TRUE(named_only.ok());
  EXPECT_EQ(found(*named_only, at, {"huge"}), "");
  EXPECT_EQ(found(*named_only, at, {}), "");
}

std::string preludes(std::string_view text) {
  Result<std::vector<std::string>> result = read_at_rule_value(text);
  if (!result.ok()) return "error: " + result.error();
  std::string out;
  for (const std::string& prelude : *result) out += "<" + prelude + ">";
  return out;
}

TEST(DirectiveAtRules, ReadsPreludes) {
  EXPECT_EQ(preludes("@media(min-width:768px)"), "<@media(min-width:768px)>");
  EXPECT_EQ(preludes("  @media ( min-width : 768px )  and ( max-width:1023px ) "),
            "<@media(min-width:768px) and (max-width:1023px)>");
  EXPECT_EQ(preludes("@media print @supports (display:grid)"),
            "<@media print><@supports(display:grid)>");
  EXPECT_EQ(preludes(" "), "error: Invalid at-rule: ");
  EXPECT_EQ(preludes(" color:red "), "error: Invalid at-rule: color:red");
}

std::string checked(std::string_view text) {
  Result<DirectiveDef> def = read_def(text);
  if (!def.ok()) return "error: " + def.error();
  std::vector<DirectiveDef> defs = {std::move(*def)};
  Status status = check_directive_at_rules(defs);
  if (!status.ok()) return "error: " + status.error();
  std::string out;
  for (const DirectiveCase& c : defs[0].cases) {
    out += "[";
    for (const std::string& prelude : c.at_rules) out += "<" + prelude + ">";
    out += "]";
  }
  return out;
}

TEST(DirectiveAtRules, LoadTimeCheck) {
  const Case cases[] = {
      {"at-rule[2]='@media(min-width:\\1px) and (max-width:\\2px)'", "[]"},
      {"at-rule[2]='@media print'", "[<@media print>]"},
      {"at-rule[print]='@media \\1'", "[<@media print>]"},
      {"at-rule='@media screen'\nat-rule[0]='@supports (x:y)'",
       "[<@media screen>][<@supports(x:y)>]"},
      {"selector='not a selector {'\ndeclaration='!!'", "[][]"},
      {"at-rule[big]='@media x'\nat-rule[1]='oops'", "error: Invalid at-rule: oops"},
      {"at-rule[x]='  nope  '", "error: Invalid at-rule: nope"},
      {"at-rule[x]='\\1'", "error: Invalid at-rule: x"},
  };
  for (const Case& c : cases) EXPECT_EQ(checked(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace zeviziz
