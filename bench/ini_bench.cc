// Parsing speed of the INI dialect on a configuration of about 1 MB: many
// template and directive sections with list keys, named array keys, quoted
// patterns and comments, so every lexical routine takes part.
#include <benchmark/benchmark.h>

#include <string>

#include "ini/parse.h"

namespace {

std::string make_configuration(size_t target_size) {
  std::string text =
      "\xEF\xBB\xBF[velt]\nin_directory='src'\nout_directory='out'\ncss_file='out/velt.css'\n";
  text += "\n[boundaries]\n";
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    text += "php_tag" + n + "[]='<?php\\s[1:]','?>' ; php\n";
    text += "hash_comment" + n + "[]=\"#\",'\\n'\n";
  }
  for (int i = 0; text.size() < target_size; ++i) {
    const std::string n = std::to_string(i);
    text += "\n# template " + n + "\n[template.kind" + n + "]\r\n";
    text += "extensions[]='.k" + n + "', \".x" + n + "\"\n";
    text += "templates[css_tag,js_tag]='css'\ntemplates[]='html'\n";
    text += "keep_new_lines=false\nindent=" + n + "\nratio=" + n + ".25\n";
    text += "[directive.d" + n + "]\n";
    text += "at-rule[medium]='@media(min-width:768px)' # breakpoint\n";
    text += "at-rule[1]='@media(min-width:\\1px)'\n";
  }
  return text;
}

void BM_ParseIni(benchmark::State& state) {
  const std::string text = make_configuration(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    auto document = zeviziz::parse_ini(text);
    if (!document.ok()) state.SkipWithError(document.error().c_str());
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ParseIni)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
