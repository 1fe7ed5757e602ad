// The last line and the exit status of the commands that move photos between the database and files
// (restore, export), in the form of card-photo import's, so that scripts read them all alike.
#pragma once

#include <cstdio>

#include "tools/ConsoleText.h"
#include "tools/Interrupt.h"

namespace tools {

struct TransferCounts {
  int selected = 0;  // readers (or backup files) the command set out to handle
  int done = 0;      // photos written (restore, export), or that would be written (dry run)
  int failed = 0;
  int noFile = 0;    // readers without a photo to write
  bool dryRun = false;
  bool interrupted = false;
};

// "selected=N stored=N failed=N nofile=N"; a dry run says ready= instead of stored=.
inline void PrintSummary(const TransferCounts& counts) {
  tools::Printf("selected=%d %s=%d failed=%d nofile=%d\n", counts.selected, counts.dryRun ? "ready" : "stored",
              counts.done, counts.failed, counts.noFile);
}

// 130 when interrupted, 1 when some failed, else 0 (2, a command that could not start, is the caller's).
inline int ExitCodeOf(const TransferCounts& counts) {
  if (counts.interrupted) return kInterruptedExitCode;
  return counts.failed > 0 ? 1 : 0;
}

}  // namespace tools
