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
  if (geteuid() != 0) return collectTaskFiles(root).files;
  int channel[2];
  if (pipe(channel) != 0) return {"no pipe"};
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(3);
    list = collectTaskFiles(root).files;
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
  // Links are named with what they say, never listed as files. What lies
  // below those to a folder inside the store is listed, once, by its own name.
  const std::string links = std::string(HostRoot) + "/Links/";
  makeFolders(links);
  const struct { const char* name; const char* target; bool walked; } linked[] = {
      {"loop-up", "..", true},           {"loop-self", ".", true},
      {"folder", "../Folder-a", true},   {"dangling", "nowhere", false},
      {"to-file", "../file-a", false},   {"out-of-the-store", "../..", false},
      {"drive-root", "/", false},
  };
  std::vector<std::string> expectedLinks;
  for (const auto& l : linked) {
    ASSERT_EQ(0, symlink(l.target, (links + l.name).c_str()));
    expectedLinks.push_back(windowsPath("Links/") + l.name + " -> " + l.target +
                            (l.walked ? " walked" : ""));
  }
  ASSERT_EQ(0, mkfifo((links + "fifo").c_str(), 0644));
  files.push_back("Links/fifo");

  const TaskStoreListing listing = collectTaskFiles(Root);

  // Independent of the code under test: the system's listing order.
  std::vector<std::string> expected;
  for (const std::string& entry : listingOrder(HostRoot)) {
    std::string host = std::string(HostRoot) + "/" + entry;
    std::replace(host.begin(), host.end(), '\\', '/');
    struct stat info;
    if (lstat(host.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
      expected.push_back(std::string(Root) + "\\" + entry);
  }
  EXPECT_EQ(expected, listing.files);
  std::vector<std::string> everyFile;
  for (const std::string& file : files) everyFile.push_back(windowsPath(file));
  EXPECT_EQ(sorted(everyFile), sorted(listing.files));
  std::vector<std::string> named;
  for (const StoreLink& link : listing.links)
    named.push_back(link.path + " -> " + link.target + (link.walked ? " walked" : ""));
  EXPECT_EQ(sorted(expectedLinks), sorted(named));
}

TEST(TaskStore, AddsNothingWithoutAFolderToList) {
  InMachineFolder machine;
  makeFolders("C:/Empty/Nested");
  writeFile("C:/file", "<Task/>");
  for (const char* root : {"C:\\Empty", "C:\\Missing", "C:\\file", "C:\\file\\x"}) {
    const TaskStoreListing listing = collectTaskFiles(root);
    EXPECT_TRUE(listing.files.empty() && listing.links.empty()) << root;
  }
}

// A folder below one that cannot be listed is listed through a link to it.
TEST(TaskStore, SkipsOnlyTheFolderItCannotList) {
  InMachineFolder machine;
  for (const char* file : {"root-file", "Locked/hidden", "Locked/Sub/deeper",
                           "Open/file", "Open/unreadable", "Zed/last", "Passable/Sub/deepest"})
    writeFile(std::string(HostRoot) + "/" + file, "x");
  ASSERT_EQ(0, symlink("../Passable/Sub", (std::string(HostRoot) + "/Open/sub").c_str()));
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/Open/unreadable").c_str(), 0));
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/Locked").c_str(), 0));
  ASSERT_EQ(0, chmod((std::string(HostRoot) + "/Passable").c_str(), 0111));
  std::vector<std::string> expected;
  for (const char* file : {"root-file", "Open/file", "Open/unreadable", "Zed/last",
                           "Open/sub/deepest"})
    expected.push_back(windowsPath(file));
  EXPECT_EQ(sorted(expected), sorted(collectAsUnprivileged(Root)));
}
