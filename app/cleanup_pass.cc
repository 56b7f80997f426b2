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

// What became of one task's keys.
struct KeysOutcome {
  bool deleted = false;  // one of them went: the scheduler holds the task until it restarts
  bool gone = false;     // none of them is left: each deleted or not there
};

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
// about, backed up and deleted through what the plan opened. A Tree key not
// there has no Tasks key to find: nothing is left of them.
KeysOutcome removeTaskCacheEntries(const DangerousTask& danger, RunRecord* runRecord) {
  const KeysPlan plan = planKeyRemoval(registryTaskPath(danger.task.uri, danger.taskPath));
  if (plan.treeFound != ErrorSuccess) {
    reportOpenFailure(*runRecord, plan);
    return {false, plan.treeFound == ErrorNotFound};
  }
  if (plan.tasksKey.empty()) {
    recordLine(*runRecord, "no usable Id in", machineKey(plan.treeKey));
    return {};
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
    return {};
  }
  // Backed up before they go, so that a mistake can be undone.
  backupKeys(runRecord, snapshotPlannedKeys(plan));
  const KeysRemoval removal = removeKeys(plan);
  const bool treeGone = reportKey(*runRecord, plan.treeKey, removal.tree);
  const bool treeDeleted = removal.tree.result == ErrorSuccess;
  if (removal.tasksKept) {
    showDeletion(plan.tasksKey, false);
    recordLine(*runRecord, "key not deleted, its Path names another task, " + plan.owner,
               machineKey(plan.tasksKey));
    return {treeDeleted, false};
  }
  const bool tasksGone = reportKey(*runRecord, plan.tasksKey, removal.tasks);
  return {treeDeleted || removal.tasks.result == ErrorSuccess, treeGone && tasksGone};
}

std::string recordedOutcome(const PayloadRemoval& removal) {
  const std::string code = std::to_string(removal.code);
  switch (removal.outcome) {
    case PayloadOutcome::Kept: return "file kept by the user";
    case PayloadOutcome::Deleted: return "file deleted";
    case PayloadOutcome::Scheduled:
      return "file in use by a running program, renamed and scheduled for deletion at restart";
    case PayloadOutcome::Failed:
      return std::string("file not deleted, ") +
             (removal.inUse ? "in use by a running program, and not scheduled for deletion at "
                              "restart, "
                            : "") +
             "error " + code;
    case PayloadOutcome::Changed: return "file not deleted, no longer the file judged";
  }
  return std::string();
}

// Each process that ran the file, as stopping it went: a line on the
// console, an event in the record.
void reportStops(const PayloadRemoval& removal, const std::string& path,
                 const RunRecord& runRecord) {
  for (const ProcessStop& stop : removal.stopped) {
    writeOut(MsgStopProcessPrefix);
    writeOut(path);
    writeOut(MsgProcessIdLabel);
    writeNumber(StdStream::Out, stop.processId, 10);
    writeOut(stop.result == ErrorSuccess ? MsgOk : MsgFileFailed);
    endLine(StdStream::Out);
    const std::string process = path + " (process id " + std::to_string(stop.processId) + ")";
    if (stop.result == ErrorSuccess)
      recordLine(runRecord, "process stopped", process);
    else if (stop.result == ErrorTimedOut)
      recordLine(runRecord, "process not stopped, it did not end in time", process);
    else
      recordLine(runRecord, "process not stopped, error " + std::to_string(stop.result), process);
  }
}

// A deleted name leaves the content under the file's other names.
void reportOtherNames(const OtherNames& other, const RunRecord& runRecord) {
  for (const std::string& name : other.paths) {
    writeOut(MsgOtherName);
    writeOut(name);
    endLine(StdStream::Out);
    recordLine(runRecord, "other name of the file, which keeps its content", name);
  }
  if (other.listed == ErrorSuccess) return;
  writeOut(MsgOtherNamesUnlisted);
  endLine(StdStream::Out);
  recordLine(
      runRecord, "other names of the file not listed, error " + std::to_string(other.listed),
      std::to_string(other.count - other.paths.size()) + " of " + std::to_string(other.count));
}

PayloadRemoval removePayloadFile(const DangerousTask& danger, const RunRecord& runRecord) {
  // The same path the verdict fingerprinted.
  const std::string& path = danger.executable;
  setColour(ColourRed);
  writeOut(MsgAskDeleteExeHead);
  writeOut(path);
  writeOut(MsgAskDeleteExeTail);
  setColour(ColourNormal);
  // A file cannot be deleted while it runs: the yes covers stopping it.
  const bool remove = askYesNo();
  recordAnswer(runRecord, "delete executable " + path, remove);
  PayloadRemoval removal;
  if (!remove) {
    writeOut(MsgExeKept);
    endLine(StdStream::Out);
  } else {
    PassRights rights = takeFileRights(FileRights::Removal);
    removal = removeIfStillThePayload(path);
    giveBackFileRights(runRecord, "backup and restore rights for the removal", std::move(rights));
    reportStops(removal, path, runRecord);
    writeOut(MsgExeDeletedPrefix);
    writeOut(path);
    writeOut(removal.outcome == PayloadOutcome::Deleted     ? MsgOk
             : removal.outcome == PayloadOutcome::Scheduled ? MsgFileScheduled
                                                            : MsgFileFailed);
    endLine(StdStream::Out);
  }
  recordLine(runRecord, recordedOutcome(removal), path);
  if (removal.outcome == PayloadOutcome::Deleted || removal.outcome == PayloadOutcome::Scheduled)
    reportOtherNames(removal.otherNames, runRecord);
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
    const KeysOutcome keys = removeTaskCacheEntries(danger, runRecord);
    // The executable's question comes whatever became of the keys.
    const PayloadRemoval removal = removePayloadFile(danger, *runRecord);
    if (keys.gone && executableGone(removal)) ++outcome.removed;
    // The scheduler holds a task whose keys are gone until it restarts, and
    // can still start the executable if it is there.
    if (removal.outcome == PayloadOutcome::Scheduled ||
        (keys.deleted && payloadMayRemain(removal))) {
      outcome.restartNeeded = true;
      recordLine(*runRecord, "restart needed",
                 removal.outcome == PayloadOutcome::Scheduled
                     ? "the file is deleted at restart"
                     : "the scheduler holds the task until it restarts, and its file is there");
    }
  }
  setColour(ColourGreen);
  writeOut(MsgAllDone);
  endLine(StdStream::Out);
  if (outcome.restartNeeded) {
    // What only the restart finishes: a file left to it, or a task the
    // scheduler still holds.
    setColour(ColourRed);
    writeOut(MsgRestartNeeded);
    endLine(StdStream::Out);
  }
  setColour(ColourNormal);
  pauseForKey();
  return outcome;
}
