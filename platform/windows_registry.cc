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

// ---- One name at a time, never through a link -----------------------------
// A registry link is a key whose SymbolicLinkValue names another key; the
// system follows it wherever it stands in a path, so a path is opened name
// by name, each relative to the key before it and without following it
// (REG_OPTION_OPEN_LINK, OBJ_OPENLINK), and a link anywhere refuses it.

// The names of a path below HKEY_LOCAL_MACHINE: the registry has no empty
// names, so "a\\b" can only be a\b.
std::vector<std::wstring> keyNames(const std::string& subKey) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (wchar_t c : widen(subKey) + L"\\") {
    if (c != L'\\') {
      name += c;
    } else if (!name.empty()) {
      names.push_back(name);
      name.clear();
    }
  }
  return names;
}

// Whether an open key is a link: opened as the link itself, it holds its
// target as SymbolicLinkValue, of type REG_LINK. The handle must allow
// reading values.
bool isLink(HKEY key) {
  DWORD type = REG_NONE;
  const LONG result = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) && type == REG_LINK;
}

// Opens the key at subKey below base (HKEY_LOCAL_MACHINE when null), the
// last name with access (values readable too), the names before it only to
// see that none is a link.
LONG openEachName(const std::string& subKey, REGSAM access, OwnedKey* key,
                  HKEY base = HKEY_LOCAL_MACHINE) {
  const std::vector<std::wstring> names = keyNames(subKey);
  if (names.empty()) return ERROR_FILE_NOT_FOUND;
  OwnedKey parent;
  for (size_t i = 0; i < names.size(); ++i) {
    const REGSAM wanted = (i + 1 == names.size() ? access : 0) | KEY_QUERY_VALUE;
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExW(parent ? parent.get() : base, names[i].c_str(),
                                      REG_OPTION_OPEN_LINK, wanted | KEY_WOW64_64KEY, &opened);
    if (result != ERROR_SUCCESS) return result;
    parent.reset(opened);
    if (isLink(opened)) return ErrorKeyIsLink;
  }
  *key = std::move(parent);
  return ERROR_SUCCESS;
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

// The same walk through ntdll, with the rights in force: each name opened
// with REG_OPTION_BACKUP_RESTORE (which never creates a key) and OBJ_OPENLINK.
// The system's code: a status converted, ErrorKeyIsLink for a link.
LONG openEachNameWithRights(const std::string& subKey, ACCESS_MASK access, OwnedKey* key) {
  const std::vector<std::wstring> names = keyNames(subKey);
  if (names.empty()) return ERROR_FILE_NOT_FOUND;
  OwnedKey parent;
  for (size_t i = 0; i <= names.size(); ++i) {
    // First the hive itself, by its full name; then each name below it.
    std::wstring name = i == 0 ? std::wstring(L"\\Registry\\Machine") : names[i - 1];
    if (name.size() * sizeof(wchar_t) > 0xFFFE) return ERROR_FILENAME_EXCED_RANGE;
    UNICODE_STRING objectName;
    objectName.Buffer = &name[0];
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE | OBJ_OPENLINK,
                               parent.get(), nullptr);
    HANDLE opened = nullptr;
    const ACCESS_MASK wanted = (i == names.size() ? access : 0) | KEY_QUERY_VALUE;
    const NTSTATUS status = NtOpenKeyEx(&opened, wanted, &attributes, REG_OPTION_BACKUP_RESTORE);
    if (status < 0) return static_cast<LONG>(RtlNtStatusToDosError(status));
    parent.reset(reinterpret_cast<HKEY>(opened));
    if (isLink(parent.get())) return ErrorKeyIsLink;
  }
  *key = std::move(parent);
  return ERROR_SUCCESS;
}

// Deletes the open key, which must have no sub-keys (else access denied).
LONG deleteOpenKey(HKEY key) {
  const NTSTATUS status = NtDeleteKey(key);
  return status < 0 ? static_cast<LONG>(RtlNtStatusToDosError(status)) : ERROR_SUCCESS;
}

HKEY handleOf(PlatformKey* key) { return reinterpret_cast<HKEY>(key); }

KeyOpening keyOpening(LONG result, OwnedKey* key) {
  KeyOpening opening;
  opening.error = result;
  if (result == ERROR_SUCCESS) opening.key.reset(reinterpret_cast<PlatformKey*>(key->release()));
  return opening;
}

// A value as stored, its text decoded once: a string from UTF-16 up to its
// first zero, any other type's bytes as they are.
KeyValue storedValue(std::string name, DWORD type, const unsigned char* data, DWORD length) {
  KeyValue value;
  value.name = std::move(name);
  value.type = type;
  value.raw.assign(reinterpret_cast<const char*>(data), length);
  value.text = isStringType(type) ? utf8FromRegistryString(value.raw) : value.raw;
  return value;
}

}  // namespace

// A key refused to an administrator is opened again with the backup right;
// what that retry gives counts then, a link included.
KeyOpening platformOpenKey(const std::string& subKey) {
  OwnedKey key;
  LONG result = openEachName(subKey, KEY_READ, &key);
  if (result == ERROR_ACCESS_DENIED) {
    Rights rights;
    if (takeRights(BackupRight, 1, &rights))
      result = openEachNameWithRights(subKey, KEY_READ, &key);
    putRightsBack(&rights);
  }
  return keyOpening(result, &key);
}

// Measured, then read; a value grown in between is measured again.
ValueRead platformReadValue(PlatformKey* key, const std::string& name) {
  ValueRead read;
  const std::wstring wide = widen(name);
  DWORD type = 0;
  // Most values fit a first read; a larger one is read again with room for
  // the size it gave.
  DWORD length = 2048;
  LONG result = ERROR_SUCCESS;
  std::vector<unsigned char> stored;
  while (result == ERROR_SUCCESS) {
    stored.assign(length + sizeof(wchar_t), 0);  // never empty: a null buffer only measures
    DWORD got = static_cast<DWORD>(stored.size());
    result = RegQueryValueExW(handleOf(key), wide.c_str(), nullptr, &type, stored.data(), &got);
    if (result == ERROR_MORE_DATA) {
      length = got;
      result = ERROR_SUCCESS;
      continue;
    }
    if (result == ERROR_SUCCESS) read.value = storedValue(name, type, stored.data(), got);
    break;
  }
  read.error = result;
  return read;
}

long platformFindValue(PlatformKey* key, const std::string& name) {
  return RegQueryValueExW(handleOf(key), widen(name).c_str(), nullptr, nullptr, nullptr, nullptr);
}

void PlatformKeyCloser::operator()(PlatformKey* key) const { RegCloseKey(handleOf(key)); }

KeyOpening platformOpenKeyBelow(PlatformKey* parent, const std::string& subKey) {
  OwnedKey key;
  return keyOpening(openEachName(subKey, KEY_READ, &key, handleOf(parent)), &key);
}

SubKeys platformListSubKeys(PlatformKey* key) {
  SubKeys listed;
  HKEY hkey = handleOf(key);
  // Room for the longest name the registry allows; the loop makes more if
  // it is ever short.
  std::wstring name(256, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG result =
        RegEnumKeyExW(hkey, index, &name[0], &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return listed;
    if (result == ERROR_MORE_DATA) {
      // A name longer than the room made: more room, and the same index again.
      name.assign(name.size() * 2 + 256, L'\0');
      --index;
      continue;
    }
    if (result != ERROR_SUCCESS) {
      listed.error = result;
      return listed;
    }
    listed.names.push_back(narrow(name.data(), length));
  }
}

// The rights are in force for the open alone: the handle it gives may
// delete the key later without them.
KeyOpenedToRemove platformOpenKeyToRemove(const std::string& subKey) {
  KeyOpenedToRemove opened;
  OwnedKey key;
  opened.how.result = openEachName(subKey, KEY_READ | DELETE, &key);
  if (opened.how.result == ERROR_ACCESS_DENIED) {
    opened.how.retried = true;
    Rights rights;
    opened.how.rightsInForce = takeRights(BackupAndRestoreRights, 2, &rights);
    // The retry's own outcome is the one reported.
    if (opened.how.rightsInForce)
      opened.how.result = openEachNameWithRights(subKey, KEY_READ | DELETE, &key);
    opened.how.rightsPutBack = putRightsBack(&rights);
  }
  if (opened.how.result == ERROR_SUCCESS)
    opened.key.reset(reinterpret_cast<PlatformKey*>(key.release()));
  return opened;
}

long platformDeleteOpenKey(PlatformKey* key) { return deleteOpenKey(handleOf(key)); }

ValuesRead platformReadValues(PlatformKey* key) {
  ValuesRead read;
  HKEY hkey = handleOf(key);
  DWORD count = 0, longestName = 0, largest = 0;
  read.error = RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                &longestName, &largest, nullptr, nullptr);
  if (read.error != ERROR_SUCCESS) return read;
  std::wstring name(longestName + 1, L'\0');
  std::vector<unsigned char> data(largest + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG result =
        RegEnumValueW(hkey, index, &name[0], &nameLength, nullptr, &type, data.data(), &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) return read;
    if (result == ERROR_MORE_DATA) {
      // Grown since it was measured: measured again, and read again.
      RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &longestName, &largest, nullptr, nullptr);
      name.assign(longestName + 1, L'\0');
      data.assign(largest + 1, 0);
      --index;
      continue;
    }
    if (result != ERROR_SUCCESS) {
      read.error = result;
      return read;
    }
    read.values.push_back(
        storedValue(narrow(name.data(), nameLength), type, data.data(), dataLength));
  }
}
