#include "remedy/payload.h"

#include "console/console.h"
#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "detect/verdict.h"
#include "platform/platform.h"

namespace {

// Minutes pass between the scan and the answer, and a running threat owns
// the folder: the file is opened once, judged again through that handle,
// and only then deleted through it.
PayloadOutcome removeIfStillThePayload(const std::string& path) {
  uint64_t size = 0;
  PlatformFile* file = platformOpenFileToRemove(path, &size);
  if (file == nullptr) return PayloadOutcome::Failed;
  PayloadOutcome outcome = PayloadOutcome::Failed;
  if (isKnownPayloadMd5(openFileMd5Hex(file, size))) {
    if (platformDeleteOpenFile(file))
      outcome = PayloadOutcome::Deleted;
    else if (platformDeleteOpenFileAtRestart(file))
      outcome = PayloadOutcome::Scheduled;
  }
  platformCloseFile(file);
  return outcome;
}

}  // namespace

PayloadOutcome removePayloadFile(const TaskRecord& record) {
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
    return PayloadOutcome::Kept;
  }
  const PayloadOutcome outcome = removeIfStillThePayload(path);
  writeOut(MsgExeDeletedPrefix);
  writeOut(path);
  writeOut(outcome == PayloadOutcome::Deleted     ? MsgOk
           : outcome == PayloadOutcome::Scheduled ? MsgFileScheduled
                                                  : MsgFileFailed);
  endLine(StdStream::Out);
  return outcome;
}
