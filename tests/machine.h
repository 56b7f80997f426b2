// A whole Windows machine for a test run: task definitions, the scheduler's
// registry cache and files on disk. The same machine is built natively (a
// folder that the POSIX backend reads as the machine) or in a Wine prefix.
#ifndef VORKEL_TESTS_MACHINE_H_
#define VORKEL_TESTS_MACHINE_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "remedy/task_cache.h"
#include "tests/test_support.h"

/// The scheduler's cache, which holds every task's keys.
inline const std::string CacheRoot = std::string("HKEY_LOCAL_MACHINE\\") + TaskCacheBase;

/// What a machine entry is on disk. Under Wine, links and FIFOs are made on
/// the host below the prefix's drive, where Wine sees them. Locked is a file
/// with its bytes and no permission bits (mode 000), which the tool, run
/// without the right to override them, cannot open. HardLink is another name
/// of the machine's file its bytes name (a Windows path), made before it.
enum class EntryKind { File, Folder, Symlink, Fifo, Locked, HardLink };

// Every name and value here is UTF-8, as the tool holds it; the machine
// stores names as the system does (Wine's host names are UTF-8 too).
struct TaskFile {
  // Below the task store, backslash-separated, as the tool's listing names it.
  std::string relativePath = "";
  std::string bytes = "";  // a link's target for EntryKind::Symlink
  // What the definition says, for building the expected transcript.
  std::string uri = "", command = "", arguments = "";
  bool dangerous = false;
  EntryKind kind = EntryKind::File;
  bool listed = true;  // false: beyond where the tool's walk can reach
  bool registryOnly = false;  // no definition: only the registry has the task
  // What the scan names as not judged, after its progress line: the file it
  // could not read ("" for the definition itself) and the fields after it.
  std::string unjudgedPath = "", unjudgedFields = "";
};

enum class IdKind { None, Text, Number, Bytes };

struct CacheKey {
  std::string path = "";  // below TaskCache, e.g. "Tree\\Updater"
  IdKind idKind = IdKind::None;
  std::string id = "";  // text, or raw bytes for IdKind::Bytes
  // Administrators may read it but not delete it: under Wine the access
  // list of the scheduler's keys on Windows 10 and 11, natively a key
  // folder without write permission.
  bool readOnly = false;
  // More values beside Id, of any type (natively only their bytes).
  std::vector<KeyValue> values = {};
  // When set, the key is only a registry link to this key below TaskCache:
  // under Wine made by the probe, natively a symbolic link to its folder.
  std::string linkTo = "";
};

/// A string value of the user's own registry (HKEY_CURRENT_USER), set
/// under Wine for the run and taken away after it.
struct UserValue {
  std::string key;  // below HKEY_CURRENT_USER
  std::string name, value;
};

struct MachineFile {
  std::string windowsPath;  // e.g. "C:\\ProgramData\\vk\\svc.exe"
  std::string bytes;
  bool readOnly = false;  // for a Folder entry, a read-only folder
  EntryKind kind = EntryKind::File;
  uint64_t sparseSize = 0;  // when larger than bytes: extended with a hole
  bool growing = false;     // written to, up to 64 MiB and over again, during the run
  bool hiddenSystem = false;  // under Wine: hidden and system attributes too
  bool held = false;          // under Wine: held open, shared with nobody, during the run
  bool running = false;       // under Wine: started as a program before the run,
                              // and still running after it unless it was removed
};

struct Machine {
  std::vector<TaskFile> tasks = {};
  std::vector<CacheKey> keys = {};
  std::vector<MachineFile> files = {};
  bool hasTaskStore = true;
  bool inMemory = false;  // natively made on tmpfs when there is one: many files
  std::vector<UserValue> userValues = {};  // Wine only
  std::vector<std::string> movedAway = {};  // Wine only: system files away for the run
};

/// How the tool is run: natively in a folder, or the Windows build under
/// Wine. The two differ in the system root they report.
struct Runner {
  std::string name, systemRoot;
  bool wine;
  std::string program;  // the test-signature tool it runs
};

/// A string value's data as Windows' registry holds it: UTF-16 with its zero.
std::string registryString(const std::string& utf8);

/// The task store as the tool names it, below the runner's system root.
std::string taskStore(const Runner& runner);

const Runner& nativeRunner();
const Runner& wineRunner();
/// The native tool without sanitizers, for measuring its memory.
const Runner& releaseRunner();

/// The process id of each program of the machine running during a run
/// (under Wine), by its Windows path.
typedef std::map<std::string, std::string> ProcessIds;

/// What a run leaves behind, in the machine's own names: cache keys below
/// TaskCache ("Tree\\Updater") and Windows paths of files; and the files
/// the system is to delete at the next restart ("\\??\\C:\\...").
struct MachineState {
  std::vector<std::string> keys, files, deletedAtRestart;
};

/// A machine made real for one runner; taken down again at scope end.
struct LiveMachine {
  LiveMachine(const Runner& runner, const Machine& machine);
  ~LiveMachine();
  LiveMachine(const LiveMachine&) = delete;
  LiveMachine& operator=(const LiveMachine&) = delete;

  /// Runs the test-signature tool with these answers (natively measuring its
  /// peak memory in KiB), between starting and stopping the running programs.
  ProcessResult runTool(const std::string& answers, int timeoutSeconds = 120,
                        long* peakKib = nullptr, const Interlude* interlude = nullptr);
  /// Where a Windows path of the machine is on this host.
  std::string hostPath(const std::string& windowsPath) const;
  /// A host path a test made in the machine, taken away with it.
  void removeAfterwards(const std::string& host) { madeByTest.push_back(host); }
  /// Keys and files of the machine that still exist (task definitions
  /// included, as files under the system root).
  MachineState state();
  /// The task files' relative paths in the order the system lists them.
  std::vector<std::string> listingOrder();
  /// The run's record, and its registry backups' host paths, as the runs
  /// left them in the machine's Debug folder.
  std::string runRecord();
  std::vector<std::string> registryBackups();

  const Runner& runner;
  const Machine& machine;
  ScopedTempDir folder;  // the machine natively; scratch space under Wine
  std::vector<std::string> madeByTest;
  ProcessIds runningIds;  // of the last run
};

/// The state a machine starts in.
MachineState initialState(const Runner& runner, const Machine& machine);

#endif  // VORKEL_TESTS_MACHINE_H_
