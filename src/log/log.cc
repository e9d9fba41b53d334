// Diagnostic logging on standard output. Three process-wide positions (set
// once from the --log fields) switch filesystem lines, task lines and the
// timestamp on and decide on which side of a line the timestamp goes. Task
// lines are written when a task ends; consecutive runs of the same task are
// merged onto one open line, which every other writer closes first. One mutex
// keeps the open line and the output that ends it together; every write is
// flushed at once so that log lines interleave correctly with other output.
// A thread may hold its lines back in a buffer instead (HoldLogLines); they
// go through the same writing steps when the buffer is written.
#include "log/log.h"

#include <cstdio>
#include <mutex>

#include "base/unicode.h"

namespace zeviziz {
namespace {

LogPositions g_positions;
std::string* g_capture = nullptr;
// Where the calling thread's log lines are held, or null to write them.
thread_local HeldLogLines* t_held = nullptr;

// Guards the open task line and every write that may end it.
std::mutex& output_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Head of the task line that is open (written without its line feed).
std::optional<std::string>& open_line() {
  static std::optional<std::string> line;
  return line;
}

// Writes and flushes; the caller holds the output mutex when the open line
// matters.
void emit(std::string_view text) {
  if (g_capture != nullptr) {
    g_capture->append(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Ends the open task line; the caller holds the output mutex.
void close_open_line_locked() {
  if (!open_line().has_value()) return;
  open_line().reset();
  emit("\n");
}

uint8_t first_position(const std::vector<std::string>& fields, std::string_view word) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] == word) return static_cast<uint8_t>(i < 254 ? i : 254);
  }
  return kLogOff;
}

// The plain display form used in log lines: the path as given.
std::string plain_path(const std::filesystem::path& path) {
  return sanitize_utf8(path.native());
}

void write_filesystem_line(std::string line) {
  if (t_held != nullptr) {
    t_held->lines.push_back(HeldLogLines::Line{false, std::move(line), 0});
    return;
  }
  const LogPositions positions = g_positions;
  std::lock_guard<std::mutex> lock(output_mutex());
  close_open_line_locked();
  line = stamp(std::move(line), positions.filesystem);
  line.push_back('\n');
  emit(line);
}

}  // namespace

LogPositions log_positions_from_fields(const std::vector<std::string>& fields) {
  LogPositions positions;
  positions.filesystem = first_position(fields, "filesystem");
  positions.task = first_position(fields, "task");
  positions.time = first_position(fields, "time");
  return positions;
}

void set_log_positions(LogPositions positions) {
  g_positions = positions;
}

LogPositions log_positions() {
  return g_positions;
}

uint64_t unix_seconds_now() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

std::string stamp(std::string line, uint8_t own_position) {
  const uint8_t time_position = g_positions.time;
  if (time_position == kLogOff) return line;
  const std::string seconds = std::to_string(unix_seconds_now());
  if (time_position < own_position) return seconds + " " + line;
  line.push_back(' ');
  line.append(seconds);
  return line;
}

void log_filesystem(std::string_view operation, const std::filesystem::path& path) {
  if (g_positions.filesystem == kLogOff) return;
  std::string line = "filesystem ";
  line.append(operation).append(" ").append(plain_path(path));
  write_filesystem_line(std::move(line));
}

void log_filesystem(std::string_view operation, const std::filesystem::path& path,
                    const std::filesystem::path& second_path) {
  if (g_positions.filesystem == kLogOff) return;
  std::string line = "filesystem ";
  line.append(operation).append(" ").append(plain_path(path));
  line.append(" ").append(plain_path(second_path));
  write_filesystem_line(std::move(line));
}

void close_open_line() {
  std::lock_guard<std::mutex> lock(output_mutex());
  close_open_line_locked();
}

TaskGuard::TaskGuard(std::string_view name, std::string detail)
    : name_(name), detail_(std::move(detail)) {
  if (g_positions.task != kLogOff) start_ = std::chrono::steady_clock::now();
}

namespace {

// Writes one task line or extends the open one with `micros`.
void write_task_line(std::string head, int64_t micros) {
  const std::string duration = std::to_string(micros < 0 ? 0 : micros) + "us";
  std::lock_guard<std::mutex> lock(output_mutex());
  if (open_line().has_value() && *open_line() == head) {
    emit(" " + duration);
    return;
  }
  close_open_line_locked();
  emit(stamp(head + " " + duration, g_positions.task));
  open_line() = std::move(head);
}

}  // namespace

TaskGuard::~TaskGuard() {
  if (!start_.has_value() || g_positions.task == kLogOff) return;
  const auto elapsed = std::chrono::steady_clock::now() - *start_;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  std::string head = "task " + name_;
  if (!detail_.empty()) head.append(" ").append(detail_);
  if (t_held != nullptr) {
    t_held->lines.push_back(HeldLogLines::Line{true, std::move(head), micros});
    return;
  }
  write_task_line(std::move(head), micros);
}

void TaskGuard::add_earlier(std::chrono::steady_clock::duration earlier) {
  if (start_.has_value()) *start_ -= earlier;
}

HoldLogLines::HoldLogLines(HeldLogLines& held) : previous_(t_held) {
  t_held = &held;
}

HoldLogLines::~HoldLogLines() {
  t_held = previous_;
}

void write_held_lines(const HeldLogLines& held) {
  for (const HeldLogLines::Line& line : held.lines) {
    if (line.task) {
      if (g_positions.task != kLogOff) write_task_line(line.text, line.micros);
    } else if (g_positions.filesystem != kLogOff) {
      write_filesystem_line(line.text);
    }
  }
}

TaskGuard task_start(std::string_view name, std::string detail) {
  return TaskGuard(name, std::move(detail));
}

void set_stdout_capture(std::string* sink) {
  std::lock_guard<std::mutex> lock(output_mutex());
  g_capture = sink;
}

void write_stdout(std::string_view text) {
  std::lock_guard<std::mutex> lock(output_mutex());
  emit(text);
}

}  // namespace zeviziz
