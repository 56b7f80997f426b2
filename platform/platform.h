// Operating-system services the tool uses. One header for every backend:
// windows.cc (console, environment, files) and windows_registry.cc (keys,
// through advapi32 and ntdll, and the administrator's rights) talk to
// Windows; posix.cc stands in for them on a Unix machine, where the working directory plays the part of the
// Windows machine (drive paths and registry keys become folders under it).
//
// Every path, key name and value crosses this header as UTF-8; a backend
// converts at its own edge. Only the console's fixed texts are bytes for the
// console as they are.
#ifndef VORKEL_PLATFORM_H_
#define VORKEL_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

// The system's codes that the logic tells apart, as Windows numbers them;
// every backend gives these for these cases.
const long ErrorSuccess = 0;
const long ErrorNotFound = 2;
const long ErrorPathNotFound = 3;
const long ErrorAccessDenied = 5;
/// ERROR_SHARING_VIOLATION: another program holds the file open and shares
/// it with nobody.
const long ErrorSharingViolation = 32;
/// ERROR_HANDLE_EOF: a file gave fewer bytes than it had when it was opened.
const long ErrorCutShort = 38;
/// ERROR_NOT_SUPPORTED: the system cannot do what was asked.
const long ErrorNotSupported = 50;
const long ErrorFileExists = 80;
/// ERROR_INVALID_NAME: a name holding what no file's name may (* ? < > |).
const long ErrorInvalidName = 123;
const long ErrorMoreData = 234;
/// ERROR_STOPPED_ON_SYMLINK: the key is a registry link, and was not followed.
const long ErrorKeyIsLink = 681;
/// ERROR_TIMEOUT: what was waited for did not come in time.
const long ErrorTimedOut = 1460;

// Registry value types, as Windows numbers them.
const uint32_t ValueTypeString = 1;  // REG_SZ
const uint32_t ValueTypeBinary = 3;  // REG_BINARY
const uint32_t ValueTypeNumber = 4;  // REG_DWORD

enum class StdStream { Out, Err };

/// Colours of the console's text, by the numbers Windows gives them.
enum ConsoleColour {
  ColourNormal = 7,  // grey
  ColourGreen = 10,
  ColourRed = 12,
};

// Console.
/// Sets the colour of standard output's console for what is written next.
void platformSetTextAttribute(ConsoleColour colour);
/// Bytes written as they are, whatever the stream is.
void platformWrite(StdStream stream, const char* data, size_t size);

/// What a piece of the console's output is, so that the backend can convert
/// it: a text of the catalogue (GBK bytes) or a value (UTF-8).
enum class TextKind { Catalogue, Value };
struct ConsoleText {
  TextKind kind;
  std::string bytes;
};
/// Writes the pieces in order. On Windows a stream that is a console is
/// given characters (UTF-16), whatever its code page; a stream that is a
/// file or a pipe is given the catalogue's bytes as they are and values in
/// the ANSI code page, each character it cannot hold as '?'. Elsewhere the
/// bytes are written as they are.
void platformWriteText(StdStream stream, const std::vector<ConsoleText>& pieces);
/// One byte of standard input, or -1 when the input is exhausted or broken.
/// A file or a pipe is read one byte at a time, nothing ahead. A console on
/// Windows is read a whole line at a time into the tool's own buffer, as a
/// C runtime reads it: the rest of a line gives the next bytes.
int platformReadByte();
/// Clears standard output's console and puts the cursor at its top left; a
/// stream that is not a console is given a form feed, as cmd's cls gives it.
void platformClearScreen();
/// Waits for a key. On a console what was typed before is thrown away
/// (the tool's buffer and the console's input), and a fresh key press is
/// waited for; otherwise one byte of standard input is taken.
void platformWaitForKey();

// The machine.
/// The system's own folder (C:\Windows), false when it cannot be had. On
/// Windows it is asked of the system, never of SYSTEMROOT, which the user's
/// own settings can change; the POSIX backend takes SYSTEMROOT, the system
/// root of the machine in a folder.
bool platformSystemRoot(std::string* root);
/// True when the built-in Administrators group is in force for this process.
bool platformIsAdministrator();

// Paths. The file calls below take each name of a full path exactly as it
// is given, as the system lists it: on Windows a name ending in a dot or a
// space, or named like a device (CON, NUL...), is the file of that name, and
// no 260-character limit applies.
/// The full path of the file the system starts for path as a command line
/// names it: on Windows made full as every plain call makes it (a trailing
/// dot or space of the last name dropped, "." and ".." resolved, a device
/// name as the device); unchanged elsewhere. "" when it cannot be made full.
std::string platformPathAsRun(const std::string& path);

// Directory listing.
struct DirectoryEntry {
  std::string name;
  bool isDirectory;  // a folder itself, not a link to one
  bool isLink;       // a symbolic link or a junction, to whatever it leads
};
/// Every entry of one directory once, "." and ".." included, in the order
/// the system delivers them. False, with nothing added, when the directory
/// cannot be listed. A link is never listed as a folder.
bool platformListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries);

/// The folder a path leads to, every link on the way followed.
struct FolderIdentity {
  long error = ErrorSuccess;  // the system's code; ErrorNotFound for a path that is no folder
  std::string finalPath;      // where it really is, as the system names it (no link in it);
                              // "" when the system cannot say (Wine, past 260 characters)
  std::string id;             // the same for every path to the same folder, and only for it
};
FolderIdentity platformFolderIdentity(const std::string& path);
/// What the link at path says it leads to, as it says it (or, where the
/// system shows no more of it, where it ends up); "" when it cannot be read.
std::string platformLinkTarget(const std::string& path);

// The administrator's backup and restore rights for the file calls. In
// force, they let the scan read a file and the removal delete one whatever
// its access list says (on Windows; a machine in a folder has no such
// rights, and nothing changes there).
enum class FileRights {
  Scan,     // the backup right
  Removal,  // the backup and the restore right
};
struct PlatformRights;
/// Puts the rights in force until platformEndFileRights, which is due
/// whatever happened; *inForce says whether the system reports them so.
PlatformRights* platformBeginFileRights(FileRights wanted, bool* inForce);
/// Puts the process's rights back as they were; true when the system
/// reports them so.
bool platformEndFileRights(PlatformRights* rights);

// Reading files, shared with other readers, writers and deleters.
struct PlatformFile;

/// Why a file the scan reads gave no content.
enum class FileFailure {
  None,
  Missing,           // not there (the system's 2 or 3): nothing to judge
  NotAFile,          // a folder or a device: nothing to judge
  Refused,           // could not be opened or read: error holds the system's code
  ContentElsewhere,  // its content is held by a provider (cloud placeholder, projected file,
                     // app execution alias, any reparse tag but WOF and dedup, or a recall /
                     // offline attribute): not read; reparseTag and attributes say which
};
struct FileOpening {
  PlatformFile* file = nullptr;  // when failure is None; platformCloseFile is due
  uint64_t size = 0;
  FileFailure failure = FileFailure::None;
  long error = ErrorSuccess;  // the system's code (Refused; also set for Missing)
  uint32_t reparseTag = 0;    // ContentElsewhere: the tag, 0 when an attribute refused it
  uint32_t attributes = 0;    // ContentElsewhere: the file's attributes
};
/// Opens a regular file to read it, on the name itself: a link or junction
/// in the path's last part is not followed (ContentElsewhere, natively a
/// symbolic link too). A file the system only stores behind a reparse point
/// (compressed by WOF, deduplicated) is opened again through it, and used
/// when that is the same file. Nothing is asked of a provider.
FileOpening platformOpenFile(const std::string& path);
/// Bytes read into buffer, 0 at the end; on failure error holds the system's code.
struct FileRead {
  size_t bytes = 0;
  long error = ErrorSuccess;
};
FileRead platformReadFile(PlatformFile* file, void* buffer, size_t capacity);
void platformCloseFile(PlatformFile* file);

// Removing a file. It is opened once, and everything after that goes
// through the handle, so the file removed is the file that was read even
// if its name or folder is swapped in between.
/// Null, with the system's error code in *error, when the path is not a
/// regular file that can be opened for reading and removal. The same files
/// as platformOpenFile opens: anything it would not read (a link, a folder,
/// content held elsewhere) is refused (5).
PlatformFile* platformOpenFileToRemove(const std::string& path, uint64_t* size, long* error);
/// What deleting a file opened to be removed took.
struct FileDeletion {
  long result = 0;  // 0, or the system's error code
  /// Refused because the file is mapped, as a running program's image is.
  /// On Windows the refusal's own status says so (STATUS_CANNOT_DELETE);
  /// its error code, 5, is what an access list's refusal gives too.
  bool inUse = false;
};
/// Deletes the file opened to be removed: read-only, hidden and system
/// attributes are cleared first and put back when the deletion fails. The
/// file is gone once it is closed.
FileDeletion platformDeleteOpenFile(PlatformFile* file);
/// For a file the system will not delete now because it is in use (a
/// running program): renames it to a fresh name in its own folder and has
/// the system delete that name at the next restart. 0, or the error code
/// with the file as it was; a file on a network share is never scheduled,
/// since the system deletes before the network is there.
long platformDeleteOpenFileAtRestart(PlatformFile* file);

/// The names an open file has besides the one it was opened by (hard
/// links): its content stays under them when that name is deleted.
struct OtherNames {
  uint32_t count = 0;              // how many there are
  std::vector<std::string> paths;  // their full paths, as far as the system lists them
  long listed = 0;                 // 0, or why not all of them are in paths
};
OtherNames platformOtherNames(PlatformFile* file);

/// A process whose program is a file about to be removed, and how stopping
/// it went.
struct ProcessStop {
  uint32_t processId = 0;
  /// 0: it has ended. Otherwise the system's code: it could not be opened
  /// or ended (a protected process, access denied), or ErrorTimedOut when it
  /// did not end within a few seconds.
  long result = 0;
};
/// Ends every process but this one whose program is the open file: the same
/// file by volume and file id, whatever name or path it was started by, so
/// a copy elsewhere is left alone. Each is waited for, a few seconds at most.
/// A machine in a folder runs no program of its own: nothing is found there.
std::vector<ProcessStop> platformStopProcessesRunning(PlatformFile* file);

// Registry, under HKEY_LOCAL_MACHINE in the 64-bit view. Results are the
// system's error codes (ErrorSuccess, ErrorNotFound, ErrorMoreData...). A
// key an administrator may only read (the scheduler's own, on Windows 10
// and 11) is opened with the administrator's backup or restore right when
// the plain open is refused; nothing here ever creates a key.
// A path is opened one name at a time, and none is followed if it is a
// registry link (on the POSIX backend a key folder that is a symbolic link):
// a link anywhere in the path gives ErrorKeyIsLink, and nothing is read or
// deleted through it.
struct PlatformKey;
/// Opens a key to read its values.
long platformOpenKey(const std::string& subKey, PlatformKey** key);
/// Reads a value into buffer; *size is its capacity going in and the
/// value's size coming out.
long platformQueryValue(PlatformKey* key, const char* valueName, char* buffer,
                        uint32_t* size);
void platformCloseKey(PlatformKey* key);
/// Opens the key at subKey below an open key, name by name as
/// platformOpenKey does (a link anywhere refuses it), to read its values
/// and list its sub-keys; no right is put in force for it.
long platformOpenKeyBelow(PlatformKey* parent, const std::string& subKey, PlatformKey** key);
/// The names of an open key's sub-keys, in the order the system lists them.
long platformListSubKeys(PlatformKey* key, std::vector<std::string>* names);

/// What opening a key to delete it, and deleting it, took.
struct KeyDeletion {
  /// The system's code: the open's (after a retry the retry's own, unless
  /// the rights could not be put in force), then the deletion's.
  long result = 0;
  /// The plain open was refused and tried again with the restore right.
  bool retried = false;
  /// During that retry the process held the backup and restore rights, in
  /// force, as the system reported them.
  bool rightsInForce = false;
  /// After it the process's rights were as before, as the system reported.
  bool rightsPutBack = false;
};
/// A key opened to be read and later deleted: found not to be a link and
/// held, so that what is read and deleted is that key, whatever takes its
/// name meanwhile. key is null when how.result is not ErrorSuccess, and
/// closed with its holder.
struct PlatformKeyCloser {
  void operator()(PlatformKey* key) const { platformCloseKey(key); }
};
typedef std::unique_ptr<PlatformKey, PlatformKeyCloser> HeldKey;
struct KeyOpenedToRemove {
  HeldKey key;
  KeyDeletion how;
};
KeyOpenedToRemove platformOpenKeyToRemove(const std::string& subKey);
/// Deletes a key opened to be removed, with its values, through that
/// handle; one with sub-keys is refused. The system's code.
long platformDeleteOpenKey(PlatformKey* key);

/// One value of a key as stored: its type (ValueTypeString...)
/// and its bytes, strings in UTF-16 as Windows keeps them.
struct KeyValue {
  std::string name;  // "" for the key's default value
  uint32_t type = 0;
  std::string data;
};
/// Every value of an open key. Keys the POSIX backend stands in for keep
/// bytes only: each value there is given as binary.
long platformReadValues(PlatformKey* key, std::vector<KeyValue>* values);

// Files the tool writes of its own: the record of a run and the backups of
// the keys it deletes. Results are the system's error codes. A link or
// junction in the path's last part is not followed, and a file with more
// than one name (hard links) is not written: both are refused (5).
/// Makes one folder, whose parent must exist; 0 when it is there afterwards.
long platformMakeFolder(const std::string& path);
/// Appends bytes to a file, making the file when it is missing.
long platformAppendToFile(const std::string& path, const std::string& bytes);
/// Writes bytes to a file that does not exist yet; ErrorFileExists when one does.
long platformWriteNewFile(const std::string& path, const std::string& bytes);

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime platformLocalTime();
/// The computer's name, or "" when the system does not say.
std::string platformComputerName();

#endif  // VORKEL_PLATFORM_H_
