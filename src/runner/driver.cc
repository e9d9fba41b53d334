// The run driver for the commands `reset` and `ast`. Both load the
// configuration first. `reset` empties the output directory (creating it
// when missing) entry by entry, refusing symbolic links. `ast` compiles one
// template into its "before" tree, builds the "after" tree the way a build
// does when asked for, and prints the requested dumps. Every file-system
// access goes through the named operations so that it shows in the log.
#include "runner/driver.h"

#include <algorithm>

#include "config/load.h"
#include "directive/service.h"
#include "fs/file_ops.h"
#include "log/log.h"
#include "template/compile.h"

namespace zeviziz {
namespace {

Status remove_entry(const DirEntry& entry) {
  const EntryType type = file_type(entry);
  if (type == EntryType::Symlink) {
    return make_error("Symbolic links are not supported: " + display_path(entry.path));
  }
  if (type != EntryType::Directory) return remove_file(entry.path);
  ZV_TRY_STATUS(check_no_symlinks(entry.path));
  return remove_dir_all(entry.path);
}

Status clear_directory(const Path& directory) {
  ZV_TRY_STATUS(check_no_symlinks(directory));
  if (!file_exists(directory)) return create_dir_all(directory);
  ZV_TRY(std::vector<DirEntry> entries, read_dir(directory));
  for (const DirEntry& entry : entries) ZV_TRY_STATUS(remove_entry(entry));
  return {};
}

Status run_reset(const Invocation& invocation) {
  ZV_TRY(ProjectConfig config, load_config(invocation.config_path));
  ZV_TRY_STATUS(clear_directory(config.out_directory));
  close_open_line();
  write_stdout("Reset complete.\n");
  return {};
}

bool wants_after(const std::vector<std::string>& targets) {
  return std::ranges::any_of(targets, [](const std::string& target) {
    return target == "after" || target == "after-json";
  });
}

Result<std::string> dump(const std::string& target, const Node& before, const Node& after) {
  std::string out;
  if (target == "before") {
    dump_text(before, 0, out);
  } else if (target == "after") {
    dump_text(after, 0, out);
  } else if (target == "before-json") {
    dump_json(before, out);
  } else if (target == "after-json") {
    dump_json(after, out);
  } else {
    return make_error("Invalid --ast target: " + target);
  }
  return out;
}

// The template file of the ast command and its template kind.
struct AstSource {
  Path path;
  const TemplateDef* kind = nullptr;
};

Result<AstSource> find_ast_source(const ProjectConfig& config, const std::string& file) {
  AstSource source;
  ZV_TRY(source.path, resolve_inside(config.in_directory, file));
  if (!is_file(source.path)) return make_error("Template does not exist: " + file);
  source.kind = find_template_for_path(config, file);
  if (source.kind == nullptr) {
    return make_error("Template extension is not active for Velt: " + file);
  }
  return source;
}

Status run_ast(const Invocation& invocation) {
  ZV_TRY(ProjectConfig config, load_config(invocation.config_path));
  ZV_TRY(AstSource source, find_ast_source(config, invocation.ast_file));
  ZV_TRY(DirectiveService service, build_directive_service(config));
  ZV_TRY(std::string text, read_file(source.path));
  Node before;
  {
    TaskGuard task = task_start("template.ast", invocation.ast_file);
    ZV_TRY(before, compile_template(text, *source.kind, config, service.names()));
  }
  Node after;
  if (wants_after(invocation.ast_targets)) {
    TaskGuard task = task_start("template.ast-after", invocation.ast_file);
    after = process_template(service, before, config);
  }
  std::string output;
  for (size_t i = 0; i < invocation.ast_targets.size(); ++i) {
    ZV_TRY(std::string text_dump, dump(invocation.ast_targets[i], before, after));
    if (i > 0) output += '\n';
    output += text_dump;
  }
  close_open_line();
  write_stdout(output + "\n");
  return {};
}

}  // namespace

Status run_driver(const Invocation& invocation) {
  if (invocation.command == "reset") return run_reset(invocation);
  if (invocation.command == "ast") return run_ast(invocation);
  return make_error("Unknown command: " + invocation.command);
}

}  // namespace zeviziz
