// The first screen: banner, environment check, safety notice, consent and
// the administrator gate.
#ifndef VORKELBRAITH_APP_STARTUP_SCREEN_H_
#define VORKELBRAITH_APP_STARTUP_SCREEN_H_

#include <string>

#include "record/run_record.h"

/// SYSTEMROOT, or the text shown when it is missing, used as if it were
/// the directory.
std::string getSystemRoot();
/// True when the tool runs with administrator rights in force.
bool isUserAdmin();

enum class StartupOutcome {
  ScanMayBegin,
  UserDeclined,      // the run ends, status 0
  NotAdministrator,  // refused after the pause, status 1
};
/// The start screen, its question and the administrator gate. Past the
/// user's consent the run's record begins in *record.
StartupOutcome runStartupScreen(RunRecord* record);

#endif  // VORKELBRAITH_APP_STARTUP_SCREEN_H_
