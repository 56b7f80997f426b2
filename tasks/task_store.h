// Finding every task definition file below the scheduler's task folder.
#ifndef VORKEL_TASKS_TASK_STORE_H_
#define VORKEL_TASKS_TASK_STORE_H_

#include <string>
#include <vector>

/// A link the walk met in the store (a symbolic link or a junction). The
/// scheduler makes none: each is someone else's.
struct StoreLink {
  std::string path;    // as listed, like a definition's path
  std::string target;  // what it says it leads to (platformLinkTarget); "" when unreadable
  /// Its target is a folder inside the store, whose entries the walk lists:
  /// under the folder's own name when the walk reaches it there, else
  /// through the link. False for a link out of the store (a drive's root,
  /// another folder), to a file, or to nothing: nothing below it is listed.
  bool walked = false;
};

struct TaskStoreListing {
  std::vector<std::string> files;  // every entry that is neither a folder nor a link
  std::vector<StoreLink> links;
};

/// Everything below root (given without a trailing separator). The folders
/// themselves come first, depth first, each folder's files where the folder
/// stands among its siblings; then what lies below the links, in the order
/// they were met. Each folder is listed once, known by its identity, so no
/// link can make the walk endless. A folder that cannot be listed adds
/// nothing.
TaskStoreListing collectTaskFiles(const std::string& root);

#endif  // VORKEL_TASKS_TASK_STORE_H_
