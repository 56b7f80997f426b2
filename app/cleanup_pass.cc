#include "app/cleanup_pass.h"

#include "app/environment.h"
#include "app/report.h"
#include "console/console.h"
#include "remedy/payload.h"
#include "remedy/task_cache.h"

namespace {

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

// Whether the user wants the planned keys deleted. A Tree key that could
// not be read, or holds no usable Id, is not asked about.
bool askAboutKeys(const KeysPlan& plan, const RunRecord& runRecord) {
  if (plan.treeFound != ErrorSuccess || plan.tasksKey.empty()) return false;
  const bool yes = ask(keysQuestion(), runRecord,
                       "delete registry keys " + machineKey(plan.treeKey) + " and " +
                           machineKey(plan.tasksKey));
  if (!yes) show(keysKeptReport(), runRecord);
  return yes;
}

// Backs the planned keys up and deletes them through what the plan opened.
KeysOutcome deletePlannedKeys(const KeysPlan& plan, RunRecord* runRecord) {
  // Backed up before they go, so that a mistake can be undone.
  backupKeys(runRecord, snapshotPlannedKeys(plan));
  const KeysRemoval removal = removeKeys(plan);
  show(keysRemovalReport(plan, removal), *runRecord);
  const bool treeDeleted = removal.tree.result == ErrorSuccess;
  if (removal.tasksKept) return {treeDeleted, false};
  return {treeDeleted || removal.tasks.result == ErrorSuccess,
          keyGone(removal.tree) && keyGone(removal.tasks)};
}

// Deletes the executable if it is still the file judged, with the rights
// that pass over its access list, and says what became of it.
PayloadRemoval deletePayload(const std::string& path, const RunRecord& runRecord) {
  PassRights rights = takeFileRights(FileRights::Removal);
  const PayloadRemoval removal = removeIfStillThePayload(path);
  show(rightsReport("backup and restore rights for the removal",
                    giveBackFileRights(std::move(rights))),
       runRecord);
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
    // Both keys are found and opened before anything is asked.
    const KeysPlan plan = planKeyRemoval(registryTaskPath(danger.task.uri, danger.taskPath));
    show(keysPlanReport(plan), *runRecord);
    // A Tree key not there has no Tasks key to find: nothing is left of them.
    KeysOutcome keys = {false, plan.treeFound == ErrorNotFound};
    if (askAboutKeys(plan, *runRecord)) keys = deletePlannedKeys(plan, runRecord);
    // The executable's question comes whatever became of the keys; the
    // path is the one the verdict fingerprinted. A file cannot be deleted
    // while it runs: the yes covers stopping it.
    const std::string& path = danger.executable;
    PayloadRemoval removal;
    if (ask(executableQuestion(path), *runRecord, "delete executable " + path))
      removal = deletePayload(path, *runRecord);
    show(payloadReport(path, removal), *runRecord);
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
