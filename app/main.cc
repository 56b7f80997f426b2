// vorkelbraith-remover: finds the Win32/Vorkelbraith.C scheduled task and
// removes its registry cache keys and executable, each step confirmed.
#include "app/cleanup_pass.h"
#include "app/environment.h"
#include "app/exit_status.h"
#include "app/scan_pass.h"
#include "app/startup_screen.h"

int main() {
  const std::string systemRoot = getSystemRoot();
  RunRecord record;
  RunOutcome outcome;
  int status = ExitDone;
  switch (runStartupScreen(systemRoot, &record)) {
    case StartupOutcome::UserDeclined: return ExitDone;  // no record begun
    case StartupOutcome::ScanCannotStart: return ExitScanCannotStart;  // no folder for one
    case StartupOutcome::NotAdministrator:
      outcome.administrator = false;
      status = ExitNotAdministrator;
      break;
    case StartupOutcome::ScanMayBegin: {
      const ScanResult scan = runScanPass(systemRoot, record);
      outcome.dangerous = static_cast<int>(scan.dangers.size());
      outcome.unjudged = scan.unjudged;
      if (scan.removalDeclined) {
        outcome.incomplete = outcome.dangerous;
        break;
      }
      const CleanupOutcome cleanup = runCleanupPass(scan.dangers, &record);
      outcome.removed = cleanup.removed;
      outcome.incomplete = outcome.dangerous - cleanup.removed;
      outcome.restart = cleanup.restartNeeded;
      break;
    }
  }
  endRunRecord(record, outcome, status);
  return status;
}
