#include "tasks/task_store.h"

#include <set>

#include "platform/platform.h"

namespace {

struct StoreWalk {
  std::string rootFinalPath;
  std::set<std::string> listed;  // the identities of the folders listed
  TaskStoreListing listing;
};

// Whether finalPath is the root's or below it; each backend's separator
// follows the root's name.
bool isInside(const std::string& finalPath, const std::string& root) {
  return !root.empty() && finalPath.compare(0, root.size(), root) == 0 &&
         (finalPath.size() == root.size() || finalPath[root.size()] == '\\' ||
          finalPath[root.size()] == '/');
}

// Whether a folder the listing gave is one to list now: it has not been
// listed, and it still leads inside the store (a folder swapped for a link
// since it was listed does not), where the system can say where it leads.
bool isToList(const std::string& path, StoreWalk* walk) {
  const FolderIdentity identity = platformFolderIdentity(path);
  return identity.error == ErrorSuccess &&
         (identity.finalPath.empty() || isInside(identity.finalPath, walk->rootFinalPath)) &&
         walk->listed.insert(identity.id).second;
}

void listFolder(const std::string& directory, StoreWalk* walk) {
  const DirectoryListing listing = platformListDirectory(directory);
  for (const DirectoryEntry& entry : listing.entries) {
    if (entry.name == "." || entry.name == "..") continue;
    // Made at its final size: it is kept in the list as it is.
    std::string path;
    path.reserve(directory.size() + 1 + entry.name.size());
    path.append(directory).append(1, '\\').append(entry.name);
    if (entry.isLink) {
      walk->listing.links.push_back({path, platformLinkTarget(path), false});
    } else if (!entry.isDirectory) {
      walk->listing.files.push_back(std::move(path));
    } else if (isToList(path, walk)) {
      listFolder(path, walk);
    }
  }
}

}  // namespace

// Links are followed only once every folder has been listed by its own
// name, so that a definition is read by the name the scheduler knows it by.
TaskStoreListing collectTaskFiles(const std::string& root) {
  StoreWalk walk;
  const FolderIdentity store = platformFolderIdentity(root);
  if (store.error != ErrorSuccess) return walk.listing;
  walk.rootFinalPath = store.finalPath;
  walk.listed.insert(store.id);
  listFolder(root, &walk);
  for (size_t i = 0; i < walk.listing.links.size(); ++i) {
    const std::string path = walk.listing.links[i].path;
    const FolderIdentity target = platformFolderIdentity(path);
    if (target.error != ErrorSuccess || !isInside(target.finalPath, walk.rootFinalPath)) continue;
    walk.listing.links[i].walked = true;
    if (walk.listed.insert(target.id).second) listFolder(path, &walk);
  }
  return walk.listing;
}
