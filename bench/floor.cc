// The least work a scan needs, written plainly: walk the task folder, read
// every definition whole, and for each candidate read and MD5 the file its
// arguments name. Prints nothing unless given -v, then the counts.
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
// hold. Characters beyond ASCII in the path are dropped.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>
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
  unsigned long candidates = 0;
  unsigned long dangerous = 0;
};

std::vector<char> definition;          // one definition, reused
std::vector<unsigned char> chunk(1 << 20);  // hashing buffer, reused
std::string payloadMd5;
Counts counts;

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
size_t find(const std::vector<char>& text, size_t from, size_t to,
            const std::string& pattern) {
  std::string_view within(text.data() + from, to - from);
  size_t at = within.find(pattern);
  while (at != std::string_view::npos && at % 2 != 0) at = within.find(pattern, at + 1);
  return at == std::string_view::npos ? to : from + at;
}

// Whether text's [from, to) holds lower (lower-case ASCII) as UTF-16 LE
// units in any case of ASCII letters.
bool containsCaseless(const std::vector<char>& text, size_t from, size_t to,
                      const char* lower) {
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
bool elementText(const std::vector<char>& text, const std::string& open,
                 const std::string& close, size_t* begin, size_t* end) {
  size_t start = find(text, 0, text.size(), open);
  if (start == text.size()) return false;
  *begin = start + open.size();
  *end = find(text, *begin, text.size(), close);
  return *end != text.size();
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

bool readWhole(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  definition.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  size_t filled = 0;
  while (filled < definition.size() &&
         ReadFile(file, definition.data() + filled,
                  static_cast<DWORD>(definition.size() - filled), &got, nullptr) &&
         got > 0)
    filled += got;
  definition.resize(filled);
  CloseHandle(file);
  return true;
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

bool readWhole(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  fstat(fd, &info);
  definition.resize(static_cast<size_t>(info.st_size));
  size_t filled = 0;
  ssize_t got;
  while (filled < definition.size() &&
         (got = read(fd, definition.data() + filled, definition.size() - filled)) > 0)
    filled += static_cast<size_t>(got);
  definition.resize(filled);
  close(fd);
  return true;
}

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

void judge(const std::string& path) {
  if (!readWhole(path)) return;
  ++counts.definitions;
  size_t begin = 0, end = 0;
  if (!elementText(definition, CommandOpen, CommandClose, &begin, &end) ||
      !containsCaseless(definition, begin, end, "cmd.exe"))
    return;
  if (!elementText(definition, ArgumentsOpen, ArgumentsClose, &begin, &end) ||
      find(definition, begin, end, Exe) == end)
    return;
  ++counts.candidates;
  std::string file;
  for (size_t at = begin; at + 6 <= end; at += 2) {
    char letter = static_cast<char>(definition[at] | 0x20);
    if (letter >= 'a' && letter <= 'z' && definition[at + 2] == ':' &&
        definition[at + 4] == '\\') {
      for (; at < end && definition[at] != '&' && definition[at] != '"' &&
             definition[at] != '<';
           at += 2)
        if (definition[at + 1] == 0) file += definition[at];
      break;
    }
  }
  if (!file.empty() && fileMd5(hostPath(file)) == payloadMd5) ++counts.dangerous;
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
  walk(hostPath(root));
  if (verbose)
    printf("definitions %lu candidates %lu dangerous %lu\n", counts.definitions,
           counts.candidates, counts.dangerous);
  return 0;
}
