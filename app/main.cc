// vorkelbraith-remover: finds the Win32/Vorkelbraith.C scheduled task and
// removes its registry cache keys and executable, each step confirmed.
#include "app/cleanup_pass.h"
#include "app/scan_pass.h"
#include "app/startup_screen.h"

int main() {
  RunRecord record;
  switch (runStartupScreen(&record)) {
    case StartupOutcome::UserDeclined: return 0;
    case StartupOutcome::NotAdministrator: return 1;
    case StartupOutcome::ScanMayBegin: break;
  }
  ScanResult scan = runScanPass(record);
  int status = 0;
  if (!scan.removalDeclined) status = runCleanupPass(scan.dangers, &record);
  endRunRecord(record, status);
  return status;
}
