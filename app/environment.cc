#include "app/environment.h"

#include "platform/platform.h"

const char RootUnavailable[] = u8"获取失败";

std::string getSystemRoot() {
  std::string root;
  if (!platformSystemRoot(&root)) return RootUnavailable;
  return root;
}

bool isUserAdmin() { return platformIsAdministrator(); }

std::string taskStoreRoot() { return getSystemRoot() + "\\System32\\Tasks"; }

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
