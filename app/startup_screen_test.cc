#include "app/startup_screen.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/messages.h"
#include "tests/test_support.h"

namespace {

std::string text(MessageKey key) { return MessageCatalogue[key]; }
std::string line(MessageKey key) { return text(key) + "\n"; }

// Everything up to and including the consent question.
std::string screen(MessageKey role, const std::string& root) {
  return line(MsgBannerRule) + line(MsgBannerTitle) + line(MsgBannerAuthor) +
         line(MsgBannerRule) + line(MsgEnvHeading) + text(MsgRoleLabel) + line(role) +
         text(MsgRootLabel) + root + "\n" + line(MsgNoticeHeading) + line(MsgNotice1) +
         line(MsgNotice2) + text(MsgAskStart);
}

// cmd's pause on a Chinese Windows (GBK, like every narrow literal here).
const std::string Pause = std::string("请按任意键继续. . .") + "\n";

struct Run {
  const char* name;
  std::string input;
  bool unsetRoot;
  bool unprivileged;
  std::string out, err;
  int status;
};

const std::string Root = "C:\\Windows";

const Run Runs[] = {
    {"admin declines", "n", false, false,
     screen(MsgRoleAdmin, Root) + line(MsgUserCancelled), "", 0},
    {"admin, empty machine", "y", false, false,
     screen(MsgRoleAdmin, Root) + line(MsgScanStart) + text(MsgScanDone) + line(MsgAllDone) +
         Pause, "", 0},
    {"no SYSTEMROOT", "n", true, false,
     screen(MsgRoleAdmin, text(MsgRootUnavailable)) + line(MsgUserCancelled), "", 0},
    {"user at end of input", "", false, true,
     screen(MsgRoleUser, Root) + line(MsgUserCancelled), "", 0},
    {"user declines", "n", false, true, screen(MsgRoleUser, Root) + line(MsgUserCancelled),
     "", 0},
    {"user consents", "y", false, true, screen(MsgRoleUser, Root) + Pause, line(MsgNeedAdmin),
     1},
};

// Runs the built tool in an empty machine folder for each row of one kind;
// as root, the unprivileged rows drop to nobody.
void runRows(bool unprivileged) {
  const bool root = geteuid() == 0;
  for (const Run& row : Runs) {
    if (row.unprivileged != unprivileged) continue;
    SCOPED_TRACE(row.name);
    std::vector<std::string> argv = {sourcePath("build/native/vorkelbraith-remover")};
    if (unprivileged && root)
      argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    std::vector<std::string> set;
    if (!row.unsetRoot) set.push_back("SYSTEMROOT=" + Root);
    ScopedTempDir machine;
    ProcessResult run = runProcess(argv, machine.path, row.input, set, {"SYSTEMROOT"}, 30);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.status, row.status);
  }
}

TEST(StartupScreen, AdministratorRuns) {
  if (geteuid() != 0) GTEST_SKIP() << "administrator runs need root";
  runRows(false);
}

TEST(StartupScreen, UnprivilegedRuns) { runRows(true); }

}  // namespace
