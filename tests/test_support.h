// Helpers shared by the test suites: scoped folders, files, child processes,
// Wine, the programs the build made and the catalogue's texts. Task
// definitions as text are in task_text.h.
#ifndef VORKELBRAITH_TESTS_TEST_SUPPORT_H_
#define VORKELBRAITH_TESTS_TEST_SUPPORT_H_

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

/// The working directory for the helper's lifetime. On the POSIX backend
/// Windows paths name files below the working directory.
struct WorkingFolder {
  explicit WorkingFolder(const std::string& folder);
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;
  std::string previous;
};

/// Writes bytes to a file, making its folders first.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
void makeFolders(const std::string& path);
void removeTree(const std::string& path);

struct ProcessResult {
  std::string out;
  std::string err;
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

/// Runs argv[0] with the given standard input, in folder, with the
/// environment changed by setEnv ("NAME=value") and unsetEnv (names). With
/// an interlude, standard input is a pipe the run is fed through.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::string& folder, const std::string& input,
                         const std::vector<std::string>& setEnv = {},
                         const std::vector<std::string>& unsetEnv = {},
                         int timeoutSeconds = 120, const Interlude* interlude = nullptr);

/// The bytes whose MD5 the test builds take as the payload's.
std::string standInPayload();

/// text with A-Z lowered, as Windows compares names.
std::string lowered(std::string text);

/// A text of the catalogue, and the same as a line.
std::string msg(MessageKey key);
std::string line(MessageKey key);
/// The start screen up to and including its question, with the role it
/// shows and the system root (as the console shows it).
std::string startScreenText(MessageKey role, const std::string& root);

/// text converted from one character set to another with glibc's iconv;
/// false, with *out untouched, when it has no form in the target set.
bool convertText(const std::string& text, const char* to, const char* from,
                 std::string* out);

/// Lower-case hex MD5 of bytes, computed by OpenSSL rather than the tool's
/// fingerprint (only the hex digits are written the same way).
std::string md5Of(const std::string& bytes);

/// The project's source folder, and a build folder's path below it.
std::string sourcePath(const std::string& relative);



// Wine, for running the Windows build. One throwaway prefix per test
// process, made on first use (a Chinese Windows: code page 936) and
// removed at exit.

/// The prefix's folder, or "" when Wine is missing or the prefix could not
/// be made.
const std::string& winePrefix();
/// Host folder of the prefix's C: drive.
std::string wineDriveC();
/// Runs a Windows program (host path) with arguments under Wine.
ProcessResult runUnderWine(const std::vector<std::string>& programAndArgs,
                           const std::string& input, int timeoutSeconds = 120,
                           const Interlude* interlude = nullptr);
/// Starts a Windows program under Wine and leaves it running; its process
/// group, for stopWine.
int startUnderWine(const std::vector<std::string>& programAndArgs);
/// Ends what startUnderWine started.
void stopUnderWine(int processGroup);

// Programs the build tells the tests of: the native tool, with the release
// signature and with the test signature, and the other builds' programs.
std::string nativeTool();
std::string nativeTestSignatureTool();
/// A program of the Windows build (relative to its folder), which Wine runs.
std::string windowsProgram(const std::string& relative);
/// A program of the native build without sanitizers.
std::string releaseProgram(const std::string& relative);
/// Why a test needing this program (one of the above) or Wine cannot run
/// here, saying which build makes it and how; "" when it can.
std::string cannotRun(const std::string& program);
#endif  // VORKELBRAITH_TESTS_TEST_SUPPORT_H_
