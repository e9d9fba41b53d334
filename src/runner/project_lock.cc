// The project lock: flock on the configuration file, opened read-only for
// each acquisition (an editor may have replaced the file since) and closed on
// release. A try-lock first, so that a waiting run can say why it waits.
#include "runner/project_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "log/log.h"

namespace zeviziz {

ProjectLock::ProjectLock(Path path) : path_(std::move(path)) {}

ProjectLock::~ProjectLock() {
  release();
}

void ProjectLock::acquire() {
  if (fd_ >= 0) return;
  // Non-blocking: a FIFO named as the configuration must not stall the run
  // here; only a regular file is locked, and loading refuses anything else.
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) return;
  struct stat info;
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    close_open_line();
    std::fflush(stdout);
    std::fputs("zeviziz: waiting for another build of this project\n", stderr);
    std::fflush(stderr);
    int locked;
    do {
      locked = ::flock(fd_, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) return;
  }
  // No locks on this file system: build without one.
  release();
}

void ProjectLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor releases the lock
  fd_ = -1;
}

}  // namespace zeviziz
