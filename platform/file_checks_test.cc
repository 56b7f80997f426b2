#include "platform/file_checks.h"

#include <gtest/gtest.h>

namespace {

// Reparse tags as Windows numbers them.
const uint32_t TagMountPoint = 0xA0000003;  // a junction
const uint32_t TagSymlink = 0xA000000C;
const uint32_t TagWslSymlink = 0xA000001D;
const uint32_t TagDedup = 0x80000013;
const uint32_t TagWof = 0x80000017;         // compact /exe
const uint32_t TagCloud = 0x9000001A;       // OneDrive
const uint32_t TagAppExecLink = 0x8000001B;

TEST(FileChecks, RemovalRefusesOnlyFoldersAndNameSurrogates) {
  const struct {
    const char* what;
    uint32_t attributes, tag;
    OpenedFileUse use;
  } cases[] = {
      {"plain file", AttributeArchive, 0, OpenedFileUse::Use},
      {"read-only hidden system", AttributeReadOnly | AttributeHidden | AttributeSystem, 0,
       OpenedFileUse::Use},
      {"a tag without the attribute is no reparse point", AttributeArchive, TagSymlink,
       OpenedFileUse::Use},
      {"folder", AttributeDirectory, 0, OpenedFileUse::Refuse},
      {"junction", AttributeDirectory | AttributeReparsePoint, TagMountPoint,
       OpenedFileUse::Refuse},
      {"folder in the cloud", AttributeDirectory | AttributeReparsePoint, TagCloud,
       OpenedFileUse::Refuse},
      {"symbolic link", AttributeReparsePoint, TagSymlink, OpenedFileUse::Refuse},
      {"WSL link", AttributeArchive | AttributeReparsePoint, TagWslSymlink,
       OpenedFileUse::Refuse},
      {"compact /exe", AttributeArchive | AttributeReparsePoint, TagWof, OpenedFileUse::Reopen},
      {"deduplicated", AttributeReparsePoint | AttributeSparse, TagDedup, OpenedFileUse::Reopen},
      {"OneDrive, read-only", AttributeReadOnly | AttributeReparsePoint, TagCloud,
       OpenedFileUse::Reopen},
      {"app execution alias", AttributeReparsePoint, TagAppExecLink, OpenedFileUse::Reopen},
  };
  for (const auto& c : cases) EXPECT_EQ(c.use, useOfFileToRemove(c.attributes, c.tag)) << c.what;
}

TEST(FileChecks, OnlySettableAttributesAreGivenBack) {
  EXPECT_EQ(AttributeReadOnly | AttributeHidden | AttributeSystem | AttributeArchive |
                AttributeTemporary | AttributeOffline | AttributeNotContentIndexed,
            settableAttributes(0xFFFFFFFF));
  EXPECT_EQ(AttributeReadOnly | AttributeArchive,
            settableAttributes(AttributeReadOnly | AttributeArchive | AttributeReparsePoint |
                               AttributeCompressed | AttributeSparse | AttributeEncrypted |
                               AttributeNormal | AttributeDirectory));
  EXPECT_EQ(0u, settableAttributes(AttributeReparsePoint | AttributeCompressed));
}

TEST(FileChecks, NetworkSharesAndRemoteDrives) {
  const uint32_t fixed = 3;
  const struct {
    const char* path;
    uint32_t driveType;
    bool network;
    const char* drive;
  } cases[] = {
      {"\\\\?\\C:\\x\\a.exe", fixed, false, "C:"},
      {"\\\\?\\z:\\a.exe", DriveRemote, true, "z:"},
      {"\\\\?\\UNC\\server\\share\\a.exe", 0, true, ""},
      {"\\\\?\\unc\\server\\share\\a.exe", fixed, true, ""},
      {"\\\\server\\share\\a.exe", 0, true, ""},
      {"D:\\a.exe", DriveRemote, true, "D:"},
      {"\\\\?\\Volume{1}\\a.exe", DriveRemote, false, ""},
      {"", 0, false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.network, isOnNetwork(c.path, c.driveType)) << c.path;
    EXPECT_EQ(c.drive, driveOf(c.path)) << c.path;
  }
}

}  // namespace
