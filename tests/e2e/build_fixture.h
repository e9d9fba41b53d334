// Helpers for the build and watch end-to-end tests, on top of e2e_util.h: a
// temporary project configured by --init, snapshots of its files, and runs
// of the real binary in the background (watch mode).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_util.h"

namespace zeviziz::build_e2e {

namespace fs = std::filesystem;
using e2e::read_text;
using e2e::write_text;
using RunResult = e2e::RunOutput;

// The binary under test, or empty when ZEVIZIZ_BINARY is not set.
inline std::string binary() {
  return e2e::binary_path();
}

// A running background process (watch mode); killed when destroyed.
class Background {
 public:
  Background(pid_t pid, fs::path out, fs::path err)
      : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background() { stop(); }

  std::string out() const { return read_text(out_); }
  std::string err() const { return read_text(err_); }

  // Waits until `done(out, err)` holds, polling; false after `timeout`.
  template <typename Pred>
  bool wait_for(Pred done, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done(out(), err())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done(out(), err());
  }

  // True while the process has not exited.
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_;
  fs::path out_;
  fs::path err_;
};

// A temporary project directory, removed at the end of the test.
class Project {
 public:
  Project() : root_(dir_.path()), logs_(root_ / ".logs") {
    fs::create_directories(root_ / "src");
    fs::create_directories(logs_);
  }
  Project(const Project&) = delete;
  Project& operator=(const Project&) = delete;

  // Writes the configuration that --init makes, with `extra` lines put into
  // [velt] after css_file and `tail` appended at the end.
  void configure(const std::string& extra = "", const std::string& tail = "") const {
    if (default_config_.empty()) {
      fs::remove(path("zeviziz.ini"));
      run({"--init"});
      default_config_ = read("zeviziz.ini");
    }
    std::string text = default_config_;
    const std::string anchor = "css_file='out/velt.css'\n";
    text.insert(text.find(anchor) + anchor.size(), extra);
    write("zeviziz.ini", text + tail);
  }

  const fs::path& root() const { return root_; }
  fs::path path(const std::string& rel) const { return root_ / rel; }

  void write(const std::string& rel, const std::string& text) const { write_text(path(rel), text); }
  std::string read(const std::string& rel) const { return read_text(path(rel)); }
  bool exists(const std::string& rel) const { return fs::exists(path(rel)); }
  void remove(const std::string& rel) const { fs::remove(path(rel)); }

  // Sets the modification time of `rel` to `seconds` since the epoch.
  void set_mtime(const std::string& rel, int64_t seconds) const {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path(rel).c_str(), times, 0);
  }

  // Every file below `rel` (recursively) with its content and nanosecond
  // modification time, to tell whether a run wrote anything.
  std::map<std::string, std::pair<std::string, int64_t>> snapshot(const std::string& rel) const {
    std::map<std::string, std::pair<std::string, int64_t>> files;
    if (!fs::exists(path(rel))) return files;
    for (const auto& entry : fs::recursive_directory_iterator(path(rel))) {
      struct stat info {};
      ::lstat(entry.path().c_str(), &info);
      int64_t ns = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
      std::string content = entry.is_regular_file() ? read_text(entry.path()) : "<dir>";
      files[fs::relative(entry.path(), root_).generic_string()] = {content, ns};
    }
    return files;
  }

  RunResult run(const std::vector<std::string>& args) const {
    return e2e::run_zeviziz(args, root_);
  }

  // Starts the binary in the background, with the environment variables
  // `env` ("NAME=value") added; output goes to files of its own.
  Background start(const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {}) const {
    fs::path out = logs_ / "bg-out.txt";
    fs::path err = logs_ / "bg-err.txt";
    return Background(spawn(args, env, out, err), out, err);
  }

 private:
  pid_t spawn(const std::vector<std::string>& args, std::vector<std::string> env,
              const fs::path& out, const fs::path& err) const {
    std::string program = binary();
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (std::string& arg : argv_text) argv.push_back(arg.data());
      argv.push_back(nullptr);
      int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out_fd, 1);
      ::dup2(err_fd, 2);
      if (::chdir(root_.c_str()) != 0) ::_exit(126);
      for (std::string& setting : env) ::putenv(setting.data());
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    return pid;
  }

  e2e::TempDir dir_;
  fs::path root_;
  fs::path logs_;  // background output, outside the project's own files
  mutable std::string default_config_;
};

}  // namespace zeviziz::build_e2e
