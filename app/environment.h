// What the run learns of the machine it runs on.
#ifndef VORKEL_APP_ENVIRONMENT_H_
#define VORKEL_APP_ENVIRONMENT_H_

#include <string>

/// What stands for the directory when SYSTEMROOT is missing (the text of
/// MsgRootUnavailable, as UTF-8).
extern const char RootUnavailable[];

/// SYSTEMROOT, or RootUnavailable, used as if it were the directory.
std::string getSystemRoot();
/// True when the tool runs with administrator rights in force.
bool isUserAdmin();
/// The scheduler's folder of task definitions.
std::string taskStoreRoot();

#endif  // VORKEL_APP_ENVIRONMENT_H_
