#include "app/environment.h"

#include "platform/platform.h"

const char RootUnavailable[] = u8"获取失败";

std::string getSystemRoot() {
  std::string root;
  if (!platformGetEnvironment("SYSTEMROOT", &root)) return RootUnavailable;
  return root;
}

bool isUserAdmin() { return platformIsAdministrator(); }

std::string taskStoreRoot() { return getSystemRoot() + "\\System32\\Tasks"; }
