// The write phase of a build as one transaction: a durable in-progress
// marker, every generated or copied file staged in a temporary file beside
// its destination, one flush per file system for all of them, then renames
// in staging order. A later run that finds the marker knows the outputs may
// not match the CSS and cache files and rebuilds them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "fs/file_ops.h"

namespace zeviziz {

// Tells whether an entry at `path` that stands in the way of an output (a
// file where a directory must go, or a directory where a file must go) is a
// stale output that may be removed.
using StaleOutputTest = std::function<bool(const Path& path)>;

// One write phase. Usage: begin(), stage_bytes()/stage_copy() for every file
// in order, flush(), rename_staged() for each in order (other work may come
// between renames), finish(). An object destroyed before finish() removes
// the temporary files not yet renamed, and the marker too when it created
// the marker and nothing was renamed yet (the destinations are untouched).
class WriteBatch {
 public:
  // `marker`: the in-progress marker file; `stale`: see StaleOutputTest.
  WriteBatch(Path marker, StaleOutputTest stale);
  ~WriteBatch();
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;

  // Creates the marker (logged "open-write"); `expected_files` sizes the
  // record of temporary files that an interrupt removes. Fails with
  // "marker: system text".
  Status begin(size_t expected_files);

  // Writes `bytes` to a new temporary file beside `destination`, creating
  // missing parent directories (each directory at most once per batch).
  // Logged "create-dir-all", "open-write", "write". Returns the staging
  // index; fails with a symbolic-link or directory error, or the bare system
  // text of the creation or write.
  Result<size_t> stage_bytes(const Path& destination, std::string_view bytes);

  // Copies `source` into a new temporary file beside `destination`, keeping
  // the source's modification time. Logged "copy source destination".
  // Returns the staging index; fails with "source -> destination: system
  // text" (display forms) or a symbolic-link or directory error.
  Result<size_t> stage_copy(const Path& source, const Path& destination);

  // Makes every staged file and the marker durable: one syncfs per file
  // system involved, logged "sync" with a directory on it. Fails with the
  // bare system text.
  Status flush();

  // Renames staged file `index` over its destination (logged "rename temp
  // destination", except for copies, whose one line is "copy"). A stale
  // directory in the way is removed first. Fails with "destination: system
  // text".
  Status rename_staged(size_t index);

  // Removes the marker (logged "remove-file"): the batch is complete. Fails
  // with "marker: system text".
  Status finish();

 private:
  struct Staged {
    Path temp;
    Path destination;
    bool copy = false;
    bool created = false;
    bool renamed = false;
  };

  Result<size_t> add_staged(const Path& destination, bool copy);
  Status ensure_directory(const Path& directory);
  Status make_directory(const Path& directory);
  Status sync_file_systems();
  void abandon();

  Path marker_;
  StaleOutputTest stale_;
  bool marker_created_ = false;
  bool any_renamed_ = false;
  bool finished_ = false;
  std::vector<Staged> staged_;
  // Directories known to exist in this batch, with their device.
  std::unordered_map<std::string, dev_t> directories_;
  int64_t last_temp_time_ = 0;
};

// Installs handlers for SIGINT and SIGTERM that remove the temporary files
// of the running write phase (and its marker while nothing was renamed)
// and end the process with status 130 or 143.
void install_interrupt_cleanup();

// True for a name of the form ".velt-" digits "-" digits ".tmp": a temporary
// file of a write.
bool is_temporary_name(std::string_view name);

// Removes the temporary files (is_temporary_name) found in `directory`,
// which may be missing, and with `recursive` in every directory below it.
// Logged "read-dir" per directory and "remove-file" per file; symbolic links
// are not followed. Fails with the first error.
Status remove_temporary_files(const Path& directory, bool recursive);

}  // namespace zeviziz
