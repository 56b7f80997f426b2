#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "remedy/payload.h"
#include "remedy/task_cache.h"
#include "tests/test_support.h"

namespace {

// Where the machine in a folder keeps a key of the cache, or any path.
std::string hostPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string cacheFolder(const std::string& subKey) {
  return hostPath("HKEY_LOCAL_MACHINE/" + std::string(TaskCacheBase) + "/" + subKey);
}

// The registry path follows the definition's own place below the task
// store; its URI only when it names that same task.
TEST(Remedy, RegistryPathIsTheTasksOwnUnlessTheUriNamesIt) {
  const struct { const char* uri; const char* taskPath; const char* used; } cases[] = {
      {"\\Updater", "\\Updater", "\\Updater"},
      {"\\UPDATER", "\\updater", "\\UPDATER"},
      {"Updater", "\\Updater", "Updater"},
      {"\\Folder\\\\Task\\", "\\Folder\\Task", "\\Folder\\\\Task\\"},
      {"\\Microsoft\\Windows\\Defrag\\ScheduledDefrag", "\\Evil", "\\Evil"},
      {"", "\\Evil", "\\Evil"},
      {"\\", "\\Evil", "\\Evil"},
      {u8"\\微软\\计划", u8"\\微软\\计划", u8"\\微软\\计划"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.used, registryTaskPath(c.uri, c.taskPath)) << c.uri;
}

// The plan opens the Tree key, and the Tasks key its Id names, before any
// question; a Tasks key whose Path names another task is known then too.
TEST(Remedy, PlansBothKeysThroughTheTreeKeysId) {
  InMachineFolder machine;
  for (const char* name : {"Updater", "Same", "Other", "NoPath"})
    writeFile(cacheFolder(std::string("Tree\\") + name + "\\Id"), std::string("{") + name + "}");
  writeFile(cacheFolder("Tasks\\{Updater}\\Path"), std::string("\\Updater\0", 9));
  writeFile(cacheFolder("Tasks\\{Same}\\path"), "\\SAME");
  writeFile(cacheFolder("Tasks\\{Other}\\Path"), "\\Microsoft\\Other");
  makeFolders(cacheFolder("Tasks\\{NoPath}"));
  makeFolders(cacheFolder("Tree\\NoId"));
  writeFile(cacheFolder("Tree\\Long\\Id"), std::string(300, 'x'));
  // A string's terminating zero counts: 259 characters fill the buffer, 260
  // are too long; bytes with no zero are taken whole up to its end.
  writeFile(cacheFolder("Tree\\Fills\\Id"), std::string(259, 'A') + '\0');
  writeFile(cacheFolder("Tree\\Over\\Id"), std::string(260, 'A') + '\0');
  writeFile(cacheFolder("Tree\\Bytes\\Id"), std::string(260, 'B'));
  writeFile(cacheFolder("Tree\\Number\\Id"), std::string("123\0", 4));
  makeFolders(cacheFolder("Tasks\\123"));
  writeFile(cacheFolder("Tree\\Dots\\Id"), "..\\Tree\\Updater");
  writeFile(cacheFolder("Tree\\NoSuch\\Id"), "{no-such-task}");
  writeFile(cacheFolder("Victim\\Id"), "{victim}");
  ASSERT_EQ(0, symlink("../Victim", cacheFolder("Tree\\Link").c_str()));
  const std::string tasks = std::string(TaskCacheBase) + "\\Tasks\\";
  const struct {
    const char* path;
    long found;
    std::string tasksKey;
    long tasksOpened;
    const char* owner;
    bool another;
  } cases[] = {
      {"\\Updater", ErrorSuccess, tasks + "{Updater}", ErrorSuccess, "\\Updater", false},
      {"\\Same", ErrorSuccess, tasks + "{Same}", ErrorSuccess, "\\SAME", false},
      {"\\Other", ErrorSuccess, tasks + "{Other}", ErrorSuccess, "\\Microsoft\\Other", true},
      {"\\NoPath", ErrorSuccess, tasks + "{NoPath}", ErrorSuccess, "", false},
      {"\\NoId", ErrorSuccess, "", ErrorSuccess, "", false},
      {"\\Long", ErrorSuccess, "", ErrorSuccess, "", false},  // too long for an Id whole
      {"\\Fills", ErrorSuccess, tasks + std::string(259, 'A'), ErrorNotFound, "", false},
      {"\\Over", ErrorSuccess, "", ErrorSuccess, "", false},
      {"\\Bytes", ErrorSuccess, tasks + std::string(260, 'B'), ErrorNotFound, "", false},
      {"\\Number", ErrorSuccess, tasks + "123", ErrorSuccess, "", false},
      // Taken literally, never as the other task's key it would name.
      {"\\Dots", ErrorSuccess, tasks + "..\\Tree\\Updater", ErrorNotFound, "", false},
      {"\\NoSuch", ErrorSuccess, tasks + "{no-such-task}", ErrorNotFound, "", false},
      {"\\Missing", ErrorNotFound, "", ErrorSuccess, "", false},
      {"\\Link", ErrorKeyIsLink, "", ErrorSuccess, "", false},  // not followed to its Id
  };
  for (const auto& c : cases) {
    const KeysPlan plan = planKeyRemoval(c.path);
    EXPECT_EQ(std::string(TaskCacheBase) + "\\Tree\\" + c.path, plan.treeKey);
    EXPECT_EQ(c.found, plan.treeFound) << c.path;
    EXPECT_EQ(c.tasksKey, plan.tasksKey) << c.path;
    EXPECT_EQ(c.tasksOpened, plan.tasks.how.result) << c.path;
    EXPECT_EQ(c.owner, plan.owner) << c.path;
    EXPECT_EQ(c.another, plan.ownedByAnother) << c.path;
  }
  // Deleting what the plan for the dotted Id opened leaves the key it names.
  EXPECT_EQ(ErrorNotFound, removeKeys(planKeyRemoval("\\Dots")).tasks.result);
  EXPECT_EQ("{Updater}", readFile(cacheFolder("Tree\\Updater\\Id")));
}

// The backup is read through the handles that delete; a key renamed into a
// planned key's name meanwhile is neither backed up nor deleted, and a link
// is neither read nor deleted, nor is what it points at.
TEST(Remedy, BacksUpAndDeletesWhatThePlanOpened) {
  InMachineFolder machine;
  writeFile(cacheFolder("Tree\\T\\Id"), "{1}");
  writeFile(cacheFolder("Tasks\\{1}\\Path"), "\\T");
  KeysPlan plan = planKeyRemoval("\\T");
  ASSERT_EQ(2u, snapshotPlannedKeys(plan).size());
  EXPECT_EQ("\\T", snapshotPlannedKeys(plan)[1].values.at(0).raw);
  KeysRemoval removal = removeKeys(plan);
  EXPECT_EQ(ErrorSuccess, removal.tree.result);
  EXPECT_EQ(ErrorSuccess, removal.tasks.result);
  EXPECT_FALSE(pathExists(cacheFolder("Tree\\T")) || pathExists(cacheFolder("Tasks\\{1}")));

  writeFile(cacheFolder("Tree\\T\\Id"), "{2}");
  writeFile(cacheFolder("Tasks\\{2}\\Path"), "\\T");
  writeFile(cacheFolder("Tasks\\{other}\\Path"), "\\Other");
  plan = planKeyRemoval("\\T");
  ASSERT_EQ(0, rename(cacheFolder("Tasks\\{2}").c_str(), cacheFolder("Tasks\\{2}.moved").c_str()));
  ASSERT_EQ(0, symlink("{other}", cacheFolder("Tasks\\{2}").c_str()));
  EXPECT_EQ(ErrorNotFound, removeKeys(plan).tasks.result);
  EXPECT_EQ("\\T", readFile(cacheFolder("Tasks\\{2}.moved\\Path")));
  EXPECT_EQ("\\Other", readFile(cacheFolder("Tasks\\{other}\\Path")));

  writeFile(cacheFolder("Tree\\L\\Id"), "{2}");
  plan = planKeyRemoval("\\L");
  EXPECT_EQ(ErrorKeyIsLink, snapshotPlannedKeys(plan)[1].readResult);
  EXPECT_EQ(ErrorKeyIsLink, removeKeys(plan).tasks.result);
  EXPECT_EQ("\\Other", readFile(cacheFolder("Tasks\\{other}\\Path")));
}

TEST(Remedy, RemovesOnlyAFileThatIsStillThePayload) {
  InMachineFolder machine;
  writeFile("C:/vk/payload.exe", standInPayload());
  writeFile("C:/vk/decoy.exe", "MZ not the payload");
  const struct { const char* path; PayloadOutcome outcome; long code; bool gone; } cases[] = {
      {"C:\\vk\\payload.exe", PayloadOutcome::Deleted, ErrorSuccess, true},
      {"C:\\vk\\decoy.exe", PayloadOutcome::Changed, ErrorSuccess, false},
      {"C:\\vk\\missing.exe", PayloadOutcome::Failed, ErrorNotFound, true},
  };
  for (const auto& c : cases) {
    const PayloadRemoval removal = removeIfStillThePayload(c.path);
    EXPECT_EQ(c.outcome, removal.outcome) << c.path;
    EXPECT_EQ(c.code, removal.code) << c.path;
    EXPECT_EQ(c.gone, !pathExists(hostPath(c.path))) << c.path;
  }
}

}  // namespace
