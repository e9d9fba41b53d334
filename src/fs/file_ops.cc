// Named file-system operations. Each operation writes its filesystem log line
// before it acts, refuses symbolic links where the program must not follow
// them (lstat on every growing prefix of the absolute path), and reports a
// failure as one message made of the path's display form and the system's
// text. Generated files are written through a temporary file in the same
// directory that is synced and renamed over the destination, so a reader sees
// either the old or the complete new file. Path resolution and containment
// work on whole components after "." and ".." have been applied lexically.
#include "fs/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <unordered_set>

#include "base/unicode.h"
#include "fs/fault.h"
#include "fs/posix_io.h"
#include "log/log.h"

namespace zeviziz {
namespace {

namespace fs = std::filesystem;

// Hashes strings and string views alike, so the set of verified directories
// can be probed with a prefix view without building a string.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// What an active PathCheckScope remembers.
struct CheckMemory {
  int depth = 0;
  std::optional<Path> cwd;
  std::unordered_set<std::string, TextHash, std::equal_to<>> verified_directories;
};

// Per thread: each worker thread of a build holds its own scope.
CheckMemory& check_memory() {
  thread_local CheckMemory memory;
  return memory;
}

// The current working directory, or an empty path when it cannot be read.
Path current_dir() {
  CheckMemory& memory = check_memory();
  if (memory.depth > 0 && memory.cwd) return *memory.cwd;
  std::error_code ec;
  Path cwd = fs::current_path(ec);
  if (ec) return Path();
  if (memory.depth > 0) memory.cwd = cwd;
  return cwd;
}

// Writes into `out` the path text `path` joined to the current working
// directory when relative. Joined as text: the component-wise join of paths
// costs more than the stat it serves.
void absolute_text(std::string_view path, std::string& out) {
  if (!path.empty() && path.front() == '/') {
    out.assign(path);
    return;
  }
  const CheckMemory& memory = check_memory();
  out.assign(memory.depth > 0 && memory.cwd ? memory.cwd->native() : current_dir().native());
  if (!out.empty() && out.back() != '/') out += '/';
  out += path;
}

std::string absolute_text(const Path& path) {
  std::string text;
  absolute_text(path.native(), text);
  return text;
}

Path make_absolute(const Path& path) {
  if (path.is_absolute()) return path;
  return Path(absolute_text(path));
}

// The non-empty components of `path` after making it absolute and applying
// "." and ".." lexically.
std::vector<std::string> normal_components(const Path& path) {
  std::vector<std::string> parts;
  for (const Path& part : make_absolute(path).lexically_normal()) {
    if (!part.empty()) parts.push_back(part.native());
  }
  return parts;
}

bool starts_with_components(const std::vector<std::string>& whole,
                            const std::vector<std::string>& prefix) {
  if (prefix.size() > whole.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (whole[i] != prefix[i]) return false;
  }
  return true;
}

FileTime to_file_time(const struct stat& info) {
  return static_cast<FileTime>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

int close_fd(int fd) {
  // close() must not be retried on Linux: the descriptor is gone either way.
  return ::close(fd);
}

}  // namespace

void log_filesystem_text(std::string_view operation, const std::string& path) {
  if (log_positions().filesystem == kLogOff) return;
  log_filesystem(operation, Path(path));
}

std::string join_path_text(std::string_view directory, std::string_view name) {
  std::string joined;
  joined.reserve(directory.size() + 1 + name.size());
  joined.append(directory);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined.append(name);
  return joined;
}

std::string display_path(const Path& path) {
  if (path.is_absolute()) {
    const Path cwd = current_dir();
    if (!cwd.empty()) {
      auto [cwd_end, path_at] = std::mismatch(cwd.begin(), cwd.end(), path.begin(), path.end());
      if (cwd_end == cwd.end() && path_at != path.end()) {
        Path rest;
        for (; path_at != path.end(); ++path_at) rest /= *path_at;
        if (!rest.empty()) return sanitize_utf8(rest.native());
      }
    }
  }
  return sanitize_utf8(path.native());
}

Path path_from_text(std::string_view text) {
  std::string converted(text);
  for (char& ch : converted) {
    if (ch == '\\') ch = '/';
  }
  return Path(std::move(converted));
}

PathCheckScope::PathCheckScope() {
  ++check_memory().depth;
}

PathCheckScope::~PathCheckScope() {
  CheckMemory& memory = check_memory();
  if (--memory.depth == 0) {
    memory.cwd.reset();
    memory.verified_directories.clear();
  }
}

namespace {

// The symbolic-link test. When `last` is given, it is set when the walk read
// the metadata of the whole path (which then exists and is no link); the
// caller can use it instead of reading it again. The walk works on the
// absolute path's text: each growing prefix ends at a separator, empty
// components are skipped, and lstat reads the prefix through a NUL written
// into a private copy of the text.
Status check_links(std::string_view path, std::optional<struct stat>* last) {
  CheckMemory& memory = check_memory();
  // Reused by the calls of one thread, so a check allocates nothing.
  thread_local std::string text;
  absolute_text(path, text);
  bool whole = false;
  struct stat info;
  size_t start = 0;
  // A directory is remembered only after every prefix above it passed, so a
  // remembered parent lets the walk start at the last component, which is
  // then read without looking it up (it is usually a file).
  bool from_parent = false;
  if (memory.depth > 0) {
    const size_t slash = text.find_last_of('/');
    if (slash != std::string::npos && slash > 0 &&
        memory.verified_directories.contains(std::string_view(text.data(), slash))) {
      start = slash;
      from_parent = true;
    }
  }
  while (start < text.size()) {
    if (text[start] == '/') {
      ++start;
      continue;
    }
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    start = end;
    whole = false;
    const std::string_view prefix(text.data(), end);
    if (memory.depth > 0 && !from_parent && memory.verified_directories.contains(prefix)) {
      continue;
    }
    const char saved = text[end];  // '/' or the terminating NUL
    text[end] = '\0';
    const int status = ::lstat(text.c_str(), &info);
    text[end] = saved;
    if (status != 0) {
      if (is_absent_error(errno)) return {};
      return path_error(Path(std::string(prefix)), errno);
    }
    if (S_ISLNK(info.st_mode)) {
      return make_error("Symbolic links are not supported: " +
                        display_path(Path(std::string(prefix))));
    }
    if (memory.depth > 0 && S_ISDIR(info.st_mode)) {
      memory.verified_directories.emplace(prefix);
    }
    whole = true;
  }
  if (last != nullptr && whole) *last = info;
  return {};
}

}  // namespace

Status check_no_symlinks(const Path& path) {
  return check_links(path.native(), nullptr);
}

bool file_exists(const Path& path) {
  log_filesystem("exists", path);
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool is_file(const Path& path) {
  log_filesystem("is-file", path);
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return false;
  return !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode);
}

bool is_dir(const Path& path) {
  log_filesystem("is-dir", path);
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Result<std::optional<FileTime>> file_mtime(const Path& path) {
  return file_mtime_at(path.native());
}

Result<std::optional<FileTime>> file_mtime_at(const std::string& path) {
  std::optional<struct stat> checked;
  ZV_TRY_STATUS(check_links(path, &checked));
  log_filesystem_text("mtime", path);
  struct stat info;
  if (checked) {
    info = *checked;  // no link, so this is what stat() would report
  } else if (::stat(path.c_str(), &info) != 0) {
    if (is_absent_error(errno)) return std::optional<FileTime>();
    return path_error(Path(path), errno);
  }
  // Only regular files have a time: a FIFO, socket or device is never read
  // or copied, so it counts as absent like a directory.
  if (!S_ISREG(info.st_mode)) return std::optional<FileTime>();
  return std::optional<FileTime>(to_file_time(info));
}

namespace {

// Reads the whole open file; returns 0 or an errno value.
int read_all(int fd, std::string& out) {
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    out.reserve(static_cast<size_t>(info.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = retry_eintr([&] { return ::read(fd, buffer, sizeof buffer); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    out.append(buffer, static_cast<size_t>(got));
  }
}

Error not_regular_error(const Path& path) {
  return make_error(display_path(path) + ": Not a regular file");
}

// True for what may be read: a regular file, or a directory (whose read
// then fails with the system's own text).
bool readable_kind(mode_t mode) {
  return S_ISREG(mode) || S_ISDIR(mode);
}

// Opens `path` for reading without blocking: opening a FIFO with no writer,
// or some devices, would wait forever. The kind is checked before the open
// (so a device is never opened) and again on the open descriptor (the entry
// may have been replaced in between). Returns the descriptor.
Result<int> open_for_reading(const Path& path, const std::optional<struct stat>& checked) {
  if (checked && !readable_kind(checked->st_mode)) return not_regular_error(path);
  const int fd = retry_eintr(
      [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); });
  if (fd < 0) return path_error(path, errno);
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int error_number = errno;
    close_fd(fd);
    return path_error(path, error_number);
  }
  if (!readable_kind(info.st_mode)) {
    close_fd(fd);
    return not_regular_error(path);
  }
  return fd;
}

}  // namespace

Result<std::string> read_file(const Path& path) {
  std::optional<struct stat> checked;
  ZV_TRY_STATUS(check_links(path.native(), &checked));
  log_filesystem("read", path);
  ZV_TRY(const int fd, open_for_reading(path, checked));
  std::string text;
  const int error_number = read_all(fd, text);
  close_fd(fd);
  if (error_number != 0) return path_error(path, error_number);
  if (!is_valid_utf8(text)) {
    return make_error(display_path(path) + ": stream did not contain valid UTF-8");
  }
  return text;
}

namespace {

EntryType type_from_mode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::File;
  if (S_ISDIR(mode)) return EntryType::Directory;
  if (S_ISLNK(mode)) return EntryType::Symlink;
  return EntryType::Other;
}

// The type of a listed entry; `path` is read only when the listing does not
// tell the type.
EntryType entry_type(const std::string& path, unsigned char d_type) {
  switch (d_type) {
    case DT_REG:
      return EntryType::File;
    case DT_DIR:
      return EntryType::Directory;
    case DT_LNK:
      return EntryType::Symlink;
    case DT_UNKNOWN:
      break;
    default:
      return EntryType::Other;
  }
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return EntryType::File;
  return type_from_mode(info.st_mode);
}

}  // namespace

Result<std::vector<NamedEntry>> read_dir_names(const std::string& directory) {
  log_filesystem_text("read-dir", directory);
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return path_error(Path(directory), errno);
  std::vector<NamedEntry> entries;
  std::string entry_path;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_UNKNOWN) entry_path = join_path_text(directory, name);
    entries.push_back(NamedEntry{std::string(name), entry_type(entry_path, entry->d_type)});
  }
  const int error_number = errno;
  ::closedir(dir);
  if (error_number != 0) return path_error(Path(directory), error_number);
  return entries;
}

Result<std::vector<DirEntry>> read_dir(const Path& directory) {
  ZV_TRY(std::vector<NamedEntry> names, read_dir_names(directory.native()));
  std::vector<DirEntry> entries;
  entries.reserve(names.size());
  for (NamedEntry& entry : names) {
    entries.push_back(DirEntry{directory / Path(std::move(entry.name)), entry.type});
  }
  return entries;
}

Result<std::optional<DirEntry>> entry_at(const Path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    if (is_absent_error(errno)) return std::optional<DirEntry>();
    return path_error(path, errno);
  }
  return std::optional<DirEntry>(DirEntry{path, type_from_mode(info.st_mode)});
}

EntryType file_type(const DirEntry& entry) {
  log_filesystem("file-type", entry.path);
  return entry.type;
}

EntryType file_type_at(const std::string& path, EntryType type) {
  log_filesystem_text("file-type", path);
  return type;
}

Status remove_file(const Path& path) {
  ZV_TRY_STATUS(check_no_symlinks(path));
  log_filesystem("remove-file", path);
  if (const int injected = fault_point()) return path_error(path, injected);
  // Linux deletes read-only files as long as the directory is writable, so
  // no attribute needs clearing first.
  if (::unlink(path.c_str()) != 0) return path_error(path, errno);
  return {};
}

Status create_dir_all(const Path& path) {
  ZV_TRY_STATUS(check_no_symlinks(path));
  log_filesystem("create-dir-all", path);
  Path prefix;
  for (const Path& part : path) {
    if (part.empty()) continue;
    prefix /= part;
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    const int error_number = errno;
    struct stat info;
    if (error_number == EEXIST && ::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      continue;
    }
    return path_error(path, error_number);
  }
  return {};
}

namespace {

// Copies the contents and times of the open `source` into `to`; returns 0 or
// an errno value.
int copy_open_file(int source, const struct stat& info, const Path& to) {
  struct stat existing;
  if (::stat(to.c_str(), &existing) == 0 && existing.st_dev == info.st_dev &&
      existing.st_ino == info.st_ino) {
    return EINVAL;  // truncating the destination would destroy the source
  }
  const int target = retry_eintr([&] {
    return ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0777);
  });
  if (target < 0) return errno;
  int error_number = copy_contents(source, target);
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (error_number == 0 && ::futimens(target, times) != 0) error_number = errno;
  if (close_fd(target) != 0 && error_number == 0) error_number = errno;
  return error_number;
}

}  // namespace

Status copy_file(const Path& from, const Path& to) {
  log_filesystem("copy", from, to);
  int error_number = 0;
  const int source = retry_eintr([&] { return ::open(from.c_str(), O_RDONLY | O_CLOEXEC); });
  if (source < 0) {
    error_number = errno;
  } else {
    struct stat info;
    error_number = ::fstat(source, &info) != 0 ? errno : copy_open_file(source, info, to);
    close_fd(source);
  }
  if (error_number == 0) return {};
  return make_error(display_path(from) + " -> " + display_path(to) + ": " +
                    system_text(error_number));
}

Status set_file_mtime(const Path& path, FileTime time) {
  ZV_TRY_STATUS(check_no_symlinks(path));
  log_filesystem("set-mtime", path);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time / 1000000000, time % 1000000000}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return path_error(path, errno);
  return {};
}

Status remove_dir_all(const Path& path) {
  log_filesystem("remove-dir-all", path);
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) return make_error(display_path(path) + ": " + ec.message());
  return {};
}

namespace {

Path temporary_path(const Path& parent) {
  const std::string name =
      ".velt-" + std::to_string(::getpid()) + "-" + std::to_string(unix_nanos_now()) + ".tmp";
  return parent / name;
}

// Steps write, sync and rename on the open temporary file.
Status fill_and_rename(int fd, const Path& temp, const Path& destination, std::string_view bytes) {
  log_filesystem("write", temp);
  if (const int error_number = write_all(fd, bytes); error_number != 0) {
    return make_error(system_text(error_number));
  }
  log_filesystem("sync", temp);
  if (retry_eintr([&] { return ::fsync(fd); }) != 0) return make_error(system_text(errno));
  log_filesystem("rename", temp, destination);
  if (::rename(temp.c_str(), destination.c_str()) != 0) return path_error(destination, errno);
  return {};
}

}  // namespace

Status write_atomic(const Path& destination, std::string_view bytes) {
  ZV_TRY_STATUS(check_no_symlinks(destination));
  Path parent = destination.parent_path();
  if (parent.empty()) parent = ".";
  ZV_TRY_STATUS(create_dir_all(parent));
  const Path temp = temporary_path(parent);
  log_filesystem("open-write", temp);
  const int fd = retry_eintr(
      [&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
  // A failed exclusive creation made no file: the name may belong to
  // someone else, so nothing is removed.
  if (fd < 0) return make_error(system_text(errno));
  Status status = fill_and_rename(fd, temp, destination, bytes);
  close_fd(fd);
  if (!status.ok()) (void)remove_file(temp);
  return status;
}

namespace {

bool has_parent_component(const Path& path) {
  for (const Path& part : path) {
    if (part == "..") return true;
  }
  return false;
}

}  // namespace

Result<Path> resolve_path(const Path& path) {
  ZV_TRY_STATUS(check_no_symlinks(path));
  const Path normal = make_absolute(path).lexically_normal();
  // Without "..", the link test has walked exactly the existing prefix of the
  // normal form and found no link in it, so that prefix is already canonical.
  if (!has_parent_component(path)) return normal;
  Path existing = normal;
  struct stat info;
  while (::stat(existing.c_str(), &info) != 0) {
    if (!is_absent_error(errno)) return path_error(existing, errno);
    const Path parent = existing.parent_path();
    if (parent == existing || parent.empty()) return normal;
    existing = parent;
  }
  std::error_code ec;
  Path resolved = fs::canonical(existing, ec);
  if (ec) return make_error(display_path(existing) + ": " + ec.message());
  for (const Path& part : normal.lexically_relative(existing)) {
    if (!part.empty() && part != ".") resolved /= part;
  }
  return resolved;
}

RelativePathFault relative_path_fault(std::string_view text) {
  const auto is_ascii_letter = [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
  };
  if (text.empty()) return RelativePathFault::kNotPlain;
  const bool rooted = text[0] == '/' || text[0] == '\\';
  const bool drive = text.size() >= 2 && is_ascii_letter(text[0]) && text[1] == ':';
  if (rooted || drive) return RelativePathFault::kEscapes;
  // One pass over the characters, looking at each component as it ends:
  // cache files and scans check many paths in a row.
  bool leading_dot = false;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '/' && text[i] != '\\') continue;
    const size_t length = i - start;
    if (length == 2 && text[start] == '.' && text[start + 1] == '.') {
      return RelativePathFault::kEscapes;
    }
    if (start == 0 && length == 1 && text[0] == '.') leading_dot = true;
    start = i + 1;
  }
  return leading_dot ? RelativePathFault::kNotPlain : RelativePathFault::kNone;
}

bool is_plain_relative(std::string_view text) {
  return relative_path_fault(text) == RelativePathFault::kNone;
}

Status check_plain_relative(std::string_view text) {
  if (is_plain_relative(text)) return {};
  return make_error("Expected a relative path inside in_directory: " + std::string(text));
}

Result<Path> resolve_inside(const Path& base, std::string_view relative) {
  ZV_TRY_STATUS(check_plain_relative(relative));
  Path joined = base / path_from_text(relative);
  // Without ".." in the base, a plain relative path cannot leave it, and the
  // link test of the joined path walks the base's prefixes too: that walk
  // alone decides.
  if (!has_parent_component(base)) {
    ZV_TRY_STATUS(check_no_symlinks(joined));
    return joined;
  }
  ZV_TRY(const Path resolved_joined, resolve_path(joined));
  ZV_TRY(const Path resolved_base, resolve_path(base));
  if (!starts_with_components(normal_components(resolved_joined),
                              normal_components(resolved_base))) {
    return make_error("Path escapes directory: " + display_path(joined));
  }
  return joined;
}

Result<bool> same_path(const Path& a, const Path& b) {
  ZV_TRY(const Path resolved_a, resolve_path(a));
  ZV_TRY(const Path resolved_b, resolve_path(b));
  return normal_components(resolved_a) == normal_components(resolved_b);
}

bool path_within(const Path& inner, const Path& outer) {
  return starts_with_components(normal_components(inner), normal_components(outer));
}

bool path_equal(const Path& a, const Path& b) {
  return normal_components(a) == normal_components(b);
}

}  // namespace zeviziz
