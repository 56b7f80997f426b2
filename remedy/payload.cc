#include "remedy/payload.h"

#include "app/console/console.h"
#include "detect/executable_path.h"
#include "platform/platform.h"

void removePayloadFile(const TaskRecord& record) {
  // The same path the verdict fingerprinted.
  const std::string path = extractExecutablePath(record.arguments);
  setColour(ColourRed);
  writeOut(MsgAskDeleteExeHead);
  writeOut(path);
  writeOut(MsgAskDeleteExeTail);
  setColour(ColourNormal);
  if (!askYesNo()) {
    writeOut(MsgExeKept);
    endLine(StdStream::Out);
    return;
  }
  bool deleted = platformDeleteFile(path);
  writeOut(MsgExeDeletedPrefix);
  writeOut(path);
  writeOut(deleted ? MsgOk : MsgFileFailed);
  endLine(StdStream::Out);
}
