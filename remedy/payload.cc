#include "remedy/payload.h"

#include "detect/fingerprint.h"
#include "detect/verdict.h"

// Minutes pass between the scan and the answer, and a running threat owns
// the folder: the file is opened once, judged again through that handle,
// and only then are its processes stopped and the file deleted through it.
// The path is made full as the scan made it, so the file removed is the
// file fingerprinted. Only a file in use is left to the restart: any other
// refusal would be the same after it.
PayloadRemoval removeIfStillThePayload(const std::string& path) {
  const FileToRemove opened = platformOpenFileToRemove(platformPathAsRun(path));
  PlatformFile* file = opened.file.get();
  PayloadRemoval removal;
  removal.outcome = PayloadOutcome::Failed;
  removal.code = opened.error;
  if (file == nullptr) return removal;
  removal.outcome = PayloadOutcome::Changed;
  removal.code = ErrorSuccess;
  if (isKnownPayloadMd5(openFileFingerprint(file, opened.size).md5)) {
    removal.stopped = platformStopProcessesRunning(file);
    removal.otherNames = platformOtherNames(file);
    const FileDeletion deletion = platformDeleteOpenFile(file);
    removal.code = deletion.result;
    removal.inUse = deletion.inUse;
    removal.outcome =
        deletion.result == ErrorSuccess ? PayloadOutcome::Deleted : PayloadOutcome::Failed;
    if (deletion.inUse) {
      const long scheduled = platformDeleteOpenFileAtRestart(file);
      if (scheduled == ErrorSuccess)
        removal.outcome = PayloadOutcome::Scheduled;
      else
        removal.code = scheduled;
    }
  }
  return removal;
}

bool payloadMayRemain(const PayloadRemoval& removal) {
  if (removal.outcome == PayloadOutcome::Failed)
    return removal.inUse || removal.code != ErrorNotFound;
  return removal.outcome == PayloadOutcome::Kept || removal.outcome == PayloadOutcome::Scheduled;
}
