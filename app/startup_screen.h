// The first screen: banner, environment check, safety notice, consent and
// the administrator gate.
#ifndef VORKEL_APP_STARTUP_SCREEN_H_
#define VORKEL_APP_STARTUP_SCREEN_H_

#include <string>

#include "record/run_record.h"

enum class StartupOutcome {
  ScanMayBegin,
  UserDeclined,      // the run ends
  NotAdministrator,  // refused after the pause
  ScanCannotStart,   // the system's folder is unknown: refused after the pause
};
/// The start screen, its question and the administrator gate, for the
/// system's folder systemRoot ("" when the system did not give it). Past the
/// user's consent the run's record begins in *record, in that folder; with
/// none there is no record.
StartupOutcome runStartupScreen(const std::string& systemRoot, RunRecord* record);

#endif  // VORKEL_APP_STARTUP_SCREEN_H_
