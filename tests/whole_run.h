// Whole runs of the real tool, shared by the scenario tables: the pieces a
// machine is made of, the expected transcript built from the message
// catalogue, and the check of one run.
#ifndef VORKELBRAITH_TESTS_WHOLE_RUN_H_
#define VORKELBRAITH_TESTS_WHOLE_RUN_H_

#include <functional>
#include <string>
#include <vector>

#include "console/messages.h"
#include "tests/machine.h"

extern const char Interpreter[];
extern const char PayloadPath[];
extern const char TaskName[];
extern const char TaskId[];
extern const std::string PayloadString, TreeName, TasksName, Uri;

TaskFile definition(const std::string& relativePath, const std::string& uri,
                    const std::string& command, const std::string& arguments,
                    bool dangerous);
/// A task that starts cmd.exe on the payload, named by a bare path.
TaskFile infected(const std::string& name, const std::string& payload = PayloadPath);
TaskFile ordinary(const std::string& relativePath);
/// The task's Tree key holding the Id, and its Tasks key.
std::vector<CacheKey> cacheKeys(const std::string& name, const std::string& id);
MachineFile payload(const std::string& path = PayloadPath);
/// One infected task with its keys and payload, plus two ordinary tasks.
Machine infectedMachine();

template <typename Change>
Machine infectedMachineWith(Change change) {
  Machine machine = infectedMachine();
  change(machine);
  return machine;
}

struct Transcript {
  std::string out;
  std::string err;
};

std::string dangerList(const Runner& runner, const std::vector<const TaskFile*>& dangers);
std::string treeKey(const std::string& uri);
std::string tasksKey(const std::string& id);
/// The registry step's heading, both found-lines and the question.
std::string keysQuestion(const std::string& uri, const std::string& id);
std::string keyDeleted(const std::string& key, bool ok);
std::string bothKeysDeleted(const std::string& uri, const std::string& id);
std::string exeQuestion(const std::string& path);
/// The question, a yes, and the outcome.
std::string exeDeleted(const std::string& path, bool ok);
std::string finish(const Runner& runner);
/// The finish after a file was left to be deleted at the restart.
std::string finishWithRestart(const Runner& runner);
/// A value (UTF-8) as the runner's tool shows it: as it is natively; under
/// Wine in code page 936, each character it cannot hold as '?'.
std::string shown(const Runner& runner, const std::string& utf8);
std::string openKeyError(const std::string& code);
/// GBK shown as UTF-8, for failure messages.
std::string readable(const std::string& gbk);

typedef std::function<Transcript(const Runner&, const std::vector<const TaskFile*>&)>
    AfterScan;

struct Scenario {
  const char* name;
  bool onWine;
  Machine machine;
  std::string answers;
  AfterScan afterScan;  // everything printed after the scan's last line
  int status;
  std::vector<std::string> gone;  // cache keys and file paths the run removes
  // Called on a copy of the row just before its run, to build large
  // machines only then and to fit the row to the runner.
  std::function<void(const Runner&, Scenario&)> prepare = nullptr;
  int timeoutSeconds = 120;
  long peakKibLimit = 0;  // when set, the run's peak resident memory stays below
  // Files of the machine the run leaves to be deleted at the restart, each
  // renamed beside its old name (Wine only).
  std::vector<std::string> deletedAtRestart = {};
  // Done to the machine once the run asks its first question about an
  // executable; the last answer is held back until then.
  std::function<void(LiveMachine&)> beforeExeAnswer = nullptr;
  bool wineOnly = false;  // the case exists only on Windows
  // Lines the run's record must hold, in this order with others between
  // (a line ending in '*' stands for any line that starts so), in a block
  // with its header and exit status. Empty: the record is not looked at.
  std::vector<std::string> recordHolds = {};
  bool recordsNothing = false;  // no record at all
  int backups = -1;  // registry backups the run leaves; -1: not looked at
  // Under Wine, importing the backup with regedit brings back every key
  // and value the run deleted, exactly.
  bool restoresFromBackup = false;
};

// What the run's record says, in the lines a row looks for.
/// The start and the scan finding one dangerous task.
std::vector<std::string> recordedDanger(const Runner& runner, const std::string& definition,
                                        const std::string& uri, const std::string& arguments,
                                        const std::string& executable);
/// The keys question and, after a yes, the backup and both deletions.
std::vector<std::string> recordedKeys(const std::string& uri, const std::string& id, bool yes);
/// The executable question and its outcome, deleted or kept.
std::vector<std::string> recordedFile(const std::string& path, bool yes);
std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts);
/// The infected machine's whole run past the list, keys and file answered.
std::vector<std::string> recordedRemoval(const Runner& runner, bool keys, bool file);

/// Builds the machine, runs the tool, and checks both output streams byte
/// for byte, the exit status, that it ended in time (and memory, when the
/// row says) and what is left on the machine.
void checkWholeRun(const Runner& runner, const Scenario& scenario);

#endif  // VORKELBRAITH_TESTS_WHOLE_RUN_H_
