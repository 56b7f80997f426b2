// The first screen: banner, environment check, safety notice, consent and
// the administrator gate.
#ifndef VORKELBRAITH_APP_STARTUP_SCREEN_H_
#define VORKELBRAITH_APP_STARTUP_SCREEN_H_

#include "record/run_record.h"

enum class StartupOutcome {
  ScanMayBegin,
  UserDeclined,      // the run ends
  NotAdministrator,  // refused after the pause
};
/// The start screen, its question and the administrator gate. Past the
/// user's consent the run's record begins in *record.
StartupOutcome runStartupScreen(RunRecord* record);

#endif  // VORKELBRAITH_APP_STARTUP_SCREEN_H_
