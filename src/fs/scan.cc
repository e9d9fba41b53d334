// Finds the files of in_directory that a build must look at. A full scan
// walks the tree depth-first with an explicit stack (entries of a directory
// come before its parent's later entries), skipping excluded entries before
// any operation touches them and symbolic links silently; every file it sees
// is marked with the current scan generation, and known files left with an
// older generation have vanished. Change detection compares the file's
// last-write time with the time recorded when it was last processed.
// Mirroring and the removal of vanished outputs are the file-level halves of
// a build that this module owns as well.
#include "fs/scan.h"

#include <algorithm>
#include <utility>

#include "base/unicode.h"
#include "log/log.h"

namespace zeviziz {
namespace {

bool is_separator(char ch) {
  return ch == '/' || ch == '\\';
}

// Splits `text` at "/" and backslash, dropping empty pieces.
std::vector<std::string_view> split_components(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !is_separator(text[i])) continue;
    if (i > start) parts.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

// The components of one exclusion, without "." pieces.
std::vector<std::string> exclusion_components(const Path& exclusion) {
  std::vector<std::string> parts;
  const std::string text = exclusion.string();
  for (std::string_view piece : split_components(text)) {
    if (piece != ".") parts.emplace_back(piece);
  }
  return parts;
}

bool starts_with_components(const std::vector<std::string_view>& path,
                            const std::vector<std::string>& prefix) {
  if (prefix.empty() || prefix.size() > path.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), path.begin());
}

// Exclusions prepared once per scan.
using Exclusions = std::vector<std::vector<std::string>>;

Exclusions prepare_exclusions(const std::vector<Path>& excludes) {
  Exclusions prepared;
  prepared.reserve(excludes.size());
  for (const Path& exclusion : excludes) prepared.push_back(exclusion_components(exclusion));
  return prepared;
}

bool matches_exclusion(std::string_view template_path, const Exclusions& exclusions) {
  if (exclusions.empty()) return false;
  std::vector<std::string_view> parts = split_components(template_path);
  for (const auto& exclusion : exclusions) {
    if (starts_with_components(parts, exclusion)) return true;
  }
  return false;
}

// Puts (path, time) on the changed list unless the file is known with that
// very time and the scan is not forced; marks it seen in this generation.
void record_file(KnownFiles& known, std::string path, FileTime time, bool forced,
                 std::vector<ChangedFile>& changed) {
  auto [entry, inserted] = known.files.try_emplace(path);
  entry->second.generation = known.generation;
  if (!inserted && !forced && entry->second.time == time) return;
  changed.push_back(ChangedFile{std::move(path), time});
}

// One directory being walked: its listing and the next entry to look at.
struct WalkFrame {
  std::vector<DirEntry> entries;
  size_t next = 0;
  std::string prefix;  // template path of the directory + "/", or "" at the top
};

Result<WalkFrame> open_frame(const Path& directory, std::string prefix) {
  ZV_TRY(std::vector<DirEntry> entries, read_dir(directory));
  return WalkFrame{std::move(entries), 0, std::move(prefix)};
}

// Handles one file found by the walk.
Status visit_file(KnownFiles& known, const DirEntry& entry, std::string relative, bool forced,
                  std::vector<ChangedFile>& changed) {
  ZV_TRY(std::optional<FileTime> time, file_mtime(entry.path));
  // Gone (or replaced by a directory or link) since the listing: not seen.
  if (!time) return {};
  if (!is_valid_utf8(relative)) return make_error("Template paths must be UTF-8");
  record_file(known, std::move(relative), *time, forced, changed);
  return {};
}

Status walk_tree(KnownFiles& known, const Path& in_directory, const Exclusions& exclusions,
                 bool forced, std::vector<ChangedFile>& changed) {
  std::vector<WalkFrame> stack;
  ZV_TRY(WalkFrame top, open_frame(in_directory, ""));
  stack.push_back(std::move(top));
  while (!stack.empty()) {
    WalkFrame& frame = stack.back();
    if (frame.next == frame.entries.size()) {
      stack.pop_back();
      continue;
    }
    const DirEntry entry = std::move(frame.entries[frame.next++]);
    std::string relative = frame.prefix + entry.path.filename().string();
    if (matches_exclusion(relative, exclusions)) continue;
    EntryType type = file_type(entry);
    if (type == EntryType::Symlink) continue;
    if (type == EntryType::Directory) {
      ZV_TRY(WalkFrame child, open_frame(entry.path, relative + "/"));
      stack.push_back(std::move(child));  // `frame` is not used after this
      continue;
    }
    ZV_TRY_STATUS(visit_file(known, entry, std::move(relative), forced, changed));
  }
  return {};
}

// Takes every known file not seen in the current generation out of the
// table, sorted by path.
std::vector<RemovedFile> collect_removed(KnownFiles& known) {
  std::vector<RemovedFile> removed;
  for (auto it = known.files.begin(); it != known.files.end();) {
    if (it->second.generation == known.generation) {
      ++it;
      continue;
    }
    removed.push_back(RemovedFile{it->first, it->second.time});
    it = known.files.erase(it);
  }
  std::sort(removed.begin(), removed.end(),
            [](const RemovedFile& a, const RemovedFile& b) { return a.path < b.path; });
  return removed;
}

Result<ScanResult> full_scan(KnownFiles& known, const Path& in_directory,
                             const Exclusions& exclusions, bool forced) {
  ZV_TRY_STATUS(check_no_symlinks(in_directory));
  ScanResult result;
  ZV_TRY_STATUS(walk_tree(known, in_directory, exclusions, forced, result.changed));
  result.removed = collect_removed(known);
  return result;
}

Result<ScanResult> selection_scan(KnownFiles& known, const Path& in_directory,
                                  const Exclusions& exclusions, const Selection& selection) {
  ScanResult result;
  for (const std::string& path : selection) {
    if (matches_exclusion(path, exclusions)) {
      return make_error("Selected template is excluded: " + path);
    }
    ZV_TRY(Path source, resolve_inside(in_directory, path));
    ZV_TRY(std::optional<FileTime> time, file_mtime(source));
    if (!time) return make_error("Selected template does not exist: " + path);
    record_file(known, path, *time, false, result.changed);
  }
  return result;
}

}  // namespace

Result<std::string> normalize_selected_path(std::string_view text) {
  if (!is_plain_relative(text)) {
    return make_error("Expected a relative path inside in_directory: " + std::string(text));
  }
  if (!is_valid_utf8(text)) return make_error("Template path must be UTF-8");
  std::string normalized;
  for (std::string_view part : split_components(text)) {
    if (part == ".") continue;  // an inner "." names the same directory
    if (!normalized.empty()) normalized += '/';
    normalized += part;
  }
  return normalized;
}

Result<Selection> normalize_selection(const std::vector<std::string>& paths) {
  Selection selection;
  for (const std::string& text : paths) {
    ZV_TRY(std::string path, normalize_selected_path(text));
    selection.insert(std::move(path));
  }
  return selection;
}

bool is_excluded(std::string_view template_path, const std::vector<Path>& excludes) {
  return matches_exclusion(template_path, prepare_exclusions(excludes));
}

Result<ScanResult> scan_sources(KnownFiles& known, const Path& in_directory,
                                const std::vector<Path>& excludes,
                                const std::optional<Selection>& selection, bool forced) {
  TaskGuard task = task_start("template.scan", sanitize_utf8(in_directory.string()));
  ++known.generation;
  Exclusions exclusions = prepare_exclusions(excludes);
  if (!selection || forced) return full_scan(known, in_directory, exclusions, forced);
  return selection_scan(known, in_directory, exclusions, *selection);
}

void mark_processed(KnownFiles& known, const std::string& path, FileTime time) {
  auto [entry, inserted] = known.files.try_emplace(path);
  if (inserted) entry->second.generation = known.generation;
  entry->second.time = time;
}

Result<Path> mirror_file(const Path& in_directory, const Path& out_directory,
                         std::string_view template_path) {
  ZV_TRY(Path destination, resolve_inside(out_directory, template_path));
  Path source = in_directory / path_from_text(template_path);
  ZV_TRY_STATUS(check_no_symlinks(source));
  ZV_TRY_STATUS(check_no_symlinks(destination));
  Path parent = destination.parent_path();
  if (parent.empty()) parent = ".";
  ZV_TRY_STATUS(create_dir_all(parent));
  ZV_TRY_STATUS(zeviziz::copy_file(source, destination));
  return destination;
}

Result<bool> remove_vanished_output(const Path& out_directory, std::string_view template_path,
                                    std::optional<FileTime> expected_time) {
  if (!expected_time) return false;
  ZV_TRY(Path output, resolve_inside(out_directory, template_path));
  ZV_TRY(std::optional<FileTime> time, file_mtime(output));
  if (time != expected_time) return false;
  ZV_TRY_STATUS(remove_file(output));
  return true;
}

}  // namespace zeviziz
