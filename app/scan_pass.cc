#include "app/scan_pass.h"

#include <unordered_map>

#include "app/environment.h"
#include "app/report.h"
#include "console/console.h"
#include "detect/verdict.h"
#include "tasks/registry_tasks.h"
#include "tasks/task_actions.h"
#include "tasks/task_store.h"

namespace {

// What the scheduler's own copy of a task says it runs, once decoded; a
// value that does not follow the layout is judged not at all, and said so.
struct RegistryCopy {
  const RegistryTask* task = nullptr;
  RegistryActions actions;  // ok only when there is a value that reads right
};

RegistryCopy decodedCopy(const RunRecord& runRecord, const RegistryTask& task) {
  RegistryCopy copy;
  copy.task = &task;
  if (task.hasActions && task.actionsRead == ErrorSuccess)
    copy.actions = decodeTaskActions(task.actions);
  show(registryCopyReport(task, copy.actions), runRecord);
  return copy;
}

bool sameActions(const std::vector<TaskAction>& one, const std::vector<TaskAction>& other) {
  if (one.size() != other.size()) return false;
  for (size_t i = 0; i < one.size(); ++i)
    if (one[i].command != other[i].command || one[i].arguments != other[i].arguments)
      return false;
  return true;
}

// The registry's copy of each task, as the scheduler knows them, with what
// could not be read and which tasks its own list leaves out.
std::vector<RegistryCopy> readRegistryCopies(const RunRecord& runRecord,
                                             const RegistryTasks& registry) {
  show(registryWalkReport(registry), runRecord);
  std::vector<RegistryCopy> copies;
  for (const RegistryTask& task : registry.tasks) copies.push_back(decodedCopy(runRecord, task));
  return copies;
}

// A file the scan could not read is named; true when it counts as not judged.
bool reportUnread(const RunRecord& runRecord, const std::string& what, const std::string& path,
                  const WhyUnread& unread) {
  show(unreadReport(what, path, unread), runRecord);
  return contentUnknown(unread);
}

bool reportUnreadExecutable(const RunRecord& runRecord, const TaskVerdict& verdict) {
  return reportUnread(runRecord, "executable", verdict.executable, verdict.unread);
}

void reportDanger(const RunRecord& runRecord, DangerList* dangers, DangerousTask danger,
                  bool fromRegistry) {
  show(dangerReport(danger, fromRegistry), runRecord);
  dangers->push_back(std::move(danger));
}

}  // namespace

ScanResult runScanPass(const std::string& systemRoot, const RunRecord& runRecord) {
  const std::string store = taskStoreRoot(systemRoot);
  // The backup right passes over a definition's or an executable's access
  // list; it is given back before anything is asked.
  PassRights rights = takeFileRights(FileRights::Scan);
  const TaskStoreListing listing = collectTaskFiles(store);
  const std::vector<std::string>& files = listing.files;
  show(taskStoreReport(store), runRecord);

  const RegistryTasks registry = readRegistryTasks();
  std::vector<RegistryCopy> copies = readRegistryCopies(runRecord, registry);
  std::vector<bool> matched(copies.size(), false);
  // Each definition finds its copy by path at once, however many tasks.
  std::unordered_map<std::string, size_t> copyAt;
  for (size_t i = copies.size(); i-- > 0;) copyAt[comparableTaskPath(copies[i].task->path)] = i;

  ScanResult result;
  DangerList& dangers = result.dangers;
  show(storeLinksReport(listing.links), runRecord);
  uint32_t number = 0;
  for (const std::string& path : files) {
    TaskRecord record = readTaskDefinition(path);
    show(progressReport(number++), runRecord);
    if (reportUnread(runRecord, "definition", path, record.unread))
      ++result.unjudged;
    else if (record.unread.failure == FileFailure::None && !record.parsed)
      show(unparsableReport(path), runRecord);
    const std::string taskPath = "\\" + path.substr(store.size() + 1);
    // The scheduler's copy of the same task, which Windows 8 to 11 run.
    const RegistryCopy* copy = nullptr;
    const auto found = copyAt.find(comparableTaskPath(taskPath));
    if (found != copyAt.end() && !matched[found->second]) {
      matched[found->second] = true;
      copy = &copies[found->second];
    }
    TaskVerdict verdict = judgeTask(record);
    bool fromRegistry = false;
    if (copy != nullptr && copy->actions.ok) {
      // The same programs get the same verdict: their files are not read twice.
      const bool same = sameActions(copy->actions.programs, record.actions);
      if (!same) show(disagreementReport(path), runRecord);
      if (!verdict.dangerous && !same) {
        TaskVerdict registryVerdict = judgeActions(copy->actions.programs);
        fromRegistry = registryVerdict.dangerous;
        if (fromRegistry) verdict = std::move(registryVerdict);
      }
    }
    if (!verdict.dangerous) {
      result.unjudged += reportUnreadExecutable(runRecord, verdict);
      continue;
    }
    record.command = verdict.command;
    record.arguments = verdict.arguments;
    reportDanger(runRecord, &dangers,
                 {std::move(record), path, taskPath, std::move(verdict.executable),
                  std::move(verdict.md5)},
                 fromRegistry);
  }
  // The tasks only the registry has: the scheduler runs them all the same.
  for (size_t i = 0; i < copies.size(); ++i) {
    if (matched[i] || !copies[i].actions.ok) continue;
    TaskVerdict verdict = judgeActions(copies[i].actions.programs);
    if (!verdict.dangerous) {
      result.unjudged += reportUnreadExecutable(runRecord, verdict);
      continue;
    }
    const RegistryTask& task = *copies[i].task;
    TaskRecord record;
    record.uri = task.path;
    record.command = verdict.command;
    record.arguments = verdict.arguments;
    reportDanger(runRecord, &dangers,
                 {std::move(record), machineKey(task.treeKey), task.path,
                  std::move(verdict.executable), std::move(verdict.md5)},
                 true);
  }
  show(rightsReport("backup right for the scan", giveBackFileRights(std::move(rights))),
       runRecord);
  show(scanEndReport(files.size(), result.unjudged, dangers), runRecord);
  if (dangers.empty()) return result;
  const bool remove = askYesNo();
  recordAnswer(runRecord, "remove the dangerous tasks", remove);
  if (!remove) {
    show(removalDeclinedReport(), runRecord);
    result.removalDeclined = true;
  }
  return result;
}
