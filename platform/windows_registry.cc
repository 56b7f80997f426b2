// The registry and the administrator's backup and restore rights.
#include "platform/windows_common.h"

#include <winternl.h>

#include <vector>

#include "platform/platform.h"

// ntdll's own calls for keys, documented as ZwOpenKeyEx and ZwDeleteKey.
extern "C" {
NTSTATUS NTAPI NtOpenKeyEx(PHANDLE key, ACCESS_MASK access,
                           POBJECT_ATTRIBUTES attributes, ULONG options);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
}

namespace {

// "\Registry\Machine\..." for a key below HKEY_LOCAL_MACHINE, each name once
// separated: the registry has no empty names, so "a\\b" can only be a\b.
std::wstring machineKeyName(const std::string& subKey) {
  std::wstring name = L"\\Registry\\Machine\\";
  for (wchar_t c : widen(subKey))
    if (c != L'\\' || name.back() != L'\\') name += c;
  if (name.back() == L'\\') name.pop_back();
  return name;
}

// ---- The administrator's backup and restore rights ----------------------------
// An administrator holds them but does not have them in force; they let him
// open a key whatever its access list says, with REG_OPTION_BACKUP_RESTORE.
// They are put in force for one call and taken back at once.

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

}  // namespace

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

namespace {

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
  HANDLE handle = nullptr;
  if (deletion.rightsInForce && openWithRights(subKey, DELETE, &handle) >= 0) {
    const OwnedKey key(reinterpret_cast<HKEY>(handle));
    if (NtDeleteKey(key.get()) >= 0) deletion.result = ERROR_SUCCESS;
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

