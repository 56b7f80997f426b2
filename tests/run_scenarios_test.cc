// The whole runs a user meets: each row is a machine, the answers and what
// the run must print, return and leave behind. Every row runs natively; the
// rows marked for Wine also run the Windows build under Wine.
#include <tuple>

#include <gtest/gtest.h>

#include "tests/whole_run.h"

namespace {

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      {"EndsWhenStartDeclined", true, infectedMachine(), "n",
       [](const Runner&, const std::vector<const TaskFile*>&) { return Transcript{}; }, 0, {}},

      {"RemovesKeysAndPayload", true, infectedMachine(), "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, TasksName, PayloadString}},

      {"KeepsKeysWhenDeclined", true, infectedMachine(), "yyny",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + keysQuestion(Uri, TaskId) + line(MsgKeysKept) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      {"KeepsPayloadWhenDeclined", true, infectedMachine(), "yyyn",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + bothKeysDeleted(Uri, TaskId) +
                               exeQuestion(PayloadString) + line(MsgExeKept) + finish(r), ""};
       },
       0, {TreeName, TasksName}},

      {"EndsWhenRemovalDeclined", true, infectedMachine(), "yn",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgUserCancelled), ""};
       },
       0, {}},

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
      // folder and name, in Chinese; shown in the console's GBK.
      {"RemovesTaskWithChineseNames", true,
       [] {
         const std::string payloadPath = u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe";
         Machine m;
         m.tasks = {definition(u8"微软\\计划任务", u8"\\微软\\计划任务", Interpreter,
                               "/c start " + payloadPath, true),
                    ordinary("Contoso Updater")};
         m.keys = cacheKeys(u8"微软\\计划任务", TaskId);
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
        u8"C:\\Users\\张三\\AppData\\Roaming\\更新程序.exe"}},

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

      // Without a URI the tree key is the Tree key itself, which has no Id.
      {"ListsTaskWithoutUri", true,
       infectedMachineWith([](Machine& m) {
         m.tasks[0] = definition(TaskName, "", Interpreter,
                                 std::string("/c start ") + PayloadPath, true);
       }),
       "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(r, d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

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

}  // namespace
