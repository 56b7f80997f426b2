#include "tasks/task_store.h"

#include "platform/platform.h"

void collectTaskFiles(const std::string& directory,
                      std::vector<std::string>* list) {
  std::vector<DirectoryEntry> entries;
  if (!platformListDirectory(directory, &entries)) return;
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    std::string path = directory + "\\" + entry.name;
    if (entry.isDirectory)
      collectTaskFiles(path, list);
    else
      list->push_back(path);
  }
}
