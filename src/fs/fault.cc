// Fault injection: parses ZEVIZIZ_FAULT once and counts the operations that
// call fault_point(). Tests drive every write point of a build through it
// (ending the process, failing with ENOSPC, or pausing it) to check that no
// interruption leaves a later run with wrong outputs.
#include "fs/fault.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace zeviziz {
namespace {

enum class FaultAction { None, Exit, NoSpace, Stop };

struct FaultPlan {
  FaultAction action = FaultAction::None;
  uint64_t ordinal = 0;
};

FaultPlan read_plan() {
  const char* value = std::getenv("ZEVIZIZ_FAULT");
  if (value == nullptr) return {};
  const std::string_view text = value;
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return {};
  const std::string_view name = text.substr(0, colon);
  const std::string_view number = text.substr(colon + 1);
  FaultPlan plan;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), plan.ordinal);
  if (error != std::errc() || end != number.data() + number.size() || plan.ordinal == 0) return {};
  if (name == "exit") plan.action = FaultAction::Exit;
  if (name == "enospc") plan.action = FaultAction::NoSpace;
  if (name == "stop") plan.action = FaultAction::Stop;
  return plan;
}

}  // namespace

int fault_point() {
  static const FaultPlan plan = read_plan();
  static std::atomic<uint64_t> count{0};
  if (plan.action == FaultAction::None) return 0;
  if (count.fetch_add(1) + 1 != plan.ordinal) return 0;
  switch (plan.action) {
    case FaultAction::Exit:
      ::_exit(kFaultExitStatus);
    case FaultAction::NoSpace:
      return ENOSPC;
    case FaultAction::Stop:
      ::raise(SIGSTOP);
      return 0;
    case FaultAction::None:
      break;
  }
  return 0;
}

}  // namespace zeviziz
