#include "app/cleanup_pass.h"

#include "console/console.h"
#include "remedy/payload.h"
#include "remedy/task_cache.h"

int runCleanupPass(const DangerList& dangers, RunRecord* runRecord) {
  bool restartNeeded = false;
  for (const TaskRecord& record : dangers) {
    recordLine(*runRecord, "removing", record.uri);
    setColour(ColourRed);
    writeOut(MsgRegistryStep);
    endLine(StdStream::Out);
    setColour(ColourNormal);
    removeTaskCacheEntries(record, runRecord);
    // The executable's question comes whatever became of the keys.
    if (removePayloadFile(record, *runRecord) == PayloadOutcome::Scheduled) restartNeeded = true;
  }
  setColour(ColourGreen);
  writeOut(MsgAllDone);
  endLine(StdStream::Out);
  if (restartNeeded) {
    // A file left to the next restart is still there until then.
    setColour(ColourRed);
    writeOut(MsgRestartNeeded);
    endLine(StdStream::Out);
  }
  setColour(ColourNormal);
  runShellCommand("pause");
  flushOut();
  return 0;
}
