// What the Windows backend's files share: <windows.h> as they include it,
// text at the edge of the wide calls, owned handles and the system's codes.
#ifndef VORKEL_PLATFORM_WINDOWS_COMMON_H_
#define VORKEL_PLATFORM_WINDOWS_COMMON_H_

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: NtOpenKeyEx, SetFileInformationByHandle
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stddef.h>

#include <memory>
#include <string>
#include <vector>

#include "text/text.h"

// UTF-8 inside the tool, UTF-16 for the wide calls; wchar_t is 16 bits here.
inline std::wstring widen(const std::string& utf8) {
  const std::u16string wide = utf16FromUtf8(utf8);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string narrow(const wchar_t* wide, size_t length) {
  return utf8FromUtf16(reinterpret_cast<const char16_t*>(wide), length);
}

/// A value (UTF-8) as bytes of a code page, as a file or a pipe the output
/// goes to is given it: each character the page cannot hold as itself, and
/// each that stands for none, as '?'.
std::string textInCodePage(const std::string& utf8, unsigned codePage);

/// The calling thread's last error as the code the tool reports.
inline long lastError() { return static_cast<long>(GetLastError()); }

/// The most one call reads, writes or hashes: the system's counts are 32
/// bits wide.
inline DWORD chunkOf(size_t size) {
  const size_t largest = size_t(1) << 30;
  return static_cast<DWORD>(size < largest ? size : largest);
}

// Handles closed by whoever holds them, on every path.
struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
typedef std::unique_ptr<void, HandleCloser> OwnedHandle;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
typedef std::unique_ptr<HKEY__, KeyCloser> OwnedKey;

// The administrator's rights, put in force for a call or a pass and taken
// back (windows_registry.cc).
struct Rights {
  HANDLE token = nullptr;
  // What AdjustTokenPrivileges says the changed rights were before.
  unsigned char previous[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)] = {};
  bool changed = false;
  std::vector<unsigned char> before;  // the token's rights before any change
};
// The administrator's rights the tool puts in force, each named once.
const wchar_t* const BackupRight[] = {L"SeBackupPrivilege"};
const wchar_t* const BackupAndRestoreRights[] = {L"SeBackupPrivilege", L"SeRestorePrivilege"};

/// Puts the named rights (at most two) in force; says whether the system
/// reports them so. putRightsBack is due whatever it returns.
bool takeRights(const wchar_t* const* names, int count, Rights* rights);
/// Takes back what takeRights changed; says whether the token is as before.
bool putRightsBack(Rights* rights);

#endif  // VORKEL_PLATFORM_WINDOWS_COMMON_H_
