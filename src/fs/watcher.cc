// File-system notifications through inotify. Every directory of the input
// tree gets a watch (added before its listing is read, so an entry created
// meanwhile is either listed or notified), plus the directory holding the
// configuration file, which editors often replace by renaming a new file
// over it. A new directory is watched, with everything already below it, as
// soon as its creation is read. Events that leave the set of changed paths
// uncertain (a lost event, a directory moved or deleted, in_directory itself
// changing) make the result incomplete, and the watches are then set up
// anew from the tree as it is. Directories on file systems whose
// notifications miss changes made elsewhere (network and FUSE file systems)
// make watching fail, so that watch mode polls instead. Watching lists directories directly,
// without the logged file-system operations: it is not part of a build, and the
// --log filesystem lines stay those of the builds.
#include "fs/watcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

#include "fs/scan.h"

namespace zeviziz {
namespace {

using Clock = std::chrono::steady_clock;

// Everything that can change an entry's listing, type or last-write time.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string system_text(int error_number) {
  return std::error_code(error_number, std::generic_category()).message();
}

bool is_gone(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR;
}

std::string child_path(const std::string& directory, std::string_view name) {
  return directory.empty() ? std::string(name) : directory + "/" + std::string(name);
}

// True when the listed entry is a directory itself (not a link to one).
bool is_directory_entry(const Path& directory, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat info;
  return ::lstat((directory / entry.d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// True for file systems whose files can change without the kernel seeing
// it (network, FUSE and shared-folder file systems): their notifications
// miss changes made elsewhere, so they cannot stand in for a scan.
bool misses_changes(const Path& directory) {
  struct statfs info;
  if (::statfs(directory.c_str(), &info) != 0) return false;
  switch (static_cast<uint64_t>(info.f_type)) {
    case 0x6969:      // NFS
    case 0x517b:      // SMB
    case 0xff534d42:  // CIFS
    case 0xfe534d42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x73757245:  // Coda
    case 0x5346414f:  // AFS
    case 0x00c36400:  // Ceph
    case 0x786f4256:  // VirtualBox shared folders
      return true;
    default:
      return false;
  }
}

// Waits up to `left` for the descriptor to become readable.
Result<bool> poll_for(int fd, Clock::duration left) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  pollfd entry{fd, POLLIN, 0};
  const int ready = ::poll(&entry, 1, static_cast<int>(std::clamp<int64_t>(ms, 0, INT_MAX)));
  if (ready < 0) {
    if (errno == EINTR) return false;
    return make_error(system_text(errno));
  }
  return ready > 0;
}

}  // namespace

Watcher::Watcher(Path in_directory, std::vector<Path> excludes, Path config_path)
    : in_directory_(std::move(in_directory)), excludes_(std::move(excludes)) {
  config_directory_ = config_path.parent_path();
  if (config_directory_.empty()) config_directory_ = ".";
  config_name_ = config_path.filename().string();
}

Result<std::unique_ptr<Watcher>> Watcher::start(const Path& in_directory,
                                                const std::vector<Path>& excludes,
                                                const Path& config_path) {
  std::unique_ptr<Watcher> watcher(new Watcher(in_directory, excludes, config_path));
  ZV_TRY_STATUS(watcher->open());
  return watcher;
}

Watcher::~Watcher() {
  if (fd_ >= 0) ::close(fd_);
}

// Sets up a new notification instance with watches on the tree as it is now.
Status Watcher::open() {
  if (fd_ >= 0) ::close(fd_);
  watched_.clear();
  tree_watched_ = false;
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return make_error(system_text(errno));
  ZV_TRY(int config_wd, add_watch(config_directory_));
  if (config_wd >= 0) watched_[config_wd].holds_config = true;
  return watch_tree("");
}

// The watch descriptor, or -1 when the directory is gone or is no directory.
Result<int> Watcher::add_watch(const Path& directory) {
  const int wd = ::inotify_add_watch(fd_, directory.c_str(), kWatchMask);
  if (wd < 0) {
    if (is_gone(errno)) return -1;
    // The system's text for it ("No space left on device") misleads.
    if (errno == ENOSPC) return make_error("the limit of watched directories is reached");
    return make_error(display_path(directory) + ": " + system_text(errno));
  }
  if (misses_changes(directory)) {
    return make_error(display_path(directory) + ": file system reports no changes made elsewhere");
  }
  return wd;
}

// Watches the directory at `relative` and every directory below it.
Status Watcher::watch_tree(const std::string& relative) {
  std::vector<std::string> pending{relative};
  while (!pending.empty()) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    const Path directory = current.empty() ? in_directory_ : in_directory_ / current;
    ZV_TRY(int wd, add_watch(directory));
    if (wd < 0) continue;
    Watched& watched = watched_[wd];
    watched.in_tree = true;
    watched.relative = current;
    if (current.empty()) tree_watched_ = true;
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
      if (is_gone(errno)) continue;
      return make_error(display_path(directory) + ": " + system_text(errno));
    }
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == ".." || !is_directory_entry(directory, *entry)) continue;
      std::string child = child_path(current, name);
      if (!is_excluded(child, excludes_)) pending.push_back(std::move(child));
    }
    ::closedir(listing);
  }
  return {};
}

Result<WatchResult> Watcher::wait(std::chrono::milliseconds timeout,
                                  std::chrono::milliseconds settle,
                                  std::chrono::milliseconds max_settle) {
  WatchResult result;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!result.woke && Clock::now() < deadline) {
    ZV_TRY(bool ready, poll_for(fd_, deadline - Clock::now()));
    if (ready) ZV_TRY_STATUS(read_events(result));
  }
  if (result.woke) {
    const Clock::time_point cap = Clock::now() + max_settle;
    while (Clock::now() < cap) {
      const Clock::duration left = std::min<Clock::duration>(settle, cap - Clock::now());
      ZV_TRY(bool ready, poll_for(fd_, left));
      if (!ready) break;
      ZV_TRY_STATUS(read_events(result));
    }
  }
  if (!tree_watched_) result.complete = false;
  if (!result.complete) {
    result.paths.clear();
    ZV_TRY_STATUS(open());
  }
  return result;
}

// Reads every event waiting on the instance.
Status Watcher::read_events(WatchResult& result) {
  alignas(inotify_event) char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return {};
      return make_error(system_text(errno));
    }
    if (got == 0) return {};
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // The name is padded with NUL bytes to the event's length.
      const std::string name = event->len > 0 ? std::string(event->name) : std::string();
      ZV_TRY_STATUS(handle_event(event->mask, event->wd, name, result));
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

Status Watcher::handle_event(uint32_t mask, int wd, const std::string& name, WatchResult& result) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    result.woke = true;
    result.complete = false;
    return {};
  }
  auto found = watched_.find(wd);
  if (found == watched_.end()) return {};
  const Watched watched = found->second;
  // A watched directory went away or moved: the paths below it are unknown.
  if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
    if ((mask & IN_IGNORED) != 0) watched_.erase(found);
    result.woke = true;
    result.complete = false;
    return {};
  }
  if (name.empty()) {
    // The directory's own attributes (such as its permissions) changed.
    if (!watched.in_tree) return {};
    result.woke = true;
    if (watched.relative.empty()) result.complete = false;
    result.paths.insert(watched.relative);
    return {};
  }
  if (watched.holds_config && name == config_name_) result.woke = true;
  if (!watched.in_tree) return {};
  return handle_tree_entry(mask, child_path(watched.relative, name), result);
}

Status Watcher::handle_tree_entry(uint32_t mask, const std::string& relative, WatchResult& result) {
  if (is_excluded(relative, excludes_)) return {};
  result.woke = true;
  if ((mask & IN_ISDIR) != 0) {
    if ((mask & (IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
      result.complete = false;
      return {};
    }
    // Entries made in it before its watch existed are found by the scan of
    // the whole directory; later ones are notified.
    if ((mask & IN_CREATE) != 0) ZV_TRY_STATUS(watch_tree(relative));
  }
  result.paths.insert(relative);
  return {};
}

}  // namespace zeviziz
