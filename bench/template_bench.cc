// Throughput of the template compiler on generated files with the default
// configuration: planning alone and the whole compilation (plan, rendering,
// lexing of string contents), for a large HTML page, a large PHP page, a
// JavaScript file made of nothing but short strings and comments, and
// JavaScript code with regular expressions, divisions and template literals.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/default_config.h"
#include "config/load.h"
#include "directive/service.h"
#include "template/boundary.h"
#include "template/compile.h"
#include "template/plan.h"

namespace zeviziz {
namespace {

constexpr size_t kTargetSize = 1 << 20;

std::string html_block(int i) {
  const std::string n = std::to_string(i);
  return "<section id=\"s" + n +
         "\" class=\"card !{padding:4px} !at(medium){display:none}\">\n"
         "  <!-- card " +
         n +
         " -->\n"
         "  <h2 class=\"title\">Heading " +
         n +
         "</h2>\n"
         "  <p   class=\"text !:hover{color:red}\">Some   text with 'quotes' and more.</p>\n"
         "  <style media=\"screen\">\n    .c" +
         n +
         " { margin: 0; } /* note */\n  </style>\n"
         "  <script>\n    // init\n    var x" +
         n +
         " = 'a' + \"!{color:blue}\";\n  </script>\n"
         "</section>\n";
}

std::string php_block(int i) {
  const std::string n = std::to_string(i);
  return "<div class=\"row !{margin:0}\">\n"
         "  <?php if ($items[" +
         n +
         "]) { # check\n"
         "    echo '<span class=\"!{color:red}\">' . $name /* who */ . '</span>';\n"
         "  } ?>\n"
         "  <a href=\"<?= $url ?>\" title=\"Link " +
         n +
         "\">go</a>\n"
         "  <!-- end -->\n"
         "</div>\n";
}

std::string script_block(int i) {
  const std::string n = std::to_string(i);
  return "function f" + n +
         "(s, a, b) {\n"
         "  var r = s.replace(/[\"'/]/g, '') // strip\n"
         "  var d = a / 2 / (b || 1), e = (a) / " +
         n +
         ";\n"
         "  if (/^\\/\\//.test(s)) return `x ${ r + `y ${d}` } z`;\n"
         "  return typeof r === 'string' ? \"!{color:red}\" : /'/.source;\n"
         "}\n";
}

std::string generate(std::string (*block)(int)) {
  std::string text;
  for (int i = 0; text.size() < kTargetSize; ++i) text += block(i);
  return text;
}

std::string quotes_and_comments() {
  std::string text;
  while (text.size() < kTargetSize) text += "'a' /* b */ \"c\" // d\n`e` ";
  return text;
}

// The configuration `--init` writes, loaded as a build loads it (in a
// scratch directory, since loading checks the project's paths).
ProjectConfig load_default_config() {
  char scratch[] = "/tmp/zeviziz-template-bench-XXXXXX";
  if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) std::abort();
  const std::string_view text = default_config_text();
  std::ofstream("zeviziz.ini", std::ios::binary).write(text.data(), text.size());
  Result<ProjectConfig> loaded = load_config("zeviziz.ini");
  if (!loaded.ok()) std::abort();
  std::remove("zeviziz.ini");
  return std::move(loaded).value();
}

const ProjectConfig& config() {
  static const ProjectConfig value = load_default_config();
  return value;
}

// Built-in and configured directive names, as a build hands them to the lexer.
const std::vector<std::string>& directive_names() {
  static const std::vector<std::string> names = [] {
    Result<DirectiveService> service = build_directive_service(config());
    if (!service.ok()) std::abort();
    return service.value().names();
  }();
  return names;
}

void run_compile(benchmark::State& state, const std::string& text, const char* path) {
  const TemplateDef* tmpl = find_template_for_path(config(), path);
  for (auto _ : state) {
    auto tree = compile_template(text, *tmpl, config(), directive_names());
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void run_plan(benchmark::State& state, const std::string& text, const char* path) {
  const TemplateDef* tmpl = find_template_for_path(config(), path);
  const BoundaryMap boundaries = compile_boundaries(config().boundaries);
  const TemplateMap templates = map_templates(config().templates);
  for (auto _ : state) {
    auto plan = plan_file(text, *tmpl, boundaries, templates);
    benchmark::DoNotOptimize(plan);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_CompileHtml(benchmark::State& state) {
  static const std::string text = generate(html_block);
  run_compile(state, text, "page.html");
}

void BM_CompilePhp(benchmark::State& state) {
  static const std::string text = generate(php_block);
  run_compile(state, text, "page.php");
}

void BM_CompileQuotesAndComments(benchmark::State& state) {
  static const std::string text = quotes_and_comments();
  run_compile(state, text, "app.js");
}

void BM_CompileScript(benchmark::State& state) {
  static const std::string text = generate(script_block);
  run_compile(state, text, "app.js");
}

void BM_PlanScript(benchmark::State& state) {
  static const std::string text = generate(script_block);
  run_plan(state, text, "app.js");
}

void BM_PlanHtml(benchmark::State& state) {
  static const std::string text = generate(html_block);
  run_plan(state, text, "page.html");
}

void BM_PlanPhp(benchmark::State& state) {
  static const std::string text = generate(php_block);
  run_plan(state, text, "page.php");
}

BENCHMARK(BM_CompileHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompilePhp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileQuotesAndComments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanPhp)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zeviziz
