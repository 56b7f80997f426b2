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

TEST(Remedy, FindsBothKeysThroughTheTreeKeysId) {
  InMachineFolder machine;
  writeFile(cacheFolder("Tree\\Updater\\Id"), "{1}");
  makeFolders(cacheFolder("Tree\\NoId"));
  writeFile(cacheFolder("Tree\\Long\\Id"), std::string(300, 'x'));
  writeFile(cacheFolder("Victim\\Id"), "{victim}");
  ASSERT_EQ(0, symlink("../Victim", cacheFolder("Tree\\Link").c_str()));
  const struct { const char* path; long opened; std::string tasksKey; } cases[] = {
      {"\\Updater", ErrorSuccess, std::string(TaskCacheBase) + "\\Tasks\\{1}"},
      {"\\NoId", ErrorSuccess, ""},
      {"\\Long", ErrorSuccess, ""},  // cut, it could name another key
      {"\\Missing", ErrorNotFound, ""},
      {"\\Link", ErrorKeyIsLink, ""},  // not followed to the Id it would find
  };
  for (const auto& c : cases) {
    const TaskCacheKeys keys = findTaskCacheKeys(c.path);
    EXPECT_EQ(std::string(TaskCacheBase) + "\\Tree\\" + c.path, keys.treeKey);
    EXPECT_EQ(c.opened, keys.treeOpened) << c.path;
    EXPECT_EQ(c.tasksKey, keys.tasksKey) << c.path;
  }
}

// A tasks key is kept when its Path names another task; a missing Path
// changes nothing.
TEST(Remedy, TasksKeyPathNamesItsOwner) {
  const std::string utf16Path("\\\0O\0t\0h\0e\0r\0\0\0", 14);
  const struct { std::vector<KeyValue> values; const char* owner; bool another; } cases[] = {
      {{}, "", false},
      {{{"Path", ValueTypeBinary, std::string("\\Updater\0", 9)}}, "\\Updater", false},
      {{{"path", ValueTypeBinary, "\\UPDATER"}}, "\\UPDATER", false},
      {{{"Path", ValueTypeString, utf16Path}}, "\\Other", true},
      {{{"Other", ValueTypeBinary, "\\Other"}}, "", false},
  };
  for (const auto& c : cases) {
    const KeySnapshot key = {"K", ErrorSuccess, c.values};
    EXPECT_EQ(c.owner, tasksKeyOwner(key));
    EXPECT_EQ(c.another, belongsToAnotherTask(key, "\\Updater")) << c.owner;
  }
}

// The snapshot is what the backup writes; the deletion removes exactly the
// key named and reports one that is not there.
TEST(Remedy, SnapshotsAndDeletesOneKey) {
  InMachineFolder machine;
  writeFile(cacheFolder("Tasks\\{1}\\Path"), "\\Updater");
  const std::string key = std::string(TaskCacheBase) + "\\Tasks\\{1}";
  const KeySnapshot snapshot = snapshotKey(key);
  EXPECT_EQ(ErrorSuccess, snapshot.readResult);
  ASSERT_EQ(1u, snapshot.values.size());
  EXPECT_EQ("\\Updater", snapshot.values[0].data);
  EXPECT_EQ(ErrorSuccess, deleteCacheKey(key).result);
  EXPECT_FALSE(pathExists(cacheFolder("Tasks\\{1}")));
  EXPECT_EQ(ErrorNotFound, deleteCacheKey(key).result);
  EXPECT_EQ(ErrorNotFound, snapshotKey(key).readResult);
  // A link is neither read nor deleted, and neither is what it points at.
  writeFile(cacheFolder("Tasks\\{2}\\Path"), "\\Other");
  ASSERT_EQ(0, symlink("{2}", cacheFolder("Tasks\\{1}").c_str()));
  const KeySnapshot link = snapshotKey(key);
  EXPECT_EQ(ErrorKeyIsLink, link.readResult);
  EXPECT_TRUE(link.values.empty());
  EXPECT_EQ(ErrorKeyIsLink, deleteCacheKey(key).result);
  EXPECT_EQ("\\Other", readFile(cacheFolder("Tasks\\{2}\\Path")));
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
