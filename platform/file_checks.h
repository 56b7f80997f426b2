// Decisions the backends take about a file they have opened, over numbers
// as Windows gives them (attributes, reparse tags, drive types), kept free
// of any system header so that the native unit suite checks them too.
#ifndef VORKEL_PLATFORM_FILE_CHECKS_H_
#define VORKEL_PLATFORM_FILE_CHECKS_H_

#include <stdint.h>

#include <string>

#include "platform/platform.h"

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
const uint32_t AttributeRecallOnOpen = 0x40000;
const uint32_t AttributeRecallOnDataAccess = 0x400000;

// Reparse tags, as Windows numbers them.
const uint32_t ReparseTagDedup = 0x80000013;
const uint32_t ReparseTagWof = 0x80000017;  // compact /exe
const uint32_t ReparseTagSymlink = 0xA000000C;

/// What to do with a file opened to be read or removed, opened on the
/// reparse point itself (not following one in the path's last part).
enum class OpenedFileUse {
  Use,               // a file, no reparse point: read, judged and deleted through this handle
  Reopen,            // a reparse point that only stores the file here (compressed by WOF,
                     // deduplicated): opened again through it, checked to be the same file
  Refuse,            // a folder
  ContentElsewhere,  // any other reparse point (a link, a junction, a cloud placeholder, a
                     // projected file, an app execution alias...) or a file the system would
                     // recall from elsewhere: reading it asks another program, which may be
                     // the threat, for the bytes; never read
};
OpenedFileUse useOfOpenedFile(uint32_t attributes, uint32_t reparseTag);

/// Whether a listed entry with these attributes and reparse tag (as a
/// directory listing gives them) is a link: a reparse point with a
/// name-surrogate tag (symbolic link, junction, mount point), or one that
/// shows no tag at all, as Wine lists a Unix link to a folder.
bool isLinkEntry(uint32_t attributes, uint32_t reparseTag);

/// What an open that failed with the system's code says of the file: not
/// there (the file, a folder on the way, or a name no file can have) or
/// refused.
FileFailure failureOfOpenError(long error);

/// The code an open to remove reports for a file it did not open: the
/// system's own when the file is not there or was refused, access denied
/// when it is no file or its content is held elsewhere.
long errorOfUnopenedRemoval(const WhyUnread& unread);

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

#endif  // VORKEL_PLATFORM_FILE_CHECKS_H_
