#include "app/startup_screen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/messages.h"
#include "tests/test_support.h"

namespace {

// cmd's pause on a Chinese Windows (GBK, like every narrow literal here).
const std::string Pause = msg(MsgPressAnyKey) + "\r\n";

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
     startScreenText(MsgRoleAdmin, Root) + line(MsgUserCancelled), "", 0},
    {"admin, empty machine", "y", false, false,
     startScreenText(MsgRoleAdmin, Root) + line(MsgScanStart) + msg(MsgScanDone) + line(MsgAllDone) +
         Pause, "", 0},
    {"no SYSTEMROOT", "n", true, false,
     startScreenText(MsgRoleAdmin, msg(MsgRootUnavailable)) + line(MsgUserCancelled), "", 0},
    // Nothing to scan and no folder for the record: refused, and nothing written.
    {"no SYSTEMROOT, consents", "y", true, false,
     startScreenText(MsgRoleAdmin, msg(MsgRootUnavailable)) + Pause, line(MsgScanCannotStart), 2},
    {"user at end of input", "", false, true,
     startScreenText(MsgRoleUser, Root) + line(MsgUserCancelled), "", 0},
    {"user declines", "n", false, true, startScreenText(MsgRoleUser, Root) + line(MsgUserCancelled),
     "", 0},
    {"user consents", "y", false, true, startScreenText(MsgRoleUser, Root) + Pause, line(MsgNeedAdmin),
     1},
};

// Runs the built tool in an empty machine folder for each row of one kind;
// as root, the unprivileged rows drop to nobody, running a copy of the tool
// in a folder anyone may enter (the checkout need not be one).
void runRows(bool unprivileged) {
  const bool root = geteuid() == 0;
  ScopedTempDir reachable;
  std::string tool = nativeTool();
  if (unprivileged && root) {
    const std::string copy = reachable.path + "/vorkelbraith-remover";
    writeFile(copy, readFile(tool));
    ASSERT_EQ(0, chmod(copy.c_str(), 0755));
    tool = copy;
  }
  for (const Run& row : Runs) {
    if (row.unprivileged != unprivileged) continue;
    SCOPED_TRACE(row.name);
    std::vector<std::string> argv = {tool};
    if (unprivileged && root)
      argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    std::vector<std::string> set;
    if (!row.unsetRoot) set.push_back("SYSTEMROOT=" + Root);
    ScopedTempDir machine;
    ProcessResult run = runProcess(argv, machine.path, row.input, set, {"SYSTEMROOT"}, 30);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.status, row.status);
    if (row.unsetRoot) {
      EXPECT_EQ(std::vector<std::string>{}, listingOrder(machine.path));
    }
  }
}

TEST(StartupScreen, AdministratorRuns) {
  if (skipped(geteuid() != 0 ? "administrator runs need root" : "")) return;
  runRows(false);
}

TEST(StartupScreen, UnprivilegedRuns) { runRows(true); }

}  // namespace
