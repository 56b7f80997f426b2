// Operating-system services the tool uses. One header for every backend:
// windows.cc (console, environment, files) and windows_registry.cc (keys,
// through advapi32 and ntdll, and the administrator's rights) talk to
// Windows; posix.cc stands in for them on a Unix machine, where the working
// directory plays the part of the Windows machine (drive paths and registry
// keys become folders under it).
//
// Every path, key name and registry value's text crosses this header as
// UTF-8; a backend converts at its own edge. Only the console's fixed texts,
// and a value's stored bytes beside its text, are bytes as they are.
//
// Open files, keys and rights in force are handed out in move-only holders
// (HeldFile, HeldKey, HeldRights) that close them, or put the rights back,
// when they go; nobody closes by hand. A holder lends its handle to the
// calls below as a plain pointer (held.get()), which none of them keeps. A
// call that opens or reads returns one value holding what it got and the
// system's code.
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
/// ERROR_STOPPED_ON_SYMLINK: the key is a registry link, and was not followed.
const long ErrorKeyIsLink = 681;
/// ERROR_TIMEOUT: what was waited for did not come in time.
const long ErrorTimedOut = 1460;

// Registry value types, as Windows numbers them.
const uint32_t ValueTypeString = 1;            // REG_SZ
const uint32_t ValueTypeExpandableString = 2;  // REG_EXPAND_SZ
const uint32_t ValueTypeBinary = 3;            // REG_BINARY
const uint32_t ValueTypeNumber = 4;            // REG_DWORD
const uint32_t ValueTypeStrings = 7;           // REG_MULTI_SZ
/// The types a backend gives as text: characters, stored with a zero after them.
inline bool isStringType(uint32_t type) {
  return type == ValueTypeString || type == ValueTypeExpandableString || type == ValueTypeStrings;
}

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
/// The system's own folder (C:\Windows), "" when it cannot be had. On
/// Windows it is asked of the system, never of SYSTEMROOT, which the user's
/// own settings can change; the POSIX backend takes SYSTEMROOT, the system
/// root of the machine in a folder.
std::string platformSystemRoot();
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
struct DirectoryListing {
  std::vector<DirectoryEntry> entries;
  long error = ErrorSuccess;  // the system's code; no entries when it is not ErrorSuccess
};
/// Every entry of one directory once, "." and ".." included, in the order
/// the system delivers them. A link is never listed as a folder.
DirectoryListing platformListDirectory(const std::string& directory);

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
/// Puts the rights back when a holder goes without platformEndFileRights,
/// so that no path out of a pass leaves them in force.
struct PlatformRightsRestorer {
  void operator()(PlatformRights* rights) const;
};
typedef std::unique_ptr<PlatformRights, PlatformRightsRestorer> HeldRights;
struct FileRightsTaken {
  HeldRights rights;     // always held, in force or not
  bool inForce = false;  // the system reports them in force
};
/// Puts the rights in force until their holder is given to
/// platformEndFileRights (or goes).
FileRightsTaken platformBeginFileRights(FileRights wanted);
/// Puts the process's rights back as they were; true when the system
/// reports them so.
bool platformEndFileRights(HeldRights rights);

// Reading files, shared with other readers, writers and deleters.
struct PlatformFile;
struct PlatformFileCloser {
  void operator()(PlatformFile* file) const;
};
typedef std::unique_ptr<PlatformFile, PlatformFileCloser> HeldFile;

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
/// The failure, and what the system said of it: the one value every reader
/// of a file (definition, fingerprint, verdict) passes on.
struct WhyUnread {
  FileFailure failure = FileFailure::None;
  long error = ErrorSuccess;  // the system's code (Refused; also set for Missing)
  uint32_t reparseTag = 0;    // ContentElsewhere: the tag, 0 when an attribute refused it
  uint32_t attributes = 0;    // ContentElsewhere: the file's attributes
};
/// Whether what was read of the file is unknown (refused, or held
/// elsewhere), not merely absent: such a file is never taken for clean.
bool contentUnknown(const WhyUnread& unread);
struct FileOpening {
  HeldFile file;  // when unread.failure is None
  uint64_t size = 0;
  WhyUnread unread = {};
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

// Removing a file. It is opened once, and everything after that goes
// through the handle, so the file removed is the file that was read even
// if its name or folder is swapped in between.
struct FileToRemove {
  HeldFile file;  // null when error is not ErrorSuccess
  uint64_t size = 0;
  long error = ErrorSuccess;
};
/// Opens a regular file for reading and removal. The same files as
/// platformOpenFile opens: anything it would not read (a link, a folder,
/// content held elsewhere) is refused (5).
FileToRemove platformOpenFileToRemove(const std::string& path);
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

// Registry, under HKEY_LOCAL_MACHINE in the 64-bit view. Codes are the
// system's (ErrorSuccess, ErrorNotFound...). A key an administrator may only
// read (the scheduler's own, on Windows 10 and 11) is opened with the
// administrator's backup or restore right when the plain open is refused;
// nothing here ever creates a key.
// A path is opened one name at a time, and none is followed if it is a
// registry link (on the POSIX backend a key folder that is a symbolic link):
// a link anywhere in the path gives ErrorKeyIsLink, and nothing is read or
// deleted through it.
struct PlatformKey;
struct PlatformKeyCloser {
  void operator()(PlatformKey* key) const;
};
typedef std::unique_ptr<PlatformKey, PlatformKeyCloser> HeldKey;
struct KeyOpening {
  HeldKey key;  // null when error is not ErrorSuccess
  long error = ErrorSuccess;
};
/// Opens a key to read its values and list its sub-keys.
KeyOpening platformOpenKey(const std::string& subKey);
/// Opens the key at subKey below an open key, name by name as
/// platformOpenKey does (a link anywhere refuses it); no right is put in
/// force for it.
KeyOpening platformOpenKeyBelow(PlatformKey* parent, const std::string& subKey);
struct SubKeys {
  std::vector<std::string> names;  // as far as the system listed them
  long error = ErrorSuccess;
};
/// The names of an open key's sub-keys, in the order the system lists them.
SubKeys platformListSubKeys(PlatformKey* key);

/// One value of a key, decoded here once: the logic reads text, and a
/// backup writes raw back as it was.
struct KeyValue {
  std::string name;   // "" for the key's default value
  uint32_t type = 0;  // as stored (ValueTypeString...)
  std::string raw;    // the bytes as stored: a string in UTF-16 LE on Windows
  /// A string type's characters in UTF-8 up to its first zero; any other
  /// type's bytes as they are (the scheduler's Id may be stored as bytes).
  std::string text = "";
};
struct ValueRead {
  KeyValue value;
  long error = ErrorSuccess;  // ErrorNotFound for a value the key does not hold
};
/// One whole value of an open key, by its name in any case.
ValueRead platformReadValue(PlatformKey* key, const std::string& name);
/// Whether an open key holds a value of that name (in any case), nothing
/// of it read: ErrorSuccess, ErrorNotFound, or the system's code.
long platformFindValue(PlatformKey* key, const std::string& name);
struct ValuesRead {
  std::vector<KeyValue> values;  // as far as the system gave them
  long error = ErrorSuccess;
};
/// Every value of an open key. A machine in a folder keeps no types: each
/// value there is a file of bytes, given as binary with those bytes as its
/// text.
ValuesRead platformReadValues(PlatformKey* key);

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
/// name meanwhile. key is null when how.result is not ErrorSuccess.
struct KeyOpenedToRemove {
  HeldKey key;
  KeyDeletion how;
};
KeyOpenedToRemove platformOpenKeyToRemove(const std::string& subKey);
/// Deletes a key opened to be removed, with its values, through that
/// handle; one with sub-keys is refused. The system's code.
long platformDeleteOpenKey(PlatformKey* key);

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
