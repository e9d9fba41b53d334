// Optional diagnostic output on standard output: one line per file-system
// operation, timed task lines, and the timestamp placement shared by both.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeviziz {

inline constexpr uint8_t kLogOff = 255;

// Positions of the words filesystem, task and time in the --log fields (first
// occurrence, capped at 254), or kLogOff.
struct LogPositions {
  uint8_t filesystem = kLogOff;
  uint8_t task = kLogOff;
  uint8_t time = kLogOff;
};

// Derives the three positions from the --log fields.
LogPositions log_positions_from_fields(const std::vector<std::string>& fields);

// Sets the process-wide positions (once, before any work) and reads them.
void set_log_positions(LogPositions positions);
LogPositions log_positions();

// Whole seconds since 1970-01-01 UTC, 0 when the clock is earlier.
uint64_t unix_seconds_now();

// Returns `line` with the current seconds put before it (time position below
// `own_position`) or after it (otherwise); unchanged when time is off.
std::string stamp(std::string line, uint8_t own_position);

// Writes "filesystem OP PATH [PATH2]" when filesystem logging is on, after
// closing any open task line.
void log_filesystem(std::string_view operation, const std::filesystem::path& path);
void log_filesystem(std::string_view operation, const std::filesystem::path& path,
                    const std::filesystem::path& second_path);

// If a task line is open, ends it with a line feed. Every other writer of
// standard output calls this first.
void close_open_line();

// Times one named task; writes (or extends) the task line when destroyed.
class TaskGuard {
 public:
  TaskGuard(std::string_view name, std::string detail);
  ~TaskGuard();
  TaskGuard(const TaskGuard&) = delete;
  TaskGuard& operator=(const TaskGuard&) = delete;

  // Counts `earlier` (work of this task done before the guard was made, for
  // example on another thread) into the duration the guard reports.
  void add_earlier(std::chrono::steady_clock::duration earlier);

 private:
  std::string name_;
  std::string detail_;
  std::optional<std::chrono::steady_clock::time_point> start_;  // absent: not timed
};

// Starts a task guard: `TaskGuard guard = task_start("config.load", path);`.
// (Guaranteed copy elision makes this valid for the non-movable guard.)
TaskGuard task_start(std::string_view name, std::string detail = {});

// Log lines held back instead of written: filesystem lines and task lines
// (head and duration), in the order they happened. Written later by
// write_held_lines, which applies the timestamps and the merging of task
// lines as if they were being written then.
struct HeldLogLines {
  struct Line {
    bool task = false;
    std::string text;    // the filesystem line, or the task line's head
    int64_t micros = 0;  // a task's duration
  };
  std::vector<Line> lines;
};

// While an object of this class lives, the log lines of the calling thread
// go into `held` instead of standard output. Each worker thread of a build
// holds its lines this way so that they can be written in file-list order.
class HoldLogLines {
 public:
  explicit HoldLogLines(HeldLogLines& held);
  ~HoldLogLines();
  HoldLogLines(const HoldLogLines&) = delete;
  HoldLogLines& operator=(const HoldLogLines&) = delete;

 private:
  HeldLogLines* previous_;
};

// Writes held lines as the logging functions would have written them.
void write_held_lines(const HeldLogLines& held);

// Redirects everything this module (and the command outputs that go through
// write_stdout) would write to standard output into `sink`; nullptr restores
// standard output. For tests.
void set_stdout_capture(std::string* sink);

// Writes `text` to standard output (or the capture) and flushes.
void write_stdout(std::string_view text);

}  // namespace zeviziz
