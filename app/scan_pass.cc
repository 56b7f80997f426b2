#include "app/scan_pass.h"

#include "console/console.h"
#include "app/startup_screen.h"
#include "detect/executable_path.h"
#include "detect/verdict.h"
#include "tasks/task_store.h"

std::string taskStoreRoot() { return getSystemRoot() + "\\System32\\Tasks"; }

namespace {

void showProgress(uint32_t number) {
  setColour(ColourGreen);
  writeOut(MsgProgressHead);
  writeNumber(StdStream::Out, number, 10);
  writeOut(MsgProgressTail);
  flushOut();
  setColour(ColourNormal);
}

// A dangerous task's executable has the threat's fingerprint: the verdict
// found exactly that.
void recordDanger(const RunRecord& runRecord, const std::string& path, const TaskRecord& record) {
  recordLine(runRecord, "dangerous task", path);
  recordLine(runRecord, "  uri", record.uri);
  recordLine(runRecord, "  command", record.command);
  recordLine(runRecord, "  arguments", record.arguments);
  recordLine(runRecord, "  executable", extractExecutablePath(record.arguments));
  recordLine(runRecord, "  md5", KnownPayloadMd5);
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
  std::vector<std::string> files;
  collectTaskFiles(store, &files);
  recordLine(runRecord, "task store", store);

  ScanResult result;
  DangerList& dangers = result.dangers;
  uint32_t number = 0;
  for (const std::string& path : files) {
    TaskRecord record = readTaskDefinition(path);
    showProgress(number++);
    if (isDangerousTask(record)) {
      reportDanger(path, record);
      recordDanger(runRecord, path, record);
      dangers.push_back(std::move(record));
    }
  }
  recordLine(runRecord, "definitions read", std::to_string(files.size()));

  setColour(ColourGreen);
  writeOut(MsgScanDone);
  setColour(ColourNormal);
  if (dangers.empty()) return result;

  writeOut(MsgNewline);
  setColour(ColourRed);
  for (const TaskRecord& record : dangers) {
    writeOut(MsgDangerTag);
    writeOut(record.uri);
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
