// The Windows backend: the one file of the tool that sees <windows.h>.
// Text inside the tool is UTF-8; here it becomes UTF-16 for the wide calls,
// and names the system gives back become UTF-8 again, so a Chinese name (or
// one no code page holds) is used exactly as the system stores it.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: NtOpenKeyEx, SetFileInformationByHandle
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>
#include <winternl.h>
#include <ntsecapi.h>

#include <stdlib.h>

#include "platform/platform.h"

// ntdll's own calls for keys, documented as ZwOpenKeyEx and ZwDeleteKey.
extern "C" {
NTSTATUS NTAPI NtOpenKeyEx(PHANDLE key, ACCESS_MASK access,
                           POBJECT_ATTRIBUTES attributes, ULONG options);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
}

namespace {

HANDLE standardHandle(StdStream stream) {
  return GetStdHandle(stream == StdStream::Out ? STD_OUTPUT_HANDLE
                                               : STD_ERROR_HANDLE);
}

bool isUsable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Standard output stays what it was at the start, so whether it is a
// console is asked once rather than by a failing call for every task
// definition scanned.
bool outputIsConsole() {
  static const bool console = [] {
    DWORD mode = 0;
    HANDLE out = standardHandle(StdStream::Out);
    return isUsable(out) && GetConsoleMode(out, &mode) != 0;
  }();
  return console;
}

// ---- UTF-8 and UTF-16 ------------------------------------------------------
// Windows names are UTF-16 units that need not pair up. Inside the tool they
// are UTF-8, a unit that pairs with nothing written as the three bytes of
// its value, so every name the system gives comes back to it unchanged.

const uint32_t NotACharacter = 0xFFFFFFFF;

// The code point at text[*at] (a lone surrogate included), moving *at past
// it; NotACharacter, moving one byte, where no well-formed sequence starts.
uint32_t nextCodePoint(const std::string& text, size_t* at) {
  const size_t i = *at;
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  *at = i + 1;
  if (lead < 0x80) return lead;
  const size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                       : lead >= 0xE0 && lead <= 0xEF ? 2
                       : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                      : 0;
  if (extra == 0 || text.size() - i <= extra) return NotACharacter;
  uint32_t code = lead & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return NotACharacter;
    code = code << 6 | (next & 0x3F);
  }
  const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
  if (code < smallest[extra] || code > 0x10FFFF) return NotACharacter;
  *at = i + 1 + extra;
  return code;
}

std::wstring widen(const std::string& utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    uint32_t code = nextCodePoint(utf8, &at);
    if (code == NotACharacter) code = 0xFFFD;  // names no file or key
    if (code >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 | (code - 0x10000) >> 10);
      wide += static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(code);
    }
  }
  return wide;
}

void appendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | code >> 6);
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | code >> 12);
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | code >> 18);
    *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string narrow(const wchar_t* wide, size_t length) {
  std::string utf8;
  utf8.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t unit = static_cast<uint16_t>(wide[i]);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < length) {
      uint32_t next = static_cast<uint16_t>(wide[i + 1]);
      if (next >= 0xDC00 && next < 0xE000) {
        unit = 0x10000 + ((unit & 0x3FF) << 10) + (next & 0x3FF);
        ++i;
      }
    }
    appendUtf8(unit, &utf8);
  }
  return utf8;
}

bool isAscii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The code page the user reads: the console's, or the ANSI code page when
// output goes to a file or a pipe.
UINT shownCodePage() {
  static const UINT codePage = outputIsConsole() ? GetConsoleOutputCP() : GetACP();
  return codePage;
}

// One character in that code page, or "?" when it cannot hold it.
std::string shownCharacter(uint32_t code) {
  const bool lone = code >= 0xD800 && code < 0xE000;
  if (code == NotACharacter || lone) return "?";
  if (shownCodePage() == CP_UTF8) {
    std::string utf8;
    appendUtf8(code, &utf8);
    return utf8;
  }
  wchar_t units[2] = {static_cast<wchar_t>(code), 0};
  int count = 1;
  if (code >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 | (code - 0x10000) >> 10);
    units[1] = static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
    count = 2;
  }
  char bytes[16];
  BOOL defaulted = FALSE;
  int length = WideCharToMultiByte(shownCodePage(), WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                   sizeof bytes, nullptr, &defaulted);
  if (length <= 0 || defaulted) return "?";
  return std::string(bytes, static_cast<size_t>(length));
}

// ---- Paths and keys ----------------------------------------------------------

// "\Registry\Machine\..." for a key below HKEY_LOCAL_MACHINE, each name once
// separated: the registry has no empty names, so "a\\b" can only be a\b.
std::wstring machineKeyName(const std::string& subKey) {
  std::wstring name = L"\\Registry\\Machine\\";
  for (wchar_t c : widen(subKey))
    if (c != L'\\' || name.back() != L'\\') name += c;
  if (name.back() == L'\\') name.pop_back();
  return name;
}

}  // namespace

void platformSetTextAttribute(ConsoleColour colour) {
  if (outputIsConsole())
    SetConsoleTextAttribute(standardHandle(StdStream::Out), static_cast<WORD>(colour));
}

// WriteFile passes the bytes to the console unchanged; the C runtime's
// stream functions do not under every console.
void platformWrite(StdStream stream, const char* data, size_t size) {
  HANDLE handle = standardHandle(stream);
  if (!isUsable(handle)) return;
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

std::string platformConsoleText(const std::string& utf8) {
  if (isAscii(utf8)) return utf8;
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    const uint32_t code = nextCodePoint(utf8, &at);
    if (code < 0x80)
      shown += utf8[start];
    else
      shown += shownCharacter(code);
  }
  return shown;
}

int platformReadByte() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!isUsable(input)) return -1;
  unsigned char byte = 0;
  DWORD got = 0;
  if (!ReadFile(input, &byte, 1, &got, nullptr) || got != 1) return -1;
  return byte;
}

void platformRunShellCommand(const char* command) { system(command); }

bool platformGetEnvironment(const char* name, std::string* value) {
  const std::wstring wideName = widen(name);
  DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring buffer(size, L'\0');
  DWORD length = GetEnvironmentVariableW(wideName.c_str(), &buffer[0], size);
  if (length == 0 || length >= size) {
    // Gone or grown since the first look: take what the second look says.
    if (length == 0) return false;
    buffer.resize(length + 1);
    length = GetEnvironmentVariableW(wideName.c_str(), &buffer[0], length + 1);
    if (length == 0 || length >= buffer.size()) return false;
  }
  *value = narrow(buffer.data(), length);
  return true;
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

bool platformListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries) {
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW(widen(directory + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return false;
  do {
    DirectoryEntry entry;
    entry.name = narrow(found.cFileName, wcslen(found.cFileName));
    // Links and junctions to folders are entries of their own, never
    // followed: a link loop cannot make the walk endless.
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    entries->push_back(entry);
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
  return true;
}

namespace {

// A handle to a file on disk; the size through *size. Device names such as
// NUL or CON open too, and are closed again: only files on disk count.
PlatformFile* fileOnDisk(HANDLE file, uint64_t* size) {
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER length;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length) ||
      length.QuadPart < 0) {
    CloseHandle(file);
    return nullptr;
  }
  *size = static_cast<uint64_t>(length.QuadPart);
  return reinterpret_cast<PlatformFile*>(file);
}

HANDLE handleOf(PlatformFile* file) { return reinterpret_cast<HANDLE>(file); }

const DWORD ProtectingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Sets the file's attributes and nothing else (times of zero stay as they
// are); no attributes at all is written as "normal".
bool setAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool attributesOf(HANDLE file, DWORD* attributes) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
  *attributes = basic.FileAttributes;
  return true;
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

std::wstring randomHex() {
  unsigned char bytes[6] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) {
    // Unique enough where no random bytes can be had: a clash only means
    // another try.
    ULONGLONG now = GetTickCount64() ^ (static_cast<ULONGLONG>(GetCurrentProcessId()) << 32);
    memcpy(bytes, &now, sizeof bytes);
  }
  const wchar_t* digits = L"0123456789abcdef";
  std::wstring hex;
  for (unsigned char byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

}  // namespace

PlatformFile* platformOpenFile(const std::string& path, uint64_t* size) {
  return fileOnDisk(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                    size);
}

int64_t platformReadFile(PlatformFile* file, void* buffer, size_t capacity) {
  DWORD chunk =
      capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
  DWORD got = 0;
  if (!ReadFile(handleOf(file), buffer, chunk, &got, nullptr)) return -1;
  return got;
}

void platformCloseFile(PlatformFile* file) { CloseHandle(handleOf(file)); }

// Nobody may delete or rename the file while it is open here (no delete
// sharing); readers and writers are let be, as when it was judged. Where a
// read-only file's attributes may not be changed through a handle (Wine,
// whose read-only is the file's mode), it is opened without that right and
// the attributes are cleared as far as the system allows.
PlatformFile* platformOpenFileToRemove(const std::string& path, uint64_t* size, long* error) {
  const std::wstring name = widen(path);
  HANDLE file = INVALID_HANDLE_VALUE;
  for (DWORD access : {GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, GENERIC_READ | DELETE}) {
    file = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  *error = file == INVALID_HANDLE_VALUE ? static_cast<long>(GetLastError()) : ERROR_ACCESS_DENIED;
  DWORD attributes = 0;
  if (file != INVALID_HANDLE_VALUE &&
      (!attributesOf(file, &attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    CloseHandle(file);
    return nullptr;
  }
  PlatformFile* opened = fileOnDisk(file, size);
  if (opened != nullptr) *error = 0;
  return opened;
}

long platformDeleteOpenFile(PlatformFile* opened) {
  HANDLE file = handleOf(opened);
  DWORD attributes = 0;
  if (!attributesOf(file, &attributes)) return static_cast<long>(GetLastError());
  const bool protecting = (attributes & ProtectingAttributes) != 0;
  if (protecting && !setAttributes(file, attributes & ~ProtectingAttributes))
    return static_cast<long>(GetLastError());
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
    return 0;
  const long refused = static_cast<long>(GetLastError());
  if (protecting) setAttributes(file, attributes);
  return refused;
}

// The system deletes what is scheduled with every right, by name, at the
// next start: the name given is a fresh one in the file's own folder, so
// no folder swapped later can aim that deletion at another file.
long platformDeleteOpenFileAtRestart(PlatformFile* opened) {
  HANDLE file = handleOf(opened);
  DWORD attributes = 0;
  const std::wstring original = finalPath(file);
  const std::wstring originalNt = ntPathOf(original);
  if (originalNt.empty() || !attributesOf(file, &attributes))
    return static_cast<long>(GetLastError() != 0 ? GetLastError() : ERROR_INVALID_NAME);
  bool renamed = false;
  for (int attempt = 0; attempt < 8 && !renamed; ++attempt)
    renamed = renameOpenFile(file, originalNt + L"." + randomHex() + L".del");
  if (!renamed) return static_cast<long>(GetLastError());
  const std::wstring fresh = finalPath(file);
  // Left without read-only, hidden or system, so that nothing keeps the
  // system from deleting it.
  const bool cleared = (attributes & ProtectingAttributes) == 0 ||
                       setAttributes(file, attributes & ~ProtectingAttributes);
  if (cleared && !fresh.empty() &&
      MoveFileExW(fresh.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return 0;
  const long refused = static_cast<long>(GetLastError());
  // Back as it was.
  setAttributes(file, attributes);
  renameOpenFile(file, originalNt);
  return refused != 0 ? refused : ERROR_ACCESS_DENIED;
}

struct PlatformMd5 {
  HCRYPTPROV provider;
  HCRYPTHASH hash;
};

// A context of its own for every file, released with the hash: nothing of
// the cryptographic service is held between fingerprints.
PlatformMd5* platformBeginMd5() {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT))
    return nullptr;
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    CryptReleaseContext(provider, 0);
    return nullptr;
  }
  PlatformMd5* md5 = new PlatformMd5;
  md5->provider = provider;
  md5->hash = hash;
  return md5;
}

bool platformAddToMd5(PlatformMd5* md5, const void* data, size_t size) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    if (!CryptHashData(md5->hash, bytes, chunk, 0)) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
}

bool platformFinishMd5(PlatformMd5* md5, unsigned char digest[16]) {
  DWORD length = 16;
  return CryptGetHashParam(md5->hash, HP_HASHVAL, digest, &length, 0) &&
         length == 16;
}

void platformReleaseMd5(PlatformMd5* md5) {
  CryptDestroyHash(md5->hash);
  CryptReleaseContext(md5->provider, 0);
  delete md5;
}

namespace {

// ---- The administrator's backup and restore rights ----------------------------
// An administrator holds them but does not have them in force; they let him
// open a key whatever its access list says, with REG_OPTION_BACKUP_RESTORE.
// They are put in force for one call and taken back at once.

struct Rights {
  HANDLE token = nullptr;
  // What AdjustTokenPrivileges says the changed rights were before.
  unsigned char previous[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)] = {};
  bool changed = false;
  std::vector<unsigned char> before;  // the token's rights before any change
};

std::vector<unsigned char> tokenRights(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::vector<unsigned char> rights(size);
  if (size == 0 || !GetTokenInformation(token, TokenPrivileges, rights.data(), size, &size))
    rights.clear();
  return rights;
}

// Whether every named right is in the token and in force.
bool inForce(const std::vector<unsigned char>& rights, const LUID* wanted, int count) {
  if (rights.empty()) return false;
  const TOKEN_PRIVILEGES* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(rights.data());
  for (int w = 0; w < count; ++w) {
    bool found = false;
    for (DWORD i = 0; i < list->PrivilegeCount && !found; ++i)
      found = list->Privileges[i].Luid.LowPart == wanted[w].LowPart &&
              list->Privileges[i].Luid.HighPart == wanted[w].HighPart &&
              (list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (!found) return false;
  }
  return true;
}

// Puts the rights named in force; says whether the system reports them so.
bool takeRights(const wchar_t* const* names, int count, Rights* rights) {
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                        &rights->token)) {
    rights->token = nullptr;
    return false;
  }
  rights->before = tokenRights(rights->token);
  unsigned char wanted[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)] = {};
  TOKEN_PRIVILEGES* list = reinterpret_cast<TOKEN_PRIVILEGES*>(wanted);
  LUID luids[2];
  list->PrivilegeCount = static_cast<DWORD>(count);
  for (int i = 0; i < count; ++i) {
    if (!LookupPrivilegeValueW(nullptr, names[i], &luids[i])) return false;
    list->Privileges[i].Luid = luids[i];
    list->Privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
  }
  DWORD size = sizeof rights->previous;
  rights->changed = AdjustTokenPrivileges(rights->token, FALSE, list, sizeof rights->previous,
                                          reinterpret_cast<TOKEN_PRIVILEGES*>(rights->previous),
                                          &size) != 0;
  return rights->changed && inForce(tokenRights(rights->token), luids, count);
}

// Takes back what takeRights changed; says whether the token is as before.
bool putRightsBack(Rights* rights) {
  if (rights->token == nullptr) return true;
  if (rights->changed)
    AdjustTokenPrivileges(rights->token, FALSE,
                          reinterpret_cast<TOKEN_PRIVILEGES*>(rights->previous), 0, nullptr, nullptr);
  const bool same = tokenRights(rights->token) == rights->before;
  CloseHandle(rights->token);
  rights->token = nullptr;
  return same;
}

// Opens exactly that key, never creating it, with the rights in force.
NTSTATUS openWithRights(const std::string& subKey, ACCESS_MASK access, HANDLE* key) {
  std::wstring name = machineKeyName(subKey);
  if (name.size() * sizeof(wchar_t) > 0xFFFE) return static_cast<NTSTATUS>(0xC0000033L);
  UNICODE_STRING objectName;
  objectName.Buffer = &name[0];
  objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  objectName.MaximumLength = objectName.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  return NtOpenKeyEx(key, access, &attributes, REG_OPTION_BACKUP_RESTORE);
}

const wchar_t* const BackupRight[] = {L"SeBackupPrivilege"};
const wchar_t* const RestoreRights[] = {L"SeRestorePrivilege", L"SeBackupPrivilege"};

}  // namespace

long platformOpenKey(const std::string& subKey, PlatformKey** key) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(subKey).c_str(), 0,
                              KEY_READ | KEY_WOW64_64KEY, &opened);
  if (result == ERROR_ACCESS_DENIED) {
    Rights rights;
    HANDLE handle = nullptr;
    if (takeRights(BackupRight, 1, &rights) &&
        openWithRights(subKey, KEY_READ, &handle) >= 0) {
      opened = reinterpret_cast<HKEY>(handle);
      result = ERROR_SUCCESS;
    }
    putRightsBack(&rights);
  }
  *key = result == ERROR_SUCCESS ? reinterpret_cast<PlatformKey*>(opened) : nullptr;
  return result;
}

long platformQueryValue(PlatformKey* key, const char* valueName, char* buffer,
                        uint32_t* size) {
  // The value's bytes as stored, with its name in UTF-16; a string comes
  // back as UTF-16 and is given as UTF-8, in the caller's buffer as far as
  // it goes.
  DWORD type = 0;
  DWORD length = 0;
  const std::wstring name = widen(valueName);
  HKEY hkey = reinterpret_cast<HKEY>(key);
  LONG result = RegQueryValueExW(hkey, name.c_str(), nullptr, &type, nullptr, &length);
  if (result != ERROR_SUCCESS) return result;
  std::vector<unsigned char> stored(length + sizeof(wchar_t));
  result = RegQueryValueExW(hkey, name.c_str(), nullptr, &type, stored.data(), &length);
  if (result != ERROR_SUCCESS) return result;
  std::string bytes;
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
    bytes = narrow(reinterpret_cast<const wchar_t*>(stored.data()), length / sizeof(wchar_t));
  else
    bytes.assign(reinterpret_cast<const char*>(stored.data()), length);
  const size_t copied = bytes.size() < *size ? bytes.size() : *size;
  memcpy(buffer, bytes.data(), copied);
  const bool fits = bytes.size() <= *size;
  *size = static_cast<uint32_t>(bytes.size());
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

void platformCloseKey(PlatformKey* key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

KeyDeletion platformDeleteKey(const std::string& subKey) {
  KeyDeletion deletion;
  deletion.result =
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, widen(subKey).c_str(), KEY_WOW64_64KEY, 0);
  if (deletion.result != ERROR_ACCESS_DENIED) return deletion;
  deletion.retried = true;
  Rights rights;
  deletion.rightsInForce = takeRights(RestoreRights, 2, &rights);
  HANDLE key = nullptr;
  if (deletion.rightsInForce && openWithRights(subKey, DELETE, &key) >= 0) {
    if (NtDeleteKey(key) >= 0) deletion.result = ERROR_SUCCESS;
    RegCloseKey(reinterpret_cast<HKEY>(key));
  }
  deletion.rightsPutBack = putRightsBack(&rights);
  return deletion;
}

long platformReadValues(PlatformKey* key, std::vector<KeyValue>* values) {
  HKEY hkey = reinterpret_cast<HKEY>(key);
  DWORD count = 0, longestName = 0, largest = 0;
  LONG result = RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &count, &longestName, &largest, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return result;
  std::wstring name(longestName + 1, L'\0');
  std::vector<unsigned char> data(largest + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    result = RegEnumValueW(hkey, index, &name[0], &nameLength, nullptr, &type, data.data(),
                           &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result == ERROR_MORE_DATA) {
      // Grown since it was measured: measured again, and read again.
      RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &longestName, &largest, nullptr, nullptr);
      name.assign(longestName + 1, L'\0');
      data.assign(largest + 1, 0);
      --index;
      continue;
    }
    if (result != ERROR_SUCCESS) return result;
    KeyValue value;
    value.name = narrow(name.data(), nameLength);
    value.type = type;
    value.data.assign(reinterpret_cast<const char*>(data.data()), dataLength);
    values->push_back(value);
  }
}

long platformMakeFolder(const std::string& path) {
  const std::wstring wide = widen(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  const long made = static_cast<long>(GetLastError());
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
    DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!WriteFile(file, data, chunk, &written, nullptr)) return static_cast<long>(GetLastError());
    data += written;
    left -= written;
  }
  return FlushFileBuffers(file) ? 0 : static_cast<long>(GetLastError());
}

long writeFile(const std::string& path, const std::string& bytes, DWORD access,
               DWORD disposition) {
  HANDLE file = CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<long>(GetLastError());
  const long result = GetFileType(file) == FILE_TYPE_DISK ? writeWhole(file, bytes)
                                                           : ERROR_ACCESS_DENIED;
  CloseHandle(file);
  return result;
}

}  // namespace

long platformAppendToFile(const std::string& path, const std::string& bytes) {
  return writeFile(path, bytes, FILE_APPEND_DATA, OPEN_ALWAYS);
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
