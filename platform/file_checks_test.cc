#include "platform/file_checks.h"

#include <gtest/gtest.h>

namespace {

// Reparse tags as Windows numbers them.
const uint32_t TagMountPoint = 0xA0000003;  // a junction
const uint32_t TagWslSymlink = 0xA000001D;
const uint32_t TagCloud = 0x9000001A;       // OneDrive
const uint32_t TagCloudFolder = 0x9000701A;
const uint32_t TagProjFs = 0x9000001C;  // a projected file
const uint32_t TagAppExecLink = 0x8000001B;

TEST(FileChecks, ReadsOnlyPlainCompressedAndDeduplicatedFiles) {
  const uint32_t reparse = AttributeReparsePoint;
  const struct {
    const char* what;
    uint32_t attributes, tag;
    OpenedFileUse use;
  } cases[] = {
      {"plain file", AttributeArchive, 0, OpenedFileUse::Use},
      {"read-only hidden system", AttributeReadOnly | AttributeHidden | AttributeSystem, 0,
       OpenedFileUse::Use},
      {"a tag without the attribute is no reparse point", AttributeArchive, ReparseTagSymlink,
       OpenedFileUse::Use},
      {"folder", AttributeDirectory, 0, OpenedFileUse::Refuse},
      {"junction", AttributeDirectory | reparse, TagMountPoint, OpenedFileUse::ContentElsewhere},
      {"folder in the cloud", AttributeDirectory | reparse, TagCloudFolder,
       OpenedFileUse::ContentElsewhere},
      {"symbolic link", reparse, ReparseTagSymlink, OpenedFileUse::ContentElsewhere},
      {"WSL link", AttributeArchive | reparse, TagWslSymlink, OpenedFileUse::ContentElsewhere},
      {"compact /exe", AttributeArchive | reparse, ReparseTagWof, OpenedFileUse::Reopen},
      {"deduplicated", reparse | AttributeSparse, ReparseTagDedup, OpenedFileUse::Reopen},
      {"OneDrive, read-only", AttributeReadOnly | reparse, TagCloud,
       OpenedFileUse::ContentElsewhere},
      {"OneDrive, another variant", reparse, TagCloud | 0x1000, OpenedFileUse::ContentElsewhere},
      {"projected file", reparse, TagProjFs, OpenedFileUse::ContentElsewhere},
      {"app execution alias", reparse, TagAppExecLink, OpenedFileUse::ContentElsewhere},
      {"offline", AttributeArchive | AttributeOffline, 0, OpenedFileUse::ContentElsewhere},
      {"recalled on open", AttributeRecallOnOpen, 0, OpenedFileUse::ContentElsewhere},
      {"recalled when read", AttributeRecallOnDataAccess | AttributeSparse, 0,
       OpenedFileUse::ContentElsewhere},
      {"compact /exe, recalled when read", reparse | AttributeRecallOnDataAccess, ReparseTagWof,
       OpenedFileUse::ContentElsewhere},
  };
  for (const auto& c : cases) EXPECT_EQ(c.use, useOfOpenedFile(c.attributes, c.tag)) << c.what;
}

TEST(FileChecks, ListedLinks) {
  const uint32_t folderPoint = AttributeDirectory | AttributeReparsePoint;
  const struct { const char* what; uint32_t attributes, tag; bool link; } entries[] = {
      {"folder", AttributeDirectory, 0, false},
      {"junction", folderPoint, TagMountPoint, true},
      {"symbolic link to a file", AttributeReparsePoint, ReparseTagSymlink, true},
      {"Wine's Unix link to a folder", folderPoint, 0, true},
      {"folder in the cloud", folderPoint, TagCloudFolder, false},
      {"compact /exe", AttributeReparsePoint, ReparseTagWof, false},
  };
  for (const auto& e : entries) EXPECT_EQ(e.link, isLinkEntry(e.attributes, e.tag)) << e.what;
}

TEST(FileChecks, OpenErrorsThatMeanNothingIsThere) {
  for (long missing : {ErrorNotFound, ErrorPathNotFound, ErrorInvalidName})
    EXPECT_EQ(FileFailure::Missing, failureOfOpenError(missing)) << missing;
  for (long refused : {ErrorAccessDenied, ErrorSharingViolation, 21L /* not ready */})
    EXPECT_EQ(FileFailure::Refused, failureOfOpenError(refused)) << refused;
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
