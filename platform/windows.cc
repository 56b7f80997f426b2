// The Windows backend's console, environment and files; the registry and
// the administrator's rights are in windows_registry.cc. Text inside the tool
// is UTF-8; here it becomes UTF-16 for the wide calls, and names the system
// gives back become UTF-8 again, so a Chinese name (or one no code page
// holds) is used exactly as the system stores it.
#include "platform/windows_common.h"

#include <ntsecapi.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <winioctl.h>

#include <stdlib.h>

#include "platform/file_checks.h"
#include "platform/platform.h"

namespace {

HANDLE standardHandle(StdStream stream) {
  return GetStdHandle(stream == StdStream::Out ? STD_OUTPUT_HANDLE
                                               : STD_ERROR_HANDLE);
}

bool isUsable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return isUsable(handle) && GetConsoleMode(handle, &mode) != 0;
}

// The standard streams stay what they were at the start, so whether each is
// a console is asked once rather than by a failing call for every task
// definition scanned.
bool streamIsConsole(StdStream stream) {
  static const bool out = isConsole(standardHandle(StdStream::Out));
  static const bool err = isConsole(standardHandle(StdStream::Err));
  return stream == StdStream::Out ? out : err;
}

bool outputIsConsole() { return streamIsConsole(StdStream::Out); }

// The code page of a file or pipe the output goes to: the ANSI code page.
UINT shownCodePage() {
  static const UINT codePage = GetACP();
  return codePage;
}

// A character that stands for none (bytes of no sequence, half a pair) is
// shown as '?' on a console as well as in a file.
bool showsAsQuestionMark(uint32_t code) {
  return code == NotACharacter || isSurrogate(code);
}

// One character in a code page, or "?" when the page cannot hold it as
// itself. Most pages take WC_NO_BEST_FIT_CHARS, which keeps a look-alike
// from standing in; the others (UTF-7 and UTF-8, GB18030, ISO-2022, ISCII,
// symbol...) refuse that flag and the default-character report, so there
// the plain conversion is converted back to find what was lost.
std::string characterInCodePage(uint32_t code, UINT codePage) {
  std::string utf8;
  appendUtf8(code, &utf8);
  const std::wstring units = widen(utf8);
  const int count = static_cast<int>(units.size());
  char bytes[16];
  BOOL defaulted = FALSE;
  int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units.data(), count, bytes,
                                   sizeof bytes, nullptr, &defaulted);
  if (length > 0) return defaulted ? "?" : std::string(bytes, static_cast<size_t>(length));
  const DWORD refusal = GetLastError();
  if (refusal != ERROR_INVALID_FLAGS && refusal != ERROR_INVALID_PARAMETER) return "?";
  length =
      WideCharToMultiByte(codePage, 0, units.data(), count, bytes, sizeof bytes, nullptr, nullptr);
  if (length <= 0) return "?";
  wchar_t back[8];
  const int backCount = MultiByteToWideChar(codePage, 0, bytes, length, back, 8);
  if (backCount != count || units.compare(0, units.size(), back, backCount) != 0) return "?";
  return std::string(bytes, static_cast<size_t>(length));
}

// A value's characters for a console, the same characters shown as '?'.
void appendValueUnits(const std::string& utf8, std::wstring* units) {
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    if (showsAsQuestionMark(nextCodePoint(utf8, &at)))
      shown += '?';
    else
      shown.append(utf8, start, at - start);
  }
  *units += widen(shown);
}

// The catalogue is GBK whatever code page the console has.
const UINT CatalogueCodePage = 936;

void appendCatalogueUnits(const std::string& gbk, std::wstring* units) {
  if (gbk.empty()) return;
  const int size = static_cast<int>(chunkOf(gbk.size()));
  const int count = MultiByteToWideChar(CatalogueCodePage, 0, gbk.data(), size, nullptr, 0);
  if (count <= 0) return;
  const size_t at = units->size();
  units->resize(at + static_cast<size_t>(count));
  MultiByteToWideChar(CatalogueCodePage, 0, gbk.data(), size, &(*units)[at], count);
}

// A console write of more than about 64 KiB fails on Windows 7, and some
// consoles have reported more characters written than they were given: so
// pieces of 8 KiB, each count taken no larger than its piece.
const size_t ConsolePieceUnits = 4096;

void writeToConsole(HANDLE console, const std::wstring& units) {
  const char16_t* data = reinterpret_cast<const char16_t*>(units.data());
  for (size_t at = 0; at < units.size();) {
    const size_t piece = utf16PieceLength(data + at, units.size() - at, ConsolePieceUnits);
    DWORD written = 0;
    if (!WriteConsoleW(console, units.data() + at, static_cast<DWORD>(piece), &written, nullptr) ||
        written == 0)
      return;
    at += written < piece ? written : piece;
  }
}

}  // namespace

std::string textInCodePage(const std::string& utf8, unsigned codePage) {
  if (isAscii(utf8)) return utf8;
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    const uint32_t code = nextCodePoint(utf8, &at);
    if (code < 0x80)
      shown += utf8[start];
    else if (showsAsQuestionMark(code))
      shown += '?';
    else if (codePage == CP_UTF8)  // holds every character
      shown.append(utf8, start, at - start);
    else
      shown += characterInCodePage(code, codePage);
  }
  return shown;
}

void platformSetTextAttribute(ConsoleColour colour) {
  if (outputIsConsole())
    SetConsoleTextAttribute(standardHandle(StdStream::Out), static_cast<WORD>(colour));
}

// WriteFile passes the bytes on unchanged; the C runtime's stream functions
// do not under every console.
void platformWrite(StdStream stream, const char* data, size_t size) {
  HANDLE handle = standardHandle(stream);
  if (!isUsable(handle)) return;
  while (size > 0) {
    const DWORD chunk = chunkOf(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    if (written > chunk) written = chunk;
    data += written;
    size -= written;
  }
}

// A console is given characters, so that its code page (936, 65001,
// 54936...) cannot garble the catalogue or a value; a file or a pipe gets
// the bytes it always had.
void platformWriteText(StdStream stream, const std::vector<ConsoleText>& pieces) {
  if (streamIsConsole(stream)) {
    std::wstring units;
    for (const ConsoleText& piece : pieces) {
      if (piece.kind == TextKind::Catalogue)
        appendCatalogueUnits(piece.bytes, &units);
      else
        appendValueUnits(piece.bytes, &units);
    }
    writeToConsole(standardHandle(stream), units);
    return;
  }
  std::string bytes;
  for (const ConsoleText& piece : pieces)
    bytes += piece.kind == TextKind::Catalogue ? piece.bytes
                                               : textInCodePage(piece.bytes, shownCodePage());
  platformWrite(stream, bytes.data(), bytes.size());
}

namespace {

bool inputIsConsole() {
  static const bool console = isConsole(GetStdHandle(STD_INPUT_HANDLE));
  return console;
}

// A line typed at the console, in the console's input code page as a C
// runtime gives it, and how much of it the questions have taken.
struct TypedLine {
  std::string bytes;
  size_t taken = 0;
};

TypedLine& typedLine() {
  static TypedLine line;
  return line;
}

// The console's next line, CR LF included, in the console's input code
// page; false at the end of the input (Ctrl+Z at the start of a line, as a
// C runtime takes it) or when it cannot be read. Read as characters, so
// that no code page of the console breaks the read.
bool readConsoleLine(HANDLE input, std::string* bytes) {
  wchar_t units[1024];
  DWORD got = 0;
  if (!ReadConsoleW(input, units, 1024, &got, nullptr) || got == 0 || units[0] == L'\x1a')
    return false;
  const UINT codePage = GetConsoleCP();
  const int count = static_cast<int>(got);
  const int size = WideCharToMultiByte(codePage, 0, units, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  bytes->resize(static_cast<size_t>(size));
  WideCharToMultiByte(codePage, 0, units, count, &(*bytes)[0], size, nullptr, nullptr);
  return true;
}

// Keys that change another key and are no key press of their own.
bool isModifierKey(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
         key == VK_NUMLOCK || key == VK_SCROLL || key == VK_LWIN || key == VK_RWIN;
}

}  // namespace

int platformReadByte() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!isUsable(input)) return -1;
  if (inputIsConsole()) {
    TypedLine& line = typedLine();
    if (line.taken == line.bytes.size()) {
      line.bytes.clear();
      line.taken = 0;
      if (!readConsoleLine(input, &line.bytes)) return -1;
    }
    return static_cast<unsigned char>(line.bytes[line.taken++]);
  }
  unsigned char byte = 0;
  DWORD got = 0;
  if (!ReadFile(input, &byte, 1, &got, nullptr) || got != 1) return -1;
  return byte;
}

// As cmd's cls does it on a console: every cell a blank in the current
// colours, the cursor at the top left.
void platformClearScreen() {
  if (!outputIsConsole()) return platformWrite(StdStream::Out, "\f", 1);
  HANDLE output = standardHandle(StdStream::Out);
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!GetConsoleScreenBufferInfo(output, &screen)) return;
  const DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
  const COORD origin = {0, 0};
  DWORD done = 0;
  FillConsoleOutputCharacterW(output, L' ', cells, origin, &done);
  FillConsoleOutputAttribute(output, screen.wAttributes, cells, origin, &done);
  SetConsoleCursorPosition(output, origin);
}

// The end of a line the last answer left (its CR LF) and anything typed
// ahead are not the key the pause waits for.
void platformWaitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!inputIsConsole()) {
    platformReadByte();
    return;
  }
  typedLine() = TypedLine();
  FlushConsoleInputBuffer(input);
  // cppcheck-suppress unreachableCode ; the call returns (Cppcheck's library says it does not)
  INPUT_RECORD event;
  DWORD got = 0;
  while (ReadConsoleInputW(input, &event, 1, &got) && got == 1)
    if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
        !isModifierKey(event.Event.KeyEvent.wVirtualKeyCode))
      return;
}

// A program of the user can write SystemRoot into the user's environment
// (HKCU\Environment), which the tool inherits: the scan would then walk a
// task store of the threat's choosing.
std::string platformSystemRoot() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::string();
  return narrow(buffer, length);
}

bool platformIsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member == 1;
}

namespace {

bool startsWith(const std::wstring& text, const wchar_t* start) {
  return text.compare(0, wcslen(start), start) == 0;
}

// What the system makes of a path the way every plain call makes it: the
// current drive and folder put in, "." and ".." resolved, a trailing dot or
// space of the last name dropped, a device name (NUL, CON...) as the device.
std::wstring fullPath(const std::wstring& path) {
  if (path.find(L'\0') != std::wstring::npos) return std::wstring();
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0) return std::wstring();
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

// Whether every name after the root can be given to the system as it is:
// none empty, "." or "..", and no '/' in the path.
bool namesAsGiven(const std::wstring& path, size_t root) {
  if (path.find(L'/') != std::wstring::npos) return false;
  for (size_t start = root; start <= path.size();) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    if (name.empty() || name == L"." || name == L"..") return false;
    start = end + 1;
  }
  return true;
}

bool isDriveAbsolute(const std::wstring& path) {
  return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                              (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && path[2] == L'\\';
}

// The path in the system's own namespace, "\\?\C:\..." or
// "\\?\UNC\server\share\...", where each name is taken exactly as it is: a
// name ending in a dot or a space, or named like a device, is the file of
// that name, and no 260-character limit applies. A path that is not full
// already, name by name, is first made full as a plain call would make it,
// so that it means what it meant before.
std::wstring extendedPath(const std::string& utf8) {
  std::wstring path = widen(utf8);
  if (path.find(L'\0') != std::wstring::npos) return std::wstring();
  if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) return path;
  const bool share = startsWith(path, L"\\\\");
  if (!(share ? namesAsGiven(path, 2) : isDriveAbsolute(path) && namesAsGiven(path, 3))) {
    path = fullPath(path);
    if (path.empty() || startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) return path;
  }
  return startsWith(path, L"\\\\") ? L"\\\\?\\UNC\\" + path.substr(2) : L"\\\\?\\" + path;
}

bool attributesOf(HANDLE file, DWORD* attributes) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
  *attributes = basic.FileAttributes;
  return true;
}

}  // namespace

DirectoryListing platformListDirectory(const std::string& directory) {
  DirectoryListing listed;
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW(extendedPath(directory + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) {
    listed.error = lastError();
    return listed;
  }
  do {
    DirectoryEntry entry;
    entry.name = narrow(found.cFileName, wcslen(found.cFileName));
    // A reparse point's tag is in dwReserved0. A folder behind any reparse
    // point is no folder to list as one: a link is the walk's to decide
    // on, and a folder a provider holds is opened, and refused, as a file.
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    entry.isLink = isLinkEntry(found.dwFileAttributes, found.dwReserved0);
    listed.entries.push_back(entry);
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
  return listed;
}

std::string platformPathAsRun(const std::string& path) {
  const std::wstring full = fullPath(widen(path));
  return narrow(full.data(), full.size());
}

struct PlatformRights {
  Rights rights;
};

FileRightsTaken platformBeginFileRights(FileRights wanted) {
  FileRightsTaken taken;
  taken.rights.reset(new PlatformRights);
  Rights* rights = &taken.rights->rights;
  taken.inForce = wanted == FileRights::Scan ? takeRights(BackupRight, 1, rights)
                                             : takeRights(BackupAndRestoreRights, 2, rights);
  return taken;
}

// Put back once: what was put back before the holder goes is not again.
void PlatformRightsRestorer::operator()(PlatformRights* taken) const {
  putRightsBack(&taken->rights);
  delete taken;
}

bool platformEndFileRights(HeldRights taken) { return putRightsBack(&taken->rights); }

namespace {

HANDLE handleOf(PlatformFile* file) { return reinterpret_cast<HANDLE>(file); }

const NTSTATUS StatusCannotDelete = static_cast<NTSTATUS>(0xC0000121L);

const DWORD ProtectingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Sets the attributes the file's basic information may be given, and
// nothing else (times of zero stay as they are); none at all is written as
// "normal".
bool setAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = settableAttributes(attributes);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Renames the open file to ntPath, a full path as the object manager names
// it (the form the system takes on every version, unconverted).
bool renameOpenFile(HANDLE file, const std::wstring& ntPath) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + ntPath.size() * sizeof(wchar_t));
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(ntPath.size() * sizeof(wchar_t));
  memcpy(rename->FileName, ntPath.data(), ntPath.size() * sizeof(wchar_t));
  return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

// Where the open file really is, as "\\?\C:\folder\name" (links and
// junctions on the way resolved), or "" when the system cannot say.
std::wstring finalPath(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
}

// The same path as the object manager names it: "\??\C:\folder\name".
std::wstring ntPathOf(const std::wstring& finalPath) {
  const std::wstring win32Prefix = L"\\\\?\\";
  if (finalPath.compare(0, win32Prefix.size(), win32Prefix) != 0) return std::wstring();
  return L"\\??\\" + finalPath.substr(win32Prefix.size());
}

std::string hexOf(const void* data, size_t size) {
  const char* digits = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    const BYTE byte = static_cast<const BYTE*>(data)[i];
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::wstring randomHex() {
  unsigned char bytes[6] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) {
    // Unique enough where no random bytes can be had: a clash only means
    // another try.
    ULONGLONG now = GetTickCount64() ^ (static_cast<ULONGLONG>(GetCurrentProcessId()) << 32);
    memcpy(bytes, &now, sizeof bytes);
  }
  return widen(hexOf(bytes, sizeof bytes));
}

// Nobody may delete or rename the file while it is open here (no delete
// sharing); readers and writers are let be, as when it was judged. With the
// backup semantics the restore right, in force for the removal, passes over
// the file's access list. Where a read-only file's attributes may not be
// changed through a handle (Wine, whose read-only is the file's mode), it is
// opened without that right and the attributes are cleared as far as the
// system allows.
OwnedHandle openToRemove(const std::wstring& name, DWORD flags) {
  OwnedHandle file;
  for (DWORD access : {GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, GENERIC_READ | DELETE}) {
    file.reset(CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING,
                           flags | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr));
    if (file.get() != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  return file;
}

// FILE_ID_INFO (Windows 8 and later), which the headers declare only for
// builds that require Windows 8.
const FILE_INFO_BY_HANDLE_CLASS FileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInformation {
  ULONGLONG volumeSerialNumber;
  BYTE fileId[16];
};

// What tells the open file apart from every other: its volume and its
// 128-bit id, where the system has one (on ReFS the 64-bit index is not
// unique); its 64-bit index on Windows 7. "" when neither can be had.
std::string fileIdOf(HANDLE file) {
  FileIdInformation id;
  if (GetFileInformationByHandleEx(file, FileIdInfoClass, &id, sizeof id))
    return hexOf(&id.volumeSerialNumber, sizeof id.volumeSerialNumber) + ":" +
           hexOf(id.fileId, sizeof id.fileId);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::string();
  const DWORD index[2] = {info.nFileIndexHigh, info.nFileIndexLow};
  return hexOf(&info.dwVolumeSerialNumber, sizeof info.dwVolumeSerialNumber) +
         ":index:" + hexOf(index, sizeof index);
}

const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The scan lets others read, write, rename and delete the file while it
// reads it. The backup semantics let the backup right, in force for the
// scan, pass over the file's access list.
OwnedHandle openToRead(const std::wstring& name, DWORD flags) {
  return OwnedHandle(CreateFileW(name.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                 flags | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
}

FileOpening failedOpening(FileFailure failure, long error) {
  FileOpening opening;
  opening.unread = {failure, error};
  return opening;
}

// Opened on the reparse point itself and without recall, so that nothing
// is asked of a provider: a file with no reparse point is used, a file the
// system only stores behind one (WOF, dedup) is opened again through it and
// used only when it is the very file first opened (the first handle is
// closed for it, since its sharing could refuse the second open). Every
// other reparse point, and a file to be recalled from elsewhere, is left
// unread. Other devices open too, and folders with the backup semantics:
// only files on disk are used.
FileOpening openRegularFile(const std::string& path,
                            OwnedHandle (*open)(const std::wstring& name, DWORD flags)) {
  const std::wstring name = extendedPath(path);
  // A device by its own name (\\.\CON, as a path made full names it) is not
  // even opened: a console or a port may refuse, or wait.
  if (startsWith(name, L"\\\\.\\") && name.find(L'\\', 4) == std::wstring::npos)
    return failedOpening(FileFailure::NotAFile, ErrorSuccess);
  OwnedHandle file = open(name, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_OPEN_NO_RECALL);
  if (file.get() == INVALID_HANDLE_VALUE) {
    const long error = lastError();
    return failedOpening(failureOfOpenError(error), error);
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK)
    return failedOpening(FileFailure::NotAFile, ErrorSuccess);
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return failedOpening(FileFailure::Refused, lastError());
  switch (useOfOpenedFile(tag.FileAttributes, tag.ReparseTag)) {
    case OpenedFileUse::Refuse:
      return failedOpening(FileFailure::NotAFile, ErrorSuccess);
    case OpenedFileUse::ContentElsewhere: {
      FileOpening opening = failedOpening(FileFailure::ContentElsewhere, ErrorSuccess);
      opening.unread.reparseTag =
          (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0;
      opening.unread.attributes = tag.FileAttributes;
      return opening;
    }
    case OpenedFileUse::Reopen: {
      const std::string opened = fileIdOf(file.get());
      file.reset();
      file = open(name, 0);
      if (file.get() == INVALID_HANDLE_VALUE) {
        const long error = lastError();
        return failedOpening(failureOfOpenError(error), error);
      }
      if (opened.empty() || fileIdOf(file.get()) != opened)
        return failedOpening(FileFailure::Refused, ERROR_ACCESS_DENIED);
      break;
    }
    case OpenedFileUse::Use:
      break;
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file.get(), &length) || length.QuadPart < 0)
    return failedOpening(FileFailure::Refused, lastError());
  FileOpening opening;
  opening.size = static_cast<uint64_t>(length.QuadPart);
  opening.file.reset(reinterpret_cast<PlatformFile*>(file.release()));
  return opening;
}

}  // namespace

FileOpening platformOpenFile(const std::string& path) { return openRegularFile(path, openToRead); }

FileRead platformReadFile(PlatformFile* file, void* buffer, size_t capacity) {
  FileRead read;
  DWORD got = 0;
  if (ReadFile(handleOf(file), buffer, chunkOf(capacity), &got, nullptr))
    read.bytes = got;
  else
    read.error = lastError();
  return read;
}

void PlatformFileCloser::operator()(PlatformFile* file) const { CloseHandle(handleOf(file)); }

// Only what the scan would read is removed: a link, junction or mount point
// in the last part is refused rather than followed, and so is content a
// provider holds.
FileToRemove platformOpenFileToRemove(const std::string& path) {
  FileOpening opening = openRegularFile(path, openToRemove);
  FileToRemove opened;
  opened.error = opening.file ? ErrorSuccess : errorOfUnopenedRemoval(opening.unread);
  opened.size = opening.file ? opening.size : 0;
  opened.file = std::move(opening.file);
  return opened;
}

// Opened following every link on the way, as the scheduler would list it.
FolderIdentity platformFolderIdentity(const std::string& path) {
  FolderIdentity identity;
  const OwnedHandle folder(CreateFileW(extendedPath(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (folder.get() == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    identity.error = lastError();
    return identity;
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    identity.error = ErrorNotFound;
    return identity;
  }
  const std::wstring final = finalPath(folder.get());
  identity.finalPath = narrow(final.data(), final.size());
  identity.id = fileIdOf(folder.get());
  // Where the links end, a reparse point still there holds the folder for
  // a provider, which would be asked for its listing.
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || identity.id.empty())
    identity.error = ERROR_ACCESS_DENIED;
  return identity;
}

namespace {

// The print name a symbolic link or junction keeps in its reparse data, as
// it shows it (..\A, C:\Windows), else its substitute name.
std::string reparseTarget(const BYTE* data, DWORD size) {
  uint32_t tag = 0;
  uint16_t names[4] = {};  // substitute offset and length, print offset and length, in bytes
  if (size < 16) return std::string();
  memcpy(&tag, data, sizeof tag);
  memcpy(names, data + 8, sizeof names);
  const size_t start = tag == IO_REPARSE_TAG_SYMLINK       ? 20
                       : tag == IO_REPARSE_TAG_MOUNT_POINT ? 16
                                                           : 0;
  if (start == 0) return std::string();
  for (int name : {2, 0}) {
    const size_t at = start + names[name], length = names[name + 1];
    if (length == 0 || at + length > size) continue;
    std::wstring units(length / sizeof(wchar_t), L'\0');
    memcpy(&units[0], data + at, units.size() * sizeof(wchar_t));
    return narrow(units.data(), units.size());
  }
  return std::string();
}

}  // namespace

// Wine keeps no reparse data for its Unix links: there the target is where
// the link ends.
std::string platformLinkTarget(const std::string& path) {
  const std::wstring name = extendedPath(path);
  const OwnedHandle link(
      CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::vector<BYTE> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (link.get() != INVALID_HANDLE_VALUE &&
      DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                      static_cast<DWORD>(data.size()), &size, nullptr)) {
    const std::string target = reparseTarget(data.data(), size);
    if (!target.empty()) return target;
  }
  const OwnedHandle followed(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (followed.get() == INVALID_HANDLE_VALUE) return std::string();
  const std::wstring final = finalPath(followed.get());
  return narrow(final.data(), final.size());
}

// Asked of the file system itself, whose status tells a mapped file (a
// running program, STATUS_CANNOT_DELETE) from an access list's refusal;
// both are error 5 to the Win32 call. Read-only, the other cause of that
// status, is cleared first.
FileDeletion platformDeleteOpenFile(PlatformFile* opened) {
  HANDLE file = handleOf(opened);
  DWORD attributes = 0;
  FileDeletion deletion;
  if (!attributesOf(file, &attributes)) {
    deletion.result = lastError();
    return deletion;
  }
  const bool protecting = (attributes & ProtectingAttributes) != 0;
  if (protecting && !setAttributes(file, attributes & ~ProtectingAttributes)) {
    deletion.result = lastError();
    return deletion;
  }
  FILE_DISPOSITION_INFORMATION disposition = {TRUE};
  IO_STATUS_BLOCK io = {};
  const NTSTATUS status =
      NtSetInformationFile(file, &io, &disposition, sizeof disposition, FileDispositionInformation);
  if (status >= 0) return deletion;
  deletion.result = static_cast<long>(RtlNtStatusToDosError(status));
  deletion.inUse = status == StatusCannotDelete;
  if (protecting) setAttributes(file, attributes);
  return deletion;
}

// The system deletes what is scheduled with every right, by name, at the
// next start: the name given is a fresh one in the file's own folder, so
// no folder swapped later can aim that deletion at another file. It does so
// before the network is there, so a file on a share is left as it is.
long platformDeleteOpenFileAtRestart(PlatformFile* opened) {
  HANDLE file = handleOf(opened);
  DWORD attributes = 0;
  const std::wstring original = finalPath(file);
  const std::wstring originalNt = ntPathOf(original);
  if (originalNt.empty() || !attributesOf(file, &attributes))
    return GetLastError() != 0 ? lastError() : ERROR_INVALID_NAME;
  const std::string where = narrow(original.data(), original.size());
  const std::string drive = driveOf(where);
  const UINT driveType = drive.empty() ? DRIVE_UNKNOWN : GetDriveTypeW(widen(drive + "\\").c_str());
  if (isOnNetwork(where, driveType)) return ERROR_NOT_SUPPORTED;
  bool renamed = false;
  for (int attempt = 0; attempt < 8 && !renamed; ++attempt)
    renamed = renameOpenFile(file, originalNt + L"." + randomHex() + L".del");
  if (!renamed) return lastError();
  const std::wstring fresh = finalPath(file);
  // Left without read-only, hidden or system, so that nothing keeps the
  // system from deleting it.
  const bool cleared = (attributes & ProtectingAttributes) == 0 ||
                       setAttributes(file, attributes & ~ProtectingAttributes);
  if (cleared && !fresh.empty() &&
      MoveFileExW(fresh.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return 0;
  const long refused = lastError();
  // Back as it was.
  setAttributes(file, attributes);
  renameOpenFile(file, originalNt);
  return refused != 0 ? refused : ERROR_ACCESS_DENIED;
}

namespace {

// A final path ("\\?\C:\...", "\\?\UNC\server\share\...") as paths
// are shown: "C:\...", "\\server\share\...".
std::string shownPath(const std::wstring& final) {
  std::wstring path = final;
  if (startsWith(path, L"\\\\?\\UNC\\"))
    path = L"\\\\" + path.substr(8);
  else if (startsWith(path, L"\\\\?\\"))
    path = path.substr(4);
  return narrow(path.data(), path.size());
}

// The names of an open file's links, each its folder (by the folder's file
// id, on the file's own volume) and its name there, as the file system
// lists them; what FindFirstFileNameW asks, through the handle.
long linkNames(HANDLE file, std::vector<std::wstring>* names) {
  struct LinkEntry {
    ULONG nextEntryOffset;
    LONGLONG parentFileId;
    ULONG nameLength;  // characters
    WCHAR name[1];
  };
  std::vector<unsigned char> buffer(4096);
  IO_STATUS_BLOCK io = {};
  NTSTATUS status = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    status = NtQueryInformationFile(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                                    FileHardLinkInformation);
    const ULONG needed = *reinterpret_cast<const ULONG*>(buffer.data());
    if (status >= 0 || needed <= buffer.size()) break;
    buffer.resize(needed);
  }
  if (status < 0) return static_cast<long>(RtlNtStatusToDosError(status));
  const ULONG entries = reinterpret_cast<const ULONG*>(buffer.data())[1];
  size_t at = 8;
  for (ULONG i = 0; i < entries && at + sizeof(LinkEntry) <= buffer.size(); ++i) {
    const LinkEntry* entry = reinterpret_cast<const LinkEntry*>(buffer.data() + at);
    if (at + offsetof(LinkEntry, name) + entry->nameLength * sizeof(WCHAR) > buffer.size()) break;
    FILE_ID_DESCRIPTOR parent = {};
    parent.dwSize = sizeof parent;
    parent.Type = FileIdType;
    parent.FileId.QuadPart = entry->parentFileId;
    const OwnedHandle folder(OpenFileById(file, &parent, FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, FILE_FLAG_BACKUP_SEMANTICS));
    const std::wstring where = folder.get() == INVALID_HANDLE_VALUE ? L"" : finalPath(folder.get());
    if (where.empty()) return lastError();
    names->push_back(where + (where.back() == L'\\' ? L"" : L"\\") +
                     std::wstring(entry->name, entry->nameLength));
    if (entry->nextEntryOffset == 0) break;
    at += entry->nextEntryOffset;
  }
  return 0;
}

}  // namespace

OtherNames platformOtherNames(PlatformFile* opened) {
  HANDLE file = handleOf(opened);
  OtherNames other;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) || info.nNumberOfLinks <= 1) return other;
  other.count = info.nNumberOfLinks - 1;
  std::vector<std::wstring> names;
  other.listed = linkNames(file, &names);
  const std::wstring own = finalPath(file);
  for (const std::wstring& name : names)
    if (CompareStringOrdinal(name.data(), static_cast<int>(name.size()), own.data(),
                             static_cast<int>(own.size()), TRUE) != CSTR_EQUAL)
      other.paths.push_back(shownPath(name));
  if (other.listed == 0 && other.paths.size() < other.count) other.listed = ERROR_NOT_FOUND;
  return other;
}

namespace {

// How long a process that was told to end is waited for.
const DWORD StopWaitMilliseconds = 5000;

// Whether the process runs the file of that identity: its program, as the
// system names it, opened and compared by volume and file id.
bool runsFile(HANDLE process, const std::string& fileId) {
  std::wstring image(32768, L'\0');
  DWORD length = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process, 0, &image[0], &length)) return false;
  const OwnedHandle program(
      CreateFileW(extendedPath(narrow(image.data(), length)).c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return program.get() != INVALID_HANDLE_VALUE && fileIdOf(program.get()) == fileId;
}

long endProcess(HANDLE process) {
  if (!TerminateProcess(process, 1)) return lastError();
  const DWORD waited = WaitForSingleObject(process, StopWaitMilliseconds);
  return waited == WAIT_OBJECT_0 ? 0 : waited == WAIT_TIMEOUT ? ErrorTimedOut : lastError();
}

}  // namespace

// Every process is asked what it runs, whatever it is called: a program's
// name says nothing of which file it is. One that may not be ended (a
// protected process, another account's) is still asked with the least
// right, so that it is reported rather than passed over.
std::vector<ProcessStop> platformStopProcessesRunning(PlatformFile* opened) {
  std::vector<ProcessStop> stops;
  const std::string file = fileIdOf(handleOf(opened));
  if (file.empty()) return stops;
  const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return stops;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    const DWORD id = entry.th32ProcessID;
    if (id == 0 || id == self) continue;
    OwnedHandle process(OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    const long refused = process ? 0 : lastError();
    if (!process) process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process || !runsFile(process.get(), file)) continue;
    stops.push_back({id, refused != 0 ? refused : endProcess(process.get())});
  }
  return stops;
}

long platformMakeFolder(const std::string& path) {
  const std::wstring wide = widen(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  const long made = lastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
             ? 0
             : made;
}

namespace {

long writeWhole(HANDLE file, const std::string& bytes) {
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = chunkOf(left);
    if (!WriteFile(file, data, chunk, &written, nullptr)) return lastError();
    data += written;
    left -= written;
  }
  return FlushFileBuffers(file) ? 0 : lastError();
}

bool sameName(const std::wstring& one, const std::wstring& other) {
  return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), other.data(),
                              static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

// Whether the file opened at name is one the tool may write into: a file on
// disk with no other name (a hard link would carry the bytes elsewhere), and
// the name itself rather than where a link or junction in its last part
// leads. Windows opens that link itself and shows the reparse point; Wine
// follows a Unix link whatever the open asks, and shows it only by where the
// handle ended, which must be that name in that folder.
bool isOwnFile(HANDLE file, const std::wstring& name) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1)
    return false;
  const size_t slash = name.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  const OwnedHandle folder(CreateFileW(name.substr(0, slash + 1).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
  std::wstring expected = folder.get() == INVALID_HANDLE_VALUE ? L"" : finalPath(folder.get());
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  return sameName(expected + name.substr(slash + 1), finalPath(file));
}

// The record and the backups: never through a link, never into a file with
// another name.
long writeFile(const std::string& path, const std::string& bytes, DWORD access,
               DWORD disposition) {
  const std::wstring name = widen(path);
  OwnedHandle file(CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return lastError();
  return isOwnFile(file.get(), name) ? writeWhole(file.get(), bytes) : ERROR_ACCESS_DENIED;
}

}  // namespace

// Opened when it is there, else made new: opening "always" would, under
// Wine, make the file a dangling link there names.
long platformAppendToFile(const std::string& path, const std::string& bytes) {
  const long appended = writeFile(path, bytes, FILE_APPEND_DATA, OPEN_EXISTING);
  return appended == ERROR_FILE_NOT_FOUND ? writeFile(path, bytes, FILE_APPEND_DATA, CREATE_NEW)
                                          : appended;
}

long platformWriteNewFile(const std::string& path, const std::string& bytes) {
  return writeFile(path, bytes, GENERIC_WRITE, CREATE_NEW);
}

LocalTime platformLocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  return time;
}

std::string platformComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return std::string();
  return narrow(name, length);
}
