// Removing what the scan found, then closing the run.
#ifndef VORKELBRAITH_APP_CLEANUP_PASS_H_
#define VORKELBRAITH_APP_CLEANUP_PASS_H_

#include "app/scan_pass.h"

/// For each task in order: its registry cache keys, then its executable,
/// each after its own question, each step into the run's record. Returns
/// the exit status, 0.
int runCleanupPass(const DangerList& dangers, RunRecord* runRecord);

#endif  // VORKELBRAITH_APP_CLEANUP_PASS_H_
