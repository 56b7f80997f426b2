// Removing the executable a dangerous task starts.
#ifndef VORKEL_REMEDY_PAYLOAD_H_
#define VORKEL_REMEDY_PAYLOAD_H_

#include <string>

enum class PayloadOutcome {
  Kept,       // the user said no
  Deleted,
  Scheduled,  // in use: renamed, to be deleted when the machine restarts
  Failed,     // gone or refused
  Changed,    // no longer the file judged: left alone
};

struct PayloadRemoval {
  PayloadOutcome outcome = PayloadOutcome::Kept;
  long code = 0;  // the system's, when it refused
};

/// Deletes the file at path, but only while it is still the threat's
/// executable: it is opened once, judged again through that handle and
/// deleted through it. What will not go now (a running program) is left to
/// the next restart.
PayloadRemoval removeIfStillThePayload(const std::string& path);

#endif  // VORKEL_REMEDY_PAYLOAD_H_
