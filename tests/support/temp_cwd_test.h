// A fixture base for tests that touch the file system: each test runs in a
// fresh temporary directory that is also the working directory, so relative
// paths and display forms are predictable; logging is reset afterwards.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "log/log.h"

namespace zeviziz {

class TempCwdTest : public ::testing::Test {
 protected:
  using Path = std::filesystem::path;

  void SetUp() override {
    old_cwd_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "zv-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    set_stdout_capture(nullptr);
    set_log_positions(LogPositions{});
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(root_);
  }
  // Writes `text` to `path`, creating missing parent directories.
  static void write(const Path& path, std::string_view text) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string slurp(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Sets the access and modification times of `path` itself (not of a link's
  // target).
  static void set_mtime(const Path& path, time_t seconds, long nanos = 0) {
    const struct timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }

  Path old_cwd_;
  Path root_;
};

}  // namespace zeviziz
