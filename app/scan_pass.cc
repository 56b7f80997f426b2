#include "app/scan_pass.h"

#include <unordered_map>

#include "app/environment.h"
#include "console/console.h"
#include "detect/verdict.h"
#include "tasks/registry_tasks.h"
#include "tasks/task_actions.h"
#include "tasks/task_store.h"

namespace {

void showProgress(uint32_t number) {
  setColour(ColourGreen);
  writeOut(MsgProgressHead);
  writeNumber(StdStream::Out, number, 10);
  writeOut(MsgProgressTail);
  flushOut();
  setColour(ColourNormal);
}

void recordDanger(const RunRecord& runRecord, const DangerousTask& danger, bool fromRegistry) {
  recordLine(runRecord, "dangerous task", danger.definitionPath);
  recordLine(runRecord, "  uri", danger.task.uri);
  recordLine(runRecord, "  command", danger.task.command);
  recordLine(runRecord, "  arguments", danger.task.arguments);
  if (fromRegistry) recordLine(runRecord, "  action from", "the registry's copy of the task");
  recordLine(runRecord, "  executable", danger.executable);
  recordLine(runRecord, "  md5", danger.md5);
}

// Shown with the action that matched, which the removal goes by.
void reportDanger(const std::string& where, const TaskRecord& record) {
  setColour(ColourRed);
  writeOut(MsgDangerHead);
  writeOut(where);
  writeOut(MsgFieldRegistry);
  writeOut(record.uri);
  writeOut(MsgFieldExecute);
  writeOut(record.command);
  writeOut(MsgFieldArg);
  writeOut(record.arguments);
  endLine(StdStream::Out);
  setColour(ColourNormal);
}

std::string hex(uint32_t value) {
  const char* digits = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return text;
}

// Why a file gave no content, as the record says it.
std::string whyUnread(FileFailure failure, long error, uint32_t reparseTag, uint32_t attributes) {
  switch (failure) {
    case FileFailure::None: break;
    case FileFailure::Missing: return "not there (" + std::to_string(error) + ")";
    case FileFailure::NotAFile: return "not a file";
    case FileFailure::Refused: return "could not be read, error " + std::to_string(error);
    case FileFailure::ContentElsewhere:
      return reparseTag != 0 ? "its content is held elsewhere, reparse tag 0x" + hex(reparseTag)
                             : "its content is held elsewhere, attributes 0x" + hex(attributes);
  }
  return std::string();
}

// A file whose content is unknown: it is not called clean. Named on the
// console in the danger report's colours and in the record; true when it
// counts as not judged. A file that is not there, or is no file, has
// nothing to judge: the record alone says so.
bool reportUnread(const RunRecord& runRecord, const std::string& what, const std::string& path,
                  FileFailure failure, long error, uint32_t reparseTag, uint32_t attributes) {
  if (failure == FileFailure::None) return false;
  const std::string why = whyUnread(failure, error, reparseTag, attributes);
  if (failure == FileFailure::Missing || failure == FileFailure::NotAFile) {
    recordLine(runRecord, what + " " + why, path);
    return false;
  }
  recordLine(runRecord, "not judged, " + what + " " + why, path);
  setColour(ColourRed);
  writeOut(MsgUnjudgedHead);
  writeOut(path);
  if (failure == FileFailure::Refused) {
    writeOut(MsgFieldErrorCode);
    writeNumber(StdStream::Out, static_cast<uint32_t>(error), 16);
  } else if (reparseTag != 0) {
    writeOut(MsgFieldReparseTag);
    writeNumber(StdStream::Out, reparseTag, 16);
  } else {
    writeOut(MsgFieldAttributes);
    writeNumber(StdStream::Out, attributes, 16);
  }
  endLine(StdStream::Out);
  setColour(ColourNormal);
  return true;
}

// The scheduler makes no links in its store: each is named.
void reportLinks(const RunRecord& runRecord, const std::vector<StoreLink>& links) {
  for (const StoreLink& link : links) {
    recordLine(runRecord, link.walked ? "link in the task store, walked" :
                                        "link in the task store, not walked",
               link.path + " -> " + link.target);
    setColour(ColourRed);
    writeOut(MsgStoreLinkHead);
    writeOut(link.path);
    writeOut(MsgFieldLinkTarget);
    writeOut(link.target);
    endLine(StdStream::Out);
    setColour(ColourNormal);
  }
}

bool reportUnreadExecutable(const RunRecord& runRecord, const TaskVerdict& verdict) {
  return reportUnread(runRecord, "executable", verdict.executable, verdict.failure, verdict.error,
                      verdict.reparseTag, verdict.attributes);
}

std::string machineKey(const std::string& subKey) { return "HKEY_LOCAL_MACHINE\\" + subKey; }

// What the scheduler's own copy of a task says it runs, once decoded; a
// value that does not follow the layout is judged not at all, and said so.
struct RegistryCopy {
  const RegistryTask* task = nullptr;
  RegistryActions actions;  // ok only when there is a value that reads right
};

RegistryCopy decodedCopy(const RunRecord& runRecord, const RegistryTask& task) {
  RegistryCopy copy;
  copy.task = &task;
  if (!task.hasActions) return copy;
  if (task.actionsRead != ErrorSuccess) {
    recordLine(runRecord, "Actions not read, error " + std::to_string(task.actionsRead),
               machineKey(task.treeKey));
    return copy;
  }
  copy.actions = decodeTaskActions(task.actions);
  if (!copy.actions.ok)
    recordLine(runRecord, "Actions not judged, " + copy.actions.reason, machineKey(task.treeKey));
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
  for (const UnreadKey& key : registry.unread)
    recordLine(runRecord, "registry key not read, error " + std::to_string(key.error),
               machineKey(key.key));
  std::vector<RegistryCopy> copies;
  for (const RegistryTask& task : registry.tasks) {
    if (!task.hiddenBecause.empty())
      recordLine(runRecord, "hidden task, " + task.hiddenBecause, machineKey(task.treeKey));
    copies.push_back(decodedCopy(runRecord, task));
  }
  return copies;
}

}  // namespace

ScanResult runScanPass(const std::string& systemRoot, const RunRecord& runRecord) {
  const std::string store = taskStoreRoot(systemRoot);
  // The backup right passes over a definition's or an executable's access
  // list; it is given back before anything is asked.
  const PassRights rights = takeFileRights(FileRights::Scan);
  const TaskStoreListing listing = collectTaskFiles(store);
  const std::vector<std::string>& files = listing.files;
  recordLine(runRecord, "task store", store);

  const RegistryTasks registry = readRegistryTasks();
  std::vector<RegistryCopy> copies = readRegistryCopies(runRecord, registry);
  std::vector<bool> matched(copies.size(), false);
  // Each definition finds its copy by path at once, however many tasks.
  std::unordered_map<std::string, size_t> copyAt;
  for (size_t i = copies.size(); i-- > 0;) copyAt[comparableTaskPath(copies[i].task->path)] = i;

  ScanResult result;
  DangerList& dangers = result.dangers;
  reportLinks(runRecord, listing.links);
  uint32_t number = 0;
  for (const std::string& path : files) {
    TaskRecord record = readTaskDefinition(path);
    showProgress(number++);
    if (reportUnread(runRecord, "definition", path, record.readFailure, record.readError,
                     record.reparseTag, record.attributes))
      ++result.unjudged;
    else if (record.readFailure == FileFailure::None && !record.parsed)
      recordLine(runRecord, "definition does not parse", path);
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
      if (!same)
        recordLine(runRecord, "the registry's copy starts other programs than the definition",
                   path);
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
    reportDanger(path, record);
    DangerousTask danger = {std::move(record), path, taskPath, std::move(verdict.executable),
                            std::move(verdict.md5)};
    recordDanger(runRecord, danger, fromRegistry);
    dangers.push_back(std::move(danger));
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
    const std::string where = machineKey(task.treeKey);
    reportDanger(where, record);
    DangerousTask danger = {std::move(record), where, task.path, std::move(verdict.executable),
                            std::move(verdict.md5)};
    recordDanger(runRecord, danger, true);
    dangers.push_back(std::move(danger));
  }
  giveBackFileRights(runRecord, "backup right for the scan", rights);
  recordLine(runRecord, "definitions read", std::to_string(files.size()));
  recordLine(runRecord, "not judged", std::to_string(result.unjudged));

  setColour(ColourGreen);
  writeOut(MsgScanDone);
  setColour(ColourNormal);
  if (dangers.empty()) return result;

  writeOut(MsgNewline);
  setColour(ColourRed);
  for (const DangerousTask& danger : dangers) {
    writeOut(MsgDangerTag);
    writeOut(danger.task.uri);
    endLine(StdStream::Out);
  }
  setColour(ColourNormal);
  writeOut(MsgAskDeleteAll);
  const bool remove = askYesNo();
  recordAnswer(runRecord, "remove the dangerous tasks", remove);
  if (!remove) {
    writeOut(MsgUserCancelled);
    endLine(StdStream::Out);
    result.removalDeclined = true;
  }
  return result;
}
