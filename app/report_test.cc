#include "app/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/console.h"
#include "tests/test_support.h"

namespace {

struct Shown {
  std::string out, err;
  std::vector<std::string> record;
};

// What show() writes, in this process: both streams caught in files, and
// the record's lines as the record writes them.
Shown shownBy(const Report& report) {
  ScopedTempDir folder;
  Shown shown;
  const std::string files[] = {folder.path + "/out", folder.path + "/err"};
  int saved[2];
  for (int stream = 0; stream < 2; ++stream) {
    const int file = open(files[stream].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    saved[stream] = dup(1 + stream);
    dup2(file, 1 + stream);
    close(file);
  }
  RunRecord runRecord;
  runRecord.logPath = folder.path + "/record";
  show(report, runRecord);
  flushOut();
  for (int stream = 0; stream < 2; ++stream) {
    dup2(saved[stream], 1 + stream);
    close(saved[stream]);
  }
  shown.out = readFile(files[0]);
  shown.err = readFile(files[1]);
  if (pathExists(runRecord.logPath))
    for (const std::string& written : splitLines(readFile(runRecord.logPath)))
      shown.record.push_back(written.substr(0, written.size() - 1));  // each ends in CR LF
  return shown;
}

const std::string Tree = std::string(TaskCacheBase) + "\\Tree\\T";
const std::string Tasks = std::string(TaskCacheBase) + "\\Tasks\\{1}";
const std::string Exe = "C:\\vk\\payload.exe";

KeysPlan plannedKeys(long treeFound, const std::string& tasksKey, const std::string& owner = "") {
  KeysPlan plan;
  plan.treeKey = Tree;
  plan.treeFound = treeFound;
  plan.tasksKey = tasksKey;
  plan.owner = owner;
  return plan;
}

KeyDeletion deletion(long result, bool retried = false) {
  KeyDeletion how;
  how.result = result;
  how.retried = retried;
  return how;
}

PayloadRemoval payloadRemoval(PayloadOutcome outcome, long code = 0, bool inUse = false) {
  PayloadRemoval removal;
  removal.outcome = outcome;
  removal.code = code;
  removal.inUse = inUse;
  return removal;
}

std::string deletedLine(const std::string& key, MessageKey how) {
  return msg(MsgDeletedPrefix) + key + line(how);
}

// Each outcome as the console shows it and the record holds it.
TEST(Report, ShowsAndRecordsEachOutcomeOnce) {
  const std::string hkTree = "HKEY_LOCAL_MACHINE\\" + Tree, hkTasks = "HKEY_LOCAL_MACHINE\\" + Tasks;
  PayloadRemoval stopped = payloadRemoval(PayloadOutcome::Deleted);
  stopped.stopped = {{41, ErrorSuccess}, {42, ErrorTimedOut}, {43, ErrorAccessDenied}};
  stopped.otherNames = {3, {"C:\\vk\\copy.exe"}, ErrorAccessDenied};
  const struct {
    const char* name;
    Report report;
    std::string out, err;
    std::vector<std::string> record;
  } rows[] = {
      {"both keys found", keysPlanReport(plannedKeys(ErrorSuccess, Tasks)),
       msg(MsgTreeKeyFound) + Tree + "\n" + msg(MsgTasksKeyFound) + Tasks + "\n", "", {}},
      {"no Tree key", keysPlanReport(plannedKeys(ErrorNotFound, "")), "",
       msg(MsgOpenKeyError) + "2" + line(MsgRegistryAbort), {"Tree key not found: " + hkTree}},
      {"Tree key a link", keysPlanReport(plannedKeys(ErrorKeyIsLink, "")), "",
       msg(MsgOpenKeyError) + "2a9" + line(MsgRegistryAbort),
       {"Tree key is a registry link, not followed: " + hkTree}},
      {"Tree key refused", keysPlanReport(plannedKeys(ErrorAccessDenied, "")), "",
       msg(MsgOpenKeyError) + "5" + line(MsgRegistryAbort),
       {"Tree key not opened, error 5: " + hkTree}},
      {"no usable Id", keysPlanReport(plannedKeys(ErrorSuccess, "")), "", "",
       {"no usable Id in: " + hkTree}},
      {"both deleted, one with the restore right",
       keysRemovalReport(plannedKeys(ErrorSuccess, Tasks),
                         {deletion(ErrorSuccess, true), deletion(ErrorNotFound), false}),
       deletedLine(Tree, MsgOk) + deletedLine(Tasks, MsgKeyFailed), "",
       {"key deleted with the restore right: " + hkTree, "key not found: " + hkTasks}},
      {"refused, and a link",
       keysRemovalReport(plannedKeys(ErrorSuccess, Tasks),
                         {deletion(ErrorAccessDenied, true), deletion(ErrorKeyIsLink), false}),
       deletedLine(Tree, MsgKeyFailed) + deletedLine(Tasks, MsgKeyFailed), "",
       {"key not deleted, error 5 (also with the restore right): " + hkTree,
        "key not deleted, it is a registry link: " + hkTasks}},
      {"Tasks key of another task",
       keysRemovalReport(plannedKeys(ErrorSuccess, Tasks, "\\Other"),
                         {deletion(ErrorSuccess), deletion(ErrorSuccess), true}),
       deletedLine(Tree, MsgOk) + deletedLine(Tasks, MsgKeyFailed), "",
       {"key deleted: " + hkTree,
        "key not deleted, its Path names another task, \\Other: " + hkTasks}},
      {"keys kept", keysKeptReport(), line(MsgKeysKept), "", {"registry keys: kept by the user"}},
      {"file kept", payloadReport(Exe, payloadRemoval(PayloadOutcome::Kept)), line(MsgExeKept),
       "", {"file kept by the user: " + Exe}},
      {"processes stopped, other names", payloadReport(Exe, stopped),
       msg(MsgStopProcessPrefix) + Exe + msg(MsgProcessIdLabel) + "41" + line(MsgOk) +
           msg(MsgStopProcessPrefix) + Exe + msg(MsgProcessIdLabel) + "42" + line(MsgFileFailed) +
           msg(MsgStopProcessPrefix) + Exe + msg(MsgProcessIdLabel) + "43" + line(MsgFileFailed) +
           msg(MsgExeDeletedPrefix) + Exe + line(MsgOk) + msg(MsgOtherName) + "C:\\vk\\copy.exe\n" +
           line(MsgOtherNamesUnlisted),
       "",
       {"process stopped: " + Exe + " (process id 41)",
        "process not stopped, it did not end in time: " + Exe + " (process id 42)",
        "process not stopped, error 5: " + Exe + " (process id 43)", "file deleted: " + Exe,
        "other name of the file, which keeps its content: C:\\vk\\copy.exe",
        "other names of the file not listed, error 5: 2 of 3"}},
      {"file left to the restart", payloadReport(Exe, payloadRemoval(PayloadOutcome::Scheduled)),
       msg(MsgExeDeletedPrefix) + Exe + line(MsgFileScheduled), "",
       {"file in use by a running program, renamed and scheduled for deletion at restart: " +
        Exe}},
      {"file in use, not scheduled",
       payloadReport(Exe, payloadRemoval(PayloadOutcome::Failed, ErrorAccessDenied, true)),
       msg(MsgExeDeletedPrefix) + Exe + line(MsgFileFailed), "",
       {"file not deleted, in use by a running program, and not scheduled for deletion at "
        "restart, error 5: " + Exe}},
      {"file changed", payloadReport(Exe, payloadRemoval(PayloadOutcome::Changed)),
       msg(MsgExeDeletedPrefix) + Exe + line(MsgFileFailed), "",
       {"file not deleted, no longer the file judged: " + Exe}},
      {"restart for a kept file", restartReport(payloadRemoval(PayloadOutcome::Kept)), "", "",
       {"restart needed: the scheduler holds the task until it restarts, and its file is there"}},
      {"rights not put back", rightsReport("rights", {true, false}), "", "",
       {"rights: in force, and the rights were not as before afterwards"}},
      {"end with a restart", cleanupEndReport(true), line(MsgAllDone) + line(MsgRestartNeeded), "",
       {}},
      {"definition refused", unreadReport("definition", Exe, {FileFailure::Refused, 32}),
       msg(MsgUnjudgedHead) + Exe + msg(MsgFieldErrorCode) + "20\n", "",
       {"not judged, definition could not be read, error 32: " + Exe}},
      {"cloud placeholder",
       unreadReport("executable", Exe, {FileFailure::ContentElsewhere, 0, 0x9000001a}),
       msg(MsgUnjudgedHead) + Exe + msg(MsgFieldReparseTag) + "9000001a\n", "",
       {"not judged, executable its content is held elsewhere, reparse tag 0x9000001a: " + Exe}},
      {"recall on open",
       unreadReport("executable", Exe, {FileFailure::ContentElsewhere, 0, 0, 0x400000}),
       msg(MsgUnjudgedHead) + Exe + msg(MsgFieldAttributes) + "400000\n", "",
       {"not judged, executable its content is held elsewhere, attributes 0x400000: " + Exe}},
      {"executable not there", unreadReport("executable", Exe, {FileFailure::Missing, 2}), "",
       "", {"executable not there (2): " + Exe}},
      {"link in the store", storeLinksReport({{"C:\\T\\l", "C:\\", false}}),
       msg(MsgStoreLinkHead) + "C:\\T\\l" + msg(MsgFieldLinkTarget) + "C:\\\n", "",
       {"link in the task store, not walked: C:\\T\\l -> C:\\"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Shown shown = shownBy(row.report);
    EXPECT_EQ(row.out, shown.out);
    EXPECT_EQ(row.err, shown.err);
    EXPECT_EQ(row.record, shown.record);
  }
}

}  // namespace
