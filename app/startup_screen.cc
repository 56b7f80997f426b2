#include "app/startup_screen.h"

#include "app/environment.h"
#include "console/console.h"

namespace {

void line(MessageKey key) {
  writeOut(key);
  endLine(StdStream::Out);
}

// A refusal after the consent: on standard error in red, then the pause.
StartupOutcome refuse(MessageKey why, StartupOutcome outcome) {
  setColour(ColourRed);
  writeErr(why);
  endLine(StdStream::Err);
  setColour(ColourNormal);
  pauseForKey();
  return outcome;
}

}  // namespace

StartupOutcome runStartupScreen(const std::string& root, RunRecord* record) {
  clearScreen();
  setColour(ColourGreen);
  line(MsgBannerRule);
  line(MsgBannerTitle);
  line(MsgBannerAuthor);
  line(MsgBannerRule);

  setColour(ColourNormal);
  line(MsgEnvHeading);
  writeOut(MsgRoleLabel);
  line(isUserAdmin() ? MsgRoleAdmin : MsgRoleUser);
  writeOut(MsgRootLabel);
  if (root.empty())
    writeOut(MsgRootUnavailable);
  else
    writeOut(root);
  endLine(StdStream::Out);

  setColour(ColourRed);
  line(MsgNoticeHeading);
  line(MsgNotice1);
  line(MsgNotice2);

  setColour(ColourNormal);
  writeOut(MsgAskStart);
  if (!askYesNo()) {
    line(MsgUserCancelled);
    return StartupOutcome::UserDeclined;
  }
  // Asked afresh: rights can change while the user reads the screen.
  const bool administrator = isUserAdmin();
  // Without the system's folder there is no task store to scan and no
  // folder for the record: nothing is read or written on a guess.
  if (!root.empty()) {
    *record = beginRunRecord(root, administrator);
    recordAnswer(*record, "start the scan", true);
  }
  if (!administrator) {
    recordLine(*record, "refused", "not run as administrator");
    return refuse(MsgNeedAdmin, StartupOutcome::NotAdministrator);
  }
  if (root.empty()) return refuse(MsgScanCannotStart, StartupOutcome::ScanCannotStart);
  setColour(ColourGreen);
  line(MsgScanStart);
  setColour(ColourNormal);
  return StartupOutcome::ScanMayBegin;
}
