#include "tests/wine.h"

#include <ctype.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

const char WineLoader[] = "/usr/lib/wine/wine64";

namespace {

const char WineServer[] = "/usr/lib/wine/wineserver64";
const char SessionManager[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::string> wineEnvironment(const std::string& prefix) {
  return {"WINEPREFIX=" + prefix, "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml=", "LANG=zh_CN.UTF-8",
          "LC_ALL=zh_CN.UTF-8", "DISPLAY="};
}

// The prefix once made, and why it could not be, for the failure.
std::string prefixFolder, prefixProblem = "Wine is not installed";

// The text itself when it has no form in the other character set.
std::string converted(const std::string& text, const char* to, const char* from) {
  std::string out;
  return convertText(text, to, from, &out) ? out : text;
}

// Ends the prefix's server and waits until it has gone, so nothing of it
// is left running when its folder goes.
void stopServer(const std::vector<std::string>& env) {
  runProcess({WineServer, "-k"}, "", "", env);
  runProcess({WineServer, "-w"}, "", "", env, {}, 60);
}

// A new prefix booted in a folder of its own; "" and the reason in
// prefixProblem when it could not be made.
std::string bootedPrefix() {
  char name[] = "/tmp/vorkel-wine-XXXXXX";
  if (mkdtemp(name) == nullptr) {
    prefixProblem = "no folder for the prefix in /tmp";
    return "";
  }
  const std::string folder = name;
  const std::vector<std::string> env = wineEnvironment(folder);
  ProcessResult boot = runProcess({WineLoader, "wineboot", "-i"}, "", "", env, {}, 300);
  // Keep the server up between the many short runs of a suite.
  runProcess({WineServer, "-p"}, "", "", env);
  if (boot.status == 0 && pathExists(folder + "/drive_c/windows")) return folder;
  struct statvfs disk = {};
  const unsigned long long freeMib =
      statvfs("/tmp", &disk) == 0 ? disk.f_bavail * disk.f_frsize >> 20 : 0;
  prefixProblem = "wineboot ended with status " + std::to_string(boot.status) +
                    (boot.timedOut ? " (timed out)" : "") + ", " +
                    std::to_string(freeMib) + " MiB free in /tmp; it wrote:\n" +
                    boot.out + boot.err;
  stopServer(env);
  removeTree(folder);
  return "";
}

void endWine() {
  if (prefixFolder.empty()) return;
  stopServer(wineEnvironment(prefixFolder));
  removeTree(prefixFolder);
}

}  // namespace

// A boot that fails is tried again in a fresh prefix before the suite
// counts Wine as missing; what the last one wrote is kept for the failure.
const std::string& winePrefix() {
  static bool tried = false;
  std::string& prefix = prefixFolder;
  if (tried) return prefix;
  tried = true;
  if (!pathExists(WineLoader)) return prefix;
  for (int attempt = 0; attempt < 3 && prefix.empty(); ++attempt) {
    if (attempt > 0) sleep(2);
    prefix = bootedPrefix();
  }
  if (!prefix.empty()) atexit(endWine);
  return prefix;
}

const std::string& winePrefixProblem() { return prefixProblem; }

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
  std::vector<std::string> argv = {WineLoader};
  argv.insert(argv.end(), programAndArgs.begin(), programAndArgs.end());
  const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int streams[3] = {nothing, nothing, nothing};
  pid_t child = startProcess(argv, streams, "", wineEnvironment(winePrefix()));
  if (nothing >= 0) close(nothing);
  return child;
}

void stopUnderWine(int processGroup) {
  if (processGroup <= 0) return;
  kill(-processGroup, SIGKILL);
  waitpid(processGroup, nullptr, 0);
}

std::string probeProgram() { return windowsProgram("tests/vorkel-probe.exe"); }

ProcessResult runTheProbe(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), probeProgram());
  return runUnderWine(arguments, "");
}

int importRegistry(const std::string& regFile) {
  writeFile(wineDriveC() + "/vk-state/import.reg", regFile);
  return runUnderWine({"regedit", "/S", "C:\\vk-state\\import.reg"}, "").status;
}

// Under load regedit now and then ends without writing the file, so a
// missing export is asked for again before it counts.
std::string exportedKey(const std::string& key) {
  std::string exportFile = wineDriveC() + "/vk-state/export.reg";
  for (int attempt = 0; attempt < 3; ++attempt) {
    removeTree(exportFile);
    runUnderWine({"regedit", "/E", "C:\\vk-state\\export.reg", key}, "");
    std::string text = converted(readFile(exportFile), "UTF-8", "UTF-16");
    if (text.find("Windows Registry Editor Version 5.00") != std::string::npos) return text;
  }
  return std::string();
}

std::vector<std::string> exportedSubkeys(const std::string& key) {
  std::string text = exportedKey(key);
  std::vector<std::string> keys;
  const std::string prefix = "[" + lowered(key) + "\\";
  for (std::string entry : splitLines(lowered(text))) {
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
    if (startsWith(entry, prefix) && entry.back() == ']')
      keys.push_back(entry.substr(prefix.size(), entry.size() - prefix.size() - 1));
  }
  return keys;
}

// The sources of PendingFileRenameOperations whose target is empty: the
// value is UTF-16 strings in pairs, exported as hex bytes over several lines.
std::vector<std::string> pendingDeletions() {
  const std::string text = exportedKey(SessionManager);
  const std::string name = "\"PendingFileRenameOperations\"=hex(7):";
  std::vector<std::string> deletions;
  size_t at = text.find(name);
  if (at == std::string::npos) return deletions;
  const std::string between = ",\\\r\n ";  // commas and continued lines
  std::string hex, bytes;
  for (at += name.size(); at < text.size(); ++at) {
    if (isxdigit(static_cast<unsigned char>(text[at]))) hex += text[at];
    else if (between.find(text[at]) == std::string::npos) break;
  }
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::string strings = converted(bytes, "UTF-8", "UTF-16LE");
  std::replace(strings.begin(), strings.end(), '\0', '\n');
  const std::vector<std::string> parts = splitLines(strings);
  for (size_t i = 0; i + 1 < parts.size(); i += 2)
    if (!parts[i].empty() && parts[i + 1].empty()) deletions.push_back(parts[i]);
  return deletions;
}

void clearPendingDeletions() {
  runUnderWine({"reg", "delete", SessionManager, "/v", "PendingFileRenameOperations", "/f"}, "");
}
