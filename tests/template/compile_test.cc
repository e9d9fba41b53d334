#include "template/compile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "template/default_config.h"

namespace zeviziz {
namespace {

using testing::boundary_entry;
using testing::default_entry;
using testing::template_def;
using Lines = std::vector<std::string>;

class CompileTest : public ::testing::Test {
 protected:
  // The "before" tree of `text` compiled as the kind its path selects, as
  // "Kind:source text" per child of the Template node, or "error: " + message.
  Lines before(const std::string& path, const std::string& text) {
    const TemplateDef* tmpl = find_template_for_path(config_, path);
    EXPECT_NE(tmpl, nullptr) << path;
    if (!tmpl) return {};
    auto tree = compile_template(text, *tmpl, config_, testing::default_directive_names());
    if (!tree.ok()) return {"error: " + tree.error()};
    EXPECT_EQ(tree->kind, NodeKind::Template);
    Lines out;
    for (const Node& child : tree->children) {
      out.push_back(std::string(kind_name(child.kind)) + ":" + collect_text(child));
    }
    return out;
  }

  ProjectConfig config_ = testing::default_config();
};

TEST_F(CompileTest, HtmlClassRegionAndComment) {
  EXPECT_EQ(before("index.html", "<div class=\"!{color:red}\">"),
            (Lines{"Text:<div class=\"", "Velt:!{color:red}", "Text:\">"}));
  EXPECT_EQ(before("a.html", "<p>a</p>\n<!-- note\n -->\n<p>b</p>\n"),
            (Lines{"Text:<p>a</p>\n<p>b</p>\n"}));
}

TEST_F(CompileTest, HtmlPage) {
  const std::string page =
      "<!DOCTYPE html>\n"
      "<html>\n"
      "  <head>\n"
      "    <!-- styles -->\n"
      "    <style media=\"screen\">\n"
      "      /* reset */\n"
      "      body { margin: 0; }\n"
      "    </style>\n"
      "    <script>\n"
      "      // greet\n"
      "      var s = 'hi   there'; /* x */ var t = \"!{color:red}\";\n"
      "    </script>\n"
      "  </head>\n"
      "  <body class=\"btn !at(medium){display:none}\">   \n"
      "    <p   title=\"a    b\">text   here</p>\n"
      "  </body>\n"
      "</html>\n";
  EXPECT_EQ(before("page.html", page),
            (Lines{"Text:<!DOCTYPE html>\n<html>\n  <head>\n    <style media=\"screen\">\n"
                   "      body { margin: 0; }\n</style>\n    <script>\n      var s = '",
                   "Text:hi there'; var t = \"", "Velt:!{color:red}",
                   "Text:\";\n</script>\n  </head>\n  <body class=\"", "Text:btn ",
                   "Velt:!at(medium){display:none}", "Text:\">\n    <p   title=\"",
                   "Text:a b\">text   here</p>\n  </body>\n</html>\n"}));
}

TEST_F(CompileTest, JavaScriptStringsAndComments) {
  EXPECT_EQ(before("app.js", "x='!{color:red}';\n!{color:red}"),
            (Lines{"Text:x='", "Velt:!{color:red}", "Text:';\n!{color:red}"}));
  // The string starts before the comment, which therefore stays.
  EXPECT_EQ(before("app.js", "s = \"/* !{color:red} */\"; // end\nf();\n"),
            (Lines{"Text:s = \"", "Text:/* ", "Velt:!{color:red}", "Text: */\";\nf();\n"}));
  // Line comments keep their line break, so statements stay apart.
  EXPECT_EQ(before("app.js", "a = 1 // one\nb = `x   y`\n"),
            (Lines{"Text:a = 1\nb = `", "Text:x y`\n"}));
}

TEST_F(CompileTest, CssComments) {
  EXPECT_EQ(before("site.css", "a { b: c; }  /* x\n y */\n\n  d {}\n"),
            (Lines{"Text:a { b: c; }\n  d {}\n"}));
}

TEST_F(CompileTest, PhpWithAndWithoutClosingTag) {
  const std::string closed =
      "<p class=\"!{margin:0}\"><?php echo '!{color:red}'; # note\n"
      "$a = \"x\"; ?>\n<!-- c --><?= $b ?></p>\n";
  EXPECT_EQ(before("v.php", closed),
            (Lines{"Text:<p class=\"", "Velt:!{margin:0}", "Text:\"><?php echo '",
                   "Velt:!{color:red}", "Text:';\n$a = \"", "Text:x\";?>\n<?= $b?></p>\n"}));
  const std::string open = "<b>t</b>\n<?php\n// tail\necho \"!{color:red}\";\n";
  EXPECT_EQ(before("v.php", open),
            (Lines{"Text:<b>t</b>\n<?php\necho \"", "Velt:!{color:red}", "Text:\";\n"}));
}

TEST_F(CompileTest, PlanAndRenderErrors) {
  EXPECT_EQ(before("x.html", std::string("<p>\0</p>", 8)),
            (Lines{"error: Templates cannot contain NUL characters"}));
  config_.templates[2].boundaries.push_back("nope");  // html
  EXPECT_EQ(before("x.html", "a"), (Lines{"error: Unknown boundary: nope"}));
}

TEST(FindTemplateForPath, FirstDefinitionWithASuffix) {
  ProjectConfig config;
  config.templates = {template_def("a", {".x", ".blade.php"}, {}, {}),
                      template_def("b", {".php"}, {}, {}), template_def("c", {".PHP"}, {}, {})};
  const struct {
    std::string path;
    const char* name;
  } cases[] = {{"v/index.blade.php", "a"}, {"index.php", "b"},  {"INDEX.PHP", "c"},
               {"dir/y.x", "a"},           {"x.html", nullptr}, {"php", nullptr}};
  for (const auto& c : cases) {
    const TemplateDef* found = find_template_for_path(config, c.path);
    EXPECT_EQ(found ? found->name : "-", c.name ? c.name : "-") << c.path;
  }
}

TEST(NeedsCompiling, FourStepRule) {
  auto plain = [](std::string name, std::vector<TemplateEntry> entries) {
    TemplateDef def = template_def(std::move(name), {}, std::move(entries), {});
    def.optimize_whitespaces = false;
    def.remove_undefined_templates = false;
    return def;
  };
  ProjectConfig config;
  config.templates = {
      plain("quiet", {boundary_entry("b", {""})}),
      plain("strings", {}),
      plain("removes", {boundary_entry("b", {"", ""})}),
      plain("outer", {boundary_entry("b", {"", "quiet", "optimized"})}),
      template_def("optimized", {}, {}, {}),
      plain("by_default", {default_entry("optimized")}),
      plain("l0", {default_entry("l1")}),
      plain("l1", {default_entry("l2")}),
      plain("l2", {default_entry("l3")}),
      plain("l3", {default_entry("l4")}),
      plain("l4", {default_entry("l5")}),
      plain("l5", {default_entry("optimized")}),
      plain("unknown", {boundary_entry("b", {"ghost"}), default_entry("ghost")}),
  };
  config.templates[1].boundaries = {"q"};
  config.templates[2].remove_undefined_templates = true;
  const struct {
    size_t index;
    int depth;
    bool needs;
  } cases[] = {{0, 0, false}, {1, 0, true}, {2, 0, true},  {3, 0, true},
               {4, 0, true},  {5, 0, true}, {5, 3, true},  {5, 4, false},
               {7, 0, false}, {8, 0, true}, {6, 0, false}, {12, 0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(needs_compiling(config, config.templates[c.index], c.depth), c.needs)
        << config.templates[c.index].name << " at " << c.depth;
  }
  // The default configuration: every kind changes its files.
  const ProjectConfig defaults = testing::default_config();
  for (const TemplateDef& tmpl : defaults.templates) EXPECT_TRUE(needs_compiling(defaults, tmpl));
}

}  // namespace
}  // namespace zeviziz
