// Prints what the Windows build's reader, extractor, fingerprint and key
// deletion make of a machine, and sets up what a regedit import cannot, so
// that the native suites can check them under Wine:
//   vorkel-probe read PATH | md5 PATH | path ARGUMENTS-FILE | list FOLDER | hold PATH
//   vorkel-probe delete-key KEY | open-key KEY | protect KEY | shut KEY | unprotect KEY
//   vorkel-probe attributes PATH HEX | refuses-deletion PATH | process-id PATH
//   vorkel-probe make-link KEY TARGET | remove-link KEY | link-value KEY
//   vorkel-probe /c COMMAND (in a command interpreter's place: says it ran)
//   vorkel-probe file-rights scan|removal | remove PATH | at-restart PATH | append PATH TEXT
//   vorkel-probe code-page TEXT NUMBER (a value as a file or pipe is given it)
// Arguments are taken as the system holds them (any Unicode name) and given
// to the tool's code as UTF-8; answers go to standard output as raw bytes.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "platform/platform.h"
#include "platform/windows_common.h"
#include "remedy/payload.h"
#include "tasks/task_definition.h"
#include "tasks/task_store.h"

extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace {

void print(const std::string& text) {
  platformWrite(StdStream::Out, text.data(), text.size());
}

std::string utf8(const wchar_t* text) { return narrow(text, wcslen(text)); }

std::string wholeFile(const std::string& path) {
  std::string bytes;
  const FileOpening opening = platformOpenFile(path);
  if (!opening.file) return bytes;
  char chunk[65536];
  for (FileRead got; (got = platformReadFile(opening.file.get(), chunk, sizeof chunk)).bytes > 0;)
    bytes.append(chunk, got.bytes);
  return bytes;
}

// The digest, or why there is none: "missing 2", "not a file", "refused 32",
// "elsewhere 9000001a 400".
std::string fingerprintText(const Fingerprint& fingerprint) {
  char hex[32];
  switch (fingerprint.unread.failure) {
    case FileFailure::None:
      return fingerprint.md5;
    case FileFailure::Missing:
      return "missing " + std::to_string(fingerprint.unread.error);
    case FileFailure::NotAFile:
      return "not a file";
    case FileFailure::Refused:
      return "refused " + std::to_string(fingerprint.unread.error);
    case FileFailure::ContentElsewhere:
      snprintf(hex, sizeof hex, "%x %x", static_cast<unsigned>(fingerprint.unread.reparseTag),
               static_cast<unsigned>(fingerprint.unread.attributes));
      return std::string("elsewhere ") + hex;
  }
  return "?";
}

// Holds the file open sharing nothing, as another program may, until it is
// ended; PATH.held says when it does.
int holdFile(const std::string& path) {
  HANDLE held =
      CreateFileW(widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE marker = CreateFileW(widen(path + ".held").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(marker);
  Sleep(INFINITE);
  return 0;
}

// The backup and restore rights as the process's token holds them now:
// "SeBackupPrivilege=<attributes> SeRestorePrivilege=<attributes>".
std::string backupRights() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "no token";
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::string rights;
  if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
    const TOKEN_PRIVILEGES* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege"}) {
      LUID luid;
      LookupPrivilegeValueW(nullptr, name, &luid);
      for (DWORD i = 0; i < list->PrivilegeCount; ++i)
        if (list->Privileges[i].Luid.LowPart == luid.LowPart &&
            list->Privileges[i].Luid.HighPart == luid.HighPart)
          rights += (rights.empty() ? "" : " ") + utf8(name) + "=" +
                    std::to_string(list->Privileges[i].Attributes);
    }
  }
  CloseHandle(token);
  return rights;
}

// A key below HKEY_LOCAL_MACHINE in the 64-bit view, or nullptr.
HKEY openMachineKey(const std::string& subKey, DWORD options, REGSAM access) {
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(subKey).c_str(), options, access | KEY_WOW64_64KEY,
                       &key) == ERROR_SUCCESS
             ? key
             : nullptr;
}

// Sets a key's access list, and its owner when the descriptor names one.
// "protect" gives it the list the scheduler's keys have on Windows 10 and
// 11: owned by SYSTEM, administrators may read; they may also change the
// list, so that "unprotect" can take it away again.
int setKeySecurity(const std::string& subKey, const wchar_t* sddl, bool owner) {
  HKEY key = openMachineKey(subKey, 0, WRITE_DAC | (owner ? WRITE_OWNER : 0));
  if (key == nullptr) return 1;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  int status = 1;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                           nullptr) &&
      RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS &&
      (!owner || RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS))
    status = 0;
  LocalFree(descriptor);
  RegCloseKey(key);
  return status;
}

// Whether the system would refuse to delete the file now (a running
// program): the deletion is asked for and, if granted, called off.
bool refusesDeletion(const std::string& path) {
  HANDLE file = CreateFileW(widen(path).c_str(), DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  bool refused = !SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                             sizeof disposition);
  disposition.DeleteFile = FALSE;
  if (!refused) SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                           sizeof disposition);
  CloseHandle(file);
  return refused;
}

// The id of a process whose program is named path (by name, any case), or
// "" when none is.
std::string processIdOf(const std::string& path) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  std::string found;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found.empty();
       more = Process32NextW(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (process != nullptr && QueryFullProcessImageNameW(process, 0, image, &length) &&
        lstrcmpiW(image, widen(path).c_str()) == 0)
      found = std::to_string(entry.th32ProcessID);
    if (process != nullptr) CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

// Makes KEY a registry link to TARGET ("\\Registry\\Machine\\..."), as a
// program may: created as a link, its target stored as SymbolicLinkValue.
int makeLink(const std::string& subKey, const std::string& target) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, widen(subKey).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS | KEY_CREATE_LINK | KEY_WOW64_64KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  // The target without its terminating zero, as the system takes it.
  const std::wstring name = widen(target);
  const LONG set = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                  reinterpret_cast<const BYTE*>(name.data()),
                                  static_cast<DWORD>(name.size() * sizeof(wchar_t)));
  RegCloseKey(key);
  return set == ERROR_SUCCESS ? 0 : 1;
}

// The link key itself is deleted, not its target.
int removeLink(const std::string& subKey) {
  HKEY key = openMachineKey(subKey, REG_OPTION_OPEN_LINK, DELETE);
  if (key == nullptr) return 1;
  const NTSTATUS status = NtDeleteKey(key);
  RegCloseKey(key);
  return status >= 0 ? 0 : 1;
}

// What a link shows opened as itself ("link type=6 target=...") and opened
// by its name as anyone opens it ("followed Id=...").
std::string linkValue(const std::string& subKey) {
  std::string shown;
  HKEY key = openMachineKey(subKey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE);
  if (key != nullptr) {
    wchar_t target[512] = {};
    DWORD type = 0, size = sizeof target - sizeof(wchar_t);
    const LONG read = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type,
                                       reinterpret_cast<BYTE*>(target), &size);
    shown += "link result=" + std::to_string(read) + " type=" + std::to_string(type) +
             " target=" + utf8(target) + "\n";
    RegCloseKey(key);
  }
  if ((key = openMachineKey(subKey, 0, KEY_QUERY_VALUE)) != nullptr) {
    wchar_t id[64] = {};
    DWORD size = sizeof id - sizeof(wchar_t);
    RegQueryValueExW(key, L"Id", nullptr, nullptr, reinterpret_cast<BYTE*>(id), &size);
    shown += "followed Id=" + utf8(id) + "\n";
    RegCloseKey(key);
  }
  return shown;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 3) return 2;
  const std::string verb = utf8(arguments[1]), subject = utf8(arguments[2]);
  if (verb == "/c" || verb == "/C") {
    // Started where a command interpreter was meant to be (COMSPEC, AutoRun):
    // says so on standard output, which a run's transcript would then show.
    print("interpreter ran: " + utf8(GetCommandLineW()) + "\r\n");
  } else if (verb == "read") {
    TaskRecord record = readTaskDefinition(subject);
    print(record.uri + '\0' + record.command + '\0' + record.arguments);
  } else if (verb == "md5") {
    print(fingerprintText(fileFingerprint(subject)));
  } else if (verb == "path") {
    print(extractExecutablePath(wholeFile(subject)));
  } else if (verb == "list") {
    const TaskStoreListing listing = collectTaskFiles(subject);
    for (const std::string& file : listing.files) print(file + '\n');
    for (const StoreLink& link : listing.links)
      print("link " + link.path + " -> " + link.target + (link.walked ? " walked\n" : "\n"));
  } else if (verb == "hold") {
    return holdFile(subject);
  } else if (verb == "delete-key") {
    // What the deletion reports, with the rights seen from here before and
    // after it.
    const std::string before = backupRights();
    const KeyOpenedToRemove opened = platformOpenKeyToRemove(subject);
    KeyDeletion deletion = opened.how;
    if (opened.key) deletion.result = platformDeleteOpenKey(opened.key.get());
    print("result=" + std::to_string(deletion.result) +
          " retried=" + std::to_string(deletion.retried) +
          " inForce=" + std::to_string(deletion.rightsInForce) +
          " putBack=" + std::to_string(deletion.rightsPutBack) + "\nbefore " + before +
          "\nafter " + backupRights() + "\n");
  } else if (verb == "open-key") {
    const std::string before = backupRights();
    const long result = platformOpenKey(subject).error;
    print("result=" + std::to_string(result) + "\nbefore " + before + "\nafter " +
          backupRights() + "\n");
  } else if (verb == "shut") {
    // Not even to be read by administrators.
    return setKeySecurity(subject, L"O:SYD:P(A;;KA;;;SY)(A;;WD;;;BA)", true);
  } else if (verb == "protect") {
    return setKeySecurity(subject, L"O:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)(A;;WD;;;BA)", true);
  } else if (verb == "unprotect") {
    return setKeySecurity(subject, L"D:P(A;;KA;;;SY)(A;;KA;;;BA)", false);
  } else if (verb == "attributes" && count == 4) {
    return SetFileAttributesW(widen(subject).c_str(), wcstoul(arguments[3], nullptr, 16)) ? 0 : 1;
  } else if (verb == "code-page" && count == 4) {
    print(textInCodePage(subject, static_cast<unsigned>(wcstoul(arguments[3], nullptr, 10))));
  } else if (verb == "make-link" && count == 4) {
    return makeLink(subject, utf8(arguments[3]));
  } else if (verb == "remove-link") {
    return removeLink(subject);
  } else if (verb == "link-value") {
    print(linkValue(subject));
  } else if (verb == "refuses-deletion") {
    print(refusesDeletion(subject) ? "1" : "0");
  } else if (verb == "process-id") {
    print(processIdOf(subject));
  } else if (verb == "file-rights") {
    // The token before, while a pass's rights are in force, and after.
    const std::string before = backupRights();
    FileRightsTaken taken =
        platformBeginFileRights(subject == "removal" ? FileRights::Removal : FileRights::Scan);
    const std::string during = backupRights();
    const bool asBefore = platformEndFileRights(std::move(taken.rights));
    print("inForce=" + std::to_string(taken.inForce) + " asBefore=" + std::to_string(asBefore) +
          "\nbefore " + before + "\nduring " + during + "\nafter " + backupRights() + "\n");
  } else if (verb == "remove") {
    const PayloadRemoval removal = removeIfStillThePayload(subject);
    print("outcome=" + std::to_string(static_cast<int>(removal.outcome)) +
          " code=" + std::to_string(removal.code));
  } else if (verb == "at-restart") {
    const FileToRemove opened = platformOpenFileToRemove(subject);
    print(std::to_string(opened.file ? platformDeleteOpenFileAtRestart(opened.file.get())
                                     : opened.error));
  } else if (verb == "append" && count == 4) {
    print(std::to_string(platformAppendToFile(subject, utf8(arguments[3]))));
  } else {
    return 2;
  }
  return 0;
}
