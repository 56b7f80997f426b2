#include "tasks/task_store.h"

#include "platform/platform.h"

void collectTaskFiles(const std::string& directory,
                      std::vector<std::string>* list) {
  std::vector<DirectoryEntry> entries;
  if (!platformListDirectory(directory, &entries)) return;
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    // Made at its final size: it is kept in the list as it is.
    std::string path;
    path.reserve(directory.size() + 1 + entry.name.size());
    path.append(directory).append(1, '\\').append(entry.name);
    if (entry.isDirectory)
      collectTaskFiles(path, list);
    else
      list->push_back(std::move(path));
  }
}
