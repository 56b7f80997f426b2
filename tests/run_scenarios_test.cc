// The whole runs a user meets: each row is a machine, the answers and what
// the run must print, return and leave behind. Every row runs natively and,
// unless it says otherwise, the Windows build under Wine.
#include <tuple>

#include <gtest/gtest.h>

#include "tests/whole_run.h"
#include "tests/wine.h"

namespace {

const std::string ChinesePayload = u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe";
const char OtherFolderPayload[] = "C:\\ProgramData\\Other\\svchost.exe";

// Two infected tasks, A and B, each with its keys and its own payload.
Machine twoInfected() {
  Machine machine;
  for (const char* name : {"A", "B"}) {
    const std::string payloadPath = std::string("C:\\ProgramData\\") + name + "\\x.exe";
    machine.tasks.push_back(infected(name, payloadPath));
    for (const CacheKey& key : cacheKeys(name, std::string("{") + name + "}"))
      machine.keys.push_back(key);
    machine.files.push_back(payload(payloadPath));
  }
  return machine;
}

std::string outcome(int dangerous, int removed, bool restart = false) {
  return "dangerous=" + std::to_string(dangerous) + " removed=" + std::to_string(removed) +
         " incomplete=" + std::to_string(dangerous - removed) + " unjudged=0 restart=" +
         (restart ? "yes" : "no");
}

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      // Declined at the start: no record, no backup.
      {.name = "EndsWhenStartDeclined", .answers = "n", .gone = {}, .recordsNothing = true,
       .backups = 0},

      // The record holds the task, the answers and every outcome; the keys
      // were backed up before they went.
      {.name = "RemovesKeysAndPayload", .recordHolds = recordedRemoval(true, true),
       .outcome = outcome(1, 1), .backups = 1},

      {.name = "KeepsKeysWhenDeclined", .answers = "yyny", .afterScan = keysKept,
       .gone = {PayloadString}, .recordHolds = recordedRemoval(false, true), .backups = 0},

      {.name = "KeepsPayloadWhenDeclined", .answers = "yyyn", .afterScan = executableKept,
       .gone = {TreeName, TasksName}, .recordHolds = recordedRemoval(true, false),
       .outcome = outcome(1, 0, true), .backups = 1},

      {.name = "EndsWhenRemovalDeclined", .answers = "yn", .afterScan = cancelsAfterList,
       .gone = {},
       .recordHolds = [](const Runner& r) {
         return joined({recordedDanger(r), {"answer: remove the dangerous tasks: no"}});
       },
       .backups = 0},

      // 260 bytes with no terminating zero: taken whole, never read past.
      // No key can have so long a name, so the second deletion fails.
      {.name = "TakesIdFillingBuffer", .wineOnly = true,
       .machine = infectedMachineWith([](Machine& m) {
         m.keys[0] = {TreeName, IdKind::Bytes, std::string(260, 'B')};
       }), .afterScan = treeKeyOnly(std::string(260, 'B')),
       .gone = {TreeName, PayloadString}},

      {.name = "ReportsTreeKeyThatWillNotGo", .machine = infectedMachineWith([](Machine& m) {
         m.keys.push_back({TreeName + "\\Pinned", IdKind::None, ""});
       }), .afterScan = removes({.treeDeleted = false}),
       .gone = {TasksName, PayloadString}},

      // Read-only (and under Wine hidden and system too): cleared, then deleted.
      {.name = "RemovesReadOnlyHiddenSystemPayload", .machine = infectedMachineWith([](Machine& m) {
         m.files[0].readOnly = true;
         m.files[0].hiddenSystem = true;
       })},

      // The task has started its payload: the process running that file is
      // stopped, then the file deleted; nothing is left to the restart.
      {.name = "StopsRunningPayloadAndDeletesIt", .wineOnly = true,
       .machine = infectedMachineWith([](Machine& m) { m.files[0].running = true; }),
       .afterScan = removes({.exeStopped = true}), .recordHolds = [](const Runner& r) {
         std::vector<std::string> lines = recordedRemoval(true, true)(r);
         lines.insert(lines.end() - 1, "process stopped: " + PayloadString + " (process id *");
         return lines;
       }},

      // A copy running from another folder under the same name is another
      // file: it stays, and still runs.
      {.name = "LeavesRunningCopyElsewhereAlone", .wineOnly = true,
       .machine = infectedMachineWith([](Machine& m) {
         m.files[0].running = true;
         m.files.push_back(
             {.windowsPath = OtherFolderPayload, .bytes = standInPayload(), .running = true});
       }),
       .afterScan = removes({.exeStopped = true})},

      // The system's command interpreter gone: the run clears and pauses as
      // ever, starting nothing.
      {.name = "ClearsAndPausesWithoutCommandInterpreter", .wineOnly = true,
       .machine = infectedMachineWith(
           [](Machine& m) { m.movedAway = {"C:\\windows\\system32\\cmd.exe"}; })},

      // The payload's second name keeps its content: named after the deletion
      // (Wine does not list a file's names, and says so).
      {.name = "NamesThePayloadsOtherName", .machine = infectedMachineWith([](Machine& m) {
         m.files.push_back(
             {.windowsPath = OtherFolderPayload, .bytes = PayloadPath, .kind = EntryKind::HardLink});
       }),
       .prepare = [](const Runner& r, Scenario& s) {
         s.afterScan = r.wine ? removes({.otherNamesUnlisted = true})
                              : removes({.otherNames = {OtherFolderPayload}});
         s.recordHolds = [](const Runner& r) -> std::vector<std::string> {
           return {"file deleted: " + PayloadString,
                   r.wine ? "other names of the file not listed, error *"
                          : "other name of the file, which keeps its content: " +
                                std::string(OtherFolderPayload)};
         };
       }},

      // Keys owned by SYSTEM that administrators may only read, as on
      // Windows 10 and 11. Wine grants no restore right, so both deletions
      // fail there too: nothing is created or changed, and the executable
      // is still asked about.
      {.name = "KeepsKeysAdministratorsMayOnlyRead", .machine = infectedMachineWith([](Machine& m) {
         for (CacheKey& key : m.keys) key.readOnly = true;
       }), .afterScan = removes({.treeDeleted = false, .tasksDeleted = false}),
       .gone = {PayloadString}},

      // A Chinese Windows: the task's folder and name, and the payload's
      // folder and name, in Chinese; shown in the console's GBK. The keys
      // hold values of every type, which the backup brings back whole.
      {.name = "RemovesTaskWithChineseNames", .machine = [] {
         Machine m;
         m.tasks = {definition(u8"微软\\计划任务", u8"\\微软\\计划任务", Interpreter,
                               "/c start " + ChinesePayload, true),
                    ordinary("Contoso Updater")};
         m.keys = cacheKeys(u8"微软\\计划任务", TaskId);
         auto text = [](const std::string& s) { return encodeUnicode(s, 2, false, false); };
         const std::string zero(2, '\0');
         m.keys[0].values = {{"", 1, text(u8"计划任务") + zero},
                             {u8"说明", 1, text(u8"两行\r\n文字")},
                             {"Path", 2, text("%SystemRoot%\\x") + zero},
                             {"Triggers", 3, std::string("\x17\0\0\0\xff\x01", 6)},
                             {"Index", 4, std::string("\x03\0\0\0", 4)},
                             {"List", 7, text("a") + zero + text("b") + zero + zero},
                             {"Stamp", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
                             {"Nothing", 0, ""},
                             {"Odd", 0x1234, "odd"}};
         m.keys[1].values = {{"Hash", 3, std::string(70, '\x5a')}};
         m.files = {payload(ChinesePayload)};
         return m;
       }(), .afterScan = removes({.uri = u8"\\微软\\计划任务", .exe = ChinesePayload}),
       .gone = {u8"Tree\\微软\\计划任务", TasksName, ChinesePayload},
       .recordHolds = [](const Runner& r) {
         return joined({recordedDanger(r, u8"微软\\计划任务", u8"\\微软\\计划任务",
                                       "/c start " + ChinesePayload, ChinesePayload),
                        recordedKeys(u8"\\微软\\计划任务", TaskId, true),
                        recordedFile(ChinesePayload, true)});
       },
       .backups = 1, .restoresFromBackup = true},

      {.name = "RemovesThreeTasksInListOrder", .machine = [] {
         Machine m;
         m.tasks = {infected("A", "C:\\ProgramData\\a\\a.exe"),
                    infected("Sub\\B", "C:\\ProgramData\\b\\b.exe"),
                    infected("Sub\\Deeper\\C", "C:\\ProgramData\\c\\c.exe"),
                    ordinary("Sub\\Plain")};
         for (std::string name : {"A", "Sub\\B", "Sub\\Deeper\\C"})
           for (const CacheKey& key : cacheKeys(name, "{id-" + name.substr(name.size() - 1) + "}"))
             m.keys.push_back(key);
         m.keys.push_back({"Tree\\Sub", IdKind::None, ""});
         m.keys.push_back({"Tree\\Sub\\Deeper", IdKind::None, ""});
         m.files = {payload("C:\\ProgramData\\a\\a.exe"), payload("C:\\ProgramData\\b\\b.exe"),
                    payload("C:\\ProgramData\\c\\c.exe")};
         return m;
       }(), .answers = std::string(1 + 1 + 3 * 3, 'y'),
       .afterScan = removesEach([](const TaskFile& task, size_t) {
         return Removal{.uri = task.uri, .id = std::string("{id-") + task.uri.back() + "}",
                        .exe = task.arguments.substr(std::string("/c start ").size())};
       }),
       .gone = {"Tree\\A", "Tasks\\{id-A}", "Tree\\Sub\\B", "Tasks\\{id-B}", "Tree\\Sub\\Deeper\\C",
                "Tasks\\{id-C}", "C:\\ProgramData\\a\\a.exe", "C:\\ProgramData\\b\\b.exe",
                "C:\\ProgramData\\c\\c.exe"}},

      // A fleet's run: answers piped from a file, more of them than asked for.
      {.name = "RemovesTwoTasksWithPipedAnswers", .machine = twoInfected(),
       .answers = std::string(64, 'y'),
       .afterScan = removesEach([](const TaskFile& task, size_t) {
         return Removal{.uri = task.uri, .id = "{" + task.uri.substr(1) + "}",
                        .exe = task.arguments.substr(std::string("/c start ").size())};
       }),
       .gone = {"Tree\\A", "Tasks\\{A}", "Tree\\B", "Tasks\\{B}", "C:\\ProgramData\\A\\x.exe",
                "C:\\ProgramData\\B\\x.exe"},
       .outcome = outcome(2, 2)},
      {.name = "CountsDeclinedListAsIncomplete", .machine = twoInfected(), .answers = "yn",
       .afterScan = cancelsAfterList, .gone = {}, .outcome = outcome(2, 0)},

      // Input ends after the start: every later question is a no.
      {.name = "AnswersNoWhenInputEnds", .answers = "yy", .afterScan = bothKept, .gone = {}},

      {.name = "FinishesWithoutTaskStore", .machine = Machine{.hasTaskStore = false},
       .answers = "y", .afterScan = nothingFound, .gone = {}},

      {.name = "ReportsBothTasksOfOnePayload", .machine = infectedMachineWith([](Machine& m) {
         m.tasks.push_back(infected("Twin"));
         std::vector<CacheKey> twin = cacheKeys("Twin", "{twin}");
         m.keys.insert(m.keys.end(), twin.begin(), twin.end());
       }), .answers = "yyyyyy",
       .afterScan = removesEach([](const TaskFile& task, size_t place) {
         return Removal{.uri = task.uri, .id = task.uri == Uri ? TaskId : "{twin}",
                        .exeDeleted = place == 0};
       }), .gone = {TreeName, TasksName, "Tree\\Twin", "Tasks\\{twin}", PayloadString}},

      // Without a URI the keys are the task's own, named after where its
      // definition lies.
      {.name = "ListsTaskWithoutUri", .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0] = definition(TaskName, "", Interpreter, "/c start " + PayloadString, true);
       })},

      {.name = "IgnoresDecoyWithOtherContent", .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0].dangerous = false;
         m.files[0].bytes = "MZ not the payload";
       }), .answers = "yy", .afterScan = nothingFound, .gone = {}},
  };
  return table;
}

class WholeRun : public testing::TestWithParam<RowParam> {};

TEST_P(WholeRun, PrintsReturnsAndLeavesWhatItShould) {
  checkWholeRun(*std::get<0>(GetParam()), *std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Native, WholeRun, testing::ValuesIn(rowsFor(scenarios(), nativeRunner())),
                         rowName);
INSTANTIATE_TEST_SUITE_P(Wine, WholeRun, testing::ValuesIn(rowsFor(scenarios(), wineRunner())),
                         rowName);

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Two runs on one machine, each deleting one task's keys: the record holds
// two blocks, and there are two backups, the second beside the first (the
// same second gives the same name, which is never written over).
class TwoRuns : public testing::TestWithParam<const Runner*> {};

TEST_P(TwoRuns, LeaveTwoBlocksAndTwoBackups) {
  const Runner& runner = *GetParam();
  if (skipped(cannotRun(runner.program))) return;
  ASSERT_TRUE(!runner.wine || !winePrefix().empty()) << winePrefixProblem();
  const Machine machine = twoInfected();
  LiveMachine live(runner, machine);
  // The first task listed loses its keys in the first run, the other in the
  // second, when the first's Tree key is no longer there to ask about.
  EXPECT_EQ(0, live.runTool("yy" "yn" "nn").status);
  EXPECT_EQ(0, live.runTool("yy" "n" "yn").status);
  const std::string record = live.runRecord();
  EXPECT_EQ(2u, occurrences(record, "==== vorkelbraith-remover ")) << record;
  EXPECT_EQ(2u, occurrences(record, "\r\nexit status: 0\r\n\r\n")) << record;
  EXPECT_EQ(2u, occurrences(record, "registry backup: ")) << record;
  const std::vector<std::string> backups = live.registryBackups();
  ASSERT_EQ(2u, backups.size());
  std::string first, second;
  convertText(readFile(backups[0]), "UTF-8", "UTF-16", &first);
  convertText(readFile(backups[1]), "UTF-8", "UTF-16", &second);
  EXPECT_EQ(1u, occurrences(first, "\\Tree\\A]") + occurrences(second, "\\Tree\\A]"));
  EXPECT_EQ(1u, occurrences(first, "\\Tree\\B]") + occurrences(second, "\\Tree\\B]"));
  EXPECT_EQ(1u, occurrences(first, "\\Tree\\")) << first;
}

INSTANTIATE_TEST_SUITE_P(Runs, TwoRuns, testing::Values(&nativeRunner(), &wineRunner()),
                         [](const testing::TestParamInfo<const Runner*>& info) {
                           return info.param->name;
                         });

}  // namespace
