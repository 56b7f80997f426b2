#include "remedy/payload.h"

#include "detect/fingerprint.h"
#include "detect/verdict.h"
#include "platform/platform.h"

// Minutes pass between the scan and the answer, and a running threat owns
// the folder: the file is opened once, judged again through that handle,
// and only then deleted through it. The path is made full as the scan made
// it, so the file removed is the file fingerprinted.
PayloadRemoval removeIfStillThePayload(const std::string& path) {
  uint64_t size = 0;
  long code = ErrorSuccess;
  PlatformFile* file = platformOpenFileToRemove(platformPathAsRun(path), &size, &code);
  if (file == nullptr) return {PayloadOutcome::Failed, code};
  PayloadRemoval removal = {PayloadOutcome::Changed, ErrorSuccess};
  if (isKnownPayloadMd5(openFileFingerprint(file, size).md5)) {
    removal.code = platformDeleteOpenFile(file);
    removal.outcome = PayloadOutcome::Deleted;
    if (removal.code != ErrorSuccess && platformDeleteOpenFileAtRestart(file) == ErrorSuccess)
      removal.outcome = PayloadOutcome::Scheduled;
    else if (removal.code != ErrorSuccess)
      removal.outcome = PayloadOutcome::Failed;
  }
  platformCloseFile(file);
  return removal;
}
