#include "tasks/task_store.h"

#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const char Root[] = "C:\\Windows\\System32\\Tasks";
const char HostRoot[] = "C:/Windows/System32/Tasks";

std::string windowsPath(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', '\\');
  return std::string(Root) + "\\" + relative;
}

std::vector<std::string> sorted(std::vector<std::string> list) {
  std::sort(list.begin(), list.end());
  return list;
}

// Root may list any folder, so the walk runs as nobody when we are root.
std::vector<std::string> collectAsUnprivileged(const std::string& root) {
  std::vector<std::string> list;
  if (geteuid() != 0) {
    collectTaskFiles(root, &list);
    return list;
  }
  int channel[2];
  if (pipe(channel) != 0) return {"no pipe"};
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(3);
    collectTaskFiles(root, &list);
    std::string joined;
    for (const std::string& path : list) joined += path + '\n';
    _exit(write(channel[1], joined.data(), joined.size()) ==
                  static_cast<ssize_t>(joined.size()) ? 0 : 4);
  }
  close(channel[1]);
  std::string joined;
  char buffer[4096];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    joined.append(buffer, static_cast<size_t>(got));
  close(channel[0]);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (size_t start = 0, end; (end = joined.find('\n', start)) != std::string::npos;
       start = end + 1)
    list.push_back(joined.substr(start, end - start));
  return list;
}

}  // namespace

TEST(TaskStore, ListsEveryNonFolderEntryInPreOrder) {
  InMachineFolder machine;
  std::vector<std::string> files = {
    "Microsoft/Windows/Defrag/ScheduledDefrag", ".hidden", u8"更新任务",
    "Microsoft/Windows/UpdateOrchestrator/Schedule Scan",
    "Microsoft/XblGameSave/XblGameSaveTask", "read-only",
  };
  for (char c : std::string("abcdef")) {
    files.push_back(std::string("file-") + c);
    files.push_back(std::string("Folder-") + c + "/one");
    files.push_back(std::string("Folder-") + c + "/Deeper/two");
  }
  for (const std::string& file : files) writeFile(std::string(HostRoot) + "/" + file, "x");
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/read-only").c_str(), 0444));
  makeFolders(std::string(HostRoot) + "/Empty/AlsoEmpty");
  // Entries that are not folders, whatever they point at: never followed.
  const std::string links = std::string(HostRoot) + "/Links/";
  makeFolders(links);
  ASSERT_EQ(0, symlink("..", (links + "loop-up").c_str()));
  ASSERT_EQ(0, symlink(".", (links + "loop-self").c_str()));
  ASSERT_EQ(0, symlink("nowhere", (links + "dangling").c_str()));
  ASSERT_EQ(0, symlink("../Folder-a", (links + "folder").c_str()));
  ASSERT_EQ(0, mkfifo((links + "fifo").c_str(), 0644));
  for (const char* name : {"loop-up", "loop-self", "dangling", "folder", "fifo"})
    files.push_back(std::string("Links/") + name);

  std::vector<std::string> list = {"kept"};
  collectTaskFiles(Root, &list);

  // Independent of the code under test: the system's listing order.
  std::vector<std::string> expected = {"kept"};
  for (const std::string& entry : listingOrder(HostRoot))
    expected.push_back(std::string(Root) + "\\" + entry);
  EXPECT_EQ(expected, list);
  std::vector<std::string> everyFile = {"kept"};
  for (const std::string& file : files) everyFile.push_back(windowsPath(file));
  EXPECT_EQ(sorted(everyFile), sorted(list));
}

TEST(TaskStore, AddsNothingWithoutAFolderToList) {
  InMachineFolder machine;
  makeFolders("C:/Empty/Nested");
  writeFile("C:/file", "<Task/>");
  for (const char* root : {"C:\\Empty", "C:\\Missing", "C:\\file", "C:\\file\\x"}) {
    std::vector<std::string> list = {"kept"};
    collectTaskFiles(root, &list);
    EXPECT_EQ(std::vector<std::string>{"kept"}, list) << root;
  }
}

TEST(TaskStore, SkipsOnlyTheFolderItCannotList) {
  InMachineFolder machine;
  for (const char* file : {"root-file", "Locked/hidden", "Locked/Sub/deeper",
                           "Open/file", "Open/unreadable", "Zed/last"})
    writeFile(std::string(HostRoot) + "/" + file, "x");
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/Open/unreadable").c_str(), 0));
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/Locked").c_str(), 0));
  std::vector<std::string> expected;
  for (const char* file : {"root-file", "Open/file", "Open/unreadable", "Zed/last"})
    expected.push_back(windowsPath(file));
  EXPECT_EQ(sorted(expected), sorted(collectAsUnprivileged(Root)));
}
