// One build of a project at a time: an exclusive lock on the configuration
// file, held for the length of a build cycle.
#pragma once

#include "fs/file_ops.h"

namespace zeviziz {

// An flock(2) lock on a file the project already has, so no lock file is
// added to the project or the output tree.
class ProjectLock {
 public:
  explicit ProjectLock(Path path);
  ~ProjectLock();
  ProjectLock(const ProjectLock&) = delete;
  ProjectLock& operator=(const ProjectLock&) = delete;

  // Takes the lock, waiting for another holder to release it; says once on
  // standard error that it waits ("zeviziz: waiting for another build of
  // this project"). A file that cannot be opened, or a file system without
  // locks, leaves the build unlocked without an error.
  void acquire();

  // Releases the lock when held.
  void release();

 private:
  Path path_;
  int fd_ = -1;
};

}  // namespace zeviziz
