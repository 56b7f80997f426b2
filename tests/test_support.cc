#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <string.h>
#include <iconv.h>
#include <linux/capability.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "detect/fingerprint.h"
#include "tests/wine.h"

ScopedTempDir::ScopedTempDir(const std::string& base) {
  const char* temporary = getenv("TMPDIR");
  std::string parent = !base.empty() ? base : temporary && *temporary ? temporary : "/tmp";
  std::string name = parent + "/vorkel-XXXXXX";
  if (mkdtemp(name.data()) != nullptr) path = name;
  chmod(path.c_str(), 0755);
}

ScopedTempDir::~ScopedTempDir() {
  if (!path.empty()) removeTree(path);
}

InMachineFolder::InMachineFolder() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) != nullptr) previous = buffer;
  // Fatal: a fixture holding one does not run its test elsewhere.
  [&] { ASSERT_EQ(0, chdir(machine.path.c_str())) << machine.path; }();
}

InMachineFolder::~InMachineFolder() { EXPECT_EQ(0, chdir(previous.c_str())) << previous; }

void makeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

void writeFile(const std::string& path, const std::string& bytes) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) makeFolders(path.substr(0, slash));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool pathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void removeTree(const std::string& path) {
  // Make every folder writable and listable first: tests lock some.
  std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
  if (system(command.c_str()) != 0) return;
}

namespace {

// Takes the descriptor of an open folder; reaches any depth.
void walkInOrder(int folder, const std::string& relative, bool folders,
                 std::vector<std::string>* order) {
  DIR* listing = fdopendir(folder);
  if (listing == nullptr) {
    close(folder);
    return;
  }
  while (struct dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string rel = relative.empty() ? name : relative + "\\" + name;
    struct stat info;
    const bool found = fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    const bool isFolder = found && S_ISDIR(info.st_mode);
    const bool isLink = found && S_ISLNK(info.st_mode);
    if (isFolder == folders || isLink) order->push_back(rel);
    if (isFolder)
      walkInOrder(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), rel, folders,
                  order);
  }
  closedir(listing);
}


std::string environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

std::string below(const char* folderVariable, const std::string& relative) {
  const std::string folder = environment(folderVariable);
  return folder.empty() ? "" : folder + "/" + relative;
}

bool isBelow(const std::string& program, const char* folderVariable) {
  const std::string folder = environment(folderVariable);
  return !folder.empty() && startsWith(program, folder + "/");
}

}  // namespace

std::vector<std::string> listingOrder(const std::string& folder, bool folders) {
  std::vector<std::string> order;
  walkInOrder(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), "", folders, &order);
  return order;
}

pid_t startProcess(const std::vector<std::string>& argv, const int streams[3],
                   const std::string& folder, const std::vector<std::string>& setEnv,
                   const std::vector<std::string>& unsetEnv) {
  pid_t child = fork();
  if (child != 0) return child;
  setpgid(0, 0);
  for (int stream = 0; stream < 3; ++stream)
    if (streams[stream] < 0 || dup2(streams[stream], stream) < 0) _exit(126);
  if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
  // Root on Linux reads any file whatever its mode; an administrator on
  // Windows is refused a file whose access list shuts him out. Without
  // these two rights (gone for good once out of the bounding set) the
  // program meets such files as it would on Windows.
  prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
  for (const std::string& name : unsetEnv) unsetenv(name.c_str());
  for (const std::string& pair : setEnv) {
    size_t equals = pair.find('=');
    setenv(pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str(), 1);
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::string& folder, const std::string& input,
                         const std::vector<std::string>& setEnv,
                         const std::vector<std::string>& unsetEnv,
                         int timeoutSeconds, const Interlude* interlude) {
  ProcessResult result;
  ScopedTempDir streams;
  const std::string inPath = streams.path + "/in", outPath = streams.path + "/out",
                    errPath = streams.path + "/err";
  writeFile(inPath, interlude != nullptr ? "" : input);
  chmod(streams.path.c_str(), 0777);
  chmod(inPath.c_str(), 0666);
  int feed[2] = {-1, -1};
  if (interlude != nullptr) {
    signal(SIGPIPE, SIG_IGN);  // the program may end without reading
    if (pipe2(feed, O_CLOEXEC) != 0) return result;
  }
  const int files[3] = {feed[0] >= 0 ? feed[0] : open(inPath.c_str(), O_RDONLY | O_CLOEXEC),
                        open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666),
                        open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
  pid_t child = startProcess(argv, files, folder, setEnv, unsetEnv);
  for (int file : files)
    if (file >= 0) close(file);
  auto feedInput = [&](const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
      ssize_t put = write(feed[1], bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<size_t>(put);
    }
  };
  if (feed[1] >= 0) feedInput(input);
  int status = 0;
  const double deadline = monotonicSeconds() + timeoutSeconds;
  for (;;) {
    if (feed[1] >= 0 && readFile(outPath).find(interlude->waitFor) != std::string::npos) {
      interlude->act();
      feedInput(interlude->rest);
      close(feed[1]);
      feed[1] = -1;
    }
    if (waitpid(child, &status, WNOHANG) == child) break;
    if (monotonicSeconds() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      result.timedOut = true;
      break;
    }
    usleep(5000);
  }
  if (feed[1] >= 0) close(feed[1]);
  if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string hexBytes(const std::string& bytes, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    text += (i ? separator : "") + hex;
  }
  return text;
}

std::string msg(MessageKey key) { return MessageCatalogue[key]; }
std::string line(MessageKey key) { return msg(key) + "\n"; }

std::string startScreenText(MessageKey role, const std::string& root) {
  return "\f" + line(MsgBannerRule) + line(MsgBannerTitle) + line(MsgBannerAuthor) +
         line(MsgBannerRule) + line(MsgEnvHeading) + msg(MsgRoleLabel) + line(role) +
         msg(MsgRootLabel) + root + "\n" + line(MsgNoticeHeading) + line(MsgNotice1) +
         line(MsgNotice2) + msg(MsgAskStart);
}

int runAsNobody(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0)
    _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 ? body() : 255);
  int status = -1;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

double monotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

bool convertText(const std::string& text, const char* to, const char* from,
                 std::string* out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string converted(text.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(text.data());
  char* outPtr = converted.data();
  size_t inLeft = text.size(), outLeft = converted.size();
  const size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1) || inLeft != 0) return false;
  converted.resize(converted.size() - outLeft);
  *out = converted;
  return true;
}

std::string md5Of(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1 ||
      length != 16)
    return "(no MD5)";
  return md5Hex(digest);
}

std::string nativeTool() { return environment("VORKEL_TOOL"); }
std::string nativeTestSignatureTool() { return environment("VORKEL_TESTSIG_TOOL"); }
std::string windowsProgram(const std::string& relative) {
  return below("VORKEL_WINDOWS_BUILD_DIR", relative);
}
std::string releaseProgram(const std::string& relative) {
  return below("VORKEL_RELEASE_BUILD_DIR", relative);
}

const std::string& standInPayload() {
  static const std::string bytes =
      readFile(below("VORKEL_SOURCE_DIR", "tests/stand-in-payload.exe"));
  return bytes;
}

std::string cannotRun(const std::string& program) {
  if (program.empty())
    return "the suite learns where the programs are from its environment: run it with ctest "
           "(tests/CMakeLists.txt sets VORKEL_TOOL and the others)";
  const bool windows = isBelow(program, "VORKEL_WINDOWS_BUILD_DIR");
  if (windows && !pathExists(WineLoader))
    return std::string("Wine is missing (") + WineLoader + "): scripts/setup installs it";
  if (pathExists(program)) return "";
  if (windows)
    return program + " is missing: make the Windows build with cmake --preset windows && "
                     "cmake --build --preset windows (or scripts/build)";
  if (isBelow(program, "VORKEL_RELEASE_BUILD_DIR"))
    return program + " is missing: make the build without sanitizers with cmake --preset "
                     "native-release && cmake --build --preset native-release (or scripts/build)";
  return program + " is missing: build this tree first";
}

bool skipped(const std::string& why) {
  if (why.empty()) return false;
  const std::string required = environment("VORKEL_REQUIRE_ALL");
  if (!required.empty() && required != "0")
    [&] { FAIL() << why << " (VORKEL_REQUIRE_ALL: a skip is a failure)"; }();
  else
    [&] { GTEST_SKIP() << why; }();
  return true;
}
