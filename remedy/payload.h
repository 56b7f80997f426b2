// Removing the executable a dangerous task starts.
#ifndef VORKEL_REMEDY_PAYLOAD_H_
#define VORKEL_REMEDY_PAYLOAD_H_

#include <string>
#include <vector>

#include "platform/platform.h"

enum class PayloadOutcome {
  Kept,       // the user said no
  Deleted,
  Scheduled,  // in use: renamed, to be deleted when the machine restarts
  Failed,     // gone or refused
  Changed,    // no longer the file judged: left alone
};

struct PayloadRemoval {
  PayloadOutcome outcome = PayloadOutcome::Kept;
  /// The system's, when it refused: the deletion's, or for a file in use
  /// that could not be scheduled either, the scheduling's.
  long code = 0;
  /// The deletion was refused because the file is in use (a program still
  /// runs from it).
  bool inUse = false;
  /// The processes found running the file, each as stopping it went.
  std::vector<ProcessStop> stopped;
  /// Other names of the file, which keep its content after the deletion.
  OtherNames otherNames;
};

/// Deletes the file at path, but only while it is still the threat's
/// executable: it is opened once, judged again through that handle, every
/// process running it is stopped, and it is deleted through that handle.
/// What will not go now (a program that could not be stopped) is left to
/// the next restart.
PayloadRemoval removeIfStillThePayload(const std::string& path);

/// Whether the threat's executable may still be on disk after the removal:
/// kept, refused or in use (not gone, not another file).
bool payloadMayRemain(const PayloadRemoval& removal);

#endif  // VORKEL_REMEDY_PAYLOAD_H_
