#include "app/environment.h"

#include "platform/platform.h"

std::string getSystemRoot() { return platformSystemRoot(); }

bool isUserAdmin() { return platformIsAdministrator(); }

std::string taskStoreRoot(const std::string& systemRoot) {
  return systemRoot + "\\System32\\Tasks";
}

PassRights takeFileRights(FileRights wanted) { return platformBeginFileRights(wanted); }

RightsGivenBack giveBackFileRights(PassRights taken) {
  RightsGivenBack given;
  given.inForce = taken.inForce;
  given.asBefore = platformEndFileRights(std::move(taken.rights));
  return given;
}
