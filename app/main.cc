// vorkelbraith-remover: finds the Win32/Vorkelbraith.C scheduled task and
// removes its registry cache keys and executable, each step confirmed.
#include "app/cleanup_pass.h"
#include "app/scan_pass.h"
#include "app/startup_screen.h"

int main() {
  RunRecord record;
  int status = ExitDone;
  switch (runStartupScreen(&record)) {
    case StartupOutcome::UserDeclined: return ExitDone;  // no record begun
    case StartupOutcome::NotAdministrator: status = ExitNotAdministrator; break;
    case StartupOutcome::ScanMayBegin: {
      const ScanResult scan = runScanPass(record);
      if (!scan.removalDeclined) runCleanupPass(scan.dangers, &record);
      break;
    }
  }
  endRunRecord(record, status);
  return status;
}
