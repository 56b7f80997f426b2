// The record of a run, appended to %SYSTEMROOT%\Debug\vorkelbraith-remover.log,
// and the backup of every registry key the run deletes, in a .reg file of
// its own beside it. Both are written as the run goes, each line flushed, so
// a run closed midway leaves what it did so far. They are never written
// instead of the console: a file that cannot be written is passed over, and
// nothing the tool prints, asks or returns changes.
#ifndef VORKEL_RECORD_RUN_RECORD_H_
#define VORKEL_RECORD_RUN_RECORD_H_

#include <string>
#include <vector>

#include "platform/platform.h"

struct RunRecord {
  std::string folder;      // %SYSTEMROOT%\Debug
  std::string logPath;     // the record
  std::string stamp;       // the run's start, yyyymmdd-hhmmss
  std::string backupPath;  // this run's backup, once there is one
};

/// Starts the run's block (making the Debug folder when it is missing):
/// the tool's version, the local time, the computer's name and whether the
/// process is an administrator.
RunRecord beginRunRecord(const std::string& systemRoot, bool administrator);
/// One line of the run's block: "label: value", a control character in
/// either as ^ and two hexadecimal digits and ^ as ^^.
void recordLine(const RunRecord& record, const std::string& label, const std::string& value);
/// "yes" or "no" for a question's answer.
void recordAnswer(const RunRecord& record, const std::string& question, bool yes);
/// What became of a run, for the block's last line: a fleet's scripts read
/// it, so its form does not change.
struct RunOutcome {
  bool administrator = true;  // false: refused, nothing scanned
  int dangerous = 0;          // the tasks listed as dangerous
  int removed = 0;            // of which nothing the tool removes is left
  int incomplete = 0;         // the others
  int unjudged = 0;           // what the scan could not judge
  bool restart = false;       // the run asked for a restart
};
/// "dangerous=N removed=N incomplete=N unjudged=N restart=yes|no", or
/// "not-administrator" for a run refused its rights.
std::string outcomeText(const RunOutcome& outcome);
/// Ends the block with the run's outcome line and the process's exit status.
void endRunRecord(const RunRecord& record, const RunOutcome& outcome, int status);

/// One key's values as read just before it is deleted.
struct KeySnapshot {
  std::string subKey;             // below HKEY_LOCAL_MACHINE
  long readResult = ErrorSuccess;  // ErrorKeyIsLink for a link, which is not read
  std::vector<KeyValue> values;
};

/// Writes the keys and their values to the run's backup, in the format
/// regedit imports, and names the backup in the record (and what it could
/// not hold). The first backup of a run makes a new file, never one that is
/// there already; later ones are added to it.
void backupKeys(RunRecord* record, const std::vector<KeySnapshot>& keys);

/// The backup's text for one key and its values (UTF-8), as regedit writes
/// them: strings quoted, numbers as dword, every other type as hex(N). A
/// key or value whose name holds a control character is named in a comment
/// instead, and in *notBackedUp.
std::string regFileSection(const KeySnapshot& key, std::vector<std::string>* notBackedUp);

#endif  // VORKEL_RECORD_RUN_RECORD_H_
