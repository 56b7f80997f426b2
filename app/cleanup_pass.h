// Removing what the scan found, then closing the run.
#ifndef VORKEL_APP_CLEANUP_PASS_H_
#define VORKEL_APP_CLEANUP_PASS_H_

#include "app/scan_pass.h"

struct CleanupOutcome {
  // A file was left for the system to delete at the next restart, or a
  // task's keys went while its executable stayed: the scheduler holds the
  // task until it restarts.
  bool restartNeeded = false;
  // Tasks of which nothing the tool removes is left: each key deleted or
  // not there, and the executable deleted (or left to the restart).
  int removed = 0;
};

/// For each task in order: its registry cache keys, then its executable,
/// each after its own question, each step into the run's record; then the
/// final line and the pause.
CleanupOutcome runCleanupPass(const DangerList& dangers, RunRecord* runRecord);

#endif  // VORKEL_APP_CLEANUP_PASS_H_
