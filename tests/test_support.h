// Helpers shared by the test suites: scoped folders, files, child processes,
// the programs the build made and the catalogue's texts. Wine is in wine.h,
// task definitions as text in task_text.h.
#ifndef VORKEL_TESTS_TEST_SUPPORT_H_
#define VORKEL_TESTS_TEST_SUPPORT_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "console/messages.h"
#include "tests/task_text.h"

/// A fresh folder under the system's temporary folder (or under base),
/// removed with everything in it when the helper goes out of scope.
struct ScopedTempDir {
  explicit ScopedTempDir(const std::string& base = "");
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  std::string path;
};

/// An empty machine folder that is the working directory while it lasts:
/// on the POSIX backend Windows paths name files below it.
struct InMachineFolder {
  InMachineFolder();
  ~InMachineFolder();
  InMachineFolder(const InMachineFolder&) = delete;
  InMachineFolder& operator=(const InMachineFolder&) = delete;
  ScopedTempDir machine;
  std::string previous;
};

/// Writes bytes to a file, making its folders first.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
void makeFolders(const std::string& path);
void removeTree(const std::string& path);
/// The entries below a host folder as backslash-separated relative paths, in
/// the order the system lists them, a folder's entries where it stands among
/// its siblings, links not followed, past PATH_MAX. With folders, the folders
/// instead of the other entries; links in both (a key folder's: a registry link).
std::vector<std::string> listingOrder(const std::string& folder, bool folders = false);

struct ProcessResult {
  std::string out, err;
  int status = -1;  // exit status, or -1 when the process did not exit
  bool timedOut = false;
};

/// Input held back until the program has written waitFor on standard
/// output; then act runs and rest follows, and the input ends.
struct Interlude {
  std::string waitFor;
  std::function<void()> act;
  std::string rest;
};

/// Starts argv[0] in a process group of its own, with these standard
/// streams (descriptors), in folder (unless ""), with the environment
/// changed by unsetEnv (names) and then setEnv ("NAME=value"), and without
/// the rights that let root pass over a file's permission bits.
pid_t startProcess(const std::vector<std::string>& argv, const int streams[3],
                   const std::string& folder, const std::vector<std::string>& setEnv,
                   const std::vector<std::string>& unsetEnv = {});

/// Runs a program as startProcess starts it, with the given standard input
/// (with an interlude, through a pipe), and waits for it.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::string& folder, const std::string& input,
                         const std::vector<std::string>& setEnv = {},
                         const std::vector<std::string>& unsetEnv = {},
                         int timeoutSeconds = 120, const Interlude* interlude = nullptr);

/// What body returns (0 to 255), run in a child process as nobody, whom a
/// file's permission bits shut out as root's are not; -1 when it did not end so.
int runAsNobody(const std::function<int()>& body);

/// Seconds on a monotonic clock, to time runs by. (<chrono> is not for the
/// suites built as C++20: its units hold a character GBK has not.)
double monotonicSeconds();

/// The bytes whose MD5 the test builds take as the payload's.
const std::string& standInPayload();

/// The lines of text, each without its '\n'; a last one unended counts too.
std::vector<std::string> splitLines(const std::string& text);
bool startsWith(const std::string& text, const std::string& start);
/// text with A-Z lowered, as Windows compares names.
std::string lowered(std::string text);
/// Each byte as two lower-case hex digits, separator between them.
std::string hexBytes(const std::string& bytes, const std::string& separator);

/// A text of the catalogue, and the same as a line.
std::string msg(MessageKey key);
std::string line(MessageKey key);
/// The start screen up to and including its question, with the role it
/// shows and the system root (as the console shows it); redirected, the
/// clearing is a form feed.
std::string startScreenText(MessageKey role, const std::string& root);

/// text converted from one character set to another with glibc's iconv;
/// false, with *out untouched, when it has no form in the target set.
bool convertText(const std::string& text, const char* to, const char* from,
                 std::string* out);

/// Lower-case hex MD5 of bytes, computed by OpenSSL rather than the tool's
/// fingerprint (only the hex digits are written the same way).
std::string md5Of(const std::string& bytes);

// Where the programs are: ctest tells each suite in its environment
// (tests/CMakeLists.txt); each is "" when the suite was started otherwise.
/// The native tool, with the release signature and with the test signature.
std::string nativeTool();
std::string nativeTestSignatureTool();
/// A program of the Windows build (relative to its folder), which Wine runs.
std::string windowsProgram(const std::string& relative);
/// A program of the native build without sanitizers.
std::string releaseProgram(const std::string& relative);
/// Why a test needing this program (one of the above) or Wine cannot run
/// here, saying which build makes it and how; "" when it can.
std::string cannotRun(const std::string& program);
/// false when why is ""; else true, and the test is skipped for that reason,
/// or fails when VORKEL_REQUIRE_ALL is set (scripts/test, which has built
/// everything). The caller returns: if (skipped(cannotRun(program))) return;
bool skipped(const std::string& why);

#endif  // VORKEL_TESTS_TEST_SUPPORT_H_
