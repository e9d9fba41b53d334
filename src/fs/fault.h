// Fault injection for tests of the write phase. The environment variable
// ZEVIZIZ_FAULT, read once at the first use, names one action and the
// ordinal of the write-phase operation (creating, writing, copying, syncing,
// renaming or removing a file) at which it happens:
//   exit:N    the process ends with _exit(99) just before operation N;
//   enospc:N  operation N fails with "No space left on device";
//   stop:N    the process stops itself (SIGSTOP) before operation N and goes
//             on when continued, so a test can act at that moment.
// Without the variable (or with a value it cannot read) nothing happens.
#pragma once

namespace zeviziz {

// Exit status of the "exit" action.
inline constexpr int kFaultExitStatus = 99;

// Counts one write-phase operation and applies the configured fault when
// this is its ordinal. Returns 0 to go on, or the errno value the operation
// must fail with.
int fault_point();

}  // namespace zeviziz
