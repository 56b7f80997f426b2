#include "app/environment.h"

#include "platform/platform.h"

std::string getSystemRoot() {
  std::string root;
  if (!platformSystemRoot(&root)) return std::string();
  return root;
}

bool isUserAdmin() { return platformIsAdministrator(); }

std::string taskStoreRoot(const std::string& systemRoot) {
  return systemRoot + "\\System32\\Tasks";
}

PassRights takeFileRights(FileRights wanted) {
  PassRights taken = {nullptr, false};
  taken.rights = platformBeginFileRights(wanted, &taken.inForce);
  return taken;
}

void giveBackFileRights(const RunRecord& record, const std::string& label,
                        const PassRights& taken) {
  const bool asBefore = platformEndFileRights(taken.rights);
  recordLine(record, label,
             std::string(taken.inForce ? "in force" : "not in force") +
                 (asBefore ? "" : ", and the rights were not as before afterwards"));
}
