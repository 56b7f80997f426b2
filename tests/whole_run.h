// Whole runs of the real tool, shared by the scenario tables: the pieces a
// machine is made of, the expected transcript built from the message
// catalogue, the record's lines, and the check of one run.
#ifndef VORKEL_TESTS_WHOLE_RUN_H_
#define VORKEL_TESTS_WHOLE_RUN_H_

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "console/messages.h"
#include "tests/machine.h"

inline const char Interpreter[] = "C:\\Windows\\System32\\cmd.exe";
inline const char PayloadPath[] = "C:\\ProgramData\\Vorkel\\svchost.exe";
inline const char TaskName[] = "WindowsUpdateCheck";
inline const char TaskId[] = "{6F1C2A57-8D3B-4E90-A1B2-3C4D5E6F7A8B}";
inline const std::string PayloadString = PayloadPath, Uri = std::string("\\") + TaskName,
                         TreeName = std::string("Tree\\") + TaskName,
                         TasksName = std::string("Tasks\\") + TaskId;

TaskFile definition(const std::string& relativePath, const std::string& uri,
                    const std::string& command, const std::string& arguments,
                    bool dangerous);
/// A task that starts cmd.exe on the payload, named by a bare path.
TaskFile infected(const std::string& name, const std::string& payload = PayloadPath);
TaskFile ordinary(const std::string& relativePath);
/// The task's Tree key holding the Id, and its Tasks key.
std::vector<CacheKey> cacheKeys(const std::string& name, const std::string& id);
MachineFile payload(const std::string& path = PayloadPath);
/// The error code field, as the tool writes it (hexadecimal).
std::string errorField(long code);
/// One infected task with its keys and payload, plus two ordinary tasks.
Machine infectedMachine();

template <typename Change>
Machine infectedMachineWith(Change change) {
  Machine machine = infectedMachine();
  change(machine);
  return machine;
}

// ---- The transcript --------------------------------------------------------
typedef std::vector<const TaskFile*> Dangers;
/// What a run prints after the scan's last line, given the dangerous tasks
/// in the order the run lists them and the ids of the programs running.
typedef std::function<std::string(const Runner&, const Dangers&, const ProcessIds&)> AfterScan;

/// One dangerous task past the list, its names shown as the runner shows
/// them: the keys deleted or failing (or kept, answered no; or none found),
/// the executable's running program stopped, the executable deleted or
/// failing (or kept), and its other names. The restart line follows when
/// keys went while the executable was kept.
struct Removal {
  std::string uri = Uri, id = TaskId, exe = PayloadString;
  bool keysFound = true, treeDeleted = true, tasksDeleted = true, keysKept = false;
  bool exeStopped = false, exeDeleted = true, exeKept = false;
  std::vector<std::string> otherNames = {};
  bool otherNamesUnlisted = false;
};
/// The list, then each dangerous task's removal, made from the task and its
/// place in the list; then the finish.
AfterScan removesEach(const std::function<Removal(const TaskFile&, size_t)>& removal);
/// The same removal for each dangerous task (there is one).
AfterScan removes(const Removal& removal);

// The shapes several rows share. No identifier: the registry step finds none.
extern const AfterScan removesAll, keysKept, executableKept, bothKept, nothingFound,
    cancelsAfterList, noIdentifier;
/// The identifier is taken and shown; the Tree key goes, and the Tasks key
/// it names, which does not exist, is reported as failed.
AfterScan treeKeyOnly(const std::string& id);

// ---- The record ------------------------------------------------------------
/// Lines the record must hold, for a runner (they name its system root).
typedef std::function<std::vector<std::string>(const Runner&)> RecordLines;

/// These lines, whichever the runner.
RecordLines holds(const std::vector<std::string>& lines);
/// The start and the scan finding one dangerous task.
std::vector<std::string> recordedDanger(const Runner& runner,
                                        const std::string& definition = TaskName,
                                        const std::string& uri = Uri,
                                        const std::string& arguments = "/c start " + PayloadString,
                                        const std::string& executable = PayloadString);
/// The keys question and, after a yes, the backup and both deletions.
std::vector<std::string> recordedKeys(const std::string& uri, const std::string& id, bool yes);
/// The executable question and its outcome, deleted or kept.
std::vector<std::string> recordedFile(const std::string& path, bool yes);
std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts);
/// The infected machine's whole run past the list, keys and file answered
/// (and a restart needed when the keys went and the file stayed).
RecordLines recordedRemoval(bool keys, bool file);

// ---- A row -----------------------------------------------------------------
// Unless it says otherwise, a row is the infected machine answered yes
// throughout, which removes everything, and the run ends well.
struct Scenario {
  const char* name = "";
  bool onWine = true;     // also runs the Windows build under Wine
  bool wineOnly = false;  // the case exists only on Windows
  Machine machine = infectedMachine();
  // Called on a copy of the row just before its run, to build large
  // machines only then and to fit the row to the runner.
  std::function<void(const Runner&, Scenario&)> prepare = nullptr;
  std::string answers = "yyyy";
  // Done to the machine once the run asks its first question about an
  // executable; the last answer is held back until then.
  std::function<void(LiveMachine&)> beforeExeAnswer = nullptr;
  // Standard output past the scan, when the first answer starts it; and
  // standard error, all of it.
  AfterScan afterScan = removesAll;
  std::string err = "";
  int status = 0;
  // Cache keys and file paths the run removes.
  std::vector<std::string> gone = {TreeName, TasksName, PayloadString};
  // Lines the run's record must hold, in this order with others between
  // (a line ending in '*' stands for any line that starts so), in a block
  // with its header and exit status. None: the record is not looked at.
  RecordLines recordHolds = nullptr;
  bool recordsNothing = false;  // no record at all
  std::string outcome = "";     // when set, the record's outcome line after "outcome: "
  int backups = -1;             // registry backups the run leaves; -1: not looked at
  std::string backupHolds = "";  // text (UTF-8) the run's one backup holds
  // Under Wine, the backup imported with regedit brings back every key and
  // value the run deleted, exactly, but for the values whose names would
  // plant this key (below HKEY_LOCAL_MACHINE); that key is not made.
  bool restoresFromBackup = false;
  std::string plantedKey = "";
  int timeoutSeconds = 120;
  long peakKibLimit = 0;  // when set, the run's peak resident memory stays below
};

/// Builds the machine, runs the tool, and checks both output streams byte
/// for byte, the exit status, that it ended in time (and memory, when the
/// row says), the record and backups, and what is left on the machine.
void checkWholeRun(const Runner& runner, const Scenario& scenario);

/// A table's rows for one runner (the table lives as long as the suite),
/// and a row's test name: natively all but the Windows-only rows, the rows
/// with a memory limit only on the build without sanitizers; under Wine the
/// rows marked for it.
typedef std::tuple<const Runner*, const Scenario*> RowParam;
std::vector<RowParam> rowsFor(const std::vector<Scenario>& table, const Runner& runner);
std::string rowName(const testing::TestParamInfo<RowParam>& row);

#endif  // VORKEL_TESTS_WHOLE_RUN_H_
