// The project configuration that `--init` writes, built by hand (boundaries
// and templates only), for the template compiler's tests and benchmark.
#pragma once

#include <string>
#include <vector>

#include "config/config.h"

namespace zeviziz::testing {

inline TemplateEntry boundary_entry(std::string boundary, std::vector<std::string> names) {
  return TemplateEntry{true, std::move(boundary), std::move(names)};
}

inline TemplateEntry default_entry(std::string name) {
  return TemplateEntry{false, {}, {name}};
}

inline TemplateDef template_def(std::string name, std::vector<std::string> extensions,
                                std::vector<TemplateEntry> entries,
                                std::vector<std::string> strings) {
  TemplateDef def;
  def.name = std::move(name);
  def.extensions = std::move(extensions);
  def.templates = std::move(entries);
  def.boundaries = std::move(strings);
  return def;
}

inline ProjectConfig default_config() {
  ProjectConfig config;
  config.boundaries = {
      {"xml_comment", "<!--", "-->"},
      {"php_tag", "<?php\\s[1:]", "?>"},
      {"php_tag_open_only", "<?php\\s[1:]", ""},
      {"css_tag", "<style\\c[0:]>", "</style>"},
      {"js_tag", "<script\\c[0:]>", "</script>"},
      {"php_echo_tag", "<?=", "?>"},
      {"hash_comment", "#", "\\n"},
      {"doubleslash_comment", "//", "\\n"},
      {"multiline_comment", "/*", "*/"},
      {"single_quotation_string", "'", "'"},
      {"double_quotation_string", "\"", "\""},
      {"backtick_string", "`", "`"},
  };
  config.templates = {
      template_def("css", {".css"}, {boundary_entry("multiline_comment", {""})}, {}),
      template_def(
          "js", {".js"},
          {boundary_entry("multiline_comment", {""}), boundary_entry("doubleslash_comment", {""})},
          {"single_quotation_string", "double_quotation_string", "backtick_string"}),
      template_def("html", {".html"},
                   {boundary_entry("xml_comment", {""}), boundary_entry("css_tag", {"css"}),
                    boundary_entry("js_tag", {"js"})},
                   {"double_quotation_string"}),
      template_def(
          "php_code", {},
          {boundary_entry("multiline_comment", {""}), boundary_entry("doubleslash_comment", {""}),
           boundary_entry("hash_comment", {""})},
          {"single_quotation_string", "double_quotation_string"}),
      template_def("php", {".php"},
                   {boundary_entry("php_tag", {"php_code"}),
                    boundary_entry("php_tag_open_only", {"php_code"}),
                    boundary_entry("php_echo_tag", {"php_code"}), default_entry("html")},
                   {}),
  };
  return config;
}

// The directive names of the default configuration's directive service.
inline const std::vector<std::string>& default_directive_names() {
  static const std::vector<std::string> names{"at", "copy", "id"};
  return names;
}

}  // namespace zeviziz::testing
