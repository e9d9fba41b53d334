// The validated project configuration: one read-only record per load.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zeviziz {

// One entry of a template's `templates` collection.
struct TemplateEntry {
  // False for `templates[]='KIND'` (a default entry), true for
  // `templates[BOUNDARY]=...` (a boundary entry).
  bool has_boundary = false;
  std::string boundary;
  // Template names; '' names no template. A default entry has exactly one.
  std::vector<std::string> names;
};

// A `[template.NAME]` section.
struct TemplateDef {
  std::string name;
  std::vector<std::string> extensions;
  bool optimize_whitespaces = true;
  bool keep_indentation = true;
  bool keep_new_lines = true;
  bool remove_undefined_templates = true;
  std::vector<TemplateEntry> templates;  // in order of appearance
  std::vector<std::string> boundaries;   // string boundaries
};

// A `[boundaries]` key: name, open pattern, close pattern (may be empty).
struct BoundaryDef {
  std::string name;
  std::string open;
  std::string close;
};

enum class DirectiveAction { AtRule, Selector, Declaration };

enum class CaseKeyKind {
  Plain,        // `ACTION = 'value'`
  NoArguments,  // `ACTION[0] = 'value'`
  Count,        // `ACTION[N] = 'value'`, N >= 1
  Named,        // `ACTION[K] = 'value'`
};

// One case of a configured directive.
struct DirectiveCase {
  DirectiveAction action = DirectiveAction::AtRule;
  CaseKeyKind key = CaseKeyKind::Plain;
  uint32_t count = 0;  // for Count
  std::string name;    // for Named
  std::string value;   // as configured, not trimmed
  // For at-rule cases read at load time (no placeholders, or a case whose
  // arguments are known): the preludes, outermost first, each trimmed and
  // normalised. Empty when the case was not parsed at load.
  std::vector<std::string> at_rules;
};

// A `[directive.NAME]` section.
struct DirectiveDef {
  std::string name;
  std::vector<DirectiveCase> cases;  // in order of registration
};

struct ProjectConfig {
  std::filesystem::path config_path;
  // Project paths, relative to the current working directory; backslashes of
  // the configured text are turned into "/".
  std::filesystem::path in_directory;
  std::filesystem::path out_directory;
  std::filesystem::path css_file;
  std::filesystem::path cache_file;
  std::optional<std::filesystem::path> signal_file;
  std::string signal_content;
  std::vector<std::filesystem::path> exclude;
  std::vector<std::pair<std::string, std::string>> replacements;
  std::vector<BoundaryDef> boundaries;
  std::vector<TemplateDef> templates;
  std::vector<DirectiveDef> directives;
};

}  // namespace zeviziz
