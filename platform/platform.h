// Operating-system services the tool uses. One header for every backend:
// windows.cc (console, environment, files) and windows_registry.cc (keys,
// through advapi32 and ntdll, and the administrator's rights) talk to
// Windows; posix.cc stands in for them on a Unix machine, where the working directory plays the part of the
// Windows machine (drive paths and registry keys become folders under it).
//
// Every path, key name and value crosses this header as UTF-8; a backend
// converts at its own edge. Only the console's fixed texts are bytes for the
// console as they are.
#ifndef VORKELBRAITH_PLATFORM_H_
#define VORKELBRAITH_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

// The system's codes that the logic tells apart, as Windows numbers them;
// every backend gives these for these cases.
const long ErrorSuccess = 0;
const long ErrorNotFound = 2;
const long ErrorAccessDenied = 5;
const long ErrorFileExists = 80;
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
  bool isDirectory;
};
/// Every entry of one directory once, "." and ".." included, in the order
/// the system delivers them. False, with nothing added, when the directory
/// cannot be listed.
bool platformListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries);

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

// Reading files, shared with other readers and writers.
struct PlatformFile;
/// Null when the path is not a regular file that can be opened for reading
/// (a folder, a device or a missing file). A link is followed.
PlatformFile* platformOpenFile(const std::string& path, uint64_t* size);
/// Bytes read into buffer (up to capacity); 0 at the end, -1 on failure.
int64_t platformReadFile(PlatformFile* file, void* buffer, size_t capacity);
void platformCloseFile(PlatformFile* file);

// Removing a file. It is opened once, and everything after that goes
// through the handle, so the file removed is the file that was read even
// if its name or folder is swapped in between.
/// Null, with the system's error code in *error, when the path is not a
/// regular file that can be opened for reading and removal. A link or
/// junction in the path's last part is not followed (refused, 5); a file the
/// system keeps behind another kind of reparse point (compressed, in the
/// cloud, deduplicated) is opened through it when it is the same file.
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

#endif  // VORKELBRAITH_PLATFORM_H_
