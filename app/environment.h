// What the run learns of the machine it runs on.
#ifndef VORKEL_APP_ENVIRONMENT_H_
#define VORKEL_APP_ENVIRONMENT_H_

#include <string>

#include "platform/platform.h"
#include "record/run_record.h"

/// The system's folder, asked once at the start and carried; "" when the
/// system does not give it, and then nothing is scanned or written.
std::string getSystemRoot();
/// True when the tool runs with administrator rights in force.
bool isUserAdmin();
/// The scheduler's folder of task definitions below the system's folder.
std::string taskStoreRoot(const std::string& systemRoot);

/// The administrator's rights a pass reads or removes files with, while
/// they are in force; put back when the pass gives them back, or at the
/// latest when they go.
typedef FileRightsTaken PassRights;
PassRights takeFileRights(FileRights wanted);
/// What the system reported of the rights: in force while the pass ran,
/// and as before once they were given back.
struct RightsGivenBack {
  bool inForce = false;
  bool asBefore = false;
};
/// Puts them back.
RightsGivenBack giveBackFileRights(PassRights taken);

#endif  // VORKEL_APP_ENVIRONMENT_H_
