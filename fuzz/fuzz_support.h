// Shared pieces of the libFuzzer targets: a scratch project directory that
// the process works in (configuration loading checks its paths against the
// file system), the default configuration loaded there, and the part of the
// build pipeline that turns a processed template into registered rules.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/default_config.h"
#include "config/load.h"
#include "css/registry.h"
#include "lexer/node.h"
#include "runner/build_support.h"

namespace zeviziz::fuzz {

namespace fs = std::filesystem;

// Creates a scratch project (with an empty `src` directory) below /dev/shm
// when it exists, else the temporary directory. It is removed when the
// process exits.
inline const fs::path& scratch_project() {
  static const fs::path dir = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "zv-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    fs::create_directories(fs::path(pattern) / "src");
    return fs::path(pattern);
  }();
  static const bool cleanup = std::atexit([] {
                                std::error_code ec;
                                fs::remove_all(dir, ec);
                              }) == 0;
  (void)cleanup;
  return dir;
}

// Makes the scratch project the working directory while it lives (project
// paths resolve against it) and then returns to the previous one, where
// libFuzzer keeps its corpus and artifacts.
class InScratch {
 public:
  InScratch() : back_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (back_ < 0 || ::chdir(scratch_project().c_str()) != 0) std::abort();
  }
  ~InScratch() {
    if (::fchdir(back_) != 0) std::abort();
    ::close(back_);
  }
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

 private:
  int back_;
};

// Writes `text` to `name` inside the scratch project.
inline void write_scratch(const std::string& name, std::string_view text) {
  std::ofstream(scratch_project() / name, std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The default configuration, loaded once in the scratch project.
inline const ProjectConfig& default_config() {
  static const ProjectConfig config = [] {
    write_scratch("zeviziz.ini", default_config_text());
    InScratch in_scratch;
    Result<ProjectConfig> loaded = load_config("zeviziz.ini");
    if (!loaded.ok()) std::abort();
    return std::move(loaded).value();
  }();
  return config;
}

// Registers every rule of the processed template's style regions, as the
// build does, and adds their IDs to `ids`. Stops at the first error, as the
// build does.
inline Status register_template(const Node& processed, Registry& registry,
                                std::set<uint64_t>& ids) {
  IdHistory history;
  std::vector<Rule> rules;
  for (const Node& child : processed.children) {
    if (child.kind == NodeKind::Text) continue;
    rules.clear();
    ZV_TRY_STATUS(region_rules(child, rules));
    for (const Rule& rule : rules) {
      ZV_TRY(uint64_t id, lookup_or_assign(registry, rule, history));
      ids.insert(id);
    }
  }
  return {};
}

}  // namespace zeviziz::fuzz
