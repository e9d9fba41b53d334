// Small POSIX helpers shared by the file operations and the batched write
// phase: system error texts, retrying interrupted calls, writing and copying
// whole file contents, and the wall clock in nanoseconds for temporary names.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "fs/file_ops.h"

namespace zeviziz {

// The system's text for `error_number` ("No such file or directory").
std::string system_text(int error_number);

// "display path: system text".
Error path_error(const Path& path, int error_number);

// True for the errors that mean a path does not exist (ENOENT, ENOTDIR).
bool is_absent_error(int error_number);

// Repeats `call` while it fails with EINTR; returns its last result.
template <typename Call>
auto retry_eintr(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

// Writes all of `bytes` to `fd`; returns 0 or an errno value.
int write_all(int fd, std::string_view bytes);

// Copies the rest of `source` into `target`, by copy_file_range where the
// kernel offers it, else through a buffer; returns 0 or an errno value.
int copy_contents(int source, int target);

// Nanoseconds since 1970 by the wall clock, 0 before it.
int64_t unix_nanos_now();

}  // namespace zeviziz
