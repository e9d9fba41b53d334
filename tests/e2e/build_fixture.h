// Helpers for the build and watch end-to-end tests, on top of e2e_util.h: a
// temporary project with the default configuration, snapshots of its files,
// and runs of the real binary in the background (watch mode).
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

// The configuration that --init writes, with `extra` lines put into [velt]
// after css_file.
inline std::string default_config(const std::string& extra = "") {
  return "[velt]\nin_directory='src'\nout_directory='out'\ncss_file='out/velt.css'\n" + extra +
         R"(
[boundaries]
xml_comment[]='<!--','-->'
php_tag[]='<?php\s[1:]','?>'
php_tag_open_only[]='<?php\s[1:]',''
css_tag[]='<style\c[0:]>','</style>'
js_tag[]='<script\c[0:]>','</script>'
php_echo_tag[]='<?=','?>'
hash_comment[]="#",'\n'
doubleslash_comment[]='//','\n'
multiline_comment[]='/*','*/'
single_quotation_string[]="'","'"
double_quotation_string[]='"','"'
backtick_string[]='`','`'

[template.css]
extensions[]='.css'
templates[multiline_comment]=''

[template.js]
extensions[]='.js'
templates[multiline_comment]=''
templates[doubleslash_comment]=''
boundaries[]='single_quotation_string','double_quotation_string','backtick_string'

[template.html]
extensions[]='.html'
templates[xml_comment]=''
templates[css_tag]='css'
templates[js_tag]='js'
boundaries[]='double_quotation_string'

[template.php_code]
templates[multiline_comment]=''
templates[doubleslash_comment]=''
templates[hash_comment]=''
boundaries[]='single_quotation_string','double_quotation_string'

[template.php]
extensions[]='.php'
templates[php_tag]='php_code'
templates[php_tag_open_only]='php_code'
templates[php_echo_tag]='php_code'
templates[]='html'

[directive.at]
at-rule[base-only]='@media(max-width:319px)'
at-rule[xx-small]='@media(min-width:320px)'
at-rule[xx-small-only]='@media(min-width:320px) and (max-width:479px)'
at-rule[x-small]='@media(min-width:480px)'
at-rule[x-small-only]='@media(min-width:480px) and (max-width:639px)'
at-rule[small]='@media(min-width:640px)'
at-rule[small-only]='@media(min-width:640px) and (max-width:767px)'
at-rule[medium]='@media(min-width:768px)'
at-rule[medium-only]='@media(min-width:768px) and (max-width:1023px)'
at-rule[large]='@media(min-width:1024px)'
at-rule[large-only]='@media(min-width:1024px) and (max-width:1279px)'
at-rule[x-large]='@media(min-width:1280px)'
at-rule[x-large-only]='@media(min-width:1280px) and (max-width:1535px)'
at-rule[xx-large]='@media(min-width:1536px)')";
}

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

  // Starts the binary in the background; output goes to files of its own.
  Background start(const std::vector<std::string>& args) const {
    fs::path out = logs_ / "bg-out.txt";
    fs::path err = logs_ / "bg-err.txt";
    return Background(spawn(args, out, err), out, err);
  }

 private:
  pid_t spawn(const std::vector<std::string>& args, const fs::path& out,
              const fs::path& err) const {
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
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    return pid;
  }

  e2e::TempDir dir_;
  fs::path root_;
  fs::path logs_;  // background output, outside the project's own files
};

}  // namespace zeviziz::build_e2e
