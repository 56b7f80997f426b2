// The whole runs a user meets: each row is a machine, the answers and what
// the run must print, return and leave behind. Every row runs natively; the
// rows marked for Wine also run the Windows build under Wine.
#include <tuple>

#include <gtest/gtest.h>

#include "tests/whole_run.h"

namespace {

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      // Declined at the start: no record, no backup.
      {"EndsWhenStartDeclined", true, infectedMachine(), "n",
       [](const Runner&, const std::vector<const TaskFile*>&) { return Transcript{}; }, 0, {},
       [](const Runner&, Scenario& s) {
         s.recordsNothing = true;
         s.backups = 0;
       }},

      // The record holds the task, the answers and every outcome; the keys
      // were backed up before they went.
      {"RemovesKeysAndPayload", true, infectedMachine(), "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, TasksName, PayloadString},
       [](const Runner& r, Scenario& s) {
         s.recordHolds = recordedRemoval(r, true, true);
         s.backups = 1;
       }},

      {"KeepsKeysWhenDeclined", true, infectedMachine(), "yyny",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + keysQuestion(Uri, TaskId) + line(MsgKeysKept) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString},
       [](const Runner& r, Scenario& s) {
         s.recordHolds = recordedRemoval(r, false, true);
         s.backups = 0;
       }},

      {"KeepsPayloadWhenDeclined", true, infectedMachine(), "yyyn",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeQuestion(PayloadString) + line(MsgExeKept) + finish(r), ""};
       },
       0, {TreeName, TasksName},
       [](const Runner& r, Scenario& s) {
         s.recordHolds = recordedRemoval(r, true, false);
         s.backups = 1;
       }},

      {"EndsWhenRemovalDeclined", true, infectedMachine(), "yn",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgUserCancelled), ""};
       },
       0, {},
       [](const Runner& r, Scenario& s) {
         s.recordHolds = joined({recordedDanger(r, TaskName, Uri, "/c start " + PayloadString,
                                                PayloadString),
                                 {"answer: remove the dangerous tasks: no"}});
         s.backups = 0;
       }},

      {"ReportsMissingTreeKey", true,
       infectedMachineWith([](Machine& m) { m.keys = {{TasksName, IdKind::None, ""}}; }),
       "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r),
                           openKeyError("2")};
       },
       0, {PayloadString}},

      {"SkipsTreeKeyWithoutId", true,
       infectedMachineWith([](Machine& m) { m.keys[0].idKind = IdKind::None; }), "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      // A cut identifier would name some other task's key: too long a value
      // counts as no identifier at all.
      {"SkipsIdLongerThanBuffer", true,
       infectedMachineWith([](Machine& m) { m.keys[0].id = std::string(300, 'A'); }),
       "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      // 260 bytes with no terminating zero: taken whole, never read past.
      // No key can have so long a name, so the second deletion fails.
      {"TakesIdFillingBuffer", true,
       infectedMachineWith([](Machine& m) {
         m.keys[0] = {TreeName, IdKind::Bytes, std::string(260, 'B')};
       }),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         std::string id(260, 'B');
         return Transcript{dangerList(r, d) + keysQuestion(Uri, id) +
                               keyDeleted(treeKey(Uri), true) +
                               keyDeleted(tasksKey(id), false) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, PayloadString}},

      {"ReportsTreeKeyThatWillNotGo", true,
       infectedMachineWith([](Machine& m) {
         m.keys.push_back({TreeName + "\\Pinned", IdKind::None, ""});
       }),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + keysQuestion(Uri, TaskId) +
                               keyDeleted(treeKey(Uri), false) +
                               keyDeleted(tasksKey(TaskId), true) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TasksName, PayloadString}},

      // Read-only (and under Wine hidden and system too): cleared, then deleted.
      {"RemovesReadOnlyHiddenSystemPayload", true,
       infectedMachineWith([](Machine& m) {
         m.files[0].readOnly = true;
         m.files[0].hiddenSystem = true;
       }),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, TasksName, PayloadString}},

      // The task has started its payload: Windows will not delete a running
      // program, so it is renamed and left to the restart.
      [] {
        Scenario row{"SchedulesRunningPayloadForRestart", true,
                     infectedMachineWith([](Machine& m) { m.files[0].running = true; }), "yyyy",
                     [](const Runner& r, const std::vector<const TaskFile*>& d) {
                       return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                                             exeQuestion(PayloadString) +
                                             msg(MsgExeDeletedPrefix) + PayloadString +
                                             line(MsgFileScheduled) + finishWithRestart(r),
                                         ""};
                     },
                     0, {TreeName, TasksName, PayloadString}};
        row.deletedAtRestart = {PayloadString};
        row.wineOnly = true;
        return row;
      }(),

      // Keys owned by SYSTEM that administrators may only read, as on
      // Windows 10 and 11. Wine grants no restore right, so both deletions
      // fail there too: nothing is created or changed, and the executable
      // is still asked about.
      {"KeepsKeysAdministratorsMayOnlyRead", true,
       infectedMachineWith([](Machine& m) {
         for (CacheKey& key : m.keys) key.readOnly = true;
       }),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + keysQuestion(Uri, TaskId) +
                               keyDeleted(treeKey(Uri), false) +
                               keyDeleted(tasksKey(TaskId), false) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      // A Chinese Windows: the task's folder and name, and the payload's
      // folder and name, in Chinese; shown in the console's GBK. The keys
      // hold values of every type, which the backup brings back whole.
      {"RemovesTaskWithChineseNames", true,
       [] {
         const std::string payloadPath = u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe";
         Machine m;
         m.tasks = {definition(u8"微软\\计划任务", u8"\\微软\\计划任务", Interpreter,
                               "/c start " + payloadPath, true),
                    ordinary("Contoso Updater")};
         m.keys = cacheKeys(u8"微软\\计划任务", TaskId);
         const std::string text = encodeUnicode(u8"计划任务", 2, false, false) + std::string(2, '\0');
         m.keys[0].values = {{"", 1, text},
                             {u8"说明", 1, encodeUnicode(u8"两行\r\n文字", 2, false, false)},
                             {"Path", 2, encodeUnicode("%SystemRoot%\\x", 2, false, false) +
                                             std::string(2, '\0')},
                             {"Triggers", 3, std::string("\x17\0\0\0\xff\x01", 6)},
                             {"Index", 4, std::string("\x03\0\0\0", 4)},
                             {"List", 7, encodeUnicode("a", 2, false, false) + std::string(2, '\0') +
                                             encodeUnicode("b", 2, false, false) +
                                             std::string(4, '\0')},
                             {"Stamp", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
                             {"Nothing", 0, ""},
                             {"Odd", 0x1234, "odd"}};
         m.keys[1].values = {{"Hash", 3, std::string(70, '\x5a')}};
         m.files = {payload(payloadPath)};
         return m;
       }(),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{
             dangerList(r, d) + bothKeysDeleted(shown(r, u8"\\微软\\计划任务"), TaskId) +
                 exeDeleted(shown(r, u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe"),
                            true) +
                 finish(r),
             ""};
       },
       0,
       {u8"Tree\\微软\\计划任务", TasksName,
        u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe"},
       [](const Runner& r, Scenario& s) {
         const TaskFile& task = s.machine.tasks[0];
         const std::string& path = s.machine.files[0].windowsPath;
         s.recordHolds = joined({recordedDanger(r, task.relativePath, task.uri, task.arguments, path),
                                 recordedKeys(task.uri, TaskId, true), recordedFile(path, true)});
         s.backups = 1;
         s.restoresFromBackup = true;
       }},

      {"RemovesThreeTasksInListOrder", true,
       [] {
         Machine m;
         m.tasks = {infected("A", "C:\\ProgramData\\a\\a.exe"),
                    infected("Sub\\B", "C:\\ProgramData\\b\\b.exe"),
                    infected("Sub\\Deeper\\C", "C:\\ProgramData\\c\\c.exe"),
                    ordinary("Sub\\Plain")};
         for (const char* name : {"A", "Sub\\B", "Sub\\Deeper\\C"}) {
           std::string id = std::string("{id-") + std::string(name).back() + "}";
           std::vector<CacheKey> keys = cacheKeys(name, id);
           m.keys.insert(m.keys.end(), keys.begin(), keys.end());
         }
         m.keys.push_back({"Tree\\Sub", IdKind::None, ""});
         m.keys.push_back({"Tree\\Sub\\Deeper", IdKind::None, ""});
         m.files = {payload("C:\\ProgramData\\a\\a.exe"), payload("C:\\ProgramData\\b\\b.exe"),
                    payload("C:\\ProgramData\\c\\c.exe")};
         return m;
       }(),
       std::string(1 + 1 + 3 * 3, 'y'),
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         Transcript t{dangerList(r, d), ""};
         for (const TaskFile* task : d) {
           std::string id = std::string("{id-") + task->uri.back() + "}";
           std::string path = task->arguments.substr(std::string("/c start ").size());
           t.out += bothKeysDeleted(task->uri, id) + exeDeleted(path, true);
         }
         t.out += finish(r);
         return t;
       },
       0,
       {"Tree\\A", "Tasks\\{id-A}", "Tree\\Sub\\B", "Tasks\\{id-B}", "Tree\\Sub\\Deeper\\C", "Tasks\\{id-C}",
        "C:\\ProgramData\\a\\a.exe", "C:\\ProgramData\\b\\b.exe", "C:\\ProgramData\\c\\c.exe"}},

      // Input ends after the start: every later question is a no.
      {"AnswersNoWhenInputEnds", true, infectedMachine(), "yy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + keysQuestion(Uri, TaskId) + line(MsgKeysKept) +
                               exeQuestion(PayloadString) + line(MsgExeKept) + finish(r), ""};
       },
       0, {}},

      {"FinishesWithoutTaskStore", true,
       [] {
         Machine m;
         m.hasTaskStore = false;
         return m;
       }(),
       "y",
       [](const Runner& r, const std::vector<const TaskFile*>&) {
         return Transcript{finish(r), ""};
       },
       0, {}},

      {"ReportsBothTasksOfOnePayload", true,
       infectedMachineWith([](Machine& m) {
         m.tasks.push_back(infected("Twin"));
         std::vector<CacheKey> twin = cacheKeys("Twin", "{twin}");
         m.keys.insert(m.keys.end(), twin.begin(), twin.end());
       }),
       "yyyyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         Transcript t{dangerList(r, d), ""};
         bool first = true;
         for (const TaskFile* task : d) {
           std::string id = task->uri == Uri ? TaskId : "{twin}";
           t.out += bothKeysDeleted(task->uri, id) + exeDeleted(PayloadString, first);
           first = false;
         }
         t.out += finish(r);
         return t;
       },
       0, {TreeName, TasksName, "Tree\\Twin", "Tasks\\{twin}", PayloadString}},

      // Without a URI the keys are the task's own, named after where its
      // definition lies.
      {"ListsTaskWithoutUri", true,
       infectedMachineWith([](Machine& m) {
         m.tasks[0] = definition(TaskName, "", Interpreter,
                                 std::string("/c start ") + PayloadPath, true);
       }),
       "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, TasksName, PayloadString}},

      {"IgnoresDecoyWithOtherContent", true,
       infectedMachineWith([](Machine& m) {
         m.tasks[0].dangerous = false;
         m.files[0].bytes = "MZ not the payload";
       }),
       "yy",
       [](const Runner& r, const std::vector<const TaskFile*>&) {
         return Transcript{finish(r), ""};
       },
       0, {}},
  };
  return table;
}

class WholeRun : public testing::TestWithParam<std::tuple<const Runner*, size_t>> {};

TEST_P(WholeRun, PrintsReturnsAndLeavesWhatItShould) {
  checkWholeRun(*std::get<0>(GetParam()), scenarios()[std::get<1>(GetParam())]);
}

std::vector<std::tuple<const Runner*, size_t>> rows(const Runner& runner) {
  std::vector<std::tuple<const Runner*, size_t>> picked;
  for (size_t i = 0; i < scenarios().size(); ++i)
    if (runner.wine ? scenarios()[i].onWine : !scenarios()[i].wineOnly)
      picked.emplace_back(&runner, i);
  return picked;
}

std::string rowName(const testing::TestParamInfo<std::tuple<const Runner*, size_t>>& info) {
  return std::get<0>(info.param)->name + "_" + scenarios()[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Native, WholeRun, testing::ValuesIn(rows(nativeRunner())), rowName);
INSTANTIATE_TEST_SUITE_P(Wine, WholeRun, testing::ValuesIn(rows(wineRunner())), rowName);

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
  const std::string missing = cannotRun(runner.program);
  if (!missing.empty()) GTEST_SKIP() << missing;
  if (runner.wine) {
    ASSERT_FALSE(winePrefix().empty());
  }
  Machine machine;
  for (const char* name : {"A", "B"}) {
    const std::string payloadPath = std::string("C:\\ProgramData\\") + name + "\\x.exe";
    machine.tasks.push_back(infected(name, payloadPath));
    for (const CacheKey& key : cacheKeys(name, std::string("{") + name + "}"))
      machine.keys.push_back(key);
    machine.files.push_back(payload(payloadPath));
  }
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
