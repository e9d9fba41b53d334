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
#include <cstdint>
#include <unordered_set>
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
// Paths are kept as text: building a Path per entry would cost more than
// the stat the entry needs.
struct WalkFrame {
  std::vector<NamedEntry> entries;
  size_t next = 0;
  std::string directory;  // path text of the directory
  std::string prefix;     // template path of the directory + "/", or "" at the top
};

Result<WalkFrame> open_frame(std::string directory, std::string prefix) {
  ZV_TRY(std::vector<NamedEntry> entries, read_dir_names(directory));
  return WalkFrame{std::move(entries), 0, std::move(directory), std::move(prefix)};
}

// Handles one file found by the walk.
Status visit_file(KnownFiles& known, const std::string& path, std::string relative, bool forced,
                  std::vector<ChangedFile>& changed) {
  ZV_TRY(std::optional<FileTime> time, file_mtime_at(path));
  // Gone (or replaced by a directory or link) since the listing: not seen.
  if (!time) return {};
  if (!is_valid_utf8(relative)) return make_error("Template paths must be UTF-8");
  record_file(known, std::move(relative), *time, forced, changed);
  return {};
}

// What a walk records into and skips.
struct Walk {
  KnownFiles& known;
  const Exclusions& exclusions;
  bool forced = false;
  std::vector<ChangedFile>& changed;
  std::vector<WalkFrame> stack;
};

// Looks at one entry found by a walk: `path` is its path text, `listed` its
// type from the listing and `relative` its template path. Excluded entries
// and links are skipped, a directory goes on the stack so its entries come
// next, a file is recorded.
Status visit_entry(Walk& walk, std::string path, EntryType listed, std::string relative) {
  if (matches_exclusion(relative, walk.exclusions)) return {};
  EntryType type = file_type_at(path, listed);
  // Links, FIFOs, sockets and devices are skipped: only regular files are
  // read, and opening a FIFO would wait for a writer.
  if (type == EntryType::Symlink || type == EntryType::Other) return {};
  if (type == EntryType::Directory) {
    ZV_TRY(WalkFrame child, open_frame(std::move(path), relative + "/"));
    walk.stack.push_back(std::move(child));
    return {};
  }
  return visit_file(walk.known, path, std::move(relative), walk.forced, walk.changed);
}

// Visits the entries of the directories on the stack, depth-first.
Status walk_stack(Walk& walk) {
  while (!walk.stack.empty()) {
    WalkFrame& frame = walk.stack.back();
    if (frame.next == frame.entries.size()) {
      walk.stack.pop_back();
      continue;
    }
    const NamedEntry& entry = frame.entries[frame.next++];
    std::string path = join_path_text(frame.directory, entry.name);
    std::string relative = frame.prefix + entry.name;
    const EntryType type = entry.type;
    // `frame` may move when visit_entry pushes a child; it is not used after.
    ZV_TRY_STATUS(visit_entry(walk, std::move(path), type, std::move(relative)));
  }
  return {};
}

Status walk_tree(KnownFiles& known, const Path& in_directory, const Exclusions& exclusions,
                 bool forced, std::vector<ChangedFile>& changed) {
  Walk walk{known, exclusions, forced, changed, {}};
  ZV_TRY(WalkFrame top, open_frame(in_directory.native(), ""));
  walk.stack.push_back(std::move(top));
  return walk_stack(walk);
}

// Takes every known file not seen in the current generation for which
// `considered(path)` holds out of the table, sorted by path.
template <typename Considered>
std::vector<RemovedFile> take_unseen(KnownFiles& known, const Considered& considered) {
  std::vector<RemovedFile> removed;
  for (auto it = known.files.begin(); it != known.files.end();) {
    if (it->second.generation == known.generation || !considered(it->first)) {
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

// Takes every known file not seen in the current generation out of the
// table, sorted by path.
std::vector<RemovedFile> collect_removed(KnownFiles& known) {
  return take_unseen(known, [](std::string_view) { return true; });
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

// The outermost of `paths`: a path below another one of the set is dropped,
// since rescanning the other covers it.
std::vector<std::string> outermost_paths(const std::set<std::string>& paths) {
  std::vector<std::string> roots;
  for (const std::string& path : paths) {
    bool covered = false;
    for (size_t slash = path.find('/'); slash != std::string::npos && !covered;
         slash = path.find('/', slash + 1)) {
      covered = paths.contains(path.substr(0, slash));
    }
    if (!covered) roots.push_back(path);
  }
  return roots;
}

// Listing positions of the entries of each directory read so far, keyed by
// the directory's template path ("" for in_directory).
class ListingOrder {
 public:
  explicit ListingOrder(const Path& in_directory) : in_directory_(in_directory) {}

  // The position of each component of `path` in its directory's listing; a
  // component that is not listed (gone) ends the key with the largest value.
  Result<std::vector<size_t>> key(const std::string& path) {
    std::vector<size_t> key;
    std::string directory;
    for (std::string_view part : split_components(path)) {
      ZV_TRY(const Positions* positions, listing(directory));
      auto found = positions->find(std::string(part));
      if (found == positions->end()) {
        key.push_back(SIZE_MAX);
        break;
      }
      key.push_back(found->second);
      if (!directory.empty()) directory += '/';
      directory += part;
    }
    return key;
  }

 private:
  using Positions = std::unordered_map<std::string, size_t>;

  Result<const Positions*> listing(const std::string& directory) {
    auto found = listings_.find(directory);
    if (found != listings_.end()) return &found->second;
    ZV_TRY(std::vector<DirEntry> entries, read_dir(in_directory_ / path_from_text(directory)));
    Positions positions;
    for (size_t i = 0; i < entries.size(); ++i) {
      positions.emplace(entries[i].path.filename().string(), i);
    }
    return &listings_.emplace(directory, std::move(positions)).first->second;
  }

  const Path& in_directory_;
  std::unordered_map<std::string, Positions> listings_;
};

// Sorts `roots` into the order in which a full walk reaches them: by the
// listing positions of their components, directory by directory.
Status order_like_walk(const Path& in_directory, std::vector<std::string>& roots) {
  if (roots.size() < 2) return {};
  ListingOrder order(in_directory);
  std::vector<std::pair<std::vector<size_t>, std::string>> keyed;
  keyed.reserve(roots.size());
  for (std::string& root : roots) {
    ZV_TRY(std::vector<size_t> key, order.key(root));
    keyed.emplace_back(std::move(key), std::move(root));
  }
  std::sort(keyed.begin(), keyed.end());
  for (size_t i = 0; i < keyed.size(); ++i) roots[i] = std::move(keyed[i].second);
  return {};
}

// Walks the entry at `root` (a template path) as the full walk would when
// it reaches it: a file is recorded, a directory walked, anything excluded,
// linked or missing is not seen.
Status rescan_root(Walk& walk, const Path& in_directory, const std::string& root) {
  if (matches_exclusion(root, walk.exclusions)) return {};
  const Path path = in_directory / path_from_text(root);
  // A link on the way (which the full walk would not follow) fails here.
  ZV_TRY_STATUS(check_no_symlinks(path));
  ZV_TRY(std::optional<DirEntry> entry, entry_at(path));
  if (!entry) return {};
  ZV_TRY_STATUS(visit_entry(walk, entry->path.native(), entry->type, root));
  return walk_stack(walk);
}

// True when `path` is one of `roots` or lies below one of them.
bool under_roots(std::string_view path, const std::unordered_set<std::string_view>& roots) {
  if (roots.contains(path)) return true;
  for (size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    if (roots.contains(path.substr(0, slash))) return true;
  }
  return false;
}

// Takes the known files at or below `roots` that the rescan did not see out
// of the table, sorted by path.
std::vector<RemovedFile> collect_removed_under(KnownFiles& known,
                                               const std::vector<std::string>& roots) {
  if (roots.empty()) return {};
  const std::unordered_set<std::string_view> root_set(roots.begin(), roots.end());
  return take_unseen(known,
                     [&root_set](std::string_view path) { return under_roots(path, root_set); });
}

Result<ScanResult> rescan_roots(KnownFiles& known, const Path& in_directory,
                                const Exclusions& exclusions, std::vector<std::string> roots) {
  ZV_TRY_STATUS(check_no_symlinks(in_directory));
  ZV_TRY_STATUS(order_like_walk(in_directory, roots));
  ScanResult result;
  Walk walk{known, exclusions, false, result.changed, {}};
  for (const std::string& root : roots) ZV_TRY_STATUS(rescan_root(walk, in_directory, root));
  result.removed = collect_removed_under(known, roots);
  return result;
}

// Rescans only `paths`. Whatever it cannot settle on its own (in_directory
// itself, a link on the way, any failure) is left to a full scan, which then
// gives the full scan's result or error; known files are only taken out of
// the table once the rescan has succeeded, so that a full scan after a
// failed rescan sees the table as the rescan left it, with nothing lost.
Result<ScanResult> limited_scan(KnownFiles& known, const Path& in_directory,
                                const Exclusions& exclusions, const ScanLimit& paths) {
  if (!paths.contains("")) {
    Result<ScanResult> result =
        rescan_roots(known, in_directory, exclusions, outermost_paths(paths));
    if (result.ok()) return result;
  }
  return full_scan(known, in_directory, exclusions, false);
}

}  // namespace

Result<std::string> normalize_selected_path(std::string_view text) {
  ZV_TRY_STATUS(check_plain_relative(text));
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
                                const std::optional<Selection>& selection, bool forced,
                                const ScanLimit* limit) {
  TaskGuard task = task_start("template.scan", sanitize_utf8(in_directory.string()));
  ++known.generation;
  Exclusions exclusions = prepare_exclusions(excludes);
  if (selection && !forced) return selection_scan(known, in_directory, exclusions, *selection);
  if (limit != nullptr && !forced) return limited_scan(known, in_directory, exclusions, *limit);
  return full_scan(known, in_directory, exclusions, forced);
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
