// Loading of the project configuration: reads and parses the INI file,
// validates every section and key, applies defaults and checks the project
// paths against the file system.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "config/config.h"
#include "fs/file_ops.h"

namespace zeviziz {

// Loads the configuration at `config_path` (tasks `config.load` and
// `config.parse`). Returns the validated record, or the first error: a read
// or INI parse error unchanged, or one of the validation messages (unknown
// sections and keys, wrong value types, missing settings, path rules,
// overlapping project paths, directive definitions). Nothing is written.
Result<ProjectConfig> load_config(const Path& config_path);

// True for a valid template, boundary or directive name: non-empty, first
// character an ASCII letter, digit or "_", every character an ASCII letter,
// digit, "_" or "-".
bool is_valid_name(std::string_view name);

// The relative path rule for setting `key` with value `path`: fails with key
// + " must be relative and cannot contain .." (absolute, rooted, drive
// prefix, or a ".." piece) or "Expected a relative path inside in_directory:
// " + path (empty, or a leading "." component).
Status check_relative_path(std::string_view key, std::string_view path);

}  // namespace zeviziz
