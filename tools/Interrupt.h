// Ctrl-C during a command that walks many readers: the command stops after the current reader, so that
// no reader is left half done, and exits with 130 as a shell expects of an interrupted program.
#pragma once

#include <atomic>
#include <csignal>

namespace tools {

inline constexpr int kInterruptedExitCode = 130;

inline std::atomic<bool>& InterruptRequested() {
  static std::atomic<bool> requested{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
  return requested;
}

inline void OnInterrupt(int) { InterruptRequested() = true; }

// From here on Ctrl-C only sets the request.
inline void StopAfterCurrentOnInterrupt() { std::signal(SIGINT, OnInterrupt); }

}  // namespace tools
