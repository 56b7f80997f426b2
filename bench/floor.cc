// The least work a scan needs, written plainly: read the scheduler's copy of
// every task in the registry (walk TaskCache\Tree, read each Id, open
// Tasks\{Id}, read Path and Actions), walk the task folder and read every
// definition whole, and for each candidate read and MD5 the file its
// arguments name; a registry copy that names another file than its
// definition has that one judged too. Prints nothing unless given -v, then
// the counts.
//
//   vorkel-floor [-v] [MD5 [TASK_FOLDER]]
//
// Run where the tool runs: natively in the machine folder (a Windows path
// C:\x is the file C:/x below the working directory), under Wine in the
// prefix's Windows. TASK_FOLDER defaults to C:\Windows\System32\Tasks.
//
// The candidate test is the minimum that works on the scheduler's own files
// (UTF-16 LE, element text escaped as XML), not a general reader: in the
// raw UTF-16 bytes, the text between <Command> and </Command> must contain
// cmd.exe in any case of ASCII letters, and the text between <Arguments> and
// </Arguments> must contain .exe. The file is then the first X:\ in the
// arguments up to the next &, " or < (a closing &quot;, a quote or the end
// of the element), which covers the argument lines the benchmark machines
// hold. Characters beyond ASCII in the path are dropped. In an Actions value
// the same test is made on each program action's command and arguments, up
// to the first action of another kind; the registry copy is matched to its
// definition by the Tree key's path, in any case of ASCII letters.
//
// Natively the registry is the POSIX build's: HKEY_LOCAL_MACHINE/ below the
// working directory, keys as folders and values as files (strings UTF-8).
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#endif

namespace {

struct Counts {
  unsigned long definitions = 0;
  unsigned long registryTasks = 0;
  unsigned long candidates = 0;
  unsigned long dangerous = 0;
};

// What a registry copy starts, as far as the verdict needs it.
struct RegistryCopy {
  bool candidate = false;
  std::string file;  // the candidate's executable, "" when none
  bool matched = false;  // a definition has it
};

std::vector<char> definition;          // one definition, reused
std::vector<char> value;               // one registry value, reused
std::vector<unsigned char> chunk(1 << 20);  // hashing buffer, reused
std::string payloadMd5;
Counts counts;
std::unordered_map<std::string, RegistryCopy> copies;  // by lower-cased task path
size_t rootLength = 0;  // of the task folder's path, so that a definition's task path follows

// ASCII text as UTF-16 LE bytes.
std::string units(const char* ascii) {
  std::string out;
  for (; *ascii; ++ascii) {
    out += *ascii;
    out += '\0';
  }
  return out;
}

const std::string CommandOpen = units("<Command>"), CommandClose = units("</Command>"),
                  ArgumentsOpen = units("<Arguments>"),
                  ArgumentsClose = units("</Arguments>"), Exe = units(".exe");

// Offset of pattern (UTF-16 LE bytes) in text's [from, to), from even, at a
// unit boundary; to when it is not there.
size_t find(std::string_view text, size_t from, size_t to, const std::string& pattern) {
  std::string_view within = text.substr(from, to - from);
  size_t at = within.find(pattern);
  while (at != std::string_view::npos && at % 2 != 0) at = within.find(pattern, at + 1);
  return at == std::string_view::npos ? to : from + at;
}

// Whether text's [from, to) holds lower (lower-case ASCII) as UTF-16 LE
// units in any case of ASCII letters.
bool containsCaseless(std::string_view text, size_t from, size_t to, const char* lower) {
  size_t length = strlen(lower);
  for (size_t at = from; at + 2 * length <= to; at += 2) {
    size_t i = 0;
    for (; i < length; ++i) {
      char c = text[at + 2 * i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != lower[i] || text[at + 2 * i + 1] != 0) break;
    }
    if (i == length) return true;
  }
  return false;
}

// The element's text as [begin, end) offsets; false when it is missing.
bool elementText(std::string_view text, const std::string& open, const std::string& close,
                 size_t* begin, size_t* end) {
  size_t start = find(text, 0, text.size(), open);
  if (start == text.size()) return false;
  *begin = start + open.size();
  *end = find(text, *begin, text.size(), close);
  return *end != text.size();
}

// Whether a command and an argument line (UTF-16 LE, [begin, end) each) are
// a candidate's, and then the file the arguments name ("" when none).
bool candidateFile(std::string_view text, size_t commandBegin, size_t commandEnd,
                   size_t argumentsBegin, size_t argumentsEnd, std::string* file) {
  if (!containsCaseless(text, commandBegin, commandEnd, "cmd.exe") ||
      find(text, argumentsBegin, argumentsEnd, Exe) == argumentsEnd)
    return false;
  for (size_t at = argumentsBegin; at + 6 <= argumentsEnd; at += 2) {
    char letter = static_cast<char>(text[at] | 0x20);
    if (letter >= 'a' && letter <= 'z' && text[at + 2] == ':' && text[at + 4] == '\\') {
      for (; at < argumentsEnd && text[at] != '&' && text[at] != '"' && text[at] != '<';
           at += 2)
        if (text[at + 1] == 0) *file += text[at];
      break;
    }
  }
  return true;
}

uint32_t u32At(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

unsigned u16At(std::string_view bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) |
         static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

// Steps over a counted string at *at, giving its units' [begin, end);
// false when the value ends first.
bool countedString(std::string_view bytes, size_t* at, size_t* begin, size_t* end) {
  if (bytes.size() - *at < 4) return false;
  uint32_t length = u32At(bytes, *at);
  if (length > bytes.size() - *at - 4) return false;
  *begin = *at + 4;
  *end = *begin + length;
  *at = *end;
  return true;
}

// The verdict's part of an Actions value: the first candidate among its
// program actions.
RegistryCopy judgeActions(std::string_view bytes) {
  RegistryCopy copy;
  if (bytes.size() < 2) return copy;
  const unsigned version = u16At(bytes, 0);
  size_t at = 2, begin = 0, end = 0;
  if (version == 3 && !countedString(bytes, &at, &begin, &end)) return copy;
  while (bytes.size() - at >= 2 && u16At(bytes, at) == 0x6666) {
    at += 2;
    size_t commandBegin = 0, commandEnd = 0, argumentsBegin = 0, argumentsEnd = 0;
    if (!countedString(bytes, &at, &begin, &end) ||
        !countedString(bytes, &at, &commandBegin, &commandEnd) ||
        !countedString(bytes, &at, &argumentsBegin, &argumentsEnd) ||
        !countedString(bytes, &at, &begin, &end))
      break;
    if (candidateFile(bytes, commandBegin, commandEnd, argumentsBegin, argumentsEnd,
                      &copy.file)) {
      copy.candidate = true;
      break;
    }
    if (version == 3) {
      if (bytes.size() - at < 2) break;
      at += 2;  // the action's flags
    }
  }
  return copy;
}

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string hexDigest(const unsigned char digest[16]) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

#ifdef _WIN32

HCRYPTPROV provider;

std::string fileMd5(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  HCRYPTHASH hash = 0;
  CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
  DWORD got = 0;
  while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
    CryptHashData(hash, chunk.data(), got, 0);
  CloseHandle(file);
  unsigned char digest[16];
  DWORD length = 16;
  CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
  CryptDestroyHash(hash);
  return hexDigest(digest);
}

bool readWhole(const std::string& path, std::vector<char>* into) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  into->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  size_t filled = 0;
  while (filled < into->size() &&
         ReadFile(file, into->data() + filled, static_cast<DWORD>(into->size() - filled), &got,
                  nullptr) &&
         got > 0)
    filled += got;
  into->resize(filled);
  CloseHandle(file);
  return true;
}

const REGSAM KeyAccess = KEY_READ | KEY_WOW64_64KEY;
const wchar_t TaskCache[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

// A value's bytes, in value's buffer until the next read; false when there
// is none.
bool readValue(HKEY key, const wchar_t* name, std::string_view* bytes) {
  if (value.size() < 4096) value.resize(4096);
  for (;;) {
    DWORD size = static_cast<DWORD>(value.size());
    const LONG result = RegQueryValueExW(key, name, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(value.data()), &size);
    if (result == ERROR_SUCCESS) {
      *bytes = std::string_view(value.data(), size);
      return true;
    }
    if (result != ERROR_MORE_DATA) return false;
    value.resize(size);
  }
}

std::string narrow(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], length,
                      nullptr, nullptr);
  return out;
}

// Depth first below key, whose path below Tree is path.
void walkRegistry(HKEY key, const std::wstring& path, HKEY tasks) {
  std::string_view bytes;
  if (!path.empty() && readValue(key, L"Id", &bytes)) {
    std::wstring id(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    id.resize(wcsnlen(id.c_str(), id.size()));
    ++counts.registryTasks;
    RegistryCopy copy;
    HKEY task = nullptr;
    if (RegOpenKeyExW(tasks, id.c_str(), 0, KeyAccess, &task) == ERROR_SUCCESS) {
      readValue(task, L"Path", &bytes);
      if (readValue(task, L"Actions", &bytes)) copy = judgeActions(bytes);
      RegCloseKey(task);
    }
    copies[lowered(narrow(path))] = copy;
  }
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY below = nullptr;
    if (RegOpenKeyExW(key, name, 0, KeyAccess, &below) != ERROR_SUCCESS) continue;
    walkRegistry(below, path + L"\\" + name, tasks);
    RegCloseKey(below);
  }
}

void readRegistry() {
  HKEY tree = nullptr, tasks = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(TaskCache) + L"\\Tree").c_str(), 0,
                    KeyAccess, &tree) == ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(TaskCache) + L"\\Tasks").c_str(), 0,
                    KeyAccess, &tasks) == ERROR_SUCCESS)
    walkRegistry(tree, std::wstring(), tasks);
  if (tree != nullptr) RegCloseKey(tree);
  if (tasks != nullptr) RegCloseKey(tasks);
}

std::string hostPath(const std::string& windowsPath) { return windowsPath; }

void judge(const std::string& path);

void walk(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
      continue;
    std::string path = folder + "\\" + found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      walk(path);
    else
      judge(path);
  } while (FindNextFileA(listing, &found));
  FindClose(listing);
}

#else

EVP_MD_CTX* context;

std::string fileMd5(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  EVP_DigestInit_ex(context, EVP_md5(), nullptr);
  ssize_t got;
  while ((got = read(fd, chunk.data(), chunk.size())) > 0)
    EVP_DigestUpdate(context, chunk.data(), static_cast<size_t>(got));
  close(fd);
  unsigned char digest[16];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  return hexDigest(digest);
}

bool readWhole(const std::string& path, std::vector<char>* into) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  fstat(fd, &info);
  into->resize(static_cast<size_t>(info.st_size));
  size_t filled = 0;
  ssize_t got;
  while (filled < into->size() &&
         (got = read(fd, into->data() + filled, into->size() - filled)) > 0)
    filled += static_cast<size_t>(got);
  into->resize(filled);
  close(fd);
  return true;
}

const char TaskCache[] =
    "HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows NT/CurrentVersion/Schedule/TaskCache";

void readTask(const std::string& folder, const std::string& path) {
  ++counts.registryTasks;
  RegistryCopy copy;
  if (readWhole(folder + "/Id", &value)) {
    const std::string tasks = std::string(TaskCache) + "/Tasks/" +
                              std::string(value.data(), strnlen(value.data(), value.size()));
    readWhole(tasks + "/Path", &value);
    if (readWhole(tasks + "/Actions", &value))
      copy = judgeActions(std::string_view(value.data(), value.size()));
  }
  copies[lowered(path)] = copy;
}

// Depth first below folder, whose path below Tree is path; a key's values
// are files, its sub-keys folders.
void walkRegistry(const std::string& folder, const std::string& path) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  bool hasId = false;
  while (struct dirent* found = readdir(listing)) {
    if (strcmp(found->d_name, ".") == 0 || strcmp(found->d_name, "..") == 0) continue;
    if (found->d_type == DT_DIR)
      walkRegistry(folder + "/" + found->d_name, path + "\\" + found->d_name);
    else if (strcmp(found->d_name, "Id") == 0)
      hasId = !path.empty();
  }
  closedir(listing);
  if (hasId) readTask(folder, path);
}

void readRegistry() { walkRegistry(std::string(TaskCache) + "/Tree", std::string()); }

std::string hostPath(const std::string& windowsPath) {
  std::string path = windowsPath;
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

void judge(const std::string& path);

void walk(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (struct dirent* found = readdir(listing)) {
    if (strcmp(found->d_name, ".") == 0 || strcmp(found->d_name, "..") == 0)
      continue;
    std::string path = folder + "/" + found->d_name;
    if (found->d_type == DT_DIR)
      walk(path);
    else
      judge(path);
  }
  closedir(listing);
}

#endif

// One task's verdict over its definition's action and its registry copy's:
// a file named by both is judged once.
void settle(const RegistryCopy& own, const RegistryCopy* copy) {
  if (!own.candidate && (copy == nullptr || !copy->candidate)) return;
  ++counts.candidates;
  bool dangerous = !own.file.empty() && fileMd5(hostPath(own.file)) == payloadMd5;
  if (!dangerous && copy != nullptr && !copy->file.empty() && copy->file != own.file)
    dangerous = fileMd5(hostPath(copy->file)) == payloadMd5;
  counts.dangerous += dangerous;
}

void judge(const std::string& path) {
  if (!readWhole(path, &definition)) return;
  ++counts.definitions;
  const std::string_view text(definition.data(), definition.size());
  RegistryCopy own;
  size_t commandBegin = 0, commandEnd = 0, argumentsBegin = 0, argumentsEnd = 0;
  if (elementText(text, CommandOpen, CommandClose, &commandBegin, &commandEnd) &&
      elementText(text, ArgumentsOpen, ArgumentsClose, &argumentsBegin, &argumentsEnd))
    own.candidate = candidateFile(text, commandBegin, commandEnd, argumentsBegin, argumentsEnd,
                                  &own.file);
  std::string taskPath = path.substr(rootLength);
  for (char& c : taskPath)
    if (c == '/') c = '\\';
  RegistryCopy* copy = nullptr;
  const auto found = copies.find(lowered(taskPath));
  if (found != copies.end() && !found->second.matched) {
    found->second.matched = true;
    copy = &found->second;
  }
  settle(own, copy);
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = argc > 1 && strcmp(argv[1], "-v") == 0;
  int first = verbose ? 2 : 1;
  payloadMd5 = argc > first ? argv[first] : "";
  std::string root = argc > first + 1 ? argv[first + 1] : "C:\\Windows\\System32\\Tasks";
#ifdef _WIN32
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return 1;
#else
  context = EVP_MD_CTX_new();
#endif
  readRegistry();
  rootLength = hostPath(root).size();
  walk(hostPath(root));
  // The tasks only the registry has.
  for (const auto& entry : copies)
    if (!entry.second.matched) settle(entry.second, nullptr);
  if (verbose)
    printf("definitions %lu registry tasks %lu candidates %lu dangerous %lu\n",
           counts.definitions, counts.registryTasks, counts.candidates, counts.dangerous);
  return 0;
}
