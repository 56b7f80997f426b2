#include "app/cleanup_pass.h"

#include "app/environment.h"
#include "console/console.h"
#include "remedy/payload.h"
#include "remedy/task_cache.h"

namespace {

std::string machineKey(const std::string& subKey) { return "HKEY_LOCAL_MACHINE\\" + subKey; }

void showDeletion(const std::string& subKey, bool deleted) {
  writeOut(MsgDeletedPrefix);
  writeOut(subKey);
  writeOut(deleted ? MsgOk : MsgKeyFailed);
  endLine(StdStream::Out);
}

void recordDeletion(const RunRecord& runRecord, const std::string& subKey,
                    const KeyDeletion& deletion) {
  std::string outcome = deletion.result == ErrorSuccess    ? "key deleted"
                        : deletion.result == ErrorNotFound ? "key not found"
                        : deletion.result == ErrorKeyIsLink
                            ? std::string("key not deleted, it is a registry link")
                            : "key not deleted, error " + std::to_string(deletion.result);
  if (deletion.retried) outcome += deletion.result == ErrorSuccess
                                       ? " with the restore right"
                                       : " (also with the restore right)";
  recordLine(runRecord, outcome, machineKey(subKey));
}

// Whether the key is gone: deleted, or not there.
bool reportKey(const RunRecord& runRecord, const std::string& subKey,
               const KeyDeletion& deletion) {
  showDeletion(subKey, deletion.result == ErrorSuccess);
  recordDeletion(runRecord, subKey, deletion);
  return deletion.result == ErrorSuccess || deletion.result == ErrorNotFound;
}

void reportOpenFailure(const RunRecord& runRecord, const KeysPlan& plan) {
  recordLine(runRecord,
             plan.treeFound == ErrorNotFound    ? std::string("Tree key not found")
             : plan.treeFound == ErrorKeyIsLink ? std::string("Tree key is a registry link, not followed")
                                                : "Tree key not opened, error " +
                                                      std::to_string(plan.treeFound),
             machineKey(plan.treeKey));
  writeErr(MsgOpenKeyError);
  writeNumber(StdStream::Err, static_cast<uint32_t>(plan.treeFound), 16);
  writeErr(MsgRegistryAbort);
  endLine(StdStream::Err);
}

// The task's two keys: planned (opened, their owner read), shown, asked
// about, backed up and deleted through what the plan opened. Whether both
// are gone afterwards (a Tree key not there has none to find).
bool removeTaskCacheEntries(const DangerousTask& danger, RunRecord* runRecord) {
  const KeysPlan plan = planKeyRemoval(registryTaskPath(danger.task.uri, danger.taskPath));
  if (plan.treeFound != ErrorSuccess) {
    reportOpenFailure(*runRecord, plan);
    return plan.treeFound == ErrorNotFound;
  }
  if (plan.tasksKey.empty()) {
    recordLine(*runRecord, "no usable Id in", machineKey(plan.treeKey));
    return false;
  }
  writeOut(MsgTreeKeyFound);
  writeOut(plan.treeKey);
  endLine(StdStream::Out);
  writeOut(MsgTasksKeyFound);
  writeOut(plan.tasksKey);
  endLine(StdStream::Out);

  setColour(ColourRed);
  writeOut(MsgAskDeleteKeys);
  setColour(ColourNormal);
  const bool remove = askYesNo();
  recordAnswer(*runRecord, "delete registry keys " + machineKey(plan.treeKey) + " and " +
                               machineKey(plan.tasksKey),
               remove);
  if (!remove) {
    writeOut(MsgKeysKept);
    endLine(StdStream::Out);
    recordLine(*runRecord, "registry keys", "kept by the user");
    return false;
  }
  // Backed up before they go, so that a mistake can be undone.
  backupKeys(runRecord, snapshotPlannedKeys(plan));
  const KeysRemoval removal = removeKeys(plan);
  const bool treeGone = reportKey(*runRecord, plan.treeKey, removal.tree);
  if (removal.tasksKept) {
    showDeletion(plan.tasksKey, false);
    recordLine(*runRecord, "key not deleted, its Path names another task, " + plan.owner,
               machineKey(plan.tasksKey));
    return false;
  }
  return reportKey(*runRecord, plan.tasksKey, removal.tasks) && treeGone;
}

std::string recordedOutcome(const PayloadRemoval& removal) {
  switch (removal.outcome) {
    case PayloadOutcome::Kept: return "file kept by the user";
    case PayloadOutcome::Deleted: return "file deleted";
    case PayloadOutcome::Scheduled:
      return "file in use (error " + std::to_string(removal.code) +
             "), renamed and scheduled for deletion at restart";
    case PayloadOutcome::Failed: return "file not deleted, error " + std::to_string(removal.code);
    case PayloadOutcome::Changed: return "file not deleted, no longer the file judged";
  }
  return std::string();
}

PayloadRemoval removePayloadFile(const DangerousTask& danger, const RunRecord& runRecord) {
  // The same path the verdict fingerprinted.
  const std::string& path = danger.executable;
  setColour(ColourRed);
  writeOut(MsgAskDeleteExeHead);
  writeOut(path);
  writeOut(MsgAskDeleteExeTail);
  setColour(ColourNormal);
  const bool remove = askYesNo();
  recordAnswer(runRecord, "delete executable " + path, remove);
  PayloadRemoval removal;
  if (!remove) {
    writeOut(MsgExeKept);
    endLine(StdStream::Out);
  } else {
    const PassRights rights = takeFileRights(FileRights::Removal);
    removal = removeIfStillThePayload(path);
    giveBackFileRights(runRecord, "backup and restore rights for the removal", rights);
    writeOut(MsgExeDeletedPrefix);
    writeOut(path);
    writeOut(removal.outcome == PayloadOutcome::Deleted     ? MsgOk
             : removal.outcome == PayloadOutcome::Scheduled ? MsgFileScheduled
                                                            : MsgFileFailed);
    endLine(StdStream::Out);
  }
  recordLine(runRecord, recordedOutcome(removal), path);
  return removal;
}

// Nothing of the executable is left: deleted, left to the restart, or not
// there (another task's step deleted it).
bool executableGone(const PayloadRemoval& removal) {
  return removal.outcome == PayloadOutcome::Deleted ||
         removal.outcome == PayloadOutcome::Scheduled ||
         (removal.outcome == PayloadOutcome::Failed && removal.code == ErrorNotFound);
}

}  // namespace

CleanupOutcome runCleanupPass(const DangerList& dangers, RunRecord* runRecord) {
  CleanupOutcome outcome;
  for (const DangerousTask& danger : dangers) {
    recordLine(*runRecord, "removing", danger.task.uri);
    setColour(ColourRed);
    writeOut(MsgRegistryStep);
    endLine(StdStream::Out);
    setColour(ColourNormal);
    const bool keysGone = removeTaskCacheEntries(danger, runRecord);
    // The executable's question comes whatever became of the keys.
    const PayloadRemoval removal = removePayloadFile(danger, *runRecord);
    if (removal.outcome == PayloadOutcome::Scheduled) outcome.restartNeeded = true;
    if (keysGone && executableGone(removal)) ++outcome.removed;
  }
  setColour(ColourGreen);
  writeOut(MsgAllDone);
  endLine(StdStream::Out);
  if (outcome.restartNeeded) {
    // A file left to the next restart is still there until then.
    setColour(ColourRed);
    writeOut(MsgRestartNeeded);
    endLine(StdStream::Out);
  }
  setColour(ColourNormal);
  runShellCommand("pause");
  flushOut();
  return outcome;
}
