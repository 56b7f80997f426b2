#include "tests/test_support.h"

#include <fcntl.h>
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

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "detect/fingerprint.h"

ScopedTempDir::ScopedTempDir(const std::string& base) {
  const char* temporary = getenv("TMPDIR");
  std::string parent = !base.empty() ? base : temporary && *temporary ? temporary : "/tmp";
  std::string pattern = parent + "/vorkel-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr) path = name.data();
  chmod(path.c_str(), 0755);
}

ScopedTempDir::~ScopedTempDir() {
  if (!path.empty()) removeTree(path);
}

WorkingFolder::WorkingFolder(const std::string& folder) {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) != nullptr) previous = buffer;
  EXPECT_EQ(0, chdir(folder.c_str()));
}

WorkingFolder::~WorkingFolder() { EXPECT_EQ(0, chdir(previous.c_str())); }

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

// In a child: sets the variables ("NAME=value") and becomes argv[0].
[[noreturn]] void execWith(const std::vector<std::string>& argv,
                           const std::vector<std::string>& setEnv) {
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

}  // namespace

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
  for (const std::string& p : {inPath}) chmod(p.c_str(), 0666);
  int feed[2] = {-1, -1};
  if (interlude != nullptr) {
    signal(SIGPIPE, SIG_IGN);  // the program may end without reading
    if (pipe2(feed, O_CLOEXEC) != 0) return result;
  }

  pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    int in = feed[0] >= 0 ? feed[0] : open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    // Root on Linux reads any file whatever its mode; an administrator on
    // Windows is refused a file whose access list shuts him out. Without
    // these two rights (gone for good once out of the bounding set) the
    // program meets such files as it would on Windows.
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    for (const std::string& name : unsetEnv) unsetenv(name.c_str());
    execWith(argv, setEnv);
  }
  auto feedInput = [&](const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
      ssize_t put = write(feed[1], bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<size_t>(put);
    }
  };
  if (feed[0] >= 0) {
    close(feed[0]);
    feedInput(input);
  }
  int status = 0;
  const long pollNanoseconds = 5 * 1000 * 1000;
  long waited = 0;
  for (;;) {
    if (feed[1] >= 0 && readFile(outPath).find(interlude->waitFor) != std::string::npos) {
      interlude->act();
      feedInput(interlude->rest);
      close(feed[1]);
      feed[1] = -1;
    }
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (waited > timeoutSeconds * 1000L * 1000 * 1000) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      result.timedOut = true;
      break;
    }
    struct timespec pause = {0, pollNanoseconds};
    nanosleep(&pause, nullptr);
    waited += pollNanoseconds;
  }
  if (feed[1] >= 0) close(feed[1]);
  if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

std::string sourcePath(const std::string& relative) {
  return std::string(VORKEL_SOURCE_DIR) + "/" + relative;
}

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string msg(MessageKey key) { return MessageCatalogue[key]; }
std::string line(MessageKey key) { return msg(key) + "\n"; }

std::string startScreenText(MessageKey role, const std::string& root) {
  return line(MsgBannerRule) + line(MsgBannerTitle) + line(MsgBannerAuthor) +
         line(MsgBannerRule) + line(MsgEnvHeading) + msg(MsgRoleLabel) + line(role) +
         msg(MsgRootLabel) + root + "\n" + line(MsgNoticeHeading) + line(MsgNotice1) +
         line(MsgNotice2) + msg(MsgAskStart);
}

std::string standInPayload() { return readFile(sourcePath("tests/stand-in-payload.exe")); }

bool convertText(const std::string& text, const char* to, const char* from,
                 std::string* out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text, converted(text.size() * 4 + 16, '\0');
  char* inPtr = &in[0];
  char* outPtr = &converted[0];
  size_t inLeft = in.size(), outLeft = converted.size();
  size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
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

namespace {

const char WineLoader[] = "/usr/lib/wine/wine64";
const char WineServer[] = "/usr/lib/wine/wineserver64";

std::vector<std::string> wineEnvironment(const std::string& prefix) {
  return {"WINEPREFIX=" + prefix, "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml=", "LANG=zh_CN.UTF-8",
          "LC_ALL=zh_CN.UTF-8", "DISPLAY="};
}

std::string& prefixFolder() {
  static std::string folder;
  return folder;
}

void endWine() {
  const std::string& prefix = prefixFolder();
  if (prefix.empty()) return;
  runProcess({WineServer, "-k"}, "", "", wineEnvironment(prefix));
  removeTree(prefix);
}

}  // namespace

const std::string& winePrefix() {
  static bool tried = false;
  std::string& prefix = prefixFolder();
  if (tried) return prefix;
  tried = true;
  if (!pathExists(WineLoader)) return prefix;
  char name[] = "/tmp/vorkel-wine-XXXXXX";
  if (mkdtemp(name) == nullptr) return prefix;
  std::string folder = name;
  std::vector<std::string> env = wineEnvironment(folder);
  ProcessResult boot = runProcess({WineLoader, "wineboot", "-i"}, "", "", env, {}, 300);
  // Keep the server up between the many short runs of a suite.
  runProcess({WineServer, "-p"}, "", "", env);
  if (boot.status != 0 || !pathExists(folder + "/drive_c/windows")) {
    removeTree(folder);
    return prefix;
  }
  prefix = folder;
  atexit(endWine);
  return prefix;
}

std::string wineDriveC() { return winePrefix() + "/drive_c"; }

ProcessResult runUnderWine(const std::vector<std::string>& programAndArgs,
                           const std::string& input, int timeoutSeconds,
                           const Interlude* interlude) {
  std::vector<std::string> argv = {WineLoader};
  argv.insert(argv.end(), programAndArgs.begin(), programAndArgs.end());
  return runProcess(argv, "", input, wineEnvironment(winePrefix()), {}, timeoutSeconds,
                    interlude);
}

int startUnderWine(const std::vector<std::string>& programAndArgs) {
  pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, 0);
    dup2(nothing, 1);
    dup2(nothing, 2);
    std::vector<std::string> argv = {WineLoader};
    argv.insert(argv.end(), programAndArgs.begin(), programAndArgs.end());
    execWith(argv, wineEnvironment(winePrefix()));
  }
  return child;
}

void stopUnderWine(int processGroup) {
  if (processGroup <= 0) return;
  kill(-processGroup, SIGKILL);
  waitpid(processGroup, nullptr, 0);
}

std::string nativeTool() { return VORKEL_TOOL; }
std::string nativeTestSignatureTool() { return VORKEL_TESTSIG_TOOL; }

std::string windowsProgram(const std::string& relative) {
  return std::string(VORKEL_WINDOWS_BUILD_DIR) + "/" + relative;
}

std::string releaseProgram(const std::string& relative) {
  return std::string(VORKEL_RELEASE_BUILD_DIR) + "/" + relative;
}

std::string cannotRun(const std::string& program) {
  const bool windows = program.compare(0, strlen(VORKEL_WINDOWS_BUILD_DIR),
                                       VORKEL_WINDOWS_BUILD_DIR) == 0;
  if (windows && !pathExists(WineLoader))
    return std::string("Wine is missing (") + WineLoader + "): scripts/setup installs it";
  if (pathExists(program)) return "";
  if (windows)
    return program + " is missing: make the Windows build with cmake --preset windows && "
                     "cmake --build --preset windows (or scripts/build)";
  if (program.compare(0, strlen(VORKEL_RELEASE_BUILD_DIR), VORKEL_RELEASE_BUILD_DIR) == 0)
    return program + " is missing: make the build without sanitizers with cmake --preset "
                     "native-release && cmake --build --preset native-release (or scripts/build)";
  return program + " is missing: build this tree first";
}
