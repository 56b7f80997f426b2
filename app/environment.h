// What the run learns of the machine it runs on.
#ifndef VORKEL_APP_ENVIRONMENT_H_
#define VORKEL_APP_ENVIRONMENT_H_

#include <string>

#include "platform/platform.h"
#include "record/run_record.h"

/// What stands for the folder when the system does not give it (the text of
/// MsgRootUnavailable, as UTF-8).
extern const char RootUnavailable[];

/// The system's folder, or RootUnavailable, used as if it were the folder.
std::string getSystemRoot();
/// True when the tool runs with administrator rights in force.
bool isUserAdmin();
/// The scheduler's folder of task definitions.
std::string taskStoreRoot();

/// The administrator's rights a pass reads or removes files with, while
/// they are in force.
struct PassRights {
  PlatformRights* rights;
  bool inForce;
};
PassRights takeFileRights(FileRights wanted);
/// Puts them back, and records under label what the system reported.
void giveBackFileRights(const RunRecord& record, const std::string& label,
                        const PassRights& taken);

#endif  // VORKEL_APP_ENVIRONMENT_H_
