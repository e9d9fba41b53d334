// The scan of the input tree: which files under in_directory are new or
// changed since the previous cycle (by last-write time) and which have
// disappeared, with exclusions, --select handling and the file-level
// mirroring steps of a build (copying plain files, removing vanished outputs).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "fs/file_ops.h"

namespace zeviziz {

// One entry of the known-files table.
struct KnownFile {
  // Scan generation in which the file was last seen.
  uint64_t generation = 0;
  // Source last-write time recorded once the file was processed
  // successfully; absent until then, so the file keeps counting as changed.
  std::optional<FileTime> time;
};

// The files seen by earlier scans, keyed by template path ("/"-separated,
// relative to in_directory), and the scan generation counter.
struct KnownFiles {
  uint64_t generation = 0;
  std::unordered_map<std::string, KnownFile> files;
};

// A file that is new, changed, or (in a forced scan) simply present.
struct ChangedFile {
  std::string path;   // template path
  FileTime time = 0;  // source last-write time seen by the scan
};

// A known file that a full scan no longer found.
struct RemovedFile {
  std::string path;  // template path
  // The source time recorded for it when it was last processed (a copied
  // output keeps this time); absent when it never was.
  std::optional<FileTime> recorded_time;
};

// The outcome of one scan.
struct ScanResult {
  std::vector<ChangedFile> changed;  // in the order found
  std::vector<RemovedFile> removed;  // ascending byte order of the path
};

// The normalised --select paths: ascending byte order, duplicates merged.
using Selection = std::set<std::string>;

// Entries below in_directory (template paths) that a scan may limit itself
// to; a directory stands for everything below it.
using ScanLimit = std::set<std::string>;

// Turns one --select path into its template path: plain components joined by
// "/". Fails with "Expected a relative path inside in_directory: " + text, or
// "Template path must be UTF-8".
Result<std::string> normalize_selected_path(std::string_view text);

// Normalises every --select path into one ordered set; the first failure of
// normalize_selected_path is returned.
Result<Selection> normalize_selection(const std::vector<std::string>& paths);

// True when `template_path` starts with one of `excludes` (paths relative to
// in_directory), comparing whole components.
bool is_excluded(std::string_view template_path, const std::vector<Path>& excludes);

// Task "template.scan" (detail: the input directory). Without a selection,
// or when `forced`, walks in_directory depth-first: excluded entries are
// skipped unexamined, symbolic links silently, and in a forced scan every
// file counts as changed; known files not seen are removed from `known` and
// reported. With a selection (and not forced) looks only at the selected
// files. Otherwise, with a `limit` (and not forced), rescans only the entries
// it names and gives exactly what a full scan would for them: changed files
// in the order the full walk finds them, known files at or below them that
// are gone (or now excluded or links) as removed; other known files are left
// as they are. A limit naming in_directory itself (""), a link on the way to
// a limited entry, or any failure of the rescan makes it a full scan. Fails
// with "Symbolic links are not supported: " + path, a read-dir
// or mtime failure, "Template paths must be UTF-8", "Selected template is
// excluded: " + path, "Selected template does not exist: " + path, or a
// resolve_inside error.
Result<ScanResult> scan_sources(KnownFiles& known, const Path& in_directory,
                                const std::vector<Path>& excludes,
                                const std::optional<Selection>& selection, bool forced,
                                const ScanLimit* limit = nullptr);

// Records (path, time) in `known` as processed, so later scans see it as
// unchanged while its time stays the same.
void mark_processed(KnownFiles& known, const std::string& path, FileTime time);

// Copies the source of `template_path` into out_directory: resolve_inside,
// symbolic-link tests of source and destination, create-dir-all of the
// parent, then `copy` keeping the source's last-write time. Returns the
// destination; fails with the first operation's error.
Result<Path> mirror_file(const Path& in_directory, const Path& out_directory,
                         std::string_view template_path);

// Removes the output of a vanished file, but only while its last-write time
// still equals `expected_time`; a missing output, an absent expected time or
// a different time leave everything alone. Returns whether it removed the
// output; fails with a resolve_inside, mtime or remove-file error.
Result<bool> remove_vanished_output(const Path& out_directory, std::string_view template_path,
                                    std::optional<FileTime> expected_time);

}  // namespace zeviziz
