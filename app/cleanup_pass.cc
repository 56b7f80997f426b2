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

void removeKey(const RunRecord& runRecord, const std::string& subKey) {
  const KeyDeletion deletion = deleteCacheKey(subKey);
  showDeletion(subKey, deletion.result == ErrorSuccess);
  recordDeletion(runRecord, subKey, deletion);
}

void reportOpenFailure(const RunRecord& runRecord, const TaskCacheKeys& keys) {
  recordLine(runRecord,
             keys.treeOpened == ErrorNotFound    ? std::string("Tree key not found")
             : keys.treeOpened == ErrorKeyIsLink ? std::string("Tree key is a registry link, not followed")
                                                 : "Tree key not opened, error " +
                                                       std::to_string(keys.treeOpened),
             machineKey(keys.treeKey));
  writeErr(MsgOpenKeyError);
  writeNumber(StdStream::Err, static_cast<uint32_t>(keys.treeOpened), 16);
  writeErr(MsgRegistryAbort);
  endLine(StdStream::Err);
}

// The task's two keys: found, shown, asked about, backed up and deleted.
void removeTaskCacheEntries(const DangerousTask& danger, RunRecord* runRecord) {
  const std::string taskPath = registryTaskPath(danger.task.uri, danger.taskPath);
  const TaskCacheKeys keys = findTaskCacheKeys(taskPath);
  if (keys.treeOpened != ErrorSuccess) return reportOpenFailure(*runRecord, keys);
  if (keys.tasksKey.empty()) {
    recordLine(*runRecord, "no usable Id in", machineKey(keys.treeKey));
    return;
  }
  writeOut(MsgTreeKeyFound);
  writeOut(keys.treeKey);
  endLine(StdStream::Out);
  writeOut(MsgTasksKeyFound);
  writeOut(keys.tasksKey);
  endLine(StdStream::Out);

  setColour(ColourRed);
  writeOut(MsgAskDeleteKeys);
  setColour(ColourNormal);
  const bool remove = askYesNo();
  recordAnswer(*runRecord, "delete registry keys " + machineKey(keys.treeKey) + " and " +
                               machineKey(keys.tasksKey),
               remove);
  if (!remove) {
    writeOut(MsgKeysKept);
    endLine(StdStream::Out);
    recordLine(*runRecord, "registry keys", "kept by the user");
    return;
  }
  // Backed up before they go, so that a mistake can be undone.
  const KeySnapshot tasks = snapshotKey(keys.tasksKey);
  backupKeys(runRecord, {snapshotKey(keys.treeKey), tasks});
  removeKey(*runRecord, keys.treeKey);
  if (belongsToAnotherTask(tasks, danger.taskPath)) {
    showDeletion(keys.tasksKey, false);
    recordLine(*runRecord, "key not deleted, its Path names another task, " +
                               tasksKeyOwner(tasks),
               machineKey(keys.tasksKey));
    return;
  }
  removeKey(*runRecord, keys.tasksKey);
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

PayloadOutcome removePayloadFile(const DangerousTask& danger, const RunRecord& runRecord) {
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
  return removal.outcome;
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
    removeTaskCacheEntries(danger, runRecord);
    // The executable's question comes whatever became of the keys.
    if (removePayloadFile(danger, *runRecord) == PayloadOutcome::Scheduled)
      outcome.restartNeeded = true;
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
  pauseForKey();
  return outcome;
}
