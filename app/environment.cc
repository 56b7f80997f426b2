#include "app/environment.h"

#include "platform/platform.h"

std::string getSystemRoot() { return platformSystemRoot(); }

bool isUserAdmin() { return platformIsAdministrator(); }

std::string taskStoreRoot(const std::string& systemRoot) {
  return systemRoot + "\\System32\\Tasks";
}

PassRights takeFileRights(FileRights wanted) { return platformBeginFileRights(wanted); }

void giveBackFileRights(const RunRecord& record, const std::string& label, PassRights taken) {
  const bool asBefore = platformEndFileRights(std::move(taken.rights));
  recordLine(record, label,
             std::string(taken.inForce ? "in force" : "not in force") +
                 (asBefore ? "" : ", and the rights were not as before afterwards"));
}
