// Whole runs of the real tool: each row is a machine, the user's answers and
// what the run must print, return and leave behind. Every row runs natively;
// the rows marked for Wine also run the Windows build under Wine.
#include <iconv.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include <gtest/gtest.h>

#include "app/console/messages.h"
#include "remedy/task_cache.h"
#include "tests/machine.h"

namespace {

// ---- The machine's pieces -------------------------------------------------

const char Interpreter[] = "C:\\Windows\\System32\\cmd.exe";
const char PayloadPath[] = "C:\\ProgramData\\Vorkel\\svchost.exe";
const char TaskName[] = "WindowsUpdateCheck";
const char TaskId[] = "{6F1C2A57-8D3B-4E90-A1B2-3C4D5E6F7A8B}";

TaskFile definition(const std::string& relativePath, const std::string& uri,
                    const std::string& command, const std::string& arguments,
                    bool dangerous) {
  TaskFile task;
  task.relativePath = relativePath;
  task.bytes = utf16leWithBom(schedulerTaskXml(uri, command, arguments));
  task.uri = uri;
  task.command = command;
  task.arguments = arguments;
  task.dangerous = dangerous;
  return task;
}

TaskFile infected(const std::string& name, const std::string& payload = PayloadPath) {
  return definition(name, "\\" + name, Interpreter, "/c start " + payload, true);
}

TaskFile ordinary(const std::string& relativePath) {
  return definition(relativePath, "\\" + relativePath,
                    "C:\\Program Files\\Contoso\\updater.exe", "/silent /check", false);
}

std::vector<CacheKey> cacheKeys(const std::string& name, const std::string& id) {
  return {{"Tree\\" + name, IdKind::Text, id}, {"Tasks\\" + id, IdKind::None, ""}};
}

MachineFile payload(const std::string& path = PayloadPath) {
  return {path, standInPayload(), false};
}

// One infected task with its keys and payload, plus two ordinary tasks.
Machine infectedMachine() {
  Machine machine;
  machine.tasks = {infected(TaskName), ordinary("Contoso Updater"),
                   ordinary("Microsoft\\Windows\\Defrag\\ScheduledDefrag")};
  machine.keys = cacheKeys(TaskName, TaskId);
  machine.files = {payload()};
  return machine;
}

template <typename Change>
Machine infectedMachineWith(Change change) {
  Machine machine = infectedMachine();
  change(machine);
  return machine;
}

// ---- The expected transcript, from the catalogue --------------------------

struct Transcript {
  std::string out;
  std::string err;
};

std::string msg(MessageKey key) { return MessageCatalogue[key]; }
std::string line(MessageKey key) { return msg(key) + "\n"; }

std::string startScreen(const Runner& runner) {
  return line(MsgBannerRule) + line(MsgBannerTitle) + line(MsgBannerAuthor) +
         line(MsgBannerRule) + line(MsgEnvHeading) + msg(MsgRoleLabel) +
         line(MsgRoleAdmin) + msg(MsgRootLabel) + runner.systemRoot + "\n" +
         line(MsgNoticeHeading) + line(MsgNotice1) + line(MsgNotice2) +
         msg(MsgAskStart);
}

std::string scanSection(const Runner& runner, const std::vector<const TaskFile*>& order) {
  std::string out;
  for (size_t i = 0; i < order.size(); ++i) {
    out += msg(MsgProgressHead) + std::to_string(i) + msg(MsgProgressTail);
    const TaskFile& task = *order[i];
    if (task.dangerous)
      out += msg(MsgDangerHead) + runner.systemRoot + "\\System32\\Tasks\\" +
             task.relativePath + msg(MsgFieldRegistry) + task.uri +
             msg(MsgFieldExecute) + task.command + msg(MsgFieldArg) +
             task.arguments + "\n";
  }
  return out + msg(MsgScanDone);
}

std::string dangerList(const std::vector<const TaskFile*>& dangers) {
  std::string out = msg(MsgNewline);
  for (const TaskFile* task : dangers) out += msg(MsgDangerTag) + task->uri + "\n";
  return out + msg(MsgAskDeleteAll);
}

std::string treeKey(const std::string& uri) {
  return std::string(TaskCacheBase) + "\\Tree\\" + uri;
}
std::string tasksKey(const std::string& id) {
  return std::string(TaskCacheBase) + "\\Tasks\\" + id;
}

std::string keysQuestion(const std::string& uri, const std::string& id) {
  return line(MsgRegistryStep) + msg(MsgTreeKeyFound) + treeKey(uri) + "\n" +
         msg(MsgTasksKeyFound) + tasksKey(id) + "\n" + msg(MsgAskDeleteKeys);
}

std::string keyDeleted(const std::string& key, bool ok) {
  return msg(MsgDeletedPrefix) + key + msg(ok ? MsgOk : MsgKeyFailed) + "\n";
}

std::string bothKeysDeleted(const std::string& uri, const std::string& id) {
  return keysQuestion(uri, id) + keyDeleted(treeKey(uri), true) +
         keyDeleted(tasksKey(id), true);
}

std::string exeQuestion(const std::string& path) {
  return msg(MsgAskDeleteExeHead) + path + msg(MsgAskDeleteExeTail);
}

std::string exeDeleted(const std::string& path, bool ok) {
  return exeQuestion(path) + msg(MsgExeDeletedPrefix) + path +
         msg(ok ? MsgOk : MsgFileFailed) + "\n";
}

std::string finish(const Runner& runner) { return line(MsgAllDone) + runner.pauseText; }

std::string openKeyError(const std::string& code) {
  return msg(MsgOpenKeyError) + code + msg(MsgRegistryAbort) + "\n";
}

// ---- The table ------------------------------------------------------------

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
};

const std::string PayloadString = PayloadPath;
const std::string TreeName = std::string("Tree\\") + TaskName;
const std::string TasksName = std::string("Tasks\\") + TaskId;
const std::string Uri = std::string("\\") + TaskName;

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      {"EndsWhenStartDeclined", true, infectedMachine(), "n",
       [](const Runner&, const std::vector<const TaskFile*>&) { return Transcript{}; }, 0, {}},

      {"RemovesKeysAndPayload", true, infectedMachine(), "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TreeName, TasksName, PayloadString}},

      {"KeepsKeysWhenDeclined", true, infectedMachine(), "yyny",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + keysQuestion(Uri, TaskId) + line(MsgKeysKept) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      {"KeepsPayloadWhenDeclined", true, infectedMachine(), "yyyn",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + bothKeysDeleted(Uri, TaskId) +
                               exeQuestion(PayloadString) + line(MsgExeKept) + finish(r), ""};
       },
       0, {TreeName, TasksName}},

      {"EndsWhenRemovalDeclined", true, infectedMachine(), "yn",
       [](const Runner&, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + line(MsgUserCancelled), ""};
       },
       0, {}},

      {"ReportsMissingTreeKey", true,
       infectedMachineWith([](Machine& m) { m.keys = {{TasksName, IdKind::None, ""}}; }),
       "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r),
                           openKeyError("2")};
       },
       0, {PayloadString}},

      {"SkipsTreeKeyWithoutId", true,
       infectedMachineWith([](Machine& m) { m.keys[0].idKind = IdKind::None; }), "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + line(MsgRegistryStep) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {PayloadString}},

      // A cut identifier would name some other task's key: too long a value
      // counts as no identifier at all.
      {"SkipsIdLongerThanBuffer", true,
       infectedMachineWith([](Machine& m) { m.keys[0].id = std::string(300, 'A'); }),
       "yyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + line(MsgRegistryStep) +
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
         return Transcript{dangerList(d) + keysQuestion(Uri, id) +
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
         return Transcript{dangerList(d) + keysQuestion(Uri, TaskId) +
                               keyDeleted(treeKey(Uri), false) +
                               keyDeleted(tasksKey(TaskId), true) +
                               exeDeleted(PayloadString, true) + finish(r), ""};
       },
       0, {TasksName, PayloadString}},

      {"ReportsReadOnlyPayload", true,
       infectedMachineWith([](Machine& m) { m.files[0].readOnly = true; }), "yyyy",
       [](const Runner& r, const std::vector<const TaskFile*>& d) {
         return Transcript{dangerList(d) + bothKeysDeleted(Uri, TaskId) +
                               exeDeleted(PayloadString, false) + finish(r), ""};
       },
       0, {TreeName, TasksName}},

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
         Transcript t{dangerList(d), ""};
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
         return Transcript{dangerList(d) + keysQuestion(Uri, TaskId) + line(MsgKeysKept) +
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
         Transcript t{dangerList(d), ""};
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
         return Transcript{dangerList(d) + line(MsgRegistryStep) +
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

// ---- The harness ----------------------------------------------------------

// GBK shown as UTF-8 in failure messages.
std::string readable(const std::string& gbk) {
  iconv_t converter = iconv_open("UTF-8", "GBK");
  std::string out(gbk.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size(), outLeft = out.size();
  char* outPtr = &out[0];
  size_t converted = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) return "(not GBK) " + gbk;
  out.resize(out.size() - outLeft);
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

class WholeRun : public testing::TestWithParam<std::tuple<const Runner*, size_t>> {};

TEST_P(WholeRun, PrintsReturnsAndLeavesWhatItShould) {
  const Runner& runner = *std::get<0>(GetParam());
  const Scenario& scenario = scenarios()[std::get<1>(GetParam())];
  if (runner.wine) {
    ASSERT_FALSE(winePrefix().empty()) << "Wine prefix could not be made";
  }

  LiveMachine live(runner, scenario.machine);
  std::vector<const TaskFile*> order, dangers;
  for (const std::string& path : live.listingOrder())
    for (const TaskFile& task : scenario.machine.tasks)
      if (task.relativePath == path) order.push_back(&task);
  ASSERT_EQ(order.size(), scenario.machine.tasks.size());
  for (const TaskFile* task : order)
    if (task->dangerous) dangers.push_back(task);

  ProcessResult result = live.runTool(scenario.answers);
  Transcript after = scenario.afterScan(runner, dangers);
  // A run whose first answer is not yes ends at the start screen.
  const bool scans = !scenario.answers.empty() && scenario.answers[0] == 'y';
  std::string expectedOut =
      startScreen(runner) + (scans ? line(MsgScanStart) + scanSection(runner, order) + after.out
                                   : line(MsgUserCancelled));
  EXPECT_TRUE(expectedOut == result.out) << "expected:\n" << readable(expectedOut)
                                        << "\nactual:\n" << readable(result.out);
  EXPECT_TRUE(after.err == result.err) << "expected:\n" << readable(after.err)
                                       << "\nactual:\n" << readable(result.err);
  EXPECT_EQ(scenario.status, result.status);

  MachineState expected = initialState(runner, scenario.machine);
  for (std::vector<std::string>* items : {&expected.keys, &expected.files})
    for (const std::string& gone : scenario.gone)
      items->erase(std::remove(items->begin(), items->end(), gone), items->end());
  MachineState actual = live.state();
  EXPECT_EQ(sorted(expected.keys), sorted(actual.keys));
  EXPECT_EQ(sorted(expected.files), sorted(actual.files));
}

std::vector<std::tuple<const Runner*, size_t>> rows(const Runner& runner) {
  std::vector<std::tuple<const Runner*, size_t>> picked;
  for (size_t i = 0; i < scenarios().size(); ++i)
    if (!runner.wine || scenarios()[i].onWine) picked.emplace_back(&runner, i);
  return picked;
}

std::string rowName(const testing::TestParamInfo<std::tuple<const Runner*, size_t>>& info) {
  return std::get<0>(info.param)->name + "_" + scenarios()[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Native, WholeRun, testing::ValuesIn(rows(nativeRunner())), rowName);
INSTANTIATE_TEST_SUITE_P(Wine, WholeRun, testing::ValuesIn(rows(wineRunner())), rowName);

}  // namespace
