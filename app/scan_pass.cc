#include "app/scan_pass.h"

#include "app/environment.h"
#include "console/console.h"
#include "detect/verdict.h"
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

void recordDanger(const RunRecord& runRecord, const DangerousTask& danger) {
  recordLine(runRecord, "dangerous task", danger.definitionPath);
  recordLine(runRecord, "  uri", danger.task.uri);
  recordLine(runRecord, "  command", danger.task.command);
  recordLine(runRecord, "  arguments", danger.task.arguments);
  recordLine(runRecord, "  executable", danger.executable);
  recordLine(runRecord, "  md5", danger.md5);
}

void reportDanger(const std::string& path, const TaskRecord& record) {
  setColour(ColourRed);
  writeOut(MsgDangerHead);
  writeOut(path);
  writeOut(MsgFieldRegistry);
  writeOut(record.uri);
  writeOut(MsgFieldExecute);
  writeOut(record.command);
  writeOut(MsgFieldArg);
  writeOut(record.arguments);
  endLine(StdStream::Out);
  setColour(ColourNormal);
}

}  // namespace

ScanResult runScanPass(const RunRecord& runRecord) {
  const std::string store = taskStoreRoot();
  // The backup right passes over a definition's or an executable's access
  // list; it is given back before anything is asked.
  const PassRights rights = takeFileRights(FileRights::Scan);
  const std::vector<std::string> files = collectTaskFiles(store).files;
  recordLine(runRecord, "task store", store);

  ScanResult result;
  DangerList& dangers = result.dangers;
  uint32_t number = 0;
  for (const std::string& path : files) {
    TaskRecord record = readTaskDefinition(path);
    showProgress(number++);
    TaskVerdict verdict = judgeTask(record);
    if (!verdict.dangerous) continue;
    reportDanger(path, record);
    DangerousTask danger = {std::move(record), path, "\\" + path.substr(store.size() + 1),
                            std::move(verdict.executable), std::move(verdict.md5)};
    recordDanger(runRecord, danger);
    dangers.push_back(std::move(danger));
  }
  giveBackFileRights(runRecord, "backup right for the scan", rights);
  recordLine(runRecord, "definitions read", std::to_string(files.size()));

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
