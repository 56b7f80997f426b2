#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_checks.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace {

const std::string Hive = "HKEY_LOCAL_MACHINE/";

// The working directory is the machine: each test gets an empty one.
class Posix : public testing::Test {
 protected:
  InMachineFolder machine_;
};

TEST_F(Posix, OpenKeyAndReadValue) {
  writeFile(Hive + "SOFTWARE/Tree/Job/Id", "{1234}");
  writeFile(Hive + "SOFTWARE/Tree/Job/Path", std::string("\\a\0b", 4));
  writeFile(Hive + "SOFTWARE/Tree/Job/Big", std::string(10000, 'b'));
  writeFile(Hive + "SOFTWARE/Leaf", "not a key");
  makeFolders(Hive + "SOFTWARE/Tree/Job/Sub");
  EXPECT_EQ(platformOpenKey("SOFTWARE\\Missing").error, 2);
  EXPECT_FALSE(platformOpenKey("SOFTWARE\\Missing").key);
  EXPECT_EQ(platformOpenKey("SOFTWARE\\Leaf").error, 2);
  const KeyOpening job = platformOpenKey("SOFTWARE\\Tree\\Job");
  ASSERT_EQ(job.error, 0);
  ASSERT_TRUE(job.key);

  // The folder keeps no type: each value is binary, its text its bytes.
  const struct { const char* name; long result; std::string bytes; } cases[] = {
      {"Id", 0, "{1234}"}, {"iD", 0, "{1234}"}, {"Path", 0, std::string("\\a\0b", 4)},
      {"Big", 0, std::string(10000, 'b')}, {"Missing", 2, ""}, {"Sub", 2, ""}, {"..", 2, ""},
  };
  for (const auto& c : cases) {
    const ValueRead read = platformReadValue(job.key.get(), c.name);
    EXPECT_EQ(read.error, c.result) << c.name;
    EXPECT_EQ(read.value.type, c.result == 0 ? ValueTypeBinary : 0) << c.name;
    EXPECT_EQ(read.value.raw, c.bytes) << c.name;
    EXPECT_EQ(read.value.text, c.bytes) << c.name;
    EXPECT_EQ(platformFindValue(job.key.get(), c.name), c.result) << c.name;
  }
}

// Opened to be removed, then deleted through what was opened.
long deleteKey(const std::string& subKey) {
  const KeyOpenedToRemove opened = platformOpenKeyToRemove(subKey);
  return opened.key ? platformDeleteOpenKey(opened.key.get()) : opened.how.result;
}

TEST_F(Posix, DeleteKeyOnlyWithoutSubKeys) {
  writeFile(Hive + "K/Parent/Value", "v");
  makeFolders(Hive + "K/Parent/Child");
  writeFile(Hive + "K/Leaf/A", "a");
  writeFile(Hive + "K/Leaf/B", "");
  makeFolders(Hive + "K/Empty");
  EXPECT_EQ(deleteKey("K\\Missing"), 2);
  EXPECT_EQ(deleteKey("K\\Parent"), 5);
  EXPECT_TRUE(pathExists(Hive + "K/Parent/Value"));
  EXPECT_TRUE(pathExists(Hive + "K/Parent/Child"));
  EXPECT_EQ(deleteKey("K\\Leaf"), 0);
  EXPECT_FALSE(pathExists(Hive + "K/Leaf"));
  EXPECT_EQ(deleteKey("K\\Empty"), 0);
  EXPECT_FALSE(pathExists(Hive + "K/Empty"));
  EXPECT_TRUE(pathExists(Hive + "K/Parent"));
  // Another key renamed into the name after the open is not the one opened:
  // neither is deleted.
  writeFile(Hive + "K/Held/Id", "{held}");
  const KeyOpenedToRemove held = platformOpenKeyToRemove("K\\Held");
  ASSERT_TRUE(held.key);
  ASSERT_EQ(0, rename((Hive + "K/Held").c_str(), (Hive + "K/Moved").c_str()));
  writeFile(Hive + "K/Held/Id", "{other}");
  const ValuesRead read = platformReadValues(held.key.get());
  EXPECT_EQ(0, read.error);
  EXPECT_EQ("{held}", read.values.size() == 1 ? read.values[0].raw : "");
  EXPECT_EQ(2, platformDeleteOpenKey(held.key.get()));
  EXPECT_EQ("{other}", readFile(Hive + "K/Held/Id"));
  EXPECT_EQ("{held}", readFile(Hive + "K/Moved/Id"));
}

// Dot parts name no key; a key folder that is a symbolic link stands for a
// registry link, at the end of the path or in its middle: neither is
// followed, and what they point at stays.
TEST_F(Posix, KeysWithDotPartsOrLinksAreRefused) {
  writeFile("outside/value", "x");
  writeFile(Hive + "A/B/value", "x");
  writeFile(Hive + "A/B/Sub/value", "x");
  ASSERT_EQ(symlink("B", (Hive + "A/Link").c_str()), 0);
  ASSERT_EQ(symlink("../outside", (Hive + "A/Out").c_str()), 0);
  ASSERT_EQ(symlink("A", (Hive + "Top").c_str()), 0);
  const struct { const char* subKey; long code; } cases[] = {
      {"..\\outside", 2}, {"A\\..\\..\\outside", 2}, {"A/../../outside", 2},
      {"SOFTWARE/../../outside", 2}, {"A\\.\\B", 2}, {".\\A\\B", 2}, {"A\\B\\.", 2},
      {"A\\B\\..", 2}, {"..", 2}, {".", 2},
      {"A\\Link", 681}, {"A\\Link\\Sub", 681}, {"A\\\\Link\\", 681},
      {"A\\Out", 681}, {"Top\\B", 681}, {"Top", 681},
  };
  for (const auto& c : cases) {
    const KeyOpening opening = platformOpenKey(c.subKey);
    EXPECT_EQ(opening.error, c.code) << c.subKey;
    EXPECT_FALSE(opening.key) << c.subKey;
    EXPECT_EQ(deleteKey(c.subKey), c.code) << c.subKey;
  }
  EXPECT_EQ(readFile("outside/value"), "x");
  EXPECT_EQ(readFile(Hive + "A/B/value"), "x");
  EXPECT_EQ(readFile(Hive + "A/B/Sub/value"), "x");
  EXPECT_TRUE(pathExists(Hive + "A/Link"));
  EXPECT_EQ(platformOpenKey("A\\B").error, 0) << "the key itself opens";
}

// Opens, deletes and closes, as removing a payload does: the system's code.
long removeFile(const std::string& path) {
  const FileToRemove opened = platformOpenFileToRemove(path);
  if (!opened.file) return opened.error;
  const FileDeletion deletion = platformDeleteOpenFile(opened.file.get());
  EXPECT_FALSE(deletion.inUse) << path << ": nothing is in use here";
  return deletion.result;
}

// As on Windows, ".." stops at the drive's root: never outside the machine.
TEST_F(Posix, DrivePathsStayOnTheDrive) {
  writeFile("outside/value", "x");
  writeFile("C:/outside/value", "x");
  EXPECT_EQ(0, removeFile("C:\\..\\..\\outside\\.\\value"));
  EXPECT_FALSE(pathExists("C:/outside/value"));
  EXPECT_EQ(readFile("outside/value"), "x");
  writeFile("C:/Temp/a.txt", "abc");
  const FileOpening opening = platformOpenFile("C:\\Temp\\..\\..\\Temp\\a.txt");
  ASSERT_TRUE(opening.file);
  EXPECT_EQ(opening.size, 3u);
}

TEST_F(Posix, RemovesOnlyTheRegularFileItOpened) {
  writeFile("C:/Temp/locked.exe", "x");
  writeFile("C:/Temp/plain.exe", "x");
  writeFile("C:/Temp/target.exe", "x");
  chmod("C:/Temp/locked.exe", 0444);
  ASSERT_EQ(symlink("target.exe", "C:/Temp/link.exe"), 0);
  EXPECT_EQ(0, removeFile("C:\\Temp\\locked.exe")) << "read-only is no hindrance";
  EXPECT_FALSE(pathExists("C:/Temp/locked.exe"));
  EXPECT_EQ(0, removeFile("C:\\Temp\\plain.exe"));
  EXPECT_FALSE(pathExists("C:/Temp/plain.exe"));
  EXPECT_EQ(5, removeFile("C:\\Temp\\link.exe")) << "a link is not followed";
  EXPECT_TRUE(pathExists("C:/Temp/link.exe"));
  EXPECT_TRUE(pathExists("C:/Temp/target.exe"));
  EXPECT_EQ(5, removeFile("C:\\Temp"));
  EXPECT_TRUE(pathExists("C:/Temp"));
  EXPECT_EQ(2, removeFile("C:\\Temp\\missing.exe"));

  // Another file put in its place after the open is not the one opened.
  writeFile("C:/Temp/swapped.exe", "judged");
  writeFile("C:/Temp/decoy", "decoy");
  const FileToRemove swapped = platformOpenFileToRemove("C:\\Temp\\swapped.exe");
  ASSERT_TRUE(swapped.file);
  ASSERT_EQ(rename("C:/Temp/decoy", "C:/Temp/swapped.exe"), 0);
  EXPECT_NE(0, platformDeleteOpenFile(swapped.file.get()).result);
  EXPECT_NE(0, platformDeleteOpenFileAtRestart(swapped.file.get()));
  EXPECT_EQ(readFile("C:/Temp/swapped.exe"), "decoy");
}

TEST_F(Posix, OpenFileOnlyRegularFiles) {
  writeFile("C:/Temp/file.bin", std::string("ab\0cd", 5));
  writeFile("C:/Temp/locked", "x");
  ASSERT_EQ(mkfifo("C:/Temp/pipe", 0600), 0);
  ASSERT_EQ(symlink("file.bin", "C:/Temp/link"), 0);
  ASSERT_EQ(chmod("C:/Temp/locked", 0), 0);
  const time_t start = time(nullptr);
  const struct { const char* path; FileFailure failure; long error; uint32_t tag; } cases[] = {
      {"C:\\Temp\\pipe", FileFailure::NotAFile, 0, 0},
      {"C:\\Temp", FileFailure::NotAFile, 0, 0},
      {"C:\\Temp\\missing", FileFailure::Missing, 2, 0},
      {"C:\\Temp\\file.bin\\x", FileFailure::Missing, 2, 0},
      {"C:\\Temp\\link", FileFailure::ContentElsewhere, 0, ReparseTagSymlink},
  };
  for (const auto& c : cases) {
    const FileOpening opening = platformOpenFile(c.path);
    EXPECT_FALSE(opening.file) << c.path;
    EXPECT_EQ(opening.unread.failure, c.failure) << c.path;
    EXPECT_EQ(opening.unread.error, c.error) << c.path;
    EXPECT_EQ(opening.unread.reparseTag, c.tag) << c.path;
  }
  EXPECT_LT(time(nullptr) - start, 2);
  EXPECT_EQ(runAsNobody([] {
              const WhyUnread unread = platformOpenFile("C:\\Temp\\locked").unread;
              return unread.failure == FileFailure::Refused ? static_cast<int>(unread.error) : 0;
            }),
            ErrorAccessDenied);

  const FileOpening opening = platformOpenFile("C:\\Temp\\file.bin");
  ASSERT_TRUE(opening.file);
  EXPECT_EQ(opening.size, 5u);
  char buffer[8];
  EXPECT_EQ(platformReadFile(opening.file.get(), buffer, sizeof buffer).bytes, 5u);
  EXPECT_EQ(std::string(buffer, 5), std::string("ab\0cd", 5));
  const FileRead end = platformReadFile(opening.file.get(), buffer, sizeof buffer);
  EXPECT_EQ(end.bytes, 0u);
  EXPECT_EQ(end.error, ErrorSuccess);
}

// A link is listed as one, never as a folder; followed, it is the folder.
TEST_F(Posix, ListDirectoryMarksOnlyRealFolders) {
  writeFile("C:/Windows/Tasks/job", "x");
  makeFolders("C:/Windows/Tasks/Folder");
  ASSERT_EQ(symlink("Folder", "C:/Windows/Tasks/link"), 0);
  const DirectoryListing listing = platformListDirectory("C:\\Windows\\Tasks");
  ASSERT_EQ(listing.error, ErrorSuccess);
  std::vector<std::string> listed;
  for (const DirectoryEntry& entry : listing.entries)
    listed.push_back(entry.name + (entry.isDirectory ? "/" : "") + (entry.isLink ? "@" : ""));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"../", "./", "Folder/", "job", "link@"}));
  const FolderIdentity folder = platformFolderIdentity("C:\\Windows\\Tasks\\Folder");
  const FolderIdentity viaLink = platformFolderIdentity("C:\\Windows\\Tasks\\link");
  EXPECT_EQ(viaLink.error, ErrorSuccess);
  EXPECT_EQ(viaLink.id, folder.id);
  EXPECT_EQ(viaLink.finalPath, folder.finalPath);
  const std::string end = "/C:/Windows/Tasks/Folder";
  ASSERT_GE(folder.finalPath.size(), end.size());
  EXPECT_EQ(folder.finalPath.substr(folder.finalPath.size() - end.size()), end);
  EXPECT_NE(platformFolderIdentity("C:\\Windows\\Tasks").id, folder.id);
  EXPECT_EQ(platformFolderIdentity("C:\\Windows\\Tasks\\job").error, ErrorNotFound);
  EXPECT_EQ(platformLinkTarget("C:\\Windows\\Tasks\\link"), "Folder");
  EXPECT_EQ(platformLinkTarget("C:\\Windows\\Tasks\\job"), "");

  EXPECT_EQ(platformListDirectory("C:\\Windows\\Missing").error, ErrorNotFound);
  const DirectoryListing file = platformListDirectory("C:\\Windows\\Tasks\\job");
  EXPECT_EQ(file.error, ErrorNotFound);
  EXPECT_TRUE(file.entries.empty());
}

}  // namespace

namespace {

// The record and the backups: never through a link in the last part, never
// into a file with a second name; the file behind either stays as it was.
TEST_F(Posix, WritesNoFileThroughALinkOrASecondName) {
  writeFile("C:/Windows/Debug/victim.txt", "victim");
  writeFile("C:/Windows/Debug/plain.log", "a");
  ASSERT_EQ(symlink("victim.txt", "C:/Windows/Debug/linked.log"), 0);
  ASSERT_EQ(symlink("missing.txt", "C:/Windows/Debug/dangling.log"), 0);
  writeFile("C:/Windows/Debug/second.txt", "second");
  ASSERT_EQ(link("C:/Windows/Debug/second.txt", "C:/Windows/Debug/hard.log"), 0);
  const struct {
    const char* name;
    long append, writeNew;
  } cases[] = {
      {"linked.log", ErrorAccessDenied, ErrorFileExists},
      {"dangling.log", ErrorAccessDenied, ErrorFileExists},
      {"hard.log", ErrorAccessDenied, ErrorFileExists},
      {"plain.log", ErrorSuccess, ErrorFileExists},
  };
  for (const auto& c : cases) {
    const std::string path = std::string("C:\\Windows\\Debug\\") + c.name;
    EXPECT_EQ(c.append, platformAppendToFile(path, "x")) << c.name;
    EXPECT_EQ(c.writeNew, platformWriteNewFile(path, "y")) << c.name;
  }
  EXPECT_EQ(readFile("C:/Windows/Debug/victim.txt"), "victim");
  EXPECT_EQ(readFile("C:/Windows/Debug/second.txt"), "second");
  EXPECT_FALSE(pathExists("C:/Windows/Debug/missing.txt"));
  EXPECT_EQ(readFile("C:/Windows/Debug/plain.log"), "ax");
  EXPECT_EQ(platformWriteNewFile("C:\\Windows\\Debug\\new.log", "y"), ErrorSuccess);
  EXPECT_EQ(readFile("C:/Windows/Debug/new.log"), "y");
}

}  // namespace
