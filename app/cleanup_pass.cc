#include "app/cleanup_pass.h"

#include "app/environment.h"
#include "app/report.h"
#include "console/console.h"
#include "remedy/payload.h"
#include "remedy/task_cache.h"

namespace {

std::string machineKey(const std::string& subKey) { return "HKEY_LOCAL_MACHINE\\" + subKey; }

// Shows the question, takes the answer and records it.
bool ask(const Report& question, const RunRecord& runRecord, const std::string& asked) {
  show(question, runRecord);
  const bool yes = askYesNo();
  recordAnswer(runRecord, asked, yes);
  return yes;
}

// What became of one task's keys.
struct KeysOutcome {
  bool deleted = false;  // one of them went: the scheduler holds the task until it restarts
  bool gone = false;     // none of them is left: each deleted or not there
};

bool keyGone(const KeyDeletion& deletion) {
  return deletion.result == ErrorSuccess || deletion.result == ErrorNotFound;
}

// The task's two keys: planned (opened, their owner read) before anything
// is asked, then backed up and deleted through what the plan opened. A Tree
// key not there has no Tasks key to find: nothing is left of them.
KeysOutcome removeTaskCacheEntries(const DangerousTask& danger, RunRecord* runRecord) {
  const KeysPlan plan = planKeyRemoval(registryTaskPath(danger.task.uri, danger.taskPath));
  show(keysPlanReport(plan), *runRecord);
  if (plan.treeFound != ErrorSuccess) return {false, plan.treeFound == ErrorNotFound};
  if (plan.tasksKey.empty()) return {};
  if (!ask(keysQuestion(), *runRecord,
           "delete registry keys " + machineKey(plan.treeKey) + " and " +
               machineKey(plan.tasksKey))) {
    show(keysKeptReport(), *runRecord);
    return {};
  }
  // Backed up before they go, so that a mistake can be undone.
  backupKeys(runRecord, snapshotPlannedKeys(plan));
  const KeysRemoval removal = removeKeys(plan);
  show(keysRemovalReport(plan, removal), *runRecord);
  const bool treeDeleted = removal.tree.result == ErrorSuccess;
  if (removal.tasksKept) return {treeDeleted, false};
  return {treeDeleted || removal.tasks.result == ErrorSuccess,
          keyGone(removal.tree) && keyGone(removal.tasks)};
}

PayloadRemoval removePayloadFile(const DangerousTask& danger, const RunRecord& runRecord) {
  // The same path the verdict fingerprinted.
  const std::string& path = danger.executable;
  // A file cannot be deleted while it runs: the yes covers stopping it.
  PayloadRemoval removal;
  if (ask(executableQuestion(path), runRecord, "delete executable " + path)) {
    const PassRights rights = takeFileRights(FileRights::Removal);
    removal = removeIfStillThePayload(path);
    giveBackFileRights(runRecord, "backup and restore rights for the removal", rights);
  }
  show(payloadReport(path, removal), runRecord);
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
    show(taskStepReport(danger), *runRecord);
    const KeysOutcome keys = removeTaskCacheEntries(danger, runRecord);
    // The executable's question comes whatever became of the keys.
    const PayloadRemoval removal = removePayloadFile(danger, *runRecord);
    if (keys.gone && executableGone(removal)) ++outcome.removed;
    // The scheduler holds a task whose keys are gone until it restarts, and
    // can still start the executable if it is there.
    if (removal.outcome == PayloadOutcome::Scheduled ||
        (keys.deleted && payloadMayRemain(removal))) {
      outcome.restartNeeded = true;
      show(restartReport(removal), *runRecord);
    }
  }
  show(cleanupEndReport(outcome.restartNeeded), *runRecord);
  pauseForKey();
  return outcome;
}
