// vorkelbraith-remover: finds the Win32/Vorkelbraith.C scheduled task and
// removes its registry cache keys and executable, each step confirmed.
#include "app/cleanup_pass.h"
#include "app/scan_pass.h"
#include "app/startup_screen.h"

int main() {
  runStartupScreen();
  DangerList dangers = runScanPass();
  return runCleanupPass(dangers);
}
