// Helpers for end-to-end tests: a temporary project directory and a run of
// the real binary (path in the environment variable ZEVIZIZ_BINARY, set by
// CTest) in a chosen working directory, capturing both output streams.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zeviziz::e2e {

namespace fs = std::filesystem;

// What one run of the binary produced. `status` is the exit status, or -1
// when the process did not exit normally (or could not be started).
struct RunOutput {
  int status = -1;
  std::string out;
  std::string err;
};

// The binary under test; empty when ZEVIZIZ_BINARY is not set.
inline std::string binary_path() {
  const char* value = std::getenv("ZEVIZIZ_BINARY");
  return value == nullptr ? std::string() : std::string(value);
}

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zv-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& relative) const { return path_ / relative; }

 private:
  fs::path path_;
};

// Writes `text` to `path`, creating missing parent directories.
inline void write_text(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The whole content of `path`; empty when it cannot be read.
inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace detail {

// Reads both pipes until each reaches end of file.
inline void drain(int out_fd, int err_fd, RunOutput& result) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace detail

// Limits for one run, applied to the child before it starts the binary.
struct RunLimits {
  // Seconds of real time after which the process is killed (SIGALRM), so a
  // hang fails the test instead of stalling it; 0 for none.
  unsigned timeout_seconds = 0;
  // Largest address space in bytes (RLIMIT_AS); 0 for none.
  size_t address_space = 0;
};

// True when this program (and so the binary under test, built alike) runs
// with AddressSanitizer or ThreadSanitizer, whose shadow memory rules out
// address-space limits.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

// Runs the binary with `args` in `cwd`, standard input closed, and returns
// its exit status and both outputs.
inline RunOutput run_zeviziz(const std::vector<std::string>& args, const fs::path& cwd,
                             const RunLimits& limits = {}) {
  RunOutput result;
  const std::string binary = binary_path();
  int out_pipe[2], err_pipe[2];
  if (binary.empty() || ::pipe(out_pipe) != 0) return result;
  if (::pipe(err_pipe) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (limits.address_space != 0) {
      const rlimit limit{limits.address_space, limits.address_space};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (limits.timeout_seconds != 0) ::alarm(limits.timeout_seconds);  // survives execv
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (pid < 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    return result;
  }
  detail::drain(out_pipe[0], err_pipe[0], result);
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

}  // namespace zeviziz::e2e
