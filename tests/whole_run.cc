#include "tests/whole_run.h"

#include <stdio.h>

#include <algorithm>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "remedy/task_cache.h"
#include "text/text.h"
#include "tests/wine.h"

TaskFile definition(const std::string& relativePath, const std::string& uri,
                    const std::string& command, const std::string& arguments,
                    bool dangerous) {
  return {.relativePath = relativePath,
          .bytes = utf16leWithBom(schedulerTaskXml(uri, command, arguments)),
          .uri = uri, .command = command, .arguments = arguments, .dangerous = dangerous};
}

TaskFile infected(const std::string& name, const std::string& payload) {
  return definition(name, "\\" + name, Interpreter, "/c start " + payload, true);
}

TaskFile ordinary(const std::string& relativePath) {
  return definition(relativePath, "\\" + relativePath,
                    "C:\\Program Files\\Contoso\\updater.exe", "/silent /check", false);
}

std::vector<CacheKey> cacheKeys(const std::string& name, const std::string& id) {
  return {{"Tree\\" + name, IdKind::Text, id}, {"Tasks\\" + id, IdKind::None, ""}};
}

MachineFile payload(const std::string& path) { return {path, standInPayload(), false}; }

Machine infectedMachine() {
  return {.tasks = {infected(TaskName), ordinary("Contoso Updater"),
                    ordinary("Microsoft\\Windows\\Defrag\\ScheduledDefrag")},
          .keys = cacheKeys(TaskName, TaskId), .files = {payload()}};
}

// ---- The expected transcript, from the catalogue, and the checks of a run --

namespace {

std::string treeKey(const std::string& uri) {
  return std::string(TaskCacheBase) + "\\Tree\\" + uri;
}
std::string tasksKey(const std::string& id) {
  return std::string(TaskCacheBase) + "\\Tasks\\" + id;
}

// The registry step's heading, both found-lines and the question.
std::string keysQuestion(const std::string& uri, const std::string& id) {
  return line(MsgRegistryStep) + msg(MsgTreeKeyFound) + treeKey(uri) + "\n" +
         msg(MsgTasksKeyFound) + tasksKey(id) + "\n" + msg(MsgAskDeleteKeys);
}

std::string keyDeleted(const std::string& key, bool ok) {
  return msg(MsgDeletedPrefix) + key + msg(ok ? MsgOk : MsgKeyFailed) + "\n";
}

// GBK shown as UTF-8, for failure messages.
std::string readable(const std::string& gbk) {
  std::string utf8;
  return convertText(gbk, "UTF-8", "GBK", &utf8) ? utf8 : "(not GBK) " + gbk;
}

// A value (UTF-8) as the runner's tool shows it, each control character as
// '?': otherwise as it is natively; under Wine in code page 936, each
// character it cannot hold as '?'.
std::string shown(const Runner& runner, const std::string& value) {
  std::string utf8 = value;
  for (char& c : utf8)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  if (!runner.wine) return utf8;
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    // A lone surrogate's three bytes are one character, which GBK has not.
    const size_t start = at;
    const bool wellFormed = nextCodePoint(utf8, &at) != NotACharacter;
    std::string character = utf8.substr(start, at - start), gbk;
    out += !wellFormed                 ? "?"
           : character.size() == 1     ? character
           : convertText(character, "GBK", "UTF-8", &gbk) ? gbk
                                                            : "?";
  }
  return out;
}

std::string dangerLine(const Runner& runner, const std::string& where, const TaskFile& task) {
  return msg(MsgDangerHead) + shown(runner, where) + msg(MsgFieldRegistry) +
         shown(runner, task.uri) + msg(MsgFieldExecute) + shown(runner, task.command) +
         msg(MsgFieldArg) + shown(runner, task.arguments) + "\n";
}

// The scan's line naming a link in the task store (a Windows path).
std::string linkLine(const Runner& runner, const std::string& path, const std::string& target) {
  return msg(MsgStoreLinkHead) + shown(runner, path) + msg(MsgFieldLinkTarget) +
         shown(runner, target) + "\n";
}

// The definitions in the order listed, then the dangerous tasks only the
// registry has.
std::string scanSection(const Runner& runner, const Dangers& order, const Dangers& registryOnly) {
  std::string out;
  for (size_t i = 0; i < order.size(); ++i) {
    out += msg(MsgProgressHead) + std::to_string(i) + msg(MsgProgressTail);
    const TaskFile& task = *order[i];
    const std::string path = taskStore(runner) + "\\" + task.relativePath;
    const std::string& unread = task.unjudgedPath.empty() ? path : task.unjudgedPath;
    if (!task.unjudgedFields.empty())
      out += msg(MsgUnjudgedHead) + shown(runner, unread) + task.unjudgedFields + "\n";
    if (task.dangerous) out += dangerLine(runner, path, task);
  }
  for (const TaskFile* task : registryOnly)
    out += dangerLine(runner, CacheRoot + "\\Tree\\" + task->relativePath, *task);
  return out + msg(MsgScanDone);
}

std::string dangerList(const Runner& runner, const Dangers& dangers) {
  std::string out = msg(MsgNewline);
  for (const TaskFile* task : dangers) out += msg(MsgDangerTag) + shown(runner, task->uri) + "\n";
  return out + msg(MsgAskDeleteAll);
}

std::string finish(bool restart = false) {
  return line(MsgAllDone) + (restart ? line(MsgRestartNeeded) : "") + msg(MsgPressAnyKey) + "\r\n";
}

std::string otherNames(const Runner& r, const Removal& removal) {
  std::string out;
  for (const std::string& name : removal.otherNames)
    out += msg(MsgOtherName) + shown(r, name) + "\n";
  return out + (removal.otherNamesUnlisted ? line(MsgOtherNamesUnlisted) : "");
}

// One task's registry step and executable step.
std::string removalSteps(const Runner& r, const Removal& removal, const ProcessIds& ids) {
  const std::string uri = shown(r, removal.uri), exe = shown(r, removal.exe);
  std::string out = removal.keysFound ? keysQuestion(uri, removal.id) : line(MsgRegistryStep);
  if (removal.keysFound)
    out += removal.keysKept ? line(MsgKeysKept)
                            : keyDeleted(treeKey(uri), removal.treeDeleted) +
                                  keyDeleted(tasksKey(removal.id), removal.tasksDeleted);
  out += msg(MsgAskDeleteExeHead) + exe + msg(MsgAskDeleteExeTail);
  if (removal.exeKept) return out + line(MsgExeKept);
  const auto id = ids.find(removal.exe);
  if (removal.exeStopped)
    out += msg(MsgStopProcessPrefix) + exe + msg(MsgProcessIdLabel) +
           (id != ids.end() ? id->second : "(not running)") + msg(MsgOk) + "\n";
  out += msg(MsgExeDeletedPrefix) + exe;
  return out + msg(removal.exeDeleted ? MsgOk : MsgFileFailed) + "\n" +
         (removal.exeDeleted ? otherNames(r, removal) : "");
}


// The record as the run left it: UTF-8 with a byte-order mark, CR LF after
// every line, one block a run; the lines the row names in their order.
void checkRecord(LiveMachine& live, const Scenario& scenario, int status) {
  if (scenario.backups >= 0) {
    EXPECT_EQ(static_cast<size_t>(scenario.backups), live.registryBackups().size());
  }
  if (!scenario.backupHolds.empty()) {
    const std::vector<std::string> backups = live.registryBackups();
    ASSERT_EQ(1u, backups.size());
    std::string text;
    EXPECT_TRUE(convertText(readFile(backups[0]), "UTF-8", "UTF-16", &text));
    EXPECT_NE(std::string::npos, text.find(scenario.backupHolds)) << text;
  }
  const std::string record = live.runRecord();
  if (scenario.recordsNothing) {
    EXPECT_EQ("", record);
  }
  if (!scenario.recordHolds && scenario.outcome.empty()) return;
  ASSERT_TRUE(startsWith(record, "\xEF\xBB\xBF")) << "no byte-order mark:\n" << record;
  std::string text;
  EXPECT_TRUE(convertText(record.substr(3), "UTF-8", "UTF-8", &text)) << "not UTF-8";
  std::vector<std::string> lines = splitLines(record.substr(3));
  for (std::string& each : lines) {
    ASSERT_TRUE(!each.empty() && each.back() == '\r') << "a line without CR LF:\n" << each;
    each.pop_back();
  }
  ASSERT_GE(lines.size(), 5u) << record;
  EXPECT_EQ(std::string("==== vorkelbraith-remover ") + VORKEL_VERSION + " ====", lines[0]);
  EXPECT_TRUE(startsWith(lines[1], "time: ")) << lines[1];
  EXPECT_TRUE(startsWith(lines[2], "computer: ")) << lines[2];
  EXPECT_EQ("exit status: " + std::to_string(status), lines[lines.size() - 2]);
  EXPECT_EQ("", lines.back());
  if (!scenario.outcome.empty()) {
    EXPECT_EQ("outcome: " + scenario.outcome, lines[lines.size() - 3]);
  }
  if (!scenario.recordHolds) return;
  size_t at = 0;
  for (const std::string& wanted : scenario.recordHolds(live.runner)) {
    const bool prefix = !wanted.empty() && wanted.back() == '*';
    const std::string start = wanted.substr(0, wanted.size() - prefix);
    while (at < lines.size() && (prefix ? !startsWith(lines[at], start) : lines[at] != wanted))
      ++at;
    ASSERT_LT(at, lines.size()) << "the record lacks, or has out of order:\n"
                                << wanted << "\nrecord:\n" << text;
  }
}

// The machine's listed tasks in the order the system lists them.
// Links are no definitions: the scan names each before its progress lines,
// in the order the walk meets them; under Wine as the Windows build's walk
// lists them (Wine shows a link's target only as where it ends).
void listedTasks(LiveMachine& live, std::vector<const TaskFile*>* order, std::string* links) {
  std::map<std::string, const TaskFile*> byPath;
  size_t listed = 0;
  for (const TaskFile& task : live.machine.tasks) {
    if (task.registryOnly) continue;
    byPath[task.relativePath] = &task;
    listed += task.listed && task.kind != EntryKind::Symlink;
  }
  for (const std::string& path : live.listingOrder()) {
    auto found = byPath.find(path);
    if (startsWith(path, "link ")) {
      const size_t arrow = path.find(" -> ");
      std::string target = path.substr(arrow + 4);
      if (target.size() > 7 && target.substr(target.size() - 7) == " walked")
        target.resize(target.size() - 7);
      *links += linkLine(live.runner, path.substr(5, arrow - 5), target);
    } else if (found != byPath.end() && found->second->listed &&
               found->second->kind == EntryKind::Symlink) {
      *links += linkLine(live.runner, taskStore(live.runner) + "\\" + path, found->second->bytes);
    } else if (found != byPath.end() && found->second->listed) {
      order->push_back(found->second);
    }
  }
  ASSERT_EQ(order->size(), listed);
}

// Runs the tool with the row's answers, holding the last one back for the
// row's change to the machine when it has one; in time and in memory.
ProcessResult runRow(LiveMachine& live, const Scenario& scenario) {
  const double start = monotonicSeconds();
  long peakKib = 0;
  Interlude interlude;
  std::string answers = scenario.answers;
  if (scenario.beforeExeAnswer) {
    interlude.waitFor = msg(MsgAskDeleteExeTail);
    interlude.act = [&] { scenario.beforeExeAnswer(live); };
    interlude.rest = answers.substr(answers.size() - 1);
    answers.pop_back();
  }
  ProcessResult result = live.runTool(answers, scenario.timeoutSeconds,
                                      scenario.peakKibLimit != 0 ? &peakKib : nullptr,
                                      scenario.beforeExeAnswer ? &interlude : nullptr);
  const double took = monotonicSeconds() - start;
  if (took > 1) printf("%s: the tool ran %.1f s\n", scenario.name, took);
  EXPECT_FALSE(result.timedOut);
  if (scenario.peakKibLimit != 0) {
    EXPECT_GT(peakKib, 0);
    EXPECT_LT(peakKib, scenario.peakKibLimit);
    printf("%s: peak resident memory %ld KiB\n", scenario.name, peakKib);
  }
  return result;
}

// Both transcripts when they are short; otherwise where they part.
std::string difference(const std::string& expected, const std::string& actual) {
  if (expected.size() + actual.size() < (64u << 10))
    return "expected:\n" + readable(expected) + "\nactual:\n" + readable(actual);
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t from = at < 200 ? 0 : at - 200;
  return "expected " + std::to_string(expected.size()) + " bytes, got " +
         std::to_string(actual.size()) + "; they part at byte " + std::to_string(at) +
         "\nexpected there:\n" + readable(expected.substr(from, 400)) +
         "\nactual there:\n" + readable(actual.substr(from, 400));
}

void checkTranscript(const LiveMachine& live, const Scenario& scenario,
                     const std::vector<const TaskFile*>& order, const std::string& links,
                     const ProcessResult& result) {
  const Runner& runner = live.runner;
  Dangers dangers, registryOnly;
  for (const TaskFile* task : order)
    if (task->dangerous) dangers.push_back(task);
  for (const TaskFile& task : scenario.machine.tasks)
    if (task.registryOnly && task.dangerous) registryOnly.push_back(&task);
  dangers.insert(dangers.end(), registryOnly.begin(), registryOnly.end());
  // A run whose first answer is not yes ends at the start screen.
  const bool scans = !scenario.answers.empty() && scenario.answers[0] == 'y';
  std::string expectedOut = startScreenText(MsgRoleAdmin, runner.systemRoot) +
                            (scans ? line(MsgScanStart) +
                                         links +
                                         scanSection(runner, order, registryOnly) +
                                         scenario.afterScan(runner, dangers, live.runningIds)
                                   : line(MsgUserCancelled));
  EXPECT_TRUE(expectedOut == result.out) << difference(expectedOut, result.out);
  EXPECT_TRUE(scenario.err == result.err) << difference(scenario.err, result.err);
  EXPECT_EQ(scenario.status, result.status);
}

// Under Wine: the run's one backup, imported with regedit, gives back the
// cache as it was before the run, but for the values whose names would plant
// a key (regedit's export writes such a name on one line, escaped); and no
// planted key is made.
void checkRestore(LiveMachine& live, const std::string& cacheBefore,
                  const std::string& plantedKey) {
  const std::vector<std::string> backups = live.registryBackups();
  ASSERT_EQ(1u, backups.size());
  ASSERT_EQ(0, importRegistry(readFile(backups[0])));
  std::string expected = cacheBefore;
  if (!plantedKey.empty()) {
    std::string escaped;
    for (char c : plantedKey) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    expected.clear();
    for (const std::string& exported : splitLines(cacheBefore))
      if (exported.find(escaped) == std::string::npos) expected += exported + "\n";
    EXPECT_NE(expected.size(), cacheBefore.size()) << "no value names " << plantedKey;
    EXPECT_EQ("", exportedKey("HKEY_LOCAL_MACHINE\\" + plantedKey));
  }
  const std::string after = exportedKey(CacheRoot);
  EXPECT_TRUE(expected == after) << "expected:\n" << expected << "\nafter the import:\n" << after;
}

// What one sorted list has that the other has not, a few of each.
std::string listDifference(const std::vector<std::string>& expected,
                           const std::vector<std::string>& actual) {
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                      std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  std::string text;
  for (auto part : {std::make_pair("gone: ", &missing), std::make_pair("unexpected: ", &extra)})
    for (size_t i = 0; i < part.second->size() && i < 10; ++i)
      text += part.first + readable((*part.second)[i]) + "\n";
  return text;
}

// Every key and file the machine had is there but those the row says are
// gone (keys that a restore brought back are there again), and no other.
void checkState(const Runner& runner, const Scenario& scenario, bool keysRestored,
                const MachineState& actual) {
  MachineState expected = initialState(runner, scenario.machine);
  for (const std::string& gone : scenario.gone) {
    if (startsWith(gone, "C:") || !keysRestored)
      for (std::vector<std::string>* items : {&expected.keys, &expected.files})
        items->erase(std::remove(items->begin(), items->end(), gone), items->end());
  }
  for (auto lists : {std::make_pair(&expected.keys, &actual.keys),
                     std::make_pair(&expected.files, &actual.files)}) {
    std::vector<std::string> want = *lists.first, have = *lists.second;
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    EXPECT_TRUE(want == have) << listDifference(want, have);
  }
}

}  // namespace

std::string errorField(long code) {
  char hex[16];
  snprintf(hex, sizeof hex, "%lx", code);
  return msg(MsgFieldErrorCode) + hex;
}

AfterScan removesEach(const std::function<Removal(const TaskFile&, size_t)>& each) {
  return [each](const Runner& r, const Dangers& d, const ProcessIds& ids) {
    std::string out = dangerList(r, d);
    bool restart = false;
    for (size_t i = 0; i < d.size(); ++i) {
      const Removal one = each(*d[i], i);
      out += removalSteps(r, one, ids);
      const bool keysGone = one.keysFound && !one.keysKept && (one.treeDeleted || one.tasksDeleted);
      restart = restart || (keysGone && one.exeKept);
    }
    return out + finish(restart);
  };
}

AfterScan removes(const Removal& one) {
  return removesEach([one](const TaskFile&, size_t) { return one; });
}

const AfterScan removesAll = removes({}), keysKept = removes({.keysKept = true}),
                executableKept = removes({.exeKept = true}),
                bothKept = removes({.keysKept = true, .exeKept = true}),
                noIdentifier = removes({.keysFound = false});
const AfterScan nothingFound = [](const Runner&, const Dangers&, const ProcessIds&) {
  return finish();
};
const AfterScan cancelsAfterList = [](const Runner& r, const Dangers& d, const ProcessIds&) {
  return dangerList(r, d) + line(MsgUserCancelled);
};
AfterScan treeKeyOnly(const std::string& id) {
  return removes({.id = id, .tasksDeleted = false});
}

RecordLines holds(const std::vector<std::string>& lines) {
  return [lines](const Runner&) { return lines; };
}

std::vector<std::string> recordedDanger(const Runner& runner, const std::string& definition,
                                        const std::string& uri, const std::string& arguments,
                                        const std::string& executable) {
  return {"answer: start the scan: yes",
          "task store: " + taskStore(runner),
          "dangerous task: " + taskStore(runner) + "\\" + definition,
          "  uri: " + uri,
          "  command: " + std::string(Interpreter),
          "  arguments: " + arguments,
          "  executable: " + executable,
          "  md5: " + md5Of(standInPayload())};
}

std::vector<std::string> recordedKeys(const std::string& uri, const std::string& id, bool yes) {
  const std::string tree = "HKEY_LOCAL_MACHINE\\" + treeKey(uri);
  const std::string tasks = "HKEY_LOCAL_MACHINE\\" + tasksKey(id);
  const std::string asked = "answer: delete registry keys " + tree + " and " + tasks + ": ";
  if (!yes) return {asked + "no", "registry keys: kept by the user"};
  return {asked + "yes", "registry backup: *", "key deleted: " + tree, "key deleted: " + tasks};
}

std::vector<std::string> recordedFile(const std::string& path, bool yes) {
  return {"answer: delete executable " + path + ": " + (yes ? "yes" : "no"),
          (yes ? "file deleted: " : "file kept by the user: ") + path};
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> lines;
  for (const std::vector<std::string>& part : parts)
    lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

RecordLines recordedRemoval(bool keys, bool file) {
  return [keys, file](const Runner& runner) {
    return joined({recordedDanger(runner),
                   {"definitions read: 3", "answer: remove the dangerous tasks: yes",
                    "removing: " + Uri},
                   recordedKeys(Uri, TaskId, keys), recordedFile(PayloadString, file),
                   keys && !file ? std::vector<std::string>{"restart needed: *"}
                                 : std::vector<std::string>()});
  };
}

void checkWholeRun(const Runner& runner, const Scenario& row) {
  if (skipped(cannotRun(runner.program))) return;
  ASSERT_TRUE(!runner.wine || !winePrefix().empty()) << winePrefixProblem();
  const double start = monotonicSeconds();
  Scenario scenario = row;
  if (scenario.prepare) scenario.prepare(runner, scenario);
  LiveMachine live(runner, scenario.machine);
  std::vector<const TaskFile*> order;
  std::string links;
  listedTasks(live, &order, &links);
  if (testing::Test::HasFatalFailure()) return;
  const bool restores = scenario.restoresFromBackup && runner.wine;
  const std::string cacheBefore = restores ? exportedKey(CacheRoot) : std::string();
  ProcessResult result = runRow(live, scenario);
  checkTranscript(live, scenario, order, links, result);
  checkRecord(live, scenario, result.status);
  if (restores) checkRestore(live, cacheBefore, scenario.plantedKey);
  if (testing::Test::HasFatalFailure()) return;
  MachineState actual = live.state();
  // No row leaves a file to the restart (under Wine the system's list).
  EXPECT_TRUE(actual.deletedAtRestart.empty()) << actual.deletedAtRestart[0];
  checkState(runner, scenario, restores, actual);
  const double took = monotonicSeconds() - start;
  if (took > 3) printf("%s: %.1f s with the machine built and checked\n", row.name, took);
}

std::vector<RowParam> rowsFor(const std::vector<Scenario>& table, const Runner& runner) {
  std::vector<RowParam> picked;
  for (size_t i = 0; i < table.size(); ++i) {
    const bool release = table[i].peakKibLimit != 0;
    if (runner.wine ? table[i].onWine
                    : !table[i].wineOnly && release == (&runner == &releaseRunner()))
      picked.emplace_back(&runner, &table[i]);
  }
  return picked;
}

std::string rowName(const testing::TestParamInfo<RowParam>& row) {
  return std::get<0>(row.param)->name + "_" + std::get<1>(row.param)->name;
}
