// Every file-system access of the program goes through these named
// operations: each logs its name before acting, refuses symbolic links, and
// reports failures as one message carrying the path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace zeviziz {

using Path = std::filesystem::path;

// Last-write time: modification time in nanoseconds; compared for equality.
using FileTime = int64_t;

// How a path appears in messages: relative to the current working directory
// when it lies below it (non-empty remainder), else the whole path; invalid
// UTF-8 replaced by U+FFFD.
std::string display_path(const Path& path);

// Turns configured or command-line path text into a Path: backslashes and
// "/" both separate components.
Path path_from_text(std::string_view text);

// While an object of this class lives, the symbolic-link test remembers the
// directories it has verified and the current working directory, so a build
// checks each directory once rather than once per file below it. A build
// cycle holds one for its duration, so later cycles see changes made between
// them. Scopes nest; the memory is dropped when the outermost one ends. The
// memory belongs to the calling thread: a worker thread holds a scope of its
// own.
class PathCheckScope {
 public:
  PathCheckScope();
  ~PathCheckScope();
  PathCheckScope(const PathCheckScope&) = delete;
  PathCheckScope& operator=(const PathCheckScope&) = delete;
};

// Symbolic-link test: walks the absolute form of `path` component by
// component; fails with "Symbolic links are not supported: " + prefix when a
// prefix is a link, or "prefix: system text" when its metadata cannot be read
// for a reason other than absence.
Status check_no_symlinks(const Path& path);

// `exists`: true when the metadata (following links) can be read.
bool file_exists(const Path& path);

// `is-file`: true for an entry that is neither a directory nor a link.
bool is_file(const Path& path);

// `is-dir`: true for an existing directory (following links).
bool is_dir(const Path& path);

// `mtime`: absent for a missing path, a directory, a link, or anything else
// that is not a regular file (FIFO, socket, device); the file's time
// otherwise. Fails with "path: system text".
Result<std::optional<FileTime>> file_mtime(const Path& path);

// The same for a path given as text, which spares building a Path; for
// many files in a row.
Result<std::optional<FileTime>> file_mtime_at(const std::string& path);

// `read`: the whole file; fails with "path: system text",
// "path: Not a regular file" (a FIFO, socket or device, refused without
// waiting on it) or "path: stream did not contain valid UTF-8".
Result<std::string> read_file(const Path& path);

// Kind of a listed entry; `Other` is a FIFO, socket or device, which the
// program never reads.
enum class EntryType { File, Directory, Symlink, Other };

struct DirEntry {
  Path path;  // directory joined with the entry's name
  EntryType type = EntryType::File;
};

// `read-dir`: the entries in the platform's order; fails with
// "path: system text".
Result<std::vector<DirEntry>> read_dir(const Path& directory);

// A listed entry by name.
struct NamedEntry {
  std::string name;
  EntryType type = EntryType::File;
};

// `read-dir` on a directory given as text: the entries' names in the
// platform's order; fails like read_dir. Builds no Path per entry.
Result<std::vector<NamedEntry>> read_dir_names(const std::string& directory);

// The entry at `path` typed as a directory listing would type it (links are
// not followed), without a log line; absent when nothing is there. Fails with
// "path: system text".
Result<std::optional<DirEntry>> entry_at(const Path& path);

// `file-type`: logs the operation and returns the type from the listing.
EntryType file_type(const DirEntry& entry);

// `file-type` for an entry whose path is given as text: logs the operation
// and returns `type`, the type from the listing.
EntryType file_type_at(const std::string& path, EntryType type);

// Joins path texts as Path's "/" would for a relative `name`: one "/"
// between them unless `directory` is empty or already ends with one.
std::string join_path_text(std::string_view directory, std::string_view name);

// Writes the filesystem log line of `operation` on a path given as text, like
// log_filesystem; builds nothing when that log is off.
void log_filesystem_text(std::string_view operation, const std::string& path);

// `remove-file`: deletes one file. Fails with "path: system text".
Status remove_file(const Path& path);

// `create-dir-all`: creates the directory and missing parents.
Status create_dir_all(const Path& path);

// `copy`: copies `from` over `to`, keeping the source's modification time.
// Fails with "from -> to: system text" (display forms).
Status copy_file(const Path& from, const Path& to);

// `set-mtime`: sets the modification time of an existing file. Fails with
// "path: system text".
Status set_file_mtime(const Path& path, FileTime time);

// `remove-dir-all`: removes a directory and everything below it.
Status remove_dir_all(const Path& path);

// Atomic write: writes `bytes` to a temporary file beside `destination`
// (created new, written whole, synced) and renames it over `destination`.
// On failure the destination is unchanged and the temporary file removed.
Status write_atomic(const Path& destination, std::string_view bytes);

// Resolves `path`: absolute, "." and ".." applied lexically, the longest
// existing prefix replaced by its canonical path, the rest appended. Refuses
// symbolic links first.
Result<Path> resolve_path(const Path& path);

// How a path given as text breaks the rule for relative paths ("/" and
// backslash both separate): `kEscapes` when it starts with "/" or backslash
// or a drive ("C:") or has a ".." component; `kNotPlain` when it is empty or
// starts with a "." component; `kNone` when it keeps the rule.
enum class RelativePathFault { kNone, kEscapes, kNotPlain };
RelativePathFault relative_path_fault(std::string_view text);

// True when `text` keeps the rule for relative paths (see above).
bool is_plain_relative(std::string_view text);

// Succeeds when `text` keeps the rule for relative paths; else fails with
// "Expected a relative path inside in_directory: " + text.
Status check_plain_relative(std::string_view text);

// Joins `relative` (text; "/" or backslash separate) to `base` and checks the
// result stays inside `base`. Fails with "Expected a relative path inside
// in_directory: " + relative, "Path escapes directory: " + display(joined),
// or a symbolic-link error.
Result<Path> resolve_inside(const Path& base, std::string_view relative);

// True when the resolved forms of `a` and `b` are equal component by
// component.
Result<bool> same_path(const Path& a, const Path& b);

// True when `inner` lies within `outer` (or equals it), comparing the
// lexically normalised components of the two paths.
bool path_within(const Path& inner, const Path& outer);

// True when `a` and `b` have the same lexically normalised components.
bool path_equal(const Path& a, const Path& b);

}  // namespace zeviziz
