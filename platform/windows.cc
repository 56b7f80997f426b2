// The Windows backend: the only file that sees <windows.h>.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // RegDeleteKeyExA needs Vista or later
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>

#include <stdlib.h>

#include "platform/platform.h"

namespace {

HANDLE standardHandle(StdStream stream) {
  return GetStdHandle(stream == StdStream::Out ? STD_OUTPUT_HANDLE
                                               : STD_ERROR_HANDLE);
}

bool isUsable(HANDLE handle) {
  return handle != NULL && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

// Only a console has colours. Standard output stays what it was at the
// start, so that is asked once rather than by a failing call twice for
// every task definition scanned.
void platformSetTextAttribute(int attribute) {
  static const bool console = [] {
    DWORD mode = 0;
    HANDLE out = standardHandle(StdStream::Out);
    return isUsable(out) && GetConsoleMode(out, &mode) != 0;
  }();
  if (console)
    SetConsoleTextAttribute(standardHandle(StdStream::Out), static_cast<WORD>(attribute));
}

// WriteFile passes GBK bytes to the console unchanged; the C runtime's
// stream functions do not under every console.
void platformWrite(StdStream stream, const char* data, size_t size) {
  HANDLE handle = standardHandle(stream);
  if (!isUsable(handle)) return;
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, NULL) || written == 0) return;
    data += written;
    size -= written;
  }
}

int platformReadByte() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!isUsable(input)) return -1;
  unsigned char byte = 0;
  DWORD got = 0;
  if (!ReadFile(input, &byte, 1, &got, NULL) || got != 1) return -1;
  return byte;
}

void platformRunShellCommand(const char* command) { system(command); }

void platformExit(int status) { exit(status); }

bool platformGetEnvironment(const char* name, std::string* value) {
  DWORD size = GetEnvironmentVariableA(name, NULL, 0);
  if (size == 0) return false;
  std::string buffer(size, '\0');
  DWORD length = GetEnvironmentVariableA(name, &buffer[0], size);
  if (length == 0 || length >= size) {
    // Gone or grown since the first look: take what the second look says.
    if (length == 0) return false;
    buffer.resize(length + 1);
    length = GetEnvironmentVariableA(name, &buffer[0], length + 1);
    if (length == 0 || length >= buffer.size()) return false;
  }
  value->assign(buffer.data(), length);
  return true;
}

bool platformIsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = NULL;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(NULL, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member == 1;
}

bool platformListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries) {
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA((directory + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return false;
  do {
    DirectoryEntry entry;
    entry.name = found.cFileName;
    // A name the ANSI code page cannot hold comes back with '?', which no
    // real name contains and which cannot be opened; the short name can.
    if (entry.name.find('?') != std::string::npos && found.cAlternateFileName[0] != '\0')
      entry.name = found.cAlternateFileName;
    // Links and junctions to folders are entries of their own, never
    // followed: a link loop cannot make the walk endless.
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    entries->push_back(entry);
  } while (FindNextFileA(listing, &found));
  FindClose(listing);
  return true;
}

PlatformFile* platformOpenFile(const std::string& path, uint64_t* size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  // Device names such as NUL or CON open too; only files on disk count.
  LARGE_INTEGER length;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length) ||
      length.QuadPart < 0) {
    CloseHandle(file);
    return NULL;
  }
  *size = static_cast<uint64_t>(length.QuadPart);
  return reinterpret_cast<PlatformFile*>(file);
}

int64_t platformReadFile(PlatformFile* file, void* buffer, size_t capacity) {
  DWORD chunk =
      capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, chunk, &got, NULL))
    return -1;
  return got;
}

void platformCloseFile(PlatformFile* file) {
  CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool platformDeleteFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

struct PlatformMd5 {
  HCRYPTPROV provider;
  HCRYPTHASH hash;
};

// A context of its own for every file, released with the hash: nothing of
// the cryptographic service is held between fingerprints.
PlatformMd5* platformBeginMd5() {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT))
    return NULL;
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    CryptReleaseContext(provider, 0);
    return NULL;
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

long platformOpenKey(const std::string& subKey, PlatformKey** key) {
  HKEY opened = NULL;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0,
                              KEY_READ | KEY_WOW64_64KEY, &opened);
  *key = result == ERROR_SUCCESS ? reinterpret_cast<PlatformKey*>(opened) : NULL;
  return result;
}

long platformQueryValue(PlatformKey* key, const char* valueName, char* buffer,
                        uint32_t* size) {
  DWORD length = *size;
  LONG result = RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName, NULL,
                                 NULL, reinterpret_cast<BYTE*>(buffer), &length);
  *size = length;
  return result;
}

void platformCloseKey(PlatformKey* key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

long platformDeleteKey(const std::string& subKey) {
  return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_64KEY, 0);
}
