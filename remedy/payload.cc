#include "remedy/payload.h"

#include "console/console.h"
#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "detect/verdict.h"
#include "platform/platform.h"

namespace {

struct Removal {
  PayloadOutcome outcome;
  long code;  // the system's, when it refused
};

// Minutes pass between the scan and the answer, and a running threat owns
// the folder: the file is opened once, judged again through that handle,
// and only then deleted through it.
Removal removeIfStillThePayload(const std::string& path) {
  uint64_t size = 0;
  long code = 0;
  PlatformFile* file = platformOpenFileToRemove(path, &size, &code);
  if (file == nullptr) return {PayloadOutcome::Failed, code};
  Removal removal = {PayloadOutcome::Changed, 0};
  if (isKnownPayloadMd5(openFileMd5Hex(file, size))) {
    removal.code = platformDeleteOpenFile(file);
    removal.outcome = PayloadOutcome::Deleted;
    // What will not go now (a running program) goes at the next restart.
    if (removal.code != 0 && platformDeleteOpenFileAtRestart(file) == 0)
      removal.outcome = PayloadOutcome::Scheduled;
    else if (removal.code != 0)
      removal.outcome = PayloadOutcome::Failed;
  }
  platformCloseFile(file);
  return removal;
}

std::string recordedOutcome(const Removal& removal) {
  switch (removal.outcome) {
    case PayloadOutcome::Kept: return "file kept by the user";
    case PayloadOutcome::Deleted: return "file deleted";
    case PayloadOutcome::Scheduled:
      return "file in use (error " + std::to_string(removal.code) +
             "), renamed and scheduled for deletion at restart";
    case PayloadOutcome::Failed: return "file not deleted, error " + std::to_string(removal.code);
    case PayloadOutcome::Changed: return "file not deleted, no longer the file judged";
  }
  return std::string();
}

}  // namespace

PayloadOutcome removePayloadFile(const TaskRecord& record, const RunRecord& runRecord) {
  // The same path the verdict fingerprinted.
  const std::string path = extractExecutablePath(record.arguments);
  setColour(ColourRed);
  writeOut(MsgAskDeleteExeHead);
  writeOut(path);
  writeOut(MsgAskDeleteExeTail);
  setColour(ColourNormal);
  const bool remove = askYesNo();
  recordAnswer(runRecord, "delete executable " + path, remove);
  Removal removal = {PayloadOutcome::Kept, 0};
  if (!remove) {
    writeOut(MsgExeKept);
    endLine(StdStream::Out);
  } else {
    removal = removeIfStillThePayload(path);
    writeOut(MsgExeDeletedPrefix);
    writeOut(path);
    writeOut(removal.outcome == PayloadOutcome::Deleted     ? MsgOk
             : removal.outcome == PayloadOutcome::Scheduled ? MsgFileScheduled
                                                            : MsgFileFailed);
    endLine(StdStream::Out);
  }
  recordLine(runRecord, recordedOutcome(removal), path);
  return removal.outcome;
}
