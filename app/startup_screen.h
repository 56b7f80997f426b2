// The first screen: banner, environment check, safety notice, consent and
// the administrator gate.
#ifndef VORKELBRAITH_APP_STARTUP_SCREEN_H_
#define VORKELBRAITH_APP_STARTUP_SCREEN_H_

#include <string>

/// SYSTEMROOT, or the text shown when it is missing, used as if it were
/// the directory.
std::string getSystemRoot();
/// True when the tool runs with administrator rights in force.
bool isUserAdmin();
/// Returns only when the scan may begin; otherwise ends the process, with
/// status 0 when the user declines and 1 without administrator rights.
void runStartupScreen();

#endif  // VORKELBRAITH_APP_STARTUP_SCREEN_H_
