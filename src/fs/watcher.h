// File-system notifications for watch mode: waits until something changes
// below in_directory or the configuration file changes, and tells which
// entries changed when that can be trusted.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "fs/file_ops.h"

namespace zeviziz {

// What one wait saw.
struct WatchResult {
  // False when the wait ended because its timeout passed.
  bool woke = false;
  // True when `paths` names every entry below in_directory that changed
  // since the previous wait. False after a lost notification (queue
  // overflow), a moved or deleted directory, a change of in_directory itself,
  // or while in_directory cannot be watched.
  bool complete = true;
  // Entries below in_directory that changed, as template paths; a directory
  // stands for everything below it. Excluded entries are left out. Empty
  // when the result is incomplete.
  std::set<std::string> paths;
};

// Watches every directory of in_directory's tree (excluded directories and
// links are not entered; directories added later are watched as they
// appear) and the directory holding the configuration file.
class Watcher {
 public:
  // Starts watching. Fails when notifications are not available: the
  // system's text when no notification instance can be made, "the limit of
  // watched directories is reached", "path: system text" for a directory
  // that cannot be watched, or "path: file system reports no
  // changes made elsewhere" for a directory on a network or FUSE file system.
  static Result<std::unique_ptr<Watcher>> start(const Path& in_directory,
                                                const std::vector<Path>& excludes,
                                                const Path& config_path);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // Waits until a change arrives or `timeout` passes. After the first change
  // it goes on collecting until changes pause for `settle` (at most
  // `max_settle` in all), so that a save made of several steps wakes once.
  // After an incomplete result the watches are set up anew. Fails like
  // start() when a new directory cannot be watched.
  Result<WatchResult> wait(std::chrono::milliseconds timeout,
                           std::chrono::milliseconds settle = std::chrono::milliseconds(10),
                           std::chrono::milliseconds max_settle = std::chrono::milliseconds(100));

 private:
  // One watched directory.
  struct Watched {
    bool in_tree = false;
    std::string relative;  // template path below in_directory ("" for itself)
    bool holds_config = false;
  };

  Watcher(Path in_directory, std::vector<Path> excludes, Path config_path);
  Status open();
  Status watch_tree(const std::string& relative);
  Result<int> add_watch(const Path& directory);
  Status read_events(WatchResult& result);
  Status handle_event(uint32_t mask, int wd, const std::string& name, WatchResult& result);
  Status handle_tree_entry(uint32_t mask, const std::string& relative, WatchResult& result);

  Path in_directory_;
  std::vector<Path> excludes_;
  Path config_directory_;
  std::string config_name_;
  int fd_ = -1;
  bool tree_watched_ = false;
  std::unordered_map<int, Watched> watched_;
};

}  // namespace zeviziz
