#include "tests/machine.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>

#include "remedy/task_cache.h"

namespace {

std::string slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string backslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// "C:\\x\\y" on the host: below the machine's folder natively, below the
// prefix's drive under Wine.
std::string hostPathOf(const Runner& runner, const std::string& root,
                       const std::string& windowsPath) {
  if (!runner.wine) return root + "/" + slashes(windowsPath);
  return wineDriveC() + "/" + slashes(windowsPath.substr(3));
}

std::string taskStoreHost(const Runner& runner, const std::string& root) {
  if (!runner.wine) return root + "/C:/Windows/System32/Tasks";
  return wineDriveC() + "/windows/system32/Tasks";
}

std::string taskWindowsPath(const Runner& runner, const TaskFile& task) {
  return runner.systemRoot + "\\System32\\Tasks\\" + task.relativePath;
}

std::string valueBytes(const CacheKey& key) {
  switch (key.idKind) {
    case IdKind::Text: return key.id + std::string(1, '\0');
    case IdKind::Number: {
      unsigned long number = std::stoul(key.id);
      std::string bytes;
      for (int i = 0; i < 4; ++i) bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
      return bytes;
    }
    case IdKind::Bytes: return key.id;
    case IdKind::None: break;
  }
  return std::string();
}

std::string regFileValue(const CacheKey& key) {
  char hex[4];
  switch (key.idKind) {
    case IdKind::Text: {
      std::string escaped;
      for (char c : key.id) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
      }
      return "\"Id\"=\"" + escaped + "\"\r\n";
    }
    case IdKind::Number: {
      char number[16];
      snprintf(number, sizeof number, "%08lx", std::stoul(key.id));
      return std::string("\"Id\"=dword:") + number + "\r\n";
    }
    case IdKind::Bytes: {
      std::string line = "\"Id\"=hex:";
      for (size_t i = 0; i < key.id.size(); ++i) {
        snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(key.id[i]));
        line += (i ? "," : "") + std::string(hex);
      }
      return line + "\r\n";
    }
    case IdKind::None: break;
  }
  return std::string();
}

const std::string& cacheRoot() {
  static const std::string root = std::string("HKEY_LOCAL_MACHINE\\") + TaskCacheBase;
  return root;
}

std::string utf16ToUtf8(const std::string& utf16) {
  iconv_t converter = iconv_open("UTF-8", "UTF-16");
  std::string out(utf16.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf16.data());
  size_t inLeft = utf16.size(), outLeft = out.size();
  char* outPtr = &out[0];
  iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

// Every key of the exported TaskCache, below TaskCache, lower-cased.
std::vector<std::string> exportedWineKeys(const std::string& scratch) {
  std::string exportFile = wineDriveC() + "/vk-state/export.reg";
  removeTree(exportFile);
  (void)scratch;
  runUnderWine({"regedit", "/E", "C:\\vk-state\\export.reg", cacheRoot()}, "");
  std::string text = utf16ToUtf8(readFile(exportFile));
  std::vector<std::string> keys;
  const std::string prefix = "[" + lowered(cacheRoot()) + "\\";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = lowered(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0 && line.back() == ']')
      keys.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    start = end + 1;
  }
  return keys;
}

void walkInOrder(const std::string& folder, const std::string& relative,
                 std::vector<std::string>* order) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (struct dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string rel = relative.empty() ? name : relative + "\\" + name;
    struct stat info;
    if (lstat((folder + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      walkInOrder(folder + "/" + name, rel, order);
    else
      order->push_back(rel);
  }
  closedir(listing);
}

}  // namespace

const Runner& nativeRunner() {
  static const Runner runner = {"Native", "C:\\Windows", "请按任意键继续. . .\n", false};
  return runner;
}

const Runner& wineRunner() {
  static const Runner runner = {"Wine", "C:\\windows", "请按任意键继续...", true};
  return runner;
}

LiveMachine::LiveMachine(const Runner& runner, const Machine& machine)
    : runner(runner), machine(machine) {
  const std::string store = taskStoreHost(runner, folder.path);
  if (runner.wine) {
    removeTree(store);
    std::string reg = "REGEDIT4\r\n\r\n[-" + cacheRoot() + "]\r\n\r\n";
    for (const CacheKey& key : machine.keys)
      reg += "[" + cacheRoot() + "\\" + key.path + "]\r\n" + regFileValue(key) + "\r\n";
    writeFile(wineDriveC() + "/vk-state/import.reg", reg);
    runUnderWine({"regedit", "/S", "C:\\vk-state\\import.reg"}, "");
  } else {
    for (const CacheKey& key : machine.keys) {
      std::string keyFolder = folder.path + "/HKEY_LOCAL_MACHINE/" +
                              slashes(std::string(TaskCacheBase) + "\\" + key.path);
      makeFolders(keyFolder);
      if (key.idKind != IdKind::None) writeFile(keyFolder + "/Id", valueBytes(key));
    }
  }
  if (machine.hasTaskStore) makeFolders(store);
  for (const TaskFile& task : machine.tasks)
    writeFile(store + "/" + slashes(task.relativePath), task.bytes);
  for (const MachineFile& file : machine.files) {
    std::string host = hostPathOf(runner, folder.path, file.windowsPath);
    writeFile(host, file.bytes);
    if (file.readOnly) chmod(host.c_str(), 0444);
  }
}

LiveMachine::~LiveMachine() {
  if (!runner.wine) return;  // the scoped folder takes the native machine away
  removeTree(taskStoreHost(runner, folder.path));
  for (const MachineFile& file : machine.files)
    removeTree(hostPathOf(runner, folder.path, file.windowsPath));
}

ProcessResult LiveMachine::runTool(const std::string& answers) {
  if (runner.wine)
    return runUnderWine({builtProgram("build/windows-testsig/vorkelbraith-remover.exe")},
                        answers);
  return runProcess({builtProgram("build/native-testsig/vorkelbraith-remover")},
                    folder.path, answers, {"SYSTEMROOT=" + runner.systemRoot});
}

MachineState initialState(const Runner& runner, const Machine& machine) {
  MachineState state;
  for (const CacheKey& key : machine.keys) state.keys.push_back(key.path);
  for (const MachineFile& file : machine.files) state.files.push_back(file.windowsPath);
  for (const TaskFile& task : machine.tasks)
    state.files.push_back(taskWindowsPath(runner, task));
  return state;
}

MachineState LiveMachine::state() {
  MachineState state;
  std::vector<std::string> wineKeys;
  if (runner.wine) wineKeys = exportedWineKeys(folder.path);
  for (const CacheKey& key : machine.keys) {
    bool present;
    if (runner.wine) {
      present = std::find(wineKeys.begin(), wineKeys.end(), lowered(key.path)) !=
                wineKeys.end();
    } else {
      struct stat info;
      std::string keyFolder = folder.path + "/HKEY_LOCAL_MACHINE/" +
                              slashes(std::string(TaskCacheBase) + "\\" + key.path);
      present = stat(keyFolder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (present) state.keys.push_back(key.path);
  }
  for (const MachineFile& file : machine.files)
    if (pathExists(hostPathOf(runner, folder.path, file.windowsPath)))
      state.files.push_back(file.windowsPath);
  const std::string store = taskStoreHost(runner, folder.path);
  for (const TaskFile& task : machine.tasks)
    if (pathExists(store + "/" + slashes(task.relativePath)))
      state.files.push_back(taskWindowsPath(runner, task));
  return state;
}

std::vector<std::string> LiveMachine::listingOrder() {
  std::vector<std::string> order;
  if (runner.wine) {
    // Wine lists a folder in its own order, so ask the Windows build's walk.
    const std::string root = runner.systemRoot + "\\System32\\Tasks";
    ProcessResult listed =
        runUnderWine({builtProgram("build/windows/tests/vorkel-probe.exe"), "list", root}, "");
    size_t start = 0;
    while (start < listed.out.size()) {
      size_t end = listed.out.find('\n', start);
      order.push_back(listed.out.substr(start + root.size() + 1, end - start - root.size() - 1));
      start = end + 1;
    }
    return order;
  }
  walkInOrder(taskStoreHost(runner, folder.path), "", &order);
  for (std::string& path : order) path = backslashes(path);
  return order;
}
