#include "tasks/registry_tasks.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace {

std::string key(const std::string& subKey) {
  std::string path = "HKEY_LOCAL_MACHINE/" + std::string(TaskCacheBase) + "/" + subKey;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Every Tree key with an Id is a task, at its path below Tree, with its
// Tasks key's Path and Actions; one the scheduler's own list leaves out is
// said to be; a link is neither followed nor read, and said not read.
TEST(RegistryTasks, WalksTheTreeAndReadsEachTasksKey) {
  InMachineFolder machine;
  writeFile(key("Tree\\Folder\\Shown\\Id"), "{1}");
  writeFile(key("Tree\\Folder\\Shown\\SD"), "sd");
  writeFile(key("Tree\\Folder\\Shown\\Index"), std::string("\x03\0\0\0", 4));
  writeFile(key("Tasks\\{1}\\Path"), "\\Folder\\Shown");
  writeFile(key("Tasks\\{1}\\Actions"), std::string("\x03\0actions", 9));
  writeFile(key("Tree\\NoSd\\Id"), "{2}");
  writeFile(key("Tree\\IndexZero\\Id"), "{3}");
  writeFile(key("Tree\\IndexZero\\SD"), "sd");
  writeFile(key("Tree\\IndexZero\\Index"), std::string(4, '\0'));
  writeFile(key("Tree\\NoSuch\\Id"), "{no-such-task}");
  writeFile(key("Tree\\Long\\Id"), std::string(300, 'x'));  // cut, it could name another task
  writeFile(key("Elsewhere\\Id"), "{4}");
  ASSERT_EQ(0, symlink("../Elsewhere", key("Tree\\Link").c_str()));
  const RegistryTasks found = readRegistryTasks();
  const struct {
    const char* path;
    const char* id;
    const char* owner;
    bool actions;
    const char* hidden;
  } cases[] = {
      {"\\Folder\\Shown", "{1}", "\\Folder\\Shown", true, ""},
      {"\\IndexZero", "{3}", "", false, "Index is 0"},
      {"\\NoSd", "{2}", "", false, "no SD value"},
      {"\\NoSuch", "{no-such-task}", "", false, "no SD value"},
  };
  ASSERT_EQ(4u, found.tasks.size());
  for (const auto& c : cases) {
    auto task = std::find_if(found.tasks.begin(), found.tasks.end(),
                             [&](const RegistryTask& t) { return t.path == c.path; });
    ASSERT_NE(found.tasks.end(), task) << c.path;
    EXPECT_EQ(c.id, task->id) << c.path;
    EXPECT_EQ(c.owner, task->ownerPath) << c.path;
    EXPECT_EQ(c.actions, task->hasActions) << c.path;
    EXPECT_EQ(c.hidden, task->hiddenBecause) << c.path;
  }
  for (const RegistryTask& task : found.tasks)
    if (task.path == "\\Folder\\Shown") {
      EXPECT_EQ(std::string("\x03\0actions", 9), task.actions);
    }
  ASSERT_EQ(1u, found.unread.size());
  EXPECT_EQ(std::string(TaskCacheBase) + "\\Tree\\Link", found.unread[0].key);
  EXPECT_EQ(ErrorKeyIsLink, found.unread[0].error);
  EXPECT_TRUE(sameTaskPath("\\FOLDER\\\\shown\\", "\\Folder\\Shown"));
  EXPECT_FALSE(sameTaskPath("\\Folder\\Shown2", "\\Folder\\Shown"));
}

}  // namespace
