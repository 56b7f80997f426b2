#include "app/scan_pass.h"

#include "console/console.h"
#include "app/startup_screen.h"
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

ScanResult runScanPass() {
  std::vector<std::string> files;
  collectTaskFiles(taskStoreRoot(), &files);

  ScanResult result;
  DangerList& dangers = result.dangers;
  uint32_t number = 0;
  for (const std::string& path : files) {
    TaskRecord record = readTaskDefinition(path);
    showProgress(number++);
    if (isDangerousTask(record)) {
      reportDanger(path, record);
      dangers.push_back(std::move(record));
    }
  }

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
  if (!askYesNo()) {
    writeOut(MsgUserCancelled);
    endLine(StdStream::Out);
    result.removalDeclined = true;
  }
  return result;
}
