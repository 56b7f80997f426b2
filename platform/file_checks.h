// Decisions the backends take about a file they have opened, over numbers
// as Windows gives them (attributes, reparse tags, drive types), kept free
// of any system header so that the native unit suite checks them too.
#ifndef VORKELBRAITH_PLATFORM_FILE_CHECKS_H_
#define VORKELBRAITH_PLATFORM_FILE_CHECKS_H_

#include <stdint.h>

#include <string>

// File attributes, as Windows numbers them.
const uint32_t AttributeReadOnly = 0x1;
const uint32_t AttributeHidden = 0x2;
const uint32_t AttributeSystem = 0x4;
const uint32_t AttributeDirectory = 0x10;
const uint32_t AttributeArchive = 0x20;
const uint32_t AttributeNormal = 0x80;
const uint32_t AttributeTemporary = 0x100;
const uint32_t AttributeSparse = 0x200;
const uint32_t AttributeReparsePoint = 0x400;
const uint32_t AttributeCompressed = 0x800;
const uint32_t AttributeOffline = 0x1000;
const uint32_t AttributeNotContentIndexed = 0x2000;
const uint32_t AttributeEncrypted = 0x4000;

/// What to do with a file opened to be removed, opened on the link itself
/// (not following a reparse point in the path's last part).
enum class OpenedFileUse {
  Use,     // a file, no reparse point: judged and deleted through this handle
  Reopen,  // a reparse point that only stores the file (compressed, in the cloud,
           // deduplicated): opened again through it, checked to be the same file
  Refuse,  // a folder, or a link to another name (symbolic link, junction, mount point)
};
OpenedFileUse useOfFileToRemove(uint32_t attributes, uint32_t reparseTag);

/// The attributes a file's basic information may be given back: read-only,
/// hidden, system, archive, temporary, offline and not content indexed. The
/// rest (folder, reparse point, compressed, sparse, encrypted...) the system
/// keeps itself and refuses in a change.
uint32_t settableAttributes(uint32_t attributes);

/// Drive types, as Windows numbers them.
const uint32_t DriveRemote = 4;

/// Whether a file whose path the system gives as finalPath ("\\?\C:\...",
/// "\\?\UNC\server\share\...") lies on a network share; driveType is what
/// the system says of the path's drive, when it has one.
bool isOnNetwork(const std::string& finalPath, uint32_t driveType);
/// The drive a final path names ("C:"), or "" for a share or anything else.
std::string driveOf(const std::string& finalPath);

#endif  // VORKELBRAITH_PLATFORM_FILE_CHECKS_H_
