// The shared POSIX helpers of the file-system layer (see posix_io.h).
#include "fs/posix_io.h"

#include <unistd.h>

#include <chrono>
#include <system_error>

namespace zeviziz {

std::string system_text(int error_number) {
  return std::error_code(error_number, std::generic_category()).message();
}

Error path_error(const Path& path, int error_number) {
  return make_error(display_path(path) + ": " + system_text(error_number));
}

bool is_absent_error(int error_number) {
  return error_number == ENOENT || error_number == ENOTDIR;
}

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = retry_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (put < 0) return errno;
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return 0;
}

int copy_contents(int source, int target) {
  for (;;) {
    const ssize_t got = retry_eintr(
        [&] { return ::copy_file_range(source, nullptr, target, nullptr, size_t{1} << 30, 0); });
    if (got == 0) return 0;
    if (got > 0) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return errno;
    break;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = retry_eintr([&] { return ::read(source, buffer, sizeof buffer); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (const int error_number = write_all(target, std::string_view(buffer, got))) {
      return error_number;
    }
  }
}

int64_t unix_nanos_now() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  return nanos < 0 ? 0 : nanos;
}

}  // namespace zeviziz
