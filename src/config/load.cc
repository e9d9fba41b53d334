// Configuration loading. The file is read and parsed into an INI document,
// then the root's sections are walked in order of appearance: `[velt]`
// values are type-checked and kept as text, `[replacements]`,
// `[boundaries]`, `[template.NAME]` and `[directive.NAME]` are turned into
// their records. After the walk come the cross-checks of templates, the
// required settings with the relative path rule, the project path checks
// against the file system, and last the load-time reading of directive
// at-rules. The first failure ends the load; nothing is written.
#include "config/load.h"

#include <unordered_set>

#include "base/unicode.h"
#include "config/directive.h"
#include "ini/parse.h"
#include "log/log.h"

namespace zeviziz {
namespace {

// `[velt]` settings as configured text, checked later.
struct VeltValues {
  bool present = false;
  std::optional<std::string> in_directory;
  std::optional<std::string> out_directory;
  std::optional<std::string> css_file;
  std::optional<std::string> cache_file;
  std::optional<std::string> signal_file;
  std::vector<std::string> exclude;
};

// Configured path text that messages show as written.
struct PathTexts {
  std::string in_directory;
};

// The key text of a child in a section (section keys are always named).
std::string child_key(const IniTable::Child& child) {
  return child.indexed ? std::to_string(child.index) : std::string(child.name);
}

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::optional<std::string>* velt_string_slot(VeltValues& velt, std::string_view key) {
  if (key == "in_directory") return &velt.in_directory;
  if (key == "out_directory") return &velt.out_directory;
  if (key == "css_file") return &velt.css_file;
  if (key == "cache_file") return &velt.cache_file;
  if (key == "signal_file") return &velt.signal_file;
  return nullptr;
}

Status read_velt(const IniTable& table, VeltValues& velt, ProjectConfig& config) {
  velt.present = true;
  for (const IniTable::Child& child : table.children()) {
    const std::string key = child_key(child);
    if (key == "exclude") {
      ZV_TRY(velt.exclude, read_string_list(*child.node, key));
    } else if (key == "signal_content") {
      ZV_TRY(config.signal_content, read_string(*child.node, key));
    } else if (std::optional<std::string>* slot = velt_string_slot(velt, key)) {
      ZV_TRY(*slot, read_string(*child.node, key));
    } else {
      return make_error("Unknown config key: " + key);
    }
  }
  return {};
}

Status read_replacements(const IniTable& table, ProjectConfig& config) {
  for (const IniTable::Child& child : table.children()) {
    std::string key = child_key(child);
    ZV_TRY(std::string value, read_string(*child.node, key));
    config.replacements.emplace_back(std::move(key), std::move(value));
  }
  return {};
}

Status read_boundaries(const IniTable& table, ProjectConfig& config) {
  for (const IniTable::Child& child : table.children()) {
    std::string name = child_key(child);
    if (!is_valid_name(name)) return make_error("Invalid boundary name: " + name);
    ZV_TRY(auto patterns, read_string_pair(*child.node, "boundaries." + name));
    config.boundaries.push_back(
        BoundaryDef{std::move(name), std::move(patterns.first), std::move(patterns.second)});
  }
  return {};
}

bool is_file_suffix(std::string_view extension) {
  return extension.size() > 1 && extension.front() == '.' &&
         extension.find_first_of("/\\") == std::string_view::npos;
}

Result<std::vector<std::string>> read_extensions(const IniNode& node, std::string_view name) {
  ZV_TRY(std::vector<std::string> extensions, read_string_list(node, "extensions"));
  for (const std::string& extension : extensions) {
    if (!is_file_suffix(extension)) {
      return make_error("template." + std::string(name) +
                        ".extensions must contain file suffixes such as .html or .blade.php");
    }
  }
  return extensions;
}

Result<TemplateEntry> read_template_entry(const IniTable::Child& child) {
  if (child.indexed) {
    ZV_TRY(std::string name, read_string(*child.node, "templates"));
    return TemplateEntry{false, {}, {std::move(name)}};
  }
  TemplateEntry entry{true, std::string(child.name), {}};
  const std::string display = "templates[" + entry.boundary + "]";
  const IniNode& node = *child.node;
  if (node.scalar && std::holds_alternative<std::string>(*node.scalar)) {
    entry.names.push_back(std::get<std::string>(*node.scalar));
  } else {
    ZV_TRY(entry.names, read_string_list(node, display));
  }
  return entry;
}

Result<std::vector<TemplateEntry>> read_template_entries(const IniNode& node) {
  ZV_TRY(const IniTable* table, read_collection(node, "templates"));
  std::vector<TemplateEntry> entries;
  for (const IniTable::Child& child : table->children()) {
    ZV_TRY(TemplateEntry entry, read_template_entry(child));
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool* template_flag(TemplateDef& def, std::string_view key) {
  if (key == "optimize_whitespaces") return &def.optimize_whitespaces;
  if (key == "keep_indentation") return &def.keep_indentation;
  if (key == "keep_new_lines") return &def.keep_new_lines;
  if (key == "remove_undefined_templates") return &def.remove_undefined_templates;
  return nullptr;
}

Status read_template_key(TemplateDef& def, const std::string& key, const IniNode& node) {
  if (key == "extensions") {
    ZV_TRY(def.extensions, read_extensions(node, def.name));
  } else if (bool* flag = template_flag(def, key)) {
    ZV_TRY(*flag, read_bool(node, key));
  } else if (key == "boundaries") {
    ZV_TRY(def.boundaries, read_string_list(node, "boundaries"));
  } else if (key == "templates") {
    ZV_TRY(def.templates, read_template_entries(node));
  } else {
    return make_error("Unknown template key: " + def.name + "[" + key + "]");
  }
  return {};
}

Status read_template(std::string name, const IniTable& table, ProjectConfig& config) {
  TemplateDef def;
  def.name = std::move(name);
  for (const IniTable::Child& child : table.children()) {
    ZV_TRY_STATUS(read_template_key(def, child_key(child), *child.node));
  }
  config.templates.push_back(std::move(def));
  return {};
}

Status read_section(const std::string& name, const IniNode& node, VeltValues& velt,
                    ProjectConfig& config) {
  ZV_TRY(const IniTable* table, read_collection(node, name));
  if (name == "velt") return read_velt(*table, velt, config);
  if (name == "replacements") return read_replacements(*table, config);
  if (name == "boundaries") return read_boundaries(*table, config);
  if (name.starts_with("directive.")) {
    const std::string rest = name.substr(10);
    if (!is_valid_name(rest)) return make_error("Invalid directive name: " + rest);
    ZV_TRY(DirectiveDef def, read_directive_section(rest, *table));
    config.directives.push_back(std::move(def));
    return {};
  }
  if (name.starts_with("template.")) {
    std::string rest = name.substr(9);
    if (!is_valid_name(rest)) return make_error("Invalid template name: " + rest);
    return read_template(std::move(rest), *table, config);
  }
  return make_error("Unknown section: " + name);
}

// Checks that every boundary and template a template refers to exists.
Status cross_check_templates(const ProjectConfig& config) {
  std::unordered_set<std::string_view> boundaries;
  std::unordered_set<std::string_view> templates;
  for (const BoundaryDef& boundary : config.boundaries) boundaries.insert(boundary.name);
  for (const TemplateDef& def : config.templates) templates.insert(def.name);
  for (const TemplateDef& def : config.templates) {
    auto boundary_known = [&](const std::string& name) -> Status {
      if (boundaries.contains(name)) return {};
      return make_error("Unknown boundary in template " + def.name + ": " + name);
    };
    auto templates_known = [&](const std::vector<std::string>& names) -> Status {
      for (const std::string& name : names) {
        if (!name.empty() && !templates.contains(name)) {
          return make_error("Unknown template in template " + def.name + ": " + name);
        }
      }
      return {};
    };
    for (const std::string& name : def.boundaries) ZV_TRY_STATUS(boundary_known(name));
    for (const TemplateEntry& entry : def.templates) {
      if (!entry.has_boundary) ZV_TRY_STATUS(templates_known(entry.names));
    }
    for (const TemplateEntry& entry : def.templates) {
      if (!entry.has_boundary) continue;
      ZV_TRY_STATUS(boundary_known(entry.boundary));
      ZV_TRY_STATUS(templates_known(entry.names));
    }
  }
  return {};
}

// A required setting: present, non-empty, and a valid relative path.
Result<std::string> required_path(const std::optional<std::string>& value, std::string_view key) {
  if (!value || value->empty()) return make_error("Missing config key: " + std::string(key));
  ZV_TRY_STATUS(check_relative_path(key, *value));
  return *value;
}

// An optional path setting: absent or empty gives nullopt.
Result<std::optional<Path>> optional_path(const std::optional<std::string>& value,
                                          std::string_view key) {
  if (!value || value->empty()) return std::optional<Path>();
  ZV_TRY_STATUS(check_relative_path(key, *value));
  return std::optional<Path>(path_from_text(*value));
}

Status apply_settings(const VeltValues& velt, ProjectConfig& config, PathTexts& texts) {
  ZV_TRY(texts.in_directory, required_path(velt.in_directory, "in_directory"));
  ZV_TRY(std::string out_text, required_path(velt.out_directory, "out_directory"));
  ZV_TRY(std::string css_text, required_path(velt.css_file, "css_file"));
  config.in_directory = path_from_text(texts.in_directory);
  config.out_directory = path_from_text(out_text);
  config.css_file = path_from_text(css_text);
  ZV_TRY(std::optional<Path> cache, optional_path(velt.cache_file, "cache_file"));
  config.cache_file = cache ? *cache : config.out_directory / ".zeviziz";
  for (const std::string& item : velt.exclude) {
    ZV_TRY_STATUS(check_relative_path("exclude", item));
    config.exclude.push_back(path_from_text(item));
  }
  ZV_TRY(config.signal_file, optional_path(velt.signal_file, "signal_file"));
  return {};
}

Status check_not_configuration(const Path& generated, const Path& config_path) {
  ZV_TRY(bool same, same_path(generated, config_path));
  if (same) return make_error("Generated files must not overwrite configuration");
  return {};
}

Status check_signal_file(const ProjectConfig& config) {
  if (!config.signal_file) return {};
  const Path& signal = *config.signal_file;
  if (path_within(signal, config.in_directory) || path_equal(signal, config.css_file) ||
      path_equal(signal, config.cache_file) || path_equal(signal, config.out_directory)) {
    return make_error(
        "signal_file must be outside in_directory and distinct from CSS, cache and output "
        "directory");
  }
  return check_not_configuration(signal, config.config_path);
}

Status check_no_links(const ProjectConfig& config) {
  for (const Path* path : {&config.config_path, &config.in_directory, &config.out_directory,
                           &config.css_file, &config.cache_file}) {
    ZV_TRY_STATUS(check_no_symlinks(*path));
  }
  if (config.signal_file) ZV_TRY_STATUS(check_no_symlinks(*config.signal_file));
  return {};
}

Status check_project_paths(const ProjectConfig& config, const PathTexts& texts) {
  ZV_TRY_STATUS(check_no_links(config));
  if (!is_dir(config.in_directory)) {
    return make_error("Input directory does not exist: " + texts.in_directory);
  }
  const Path& in = config.in_directory;
  const Path& out = config.out_directory;
  if (path_within(in, out) || path_within(out, in)) {
    return make_error("Input and output directories must not overlap");
  }
  if (path_within(config.css_file, in) || path_equal(config.css_file, out)) {
    return make_error("css_file must be outside in_directory and name a file");
  }
  const Path& cache = config.cache_file;
  if (path_within(cache, in) || path_equal(cache, out) || path_equal(cache, config.css_file)) {
    return make_error(
        "cache_file must be outside in_directory and distinct from CSS and output directory");
  }
  ZV_TRY_STATUS(check_not_configuration(config.css_file, config.config_path));
  ZV_TRY_STATUS(check_not_configuration(cache, config.config_path));
  return check_signal_file(config);
}

Result<IniDocument> parse_configuration(std::string_view text) {
  TaskGuard guard = task_start("config.parse");
  return parse_ini(text);
}

Status validate(const IniDocument& document, ProjectConfig& config) {
  VeltValues velt;
  for (const IniTable::Child& child : document.root().children()) {
    ZV_TRY_STATUS(read_section(child_key(child), *child.node, velt, config));
  }
  ZV_TRY_STATUS(cross_check_templates(config));
  if (!velt.present) return make_error("Missing section: velt");
  PathTexts texts;
  ZV_TRY_STATUS(apply_settings(velt, config, texts));
  ZV_TRY_STATUS(check_project_paths(config, texts));
  return check_directive_at_rules(config.directives);
}

}  // namespace

bool is_valid_name(std::string_view name) {
  if (name.empty() || name.front() == '-') return false;
  for (char c : name) {
    if (!is_name_char(c) && c != '-') return false;
  }
  return true;
}

Status check_relative_path(std::string_view key, std::string_view path) {
  if (relative_path_fault(path) == RelativePathFault::kEscapes) {
    return make_error(std::string(key) + " must be relative and cannot contain ..");
  }
  return check_plain_relative(path);
}

Result<ProjectConfig> load_config(const Path& config_path) {
  TaskGuard guard = task_start("config.load", sanitize_utf8(config_path.string()));
  ZV_TRY(std::string text, read_file(config_path));
  ZV_TRY(IniDocument document, parse_configuration(text));
  ProjectConfig config;
  config.config_path = config_path;
  ZV_TRY_STATUS(validate(document, config));
  return config;
}

}  // namespace zeviziz
