#include "tests/machine.h"

#include <fcntl.h>
#include <glob.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "remedy/task_cache.h"
#include "text/text.h"
#include "tests/wine.h"

namespace {

std::string slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The folder holding an entry, opened (or -1), and the entry's name. Paths
// beyond PATH_MAX are walked folder by folder from the root.
int openParent(const std::string& path, bool make, std::string* name) {
  const size_t slash = path.rfind('/');
  if (path.size() < PATH_MAX) {
    *name = path.substr(slash + 1);
    const std::string parent = path.substr(0, slash);
    int folder = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0 || !make) return folder;
    makeFolders(parent);
    return open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  int folder = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t start = 1;
  for (size_t end; folder >= 0 && (end = path.find('/', start)) != std::string::npos;
       start = end + 1) {
    std::string part = path.substr(start, end - start);
    if (part.empty()) continue;
    if (make) mkdirat(folder, part.c_str(), 0755);
    int next = openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(folder);
    folder = next;
  }
  *name = path.substr(start);
  return folder;
}

void makeEntry(const std::string& path, EntryKind kind, const std::string& bytes,
               uint64_t sparseSize = 0, bool readOnly = false) {
  std::string name;
  const int folder = openParent(path, true, &name);
  const char* at = name.c_str();
  bool made = folder >= 0;
  if (made && kind == EntryKind::Folder)
    made = mkdirat(folder, at, 0755) == 0 && (!readOnly || fchmodat(folder, at, 0555, 0) == 0);
  if (made && kind == EntryKind::Symlink) made = symlinkat(bytes.c_str(), folder, at) == 0;
  if (made && kind == EntryKind::HardLink)
    made = linkat(AT_FDCWD, bytes.c_str(), folder, at, 0) == 0;
  if (made && kind == EntryKind::Fifo) made = mkfifoat(folder, at, 0644) == 0;
  if (made && (kind == EntryKind::File || kind == EntryKind::Locked)) {
    mode_t mode = kind == EntryKind::Locked ? 0 : readOnly ? 0444 : 0644;
    int file = openat(folder, at, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    made = file >= 0 && write(file, bytes.data(), bytes.size()) ==
                            static_cast<ssize_t>(bytes.size());
    if (made && sparseSize > bytes.size())
      made = ftruncate(file, static_cast<off_t>(sparseSize)) == 0;
    if (file >= 0) close(file);
  }
  if (folder >= 0) close(folder);
  EXPECT_TRUE(made) << "could not make " << path;
}

bool entryExists(const std::string& path) {
  std::string name;
  int folder = openParent(path, false, &name);
  struct stat info;
  bool found = folder >= 0 && fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (folder >= 0) close(folder);
  return found;
}

std::string taskStoreHost(const Runner& runner, const std::string& root) {
  if (!runner.wine) return root + "/C:/Windows/System32/Tasks";
  return wineDriveC() + "/windows/system32/Tasks";
}

std::string taskWindowsPath(const Runner& runner, const TaskFile& task) {
  return taskStore(runner) + "\\" + task.relativePath;
}

// The key's values as the registry holds them, Id first: a text Id is a
// string, in UTF-16 under Wine and as narrow bytes in the native hive.
std::vector<KeyValue> storedValues(const Runner& runner, const CacheKey& key) {
  std::vector<KeyValue> values;
  switch (key.idKind) {
    case IdKind::Text:
      values.push_back({"Id", ValueTypeString,
                        runner.wine ? registryString(key.id) : key.id + std::string(1, '\0')});
      break;
    case IdKind::Number:  // little endian, as the registry holds a DWORD
      values.push_back({"Id", ValueTypeNumber, u32Le(static_cast<unsigned>(std::stoul(key.id)))});
      break;
    case IdKind::Bytes: values.push_back({"Id", ValueTypeBinary, key.id}); break;
    case IdKind::None: break;
  }
  values.insert(values.end(), key.values.begin(), key.values.end());
  return values;
}

// Every value as hex(type), which regedit takes for any type, its name with
// regedit's escapes, so that one holding a line break or a quote stays one.
std::string regFileValues(const std::vector<KeyValue>& values) {
  std::string text;
  for (const KeyValue& value : values) {
    std::string name;
    for (char c : value.name)
      name += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\r' ? "\\r" : c == '\n' ? "\\n"
                                                                         : std::string(1, c);
    // regedit reads the type in hexadecimal.
    char type[16];
    snprintf(type, sizeof type, "%x", static_cast<unsigned>(value.type));
    text += (value.name.empty() ? std::string("@") : "\"" + name + "\"") + "=hex(" + type +
            "):" + hexBytes(value.raw, ",") + "\r\n";
  }
  return text;
}

// A key of the cache below HKEY_LOCAL_MACHINE.
std::string cacheKeyName(const std::string& path) {
  return std::string(TaskCacheBase) + "\\" + path;
}

// The user's values in regedit's format: set as strings, or taken away.
std::string userValuesReg(const Machine& machine, bool set) {
  std::string text;
  for (const UserValue& value : machine.userValues)
    text += "[HKEY_CURRENT_USER\\" + value.key + "]\r\n" +
            (set ? regFileValues({{value.name, ValueTypeString, registryString(value.value)}})
                 : "\"" + value.name + "\"=-\r\n") +
            "\r\n";
  return text;
}

// Host paths that start with start and end in a match for pattern (a shell
// pattern), sorted.
std::vector<std::string> matching(const std::string& start, const std::string& pattern) {
  std::string escaped;
  for (char c : start) {
    if (c == '*' || c == '?' || c == '[' || c == '\\') escaped += '\\';
    escaped += c;
  }
  glob_t found;
  std::vector<std::string> paths;
  if (glob((escaped + pattern).c_str(), 0, nullptr, &found) == 0)
    paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
  globfree(&found);
  return paths;
}


// The machine's keys and the keys that hold them, below TaskCache, once each.
std::vector<std::string> keysWithParents(const Machine& machine) {
  std::vector<std::string> keys;
  for (const CacheKey& key : machine.keys)
    for (size_t end = key.path.find('\\'); ; end = key.path.find('\\', end + 1)) {
      std::string part = key.path.substr(0, end);
      if (!part.empty() && std::find(keys.begin(), keys.end(), part) == keys.end())
        keys.push_back(part);
      if (end == std::string::npos) break;
    }
  return keys;
}

}  // namespace

std::string registryString(const std::string& utf8) {
  return utf16LeFromUtf8(utf8) + std::string(2, '\0');
}

std::string taskStore(const Runner& runner) { return runner.systemRoot + "\\System32\\Tasks"; }

const Runner& nativeRunner() {
  static const Runner runner = {"Native", "C:\\Windows", false, nativeTestSignatureTool()};
  return runner;
}

const Runner& wineRunner() {
  static const Runner runner = {"Wine", "C:\\windows", true,
                                windowsProgram("vorkelbraith-remover-testsig.exe")};
  return runner;
}

const Runner& releaseRunner() {
  static const Runner runner = {"Release", "C:\\Windows", false,
                                releaseProgram("vorkelbraith-remover-testsig")};
  return runner;
}

LiveMachine::LiveMachine(const Runner& runner, const Machine& machine)
    : runner(runner),
      machine(machine),
      folder(machine.inMemory && !runner.wine && pathExists("/dev/shm") ? "/dev/shm" : "") {
  const std::string store = taskStoreHost(runner, folder.path);
  if (runner.wine) {
    removeTree(store);
    // Unicode names need regedit's own format, in UTF-16.
    std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n[-" + CacheRoot + "]\r\n\r\n";
    Machine plainKeys;  // what regedit makes; the links come after
    for (const CacheKey& key : machine.keys) {
      if (!key.linkTo.empty()) continue;
      plainKeys.keys.push_back(key);
      reg += "[" + CacheRoot + "\\" + key.path + "]\r\n" +
             regFileValues(storedValues(runner, key)) + "\r\n";
    }
    // Now and then a Wine program ends without doing its work (regedit
    // among them, under load), so the keys are looked at and the import
    // made again before a row runs on a machine it did not ask for.
    std::vector<std::string> wanted, found;
    for (const std::string& key : keysWithParents(plainKeys)) wanted.push_back(lowered(key));
    std::sort(wanted.begin(), wanted.end());
    for (int attempt = 0; attempt < 3 && (attempt == 0 || found != wanted); ++attempt) {
      if (attempt > 0) printf("the machine's keys were not all made: imported again\n");
      importRegistry(utf16leWithBom(reg + userValuesReg(machine, true)));
      found = exportedSubkeys(CacheRoot);  // lower-cased by the export
      std::sort(found.begin(), found.end());
    }
    EXPECT_EQ(wanted, found) << "the machine's keys as imported";
    // regedit makes no links, and an access list is kept only by the
    // running server: a program makes both.
    for (const CacheKey& key : machine.keys) {
      const std::string name = cacheKeyName(key.path);
      const std::string target = "\\Registry\\Machine\\" + cacheKeyName(key.linkTo);
      if (!key.linkTo.empty()) {
        EXPECT_EQ(0, runTheProbe({"make-link", name, target}).status) << key.path;
      }
      if (key.readOnly) {
        EXPECT_EQ(0, runTheProbe({"protect", name}).status) << key.path;
      }
    }
  } else {
    for (const CacheKey& key : machine.keys) {
      const std::string hive = folder.path + "/HKEY_LOCAL_MACHINE/";
      const std::string keyFolder = hive + slashes(cacheKeyName(key.path));
      if (!key.linkTo.empty()) {
        makeEntry(keyFolder, EntryKind::Symlink, hive + slashes(cacheKeyName(key.linkTo)));
        continue;
      }
      makeFolders(keyFolder);
      // The default value has no name, which no file can have.
      for (const KeyValue& value : storedValues(runner, key))
        if (!value.name.empty()) writeFile(keyFolder + "/" + value.name, value.raw);
      if (key.readOnly) chmod(keyFolder.c_str(), 0555);
    }
  }
  // What earlier runs in the prefix recorded is theirs.
  if (runner.wine) removeTree(hostPath(runner.systemRoot + "\\Debug"));
  for (const std::string& path : runner.wine ? machine.movedAway : std::vector<std::string>()) {
    EXPECT_EQ(0, rename(hostPath(path).c_str(), (hostPath(path) + ".away").c_str())) << path;
  }
  if (machine.hasTaskStore) makeFolders(store);
  for (const TaskFile& task : machine.tasks)
    if (!task.registryOnly)
      makeEntry(store + "/" + slashes(task.relativePath), task.kind, task.bytes);
  for (const MachineFile& file : machine.files) {
    makeEntry(hostPath(file.windowsPath), file.kind,
              file.kind == EntryKind::HardLink ? hostPath(file.bytes) : file.bytes, file.sparseSize,
              file.readOnly);
    // Read-only, hidden and system, as Windows reads them back.
    if (runner.wine && file.hiddenSystem) runTheProbe({"attributes", file.windowsPath, "7"});
  }
}

LiveMachine::~LiveMachine() {
  if (!runner.wine) return;  // the scoped folder takes the native machine away
  for (const std::string& path : machine.movedAway) {
    EXPECT_EQ(0, rename((hostPath(path) + ".away").c_str(), hostPath(path).c_str())) << path;
  }
  for (const std::string& host : madeByTest) removeTree(host);
  removeTree(hostPath(runner.systemRoot + "\\Debug"));
  for (const CacheKey& key : machine.keys) {
    // A link is taken away as itself: regedit would delete what it names
    // and leave the link. Either left would spoil every row after, so
    // each is asked again when it did not report success.
    for (const std::string verb : {"unprotect", "remove-link"}) {
      if (verb == "unprotect" ? !key.readOnly : key.linkTo.empty()) continue;
      int status = 1;
      for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
        if (attempt > 0) printf("%s %s failed: asked again\n", verb.c_str(), key.path.c_str());
        status = runTheProbe({verb, cacheKeyName(key.path)}).status;
      }
      EXPECT_EQ(0, status) << verb << ' ' << key.path;
    }
  }
  if (!machine.userValues.empty())
    importRegistry(utf16leWithBom("Windows Registry Editor Version 5.00\r\n\r\n" +
                                  userValuesReg(machine, false)));
  removeTree(taskStoreHost(runner, folder.path));
  bool scheduling = false;
  for (const MachineFile& file : machine.files) {
    const std::string host = hostPath(file.windowsPath);
    removeTree(host);
    // A payload renamed to be deleted at the restart, beside its old name.
    for (const std::string& renamed : matching(host + ".", "*")) removeTree(renamed);
    scheduling = scheduling || file.running;
  }
  if (scheduling) clearPendingDeletions();
}

// Natively below the machine's folder, under Wine below the prefix's drive.
std::string LiveMachine::hostPath(const std::string& windowsPath) const {
  if (!runner.wine) return folder.path + "/" + slashes(windowsPath);
  return wineDriveC() + "/" + slashes(windowsPath.substr(3));
}

ProcessResult LiveMachine::runTool(const std::string& answers, int timeoutSeconds,
                                   long* peakKib, const Interlude* interlude) {
  std::vector<int> running;
  runningIds.clear();
  for (const MachineFile& file : machine.files) {
    if (runner.wine && file.held) {
      running.push_back(startUnderWine({probeProgram(), "hold", file.windowsPath}));
      const std::string marker = hostPath(file.windowsPath) + ".held";
      for (int tries = 0; tries < 300 && !pathExists(marker); ++tries) usleep(100 * 1000);
    }
    if (!runner.wine || !file.running) continue;
    // Running once the system treats its file as in use.
    running.push_back(startUnderWine({file.windowsPath}));
    bool started = false;
    for (int tries = 0; tries < 300 && !started; ++tries) {
      started = runTheProbe({"refuses-deletion", file.windowsPath}).out == "1";
      if (!started) usleep(100 * 1000);
    }
    EXPECT_TRUE(started) << file.windowsPath << " did not start running";
    runningIds[file.windowsPath] = runTheProbe({"process-id", file.windowsPath}).out;
  }
  // Writers keep changing the growing files until the run is over: up to
  // 64 MiB a megabyte at a time, then written over from the start again.
  // Never cut: a file that ends before its size is named as unread, which
  // a unit row shows.
  std::atomic<bool> over(false);
  std::vector<std::thread> writers;
  for (const MachineFile& file : machine.files) {
    if (!file.growing) continue;
    std::string host = hostPath(file.windowsPath);
    writers.emplace_back([host, &over] {
      int fd = open(host.c_str(), O_WRONLY | O_CLOEXEC);
      const std::string chunk(1 << 20, 'g');
      for (off_t written = 0; fd >= 0 && !over; written = (written + 1) % 64) {
        if (pwrite(fd, chunk.data(), chunk.size(), written << 20) < 0) break;
      }
      if (fd >= 0) close(fd);
    });
  }
  // scripts/valgrind runs the native tool under a checker: the variable holds
  // the whole command (checker, options, an unsanitised build), split at spaces.
  std::vector<std::string> command;
  const char* checked = getenv("VORKEL_NATIVE_TOOL_COMMAND");
  std::istringstream split(checked != nullptr ? checked : "");
  for (std::string word; split >> word;) command.push_back(word);
  if (command.empty()) command.push_back(runner.program);
  // GNU time starts the tool from its own small process: a child forked
  // from this one would count this one's memory as its own.
  ScopedTempDir scratch;
  if (peakKib != nullptr)
    command.insert(command.begin(), {"/usr/bin/time", "-f", "%M", "-o", scratch.path + "/peak"});
  ProcessResult result =
      runner.wine ? runUnderWine({runner.program}, answers, timeoutSeconds, interlude)
                  : runProcess(command, folder.path, answers, {"SYSTEMROOT=" + runner.systemRoot},
                               {}, timeoutSeconds, interlude);
  over = true;
  for (std::thread& writer : writers) writer.join();
  for (const MachineFile& file : machine.files) {
    if (runner.wine && file.running && entryExists(hostPath(file.windowsPath))) {
      EXPECT_EQ("1", runTheProbe({"refuses-deletion", file.windowsPath}).out)
          << file.windowsPath << " was left on disk but is no longer running";
    }
  }
  for (int group : running) stopUnderWine(group);
  if (peakKib != nullptr) *peakKib = atol(readFile(scratch.path + "/peak").c_str());
  return result;
}

MachineState initialState(const Runner& runner, const Machine& machine) {
  MachineState state;
  state.keys = keysWithParents(machine);
  for (const MachineFile& file : machine.files) state.files.push_back(file.windowsPath);
  for (const TaskFile& task : machine.tasks)
    if (!task.registryOnly) state.files.push_back(taskWindowsPath(runner, task));
  return state;
}

MachineState LiveMachine::state() {
  MachineState state;
  // Every key there is, so that one made by the run shows too; the
  // machine's own by the names it gave them (Windows ignores case).
  const std::string cache = folder.path + "/HKEY_LOCAL_MACHINE/" + slashes(TaskCacheBase);
  const std::vector<std::string> keys =
      runner.wine ? exportedSubkeys(CacheRoot) : ::listingOrder(cache, true);
  if (runner.wine) state.deletedAtRestart = pendingDeletions();
  const std::vector<std::string> known = keysWithParents(machine);
  for (const std::string& key : keys) {
    auto same = std::find_if(known.begin(), known.end(), [&](const std::string& name) {
      return lowered(name) == lowered(key);
    });
    state.keys.push_back(same != known.end() ? *same : key);
  }
  for (const MachineFile& file : machine.files)
    if (entryExists(hostPath(file.windowsPath))) state.files.push_back(file.windowsPath);
  const std::string store = taskStoreHost(runner, folder.path);
  for (const TaskFile& task : machine.tasks)
    if (!task.registryOnly && entryExists(store + "/" + slashes(task.relativePath)))
      state.files.push_back(taskWindowsPath(runner, task));
  return state;
}

std::vector<std::string> LiveMachine::listingOrder() {
  if (!runner.wine) return ::listingOrder(taskStoreHost(runner, folder.path));
  // Wine lists a folder in its own order, so ask the Windows build's walk.
  const std::string root = taskStore(runner);
  ProcessResult listed = runTheProbe({"list", root});
  // A line that is not a path below the root is kept whole, to fail the
  // comparison rather than the parse.
  const std::string prefix = root + "\\";
  std::vector<std::string> order = splitLines(listed.out);
  for (std::string& path : order)
    if (startsWith(path, prefix)) path = path.substr(prefix.size());
  return order;
}

std::string LiveMachine::runRecord() {
  return readFile(hostPath(runner.systemRoot + "\\Debug\\vorkelbraith-remover.log"));
}

std::vector<std::string> LiveMachine::registryBackups() {
  return matching(hostPath(runner.systemRoot + "\\Debug\\vorkelbraith-remover-"), "?*.reg");
}

