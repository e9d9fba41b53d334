// End-to-end tests of what the CSS file makes of declarations that override
// each other: within one region only the declaration that wins in the source
// gets a class (the CSS order would otherwise decide by text), and
// unconfigured width-range blocks come in mobile-first order. The example
// site, which has neither, builds to the same CSS as before.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/build_fixture.h"

namespace zeviziz::build_e2e {
namespace {

struct OrderCase {
  std::string regions;  // the value of one class attribute
  std::string classes;  // the rendered value
  std::string css;
};

// Builds one page whose only element carries `regions` and checks the class
// list and the whole CSS file.
void expect_page(const OrderCase& c) {
  Project project;
  project.configure();
  project.write("src/index.html", "<a class=\"" + c.regions + "\">\n");
  RunResult run = project.run({});
  ASSERT_EQ(run.status, 0) << c.regions << "\n" << run.err;
  EXPECT_EQ(project.read("out/index.html"), "<a class=\"" + c.classes + "\">\n") << c.regions;
  EXPECT_EQ(project.read("out/velt.css"), c.css) << c.regions;
}

class RuleOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binary().empty()) GTEST_SKIP() << "ZEVIZIZ_BINARY is not set";
  }
};

// clang-format off
TEST_F(RuleOrderTest, LaterDeclarationOfTheSameRegionWins) {
  const OrderCase cases[] = {
      {"!{color:red;color:blue}", "i1", ".i1{color:blue}"},
      {"!{display:none;display:block}", "i1", ".i1{display:block}"},
      {"!{COLOR:red;color:blue}", "i1", ".i1{color:blue}"},
      {"!{--x:1;--x:2}", "i1", ".i1{--x:2}"},
      // Custom property names are case-sensitive: two different properties.
      {"!{--X:1;--x:2}", "i1 i2", ".i1{--X:1}.i2{--x:2}"},
      // A word-for-word repeat is the same rule, numbered where it first appears.
      {"!{color:red;margin:0;color:red}", "i1 i2", ".i1{color:red}.i2{margin:0}"},
      {"!{color:red;color:blue;color:red}", "i1", ".i1{color:red}"},
      // Declarations of different regions keep their order by text.
      {"!{color:red} !{color:blue}", "i1 i2", ".i2{color:blue}.i1{color:red}"},
  };
  for (const OrderCase& c : cases) expect_page(c);
}

TEST_F(RuleOrderTest, ShorthandAfterItsLonghandWins) {
  const OrderCase cases[] = {
      {"!{margin-top:5px;margin:1px}", "i1", ".i1{margin:1px}"},
      {"!{padding-left:9px;padding:2px}", "i1", ".i1{padding:2px}"},
      {"!{border-top:1px solid;border:0}", "i1", ".i1{border:0}"},
      {"!{top:0;left:0;inset:1px}", "i1", ".i1{inset:1px}"},
      {"!{font-size:2rem;line-height:1;font:12px serif}", "i1", ".i1{font:12px serif}"},
      {"!{color:red;all:unset}", "i1", ".i1{all:unset}"},
      // `all` leaves custom properties and direction alone.
      {"!{--x:1;direction:rtl;all:unset}", "i1 i2 i3", ".i1{--x:1}.i3{all:unset}.i2{direction:rtl}"},
      // A shorthand before its longhand: both stay, the shorthand comes first.
      {"!{margin:0;margin-top:5px}", "i1 i2", ".i1{margin:0}.i2{margin-top:5px}"},
      {"!{border:0;border-color:red}", "i1 i2", ".i1{border:0}.i2{border-color:red}"},
      {"!{flex-grow:1;flex:none;flex-basis:0}", "i1 i2", ".i1{flex:none}.i2{flex-basis:0}"},
  };
  for (const OrderCase& c : cases) expect_page(c);
}

TEST_F(RuleOrderTest, ImportantIsOnlyOverriddenByImportant) {
  const OrderCase cases[] = {
      {"!{color:red !important;color:blue}", "i1 i2", ".i2{color:blue}.i1{color:red !important}"},
      {"!{margin-top:5px !important;margin:0}", "i1 i2", ".i2{margin:0}.i1{margin-top:5px !important}"},
      {"!{color:red;color:blue !important}", "i1", ".i1{color:blue !important}"},
      {"!{color:red !important;color:blue!IMPORTANT}", "i1", ".i1{color:blue!important}"},
  };
  for (const OrderCase& c : cases) expect_page(c);
}

TEST_F(RuleOrderTest, OnlyTheSameAtRulesAndSelectorAreOverridden) {
  const OrderCase cases[] = {
      {"!{color:red;&:hover{color:blue}}", "i1 i2", ".i1{color:red}.i2:hover{color:blue}"},
      {"!{color:red;@media(min-width:700px){color:blue}}", "i1 i2",
       ".i1{color:red}@media(min-width:700px){.i2{color:blue}}"},
      // The same element and the same conditions, written differently.
      {"!{color:red;&{color:blue}}", "i1", ".i1{color:blue}"},
      {"! p{color:red;color:blue}", "i1", ".i1 p{color:blue}"},
      {"!@media(min-width:700px){color:red;@media (min-width: 700px){color:blue}}", "i1",
       "@media(min-width:700px){.i1{color:blue}}"},
      // One alternative of a selector list is overridden, the other is not.
      {"!{&:hover,&:focus{color:red} &:hover{color:blue}}", "i1 i2",
       ".i1:focus{color:red}.i2:hover{color:blue}"},
  };
  for (const OrderCase& c : cases) expect_page(c);
}

TEST_F(RuleOrderTest, UnconfiguredWidthRangesComeMobileFirst) {
  const OrderCase cases[] = {
      {"!@media(min-width:700px){color:red} !@media(min-width:1100px){color:blue}", "i1 i2",
       "@media(min-width:700px){.i1{color:red}}@media(min-width:1100px){.i2{color:blue}}"},
      {"!@media(max-width:700px){color:red} !@media(max-width:1100px){color:blue}", "i1 i2",
       "@media(max-width:1100px){.i2{color:blue}}@media(max-width:700px){.i1{color:red}}"},
      // A range comes before the ranges it contains.
      {"!@media(min-width:100px) and (max-width:1100px){a:1} !@media(min-width:100px){a:2}"
       " !@media(max-width:900px){a:3}", "i1 i2 i3",
       "@media(max-width:900px){.i3{a:3}}@media(min-width:100px){.i2{a:2}}"
       "@media(min-width:100px) and (max-width:1100px){.i1{a:1}}"},
      // Configured blocks first; other at-rules by text, those that only look
      // like a range after the ranges.
      {"!@media(min-width:1100px){a:1} !@media(min-width:50em){a:2} !@media print{a:3}"
       " !@media(min-width:900px){a:4} !at(medium){a:5}", "i1 i2 i3 i4 i5",
       "@media(min-width:768px){.i5{a:5}}@media print{.i3{a:3}}@media(min-width:900px){.i4{a:4}}"
       "@media(min-width:1100px){.i1{a:1}}@media(min-width:50em){.i2{a:2}}"},
      // Inside another at-rule, at the same level.
      {"!@supports(display:grid){@media(min-width:1100px){a:b}@media(min-width:700px){c:d}}", "i1 i2",
       "@supports(display:grid){@media(min-width:700px){.i2{c:d}}@media(min-width:1100px){.i1{a:b}}}"},
  };
  for (const OrderCase& c : cases) expect_page(c);
}

// The example site's CSS with every class number replaced by "#": the rule
// order does not depend on the numbers, which follow the platform's order of
// directory entries.
const char* const kExampleCss =
    ".i#{gap:.5rem}.i#{gap:.75rem}.i#{gap:1rem}.i#{color:#2b2118}.i#{color:#7a6a5a}"
    ".i#{color:#8a4b08}.i#{color:#fff}.i#{color:inherit}.i#{width:100%}.i#{width:160px}"
    ".i#{border:0}.i#{height:160px}.i#{margin:0}.i#{margin:0 0 1rem}.i#{margin:0 auto}"
    ".i#{margin:1rem 0}.i#{display:flex}.i#{display:grid}.i#{display:inline-block}"
    ".i#{display:none}.i#{padding:.5rem 1rem}.i#{padding:1rem}.i#.i#{padding:1rem}"
    ".i#{flex-wrap:wrap}.i#{font-size:.875rem}.i#{font-size:1.5rem}.i#{font-size:2rem}"
    ".i#{max-width:40rem}.i#{max-width:60rem}.i#{background:#8a4b08}.i#{background:#e6f4ea}"
    ".i#{background:#fff8ef}.i#{background:none}.i#{border-top:1px solid #e0c9a6}"
    ".i#{box-shadow:0 1px 3px rgba(0,0,0,.15)}.i#{text-align:center}"
    ".i#.i#{background:#fdf1e0}.i#.i#{background:#fff8ef}"
    ".i#.i#{box-shadow:0 1px 3px rgba(0,0,0,.15)}.i#{align-items:center}"
    ".i#{border-left:4px solid #e0c9a6}.i#{font-family:system-ui,sans-serif}"
    ".i#{font-weight:700}.i#{line-height:1.6}.i#{padding-top:.5rem}.i#{padding-left:1rem}"
    ".i#{border-radius:4px}.i#{border-radius:8px}.i#.i#{border-radius:8px}"
    ".i#{flex-direction:column}.i#{justify-content:space-between}.i#{text-decoration:none}"
    ".i# input{font:inherit}.i# textarea{font:inherit}.i# a{color:#8a4b08}"
    ".i# em{color:#8a4b08}.i# input{padding:.5rem}.i# textarea{padding:.5rem}"
    ".i# em{font-style:normal}.i# p{line-height:1.7}.i# a{text-decoration:none}"
    ".i# h1+p{font-size:1.25rem}.i#.open{display:flex}.i#:hover{color:#6d3b06}"
    ".i#.i#:hover{box-shadow:0 4px 12px rgba(0,0,0,.2)}.i#:hover{background:#6d3b06}"
    ".i#:hover{box-shadow:0 4px 12px rgba(0,0,0,.2)}.i# a:hover{text-decoration:underline}"
    "@media(min-width:640px){.i#{grid-template-columns:1fr 1fr}}"
    "@media(min-width:640px) and (max-width:767px){.i#{display:none}}"
    "@media(min-width:768px){.i#{gap:1.5rem}.i#{width:auto}.i#{display:flex}.i#{display:none}"
    ".i#{padding:1rem 3rem}.i#{flex-direction:row}}"
    "@media(min-width:1024px){.i#{font-size:3rem}.i#{grid-template-columns:1fr 1fr 1fr}}"
    "@media print{.i#{display:none}}";
// clang-format on

std::string without_numbers(const std::string& css) {
  return std::regex_replace(css, std::regex("\\.i[0-9]+"), ".i#");
}

// The declaration of class `name` ("i12") in `css`, empty when it has none.
std::string declaration_of(const std::string& css, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(css, match, std::regex("\\." + name + "\\{([^}]*)\\}"))) return {};
  return match[1];
}

TEST_F(RuleOrderTest, ExampleSiteKeepsItsCssExceptWhereOverridesOccur) {
  const fs::path site = fs::path(ZEVIZIZ_EXAMPLES_DIR) / "site";
  ASSERT_TRUE(fs::exists(site / "zeviziz.ini")) << site;
  e2e::TempDir dir;
  fs::copy(site, dir.path(), fs::copy_options::recursive);
  RunResult run = e2e::run_zeviziz({}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string css = read_text(dir / "out/velt.css");
  EXPECT_EQ(without_numbers(css), kExampleCss);

  // A page whose regions override their own declarations with rules the
  // site already has adds no rule; its unconfigured ranges add two blocks
  // at the end, the narrower lower bound first.
  write_text(
      dir / "src/more.html",
      "<p class=\"!{color:#2b2118;color:#8a4b08}\">\n"
      "<p class=\"!{margin-top:5px;margin:0}\">\n"
      "<p class=\"!@media(min-width:1100px){color:#fff} !@media(min-width:700px){color:#fff}\">\n");
  run = e2e::run_zeviziz({}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string more_css = read_text(dir / "out/velt.css");
  EXPECT_EQ(
      without_numbers(more_css),
      std::string(kExampleCss) +
          "@media(min-width:700px){.i#{color:#fff}}@media(min-width:1100px){.i#{color:#fff}}");
  std::smatch classes;
  const std::string page = read_text(dir / "out/more.html");
  ASSERT_TRUE(std::regex_search(page, classes,
                                std::regex("^<p class=\"(i[0-9]+)\">\n"
                                           "<p class=\"(i[0-9]+)\">\n")))
      << page;
  EXPECT_EQ(declaration_of(more_css, classes[1]), "color:#8a4b08");
  EXPECT_EQ(declaration_of(more_css, classes[2]), "margin:0");
}

}  // namespace
}  // namespace zeviziz::build_e2e
