// The batched write phase. Every file is first written (or copied with
// copy_file_range, which clones where the file system can) into a temporary
// file ".velt-<pid>-<ns>.tmp" beside its destination; then one syncfs per
// file system makes the temporary files and the in-progress marker durable
// together; then the temporary files are renamed over their destinations in
// order, and the marker goes last.
// So at no moment does a destination hold a partial file, and a run killed
// anywhere in between leaves the marker for the next run to see.
// Directories are created at most once per batch, without failing mkdir
// calls. The temporary names in flight are published to the interrupt
// handler, which removes them before the process ends.
#include "fs/write_batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <system_error>
#include <utility>

#include "fs/fault.h"
#include "fs/posix_io.h"
#include "log/log.h"

namespace zeviziz {
namespace {

// What the interrupt handler removes: the temporary names of the running
// batch and, while nothing was renamed, the marker it created. The arrays
// are only appended to, and published before they are used.
struct InterruptRecord {
  std::atomic<const std::string*> temps{nullptr};
  std::atomic<size_t> count{0};
  std::atomic<const char*> marker{nullptr};
};

InterruptRecord& interrupt_record() {
  static InterruptRecord record;
  return record;
}

// Grows the published array of temporary names; old arrays stay alive until
// the batch ends, since the handler may be reading one.
class TempNames {
 public:
  void reserve(size_t capacity) {
    if (capacity <= capacity_) return;
    auto grown = std::make_unique<std::string[]>(capacity);
    for (size_t i = 0; i < size_; ++i) grown[i] = arrays_.back()[i];
    arrays_.push_back(std::move(grown));
    capacity_ = capacity;
    interrupt_record().temps.store(arrays_.back().get());
  }
  void push(const std::string& name) {
    if (size_ == capacity_) reserve(capacity_ * 2 + 8);
    arrays_.back()[size_] = name;
    interrupt_record().count.store(++size_);
  }
  void clear() {
    interrupt_record().count.store(0);
    interrupt_record().temps.store(nullptr);
    arrays_.clear();
    size_ = capacity_ = 0;
  }

 private:
  std::vector<std::unique_ptr<std::string[]>> arrays_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

TempNames& temp_names() {
  static TempNames names;
  return names;
}

void on_interrupt(int signal_number) {
  InterruptRecord& record = interrupt_record();
  const std::string* temps = record.temps.load();
  const size_t count = temps == nullptr ? 0 : record.count.load();
  for (size_t i = 0; i < count; ++i) ::unlink(temps[i].c_str());
  if (const char* marker = record.marker.load()) ::unlink(marker);
  ::_exit(128 + signal_number);
}

Path parent_of(const Path& path) {
  Path parent = path.parent_path();
  return parent.empty() ? Path(".") : parent;
}

}  // namespace

WriteBatch::WriteBatch(Path marker, StaleOutputTest stale)
    : marker_(std::move(marker)), stale_(std::move(stale)) {}

WriteBatch::~WriteBatch() {
  if (!finished_) abandon();
  interrupt_record().marker.store(nullptr);
  temp_names().clear();
}

Status WriteBatch::begin(size_t expected_files) {
  temp_names().reserve(expected_files + 4);
  ZV_TRY_STATUS(check_no_symlinks(marker_));
  ZV_TRY_STATUS(ensure_directory(parent_of(marker_)));
  log_filesystem("open-write", marker_);
  if (const int injected = fault_point()) return path_error(marker_, injected);
  int fd = retry_eintr(
      [&] { return ::open(marker_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  if (fd >= 0) {
    marker_created_ = true;
    interrupt_record().marker.store(marker_.c_str());
  } else if (errno == EEXIST) {
    // Left by an earlier build that did not finish: it stays until this one
    // has finished, since this build may fail too.
    fd = retry_eintr([&] { return ::open(marker_.c_str(), O_WRONLY | O_CLOEXEC); });
  }
  if (fd < 0) return path_error(marker_, errno);
  ::close(fd);
  return {};
}

Result<size_t> WriteBatch::add_staged(const Path& destination, bool copy) {
  ZV_TRY_STATUS(check_no_symlinks(destination));
  const Path parent = parent_of(destination);
  ZV_TRY_STATUS(ensure_directory(parent));
  // Strictly increasing times keep names unique within one directory.
  last_temp_time_ = std::max(unix_nanos_now(), last_temp_time_ + 1);
  Staged staged;
  static const std::string pid = std::to_string(::getpid());
  staged.temp = parent / (".velt-" + pid + "-" + std::to_string(last_temp_time_) + ".tmp");
  staged.destination = destination;
  staged.copy = copy;
  // Published before the file exists, so an interrupt at any point finds it.
  temp_names().push(staged.temp.native());
  staged_.push_back(std::move(staged));
  return staged_.size() - 1;
}

Result<size_t> WriteBatch::stage_bytes(const Path& destination, std::string_view bytes) {
  ZV_TRY(size_t index, add_staged(destination, false));
  Staged& staged = staged_[index];
  log_filesystem("open-write", staged.temp);
  if (const int injected = fault_point()) return make_error(system_text(injected));
  const int fd = retry_eintr(
      [&] { return ::open(staged.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  if (fd < 0) return make_error(system_text(errno));
  staged.created = true;
  log_filesystem("write", staged.temp);
  int error_number = fault_point();
  if (error_number == 0) error_number = write_all(fd, bytes);
  if (::close(fd) != 0 && error_number == 0) error_number = errno;
  if (error_number != 0) return make_error(system_text(error_number));
  return index;
}

Result<size_t> WriteBatch::stage_copy(const Path& source, const Path& destination) {
  ZV_TRY_STATUS(check_no_symlinks(source));
  ZV_TRY(size_t index, add_staged(destination, true));
  Staged& staged = staged_[index];
  log_filesystem("copy", source, destination);
  int error_number = fault_point();
  const int from = error_number != 0 ? -1 : retry_eintr([&] {
    // Non-blocking: a FIFO put in the file's place since the scan must not
    // stall the build.
    return ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  });
  struct stat info {};
  if (error_number == 0 && (from < 0 || ::fstat(from, &info) != 0)) error_number = errno;
  if (error_number == 0 && !S_ISREG(info.st_mode)) {
    ::close(from);
    return make_error(display_path(source) + " -> " + display_path(destination) +
                      ": Not a regular file");
  }
  int to = -1;
  if (error_number == 0) {
    to = retry_eintr([&] {
      return ::open(staged.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    info.st_mode & 0777);
    });
    if (to < 0) error_number = errno;
  }
  if (to >= 0) {
    staged.created = true;
    error_number = copy_contents(from, to);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (error_number == 0 && ::futimens(to, times) != 0) error_number = errno;
    if (::close(to) != 0 && error_number == 0) error_number = errno;
  }
  if (from >= 0) ::close(from);
  if (error_number == 0) return index;
  return make_error(display_path(source) + " -> " + display_path(destination) + ": " +
                    system_text(error_number));
}

Status WriteBatch::ensure_directory(const Path& directory) {
  if (directories_.contains(directory.native())) return {};
  ZV_TRY_STATUS(check_no_symlinks(directory));
  log_filesystem("create-dir-all", directory);
  return make_directory(directory);
}

// Creates `directory` and its missing parents: looks before creating, so no
// mkdir call fails on an existing directory; an entry in the way that is a
// stale output is removed first.
Status WriteBatch::make_directory(const Path& directory) {
  if (directories_.contains(directory.native())) return {};
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      directories_.emplace(directory.native(), info.st_dev);
      return {};
    }
    if (!stale_ || !stale_(directory)) return path_error(directory, EEXIST);
    ZV_TRY_STATUS(remove_file(directory));
  } else if (errno != ENOENT && errno != ENOTDIR) {
    return path_error(directory, errno);
  }
  Path parent = directory.parent_path();
  if (parent.empty()) parent = ".";
  if (parent == directory) return path_error(directory, ENOENT);
  ZV_TRY_STATUS(make_directory(parent));
  if (::mkdir(directory.c_str(), 0777) != 0) return path_error(directory, errno);
  directories_.emplace(directory.native(), directories_.at(parent.native()));
  return {};
}

Status WriteBatch::sync_file_systems() {
  std::unordered_map<dev_t, const std::string*> devices;
  auto note = [&](const Path& path) {
    auto found = directories_.find(parent_of(path).native());
    if (found != directories_.end()) devices.try_emplace(found->second, &found->first);
  };
  note(marker_);
  for (const Staged& staged : staged_) note(staged.temp);
  for (const auto& entry : devices) {
    // A named pointer rather than a structured binding, which clang 14 does
    // not let the lambda below capture.
    const std::string* directory = entry.second;
    log_filesystem("sync", Path(*directory));
    if (const int injected = fault_point()) return make_error(system_text(injected));
    const int fd =
        retry_eintr([&] { return ::open(directory->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return make_error(system_text(errno));
    const int synced = ::syncfs(fd);
    const int error_number = errno;
    ::close(fd);
    if (synced != 0) return make_error(system_text(error_number));
  }
  return {};
}

Status WriteBatch::flush() {
  return sync_file_systems();
}

Status WriteBatch::rename_staged(size_t index) {
  Staged& staged = staged_[index];
  if (!staged.copy) log_filesystem("rename", staged.temp, staged.destination);
  if (const int injected = fault_point()) return path_error(staged.destination, injected);
  // From the first rename on, destinations change: the marker must stay.
  any_renamed_ = true;
  interrupt_record().marker.store(nullptr);
  if (::rename(staged.temp.c_str(), staged.destination.c_str()) != 0) {
    const int error_number = errno;
    struct stat info {};
    const bool directory_in_way =
        (error_number == EISDIR || error_number == ENOTEMPTY || error_number == EEXIST) &&
        ::lstat(staged.destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!directory_in_way || !stale_ || !stale_(staged.destination)) {
      return path_error(staged.destination, error_number);
    }
    ZV_TRY_STATUS(remove_dir_all(staged.destination));
    if (::rename(staged.temp.c_str(), staged.destination.c_str()) != 0) {
      return path_error(staged.destination, errno);
    }
  }
  staged.renamed = true;
  return {};
}

Status WriteBatch::finish() {
  // No second flush: renames and the removal of the marker are metadata
  // changes that journaling file systems commit in the order they were made,
  // so the marker cannot disappear from the disk before the renames reach it.
  ZV_TRY_STATUS(remove_file(marker_));
  finished_ = true;
  return {};
}

void WriteBatch::abandon() {
  bool all_removed = true;
  for (const Staged& staged : staged_) {
    if (staged.created && !staged.renamed)
      all_removed = remove_file(staged.temp).ok() && all_removed;
  }
  // A temporary file that could not be removed is left to the next run,
  // which finds it through the marker.
  if (marker_created_ && !any_renamed_ && all_removed) (void)remove_file(marker_);
}

void install_interrupt_cleanup() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool is_temporary_name(std::string_view name) {
  constexpr std::string_view kPrefix = ".velt-";
  constexpr std::string_view kSuffix = ".tmp";
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
  name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (i != dash && (name[i] < '0' || name[i] > '9')) return false;
  }
  return true;
}

Status remove_temporary_files(const Path& directory, bool recursive) {
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
  ZV_TRY(std::vector<DirEntry> entries, read_dir(directory));
  for (const DirEntry& entry : entries) {
    if (entry.type == EntryType::Directory) {
      if (recursive) ZV_TRY_STATUS(remove_temporary_files(entry.path, true));
    } else if (entry.type == EntryType::File && is_temporary_name(entry.path.filename().native())) {
      ZV_TRY_STATUS(remove_file(entry.path));
    }
  }
  return {};
}

}  // namespace zeviziz
