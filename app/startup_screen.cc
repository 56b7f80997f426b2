#include "app/startup_screen.h"

#include "app/environment.h"
#include "console/console.h"

namespace {

void line(MessageKey key) {
  writeOut(key);
  endLine(StdStream::Out);
}

}  // namespace

StartupOutcome runStartupScreen(RunRecord* record) {
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
  const std::string root = getSystemRoot();
  if (root == RootUnavailable)
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
  *record = beginRunRecord(root, administrator);
  recordAnswer(*record, "start the scan", true);
  if (administrator) {
    setColour(ColourGreen);
    line(MsgScanStart);
    setColour(ColourNormal);
    return StartupOutcome::ScanMayBegin;
  }
  recordLine(*record, "refused", "not run as administrator");
  setColour(ColourRed);
  writeErr(MsgNeedAdmin);
  endLine(StdStream::Err);
  setColour(ColourNormal);
  pauseForKey();
  return StartupOutcome::NotAdministrator;
}
