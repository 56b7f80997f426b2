// The Unix backend. The working directory stands for the Windows machine:
// a path such as C:\Windows\System32\Tasks is the folder
// C:/Windows/System32/Tasks under it, and the registry hive
// HKEY_LOCAL_MACHINE is the folder HKEY_LOCAL_MACHINE/, each key a
// sub-folder and each value a file holding the value's bytes. A file with
// no write permission bit stands for a read-only file, and a key folder
// without one for a key an administrator may only read. Names are bytes,
// shown as they are.
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "platform/file_checks.h"
#include "platform/platform.h"

namespace {

// A failed call's errno as the Windows code the tool reports.
long windowsError(int error) {
  return error == ENOENT || error == ENOTDIR ? ErrorNotFound
         : error == EEXIST                   ? ErrorFileExists
                                             : ErrorAccessDenied;
}

bool isDriveRoot(const std::string& path) {
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') ||
                              (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// On Windows ".." cannot climb above a drive's root, so neither may it climb
// out of the machine's folder here: "C:\..\x" is "C:\x".
std::string hostPath(const std::string& windowsPath) {
  std::string path = windowsPath;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (!isDriveRoot(path)) return path;
  // The drive, then each name that stays: "X:" "/a" "/b".
  std::string normal = path.substr(0, 2);
  normal.reserve(path.size() + 1);
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end - start == 2 && path[start] == '.' && path[start + 1] == '.') {
      if (normal.size() > 2) normal.erase(normal.rfind('/'));
    } else if (!(end - start == 1 && path[start] == '.')) {
      normal += '/';
      normal.append(path, start, end - start);
    }
    start = end + 1;
  }
  if (normal.size() == 2) normal += '/';
  return normal;
}

// A key name part of "." or ".." would step out of the hive folder; the
// registry has no such keys to find. On the host a slash separates folders
// too, so it counts as a separator here.
bool staysInside(const std::string& subKey) {
  size_t start = 0;
  while (start <= subKey.size()) {
    size_t end = subKey.find_first_of("\\/", start);
    if (end == std::string::npos) end = subKey.size();
    std::string part = subKey.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string keyFolder(const std::string& subKey) {
  return "HKEY_LOCAL_MACHINE/" + hostPath(subKey);
}

bool isFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<size_t>(written);
  }
}

// Standard output stays what it was at the start, so whether it is a
// terminal is asked once rather than twice for every task definition scanned.
bool outputIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) != 0;
  return terminal;
}

}  // namespace

void platformSetTextAttribute(ConsoleColour colour) {
  if (!outputIsTerminal()) return;
  const char* sequence = colour == ColourGreen ? "\x1b[92m"
                         : colour == ColourRed ? "\x1b[91m"
                                               : "\x1b[0m";
  writeAll(STDOUT_FILENO, sequence, std::char_traits<char>::length(sequence));
}

void platformWrite(StdStream stream, const char* data, size_t size) {
  writeAll(stream == StdStream::Out ? STDOUT_FILENO : STDERR_FILENO, data, size);
}

// A terminal here reads the bytes as they are.
void platformWriteText(StdStream stream, const std::vector<ConsoleText>& pieces) {
  if (pieces.size() == 1)
    return platformWrite(stream, pieces[0].bytes.data(), pieces[0].bytes.size());
  std::string bytes;
  for (const ConsoleText& piece : pieces) bytes += piece.bytes;
  platformWrite(stream, bytes.data(), bytes.size());
}

int platformReadByte() {
  unsigned char byte = 0;
  for (;;) {
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && errno == EINTR) continue;
    return -1;
  }
}

void platformClearScreen() {
  if (outputIsTerminal())
    writeAll(STDOUT_FILENO, "\x1b[H\x1b[2J", 7);
  else
    writeAll(STDOUT_FILENO, "\f", 1);
}

// A terminal is read a key at a time for it, without echo, after what was
// typed before is thrown away; anything else gives one byte.
void platformWaitForKey() {
  struct termios before;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &before) != 0) {
    platformReadByte();
    return;
  }
  struct termios raw = before;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
  platformReadByte();
  tcsetattr(STDIN_FILENO, TCSANOW, &before);
}

std::string platformSystemRoot() {
  const char* found = getenv("SYSTEMROOT");
  return found != nullptr ? found : "";
}

bool platformIsAdministrator() { return geteuid() == 0; }

// A command line's path is a name like any other here.
std::string platformPathAsRun(const std::string& path) { return path; }

// Permission bits are all there is to pass over, and the tool does not pass
// over them.
struct PlatformRights {};

void PlatformRightsRestorer::operator()(PlatformRights* rights) const { delete rights; }

FileRightsTaken platformBeginFileRights(FileRights) {
  FileRightsTaken taken;
  taken.rights.reset(new PlatformRights);
  return taken;
}

bool platformEndFileRights(HeldRights) { return true; }

DirectoryListing platformListDirectory(const std::string& directory) {
  DirectoryListing listed;
  std::string folder = hostPath(directory);
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) {
    listed.error = windowsError(errno);
    return listed;
  }
  while (struct dirent* found = readdir(listing)) {
    DirectoryEntry entry;
    entry.name = found->d_name;
    unsigned char type = found->d_type;
    if (type == DT_UNKNOWN) {
      struct stat info;
      std::string path = folder + "/" + entry.name;
      type = lstat(path.c_str(), &info) != 0 ? DT_UNKNOWN
             : S_ISDIR(info.st_mode)         ? DT_DIR
             : S_ISLNK(info.st_mode)         ? DT_LNK
                                             : DT_REG;
    }
    entry.isDirectory = type == DT_DIR;
    entry.isLink = type == DT_LNK;
    listed.entries.push_back(std::move(entry));
  }
  closedir(listing);
  return listed;
}

// The folder opened, every link followed; where it ended is what the
// system says the descriptor is.
FolderIdentity platformFolderIdentity(const std::string& path) {
  FolderIdentity identity;
  const int fd = open(hostPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    identity.error = windowsError(errno);
    if (fd >= 0) close(fd);
    return identity;
  }
  char final[PATH_MAX + 1];
  const ssize_t length =
      readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), final, sizeof final - 1);
  close(fd);
  if (length <= 0) {
    identity.error = ErrorAccessDenied;
    return identity;
  }
  identity.finalPath.assign(final, static_cast<size_t>(length));
  identity.id = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  return identity;
}

std::string platformLinkTarget(const std::string& path) {
  char target[PATH_MAX + 1];
  const ssize_t length = readlink(hostPath(path).c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

struct PlatformFile {
  int fd = -1;
  // Opened to be removed: the folder it was found in, and its name there.
  int folder = -1;
  std::string name;
};

namespace {

// What open() gave for a file to be read: a regular file's descriptor as an
// open file, anything else closed and told apart. Opened without following a
// link in the last part, ELOOP is that link.
FileOpening regularFile(int fd, int openError, const std::string& host) {
  FileOpening opening;
  WhyUnread& unread = opening.unread;
  struct stat info;
  if (fd < 0) {
    unread.error = windowsError(openError);
    unread.failure = openError == ENXIO || openError == ENODEV ? FileFailure::NotAFile
                                                               : failureOfOpenError(unread.error);
    if (openError == ELOOP && lstat(host.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      // A symbolic link stands for one on Windows, which the tool does not read through.
      unread = {FileFailure::ContentElsewhere, ErrorSuccess, ReparseTagSymlink,
                AttributeReparsePoint};
    }
    return opening;
  }
  const bool known = fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    if (!known) unread.error = windowsError(errno);
    unread.failure = known ? FileFailure::NotAFile : FileFailure::Refused;
    close(fd);
    return opening;
  }
  opening.size = static_cast<uint64_t>(info.st_size);
  opening.file.reset(new PlatformFile);
  opening.file->fd = fd;
  return opening;
}

}  // namespace

// Non-blocking so that a FIFO cannot hold the open; only regular files are
// read.
FileOpening platformOpenFile(const std::string& path) {
  const std::string host = hostPath(path);
  const int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  return regularFile(fd, errno, host);
}

FileRead platformReadFile(PlatformFile* file, void* buffer, size_t capacity) {
  FileRead result;
  for (;;) {
    ssize_t got = read(file->fd, buffer, capacity);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      result.error = windowsError(errno);
    else
      result.bytes = static_cast<size_t>(got);
    return result;
  }
}

void PlatformFileCloser::operator()(PlatformFile* file) const {
  close(file->fd);
  if (file->folder >= 0) close(file->folder);
  delete file;
}

// The folder is held open, so the name is looked up in the folder the file
// was found in even if a link takes that folder's place later.
FileToRemove platformOpenFileToRemove(const std::string& path) {
  FileToRemove opened;
  const std::string host = hostPath(path);
  const size_t slash = host.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "." : host.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? host : host.substr(slash + 1);
  opened.error = ErrorNotFound;
  if (name.empty() || name == "." || name == "..") return opened;
  int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    opened.error = windowsError(errno);
    return opened;
  }
  const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  FileOpening opening = regularFile(fd, errno, host);
  if (!opening.file) {
    opened.error = errorOfUnopenedRemoval(opening.unread);
    close(folder);
    return opened;
  }
  opened.size = opening.size;
  opened.error = ErrorSuccess;
  opening.file->folder = folder;
  opening.file->name = name;
  opened.file = std::move(opening.file);
  return opened;
}

// Unlinked only while the name still holds the file opened; a read-only
// file is made writable first and made read-only again if it stays.
// Nothing here is kept from deletion by being in use.
FileDeletion platformDeleteOpenFile(PlatformFile* file) {
  FileDeletion deletion;
  struct stat opened, named;
  if (file->folder < 0 || fstat(file->fd, &opened) != 0) {
    deletion.result = ErrorAccessDenied;
    return deletion;
  }
  if (fstatat(file->folder, file->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    deletion.result = ErrorNotFound;  // not under that name any more
    return deletion;
  }
  const bool readOnly = (opened.st_mode & 0222) == 0;
  if (readOnly && fchmod(file->fd, (opened.st_mode & 07777) | 0200) != 0) {
    deletion.result = windowsError(errno);
    return deletion;
  }
  if (unlinkat(file->folder, file->name.c_str(), 0) == 0) return deletion;
  deletion.result = windowsError(errno);
  if (readOnly) fchmod(file->fd, opened.st_mode & 07777);
  return deletion;
}

// Nothing waits for a restart here.
long platformDeleteOpenFileAtRestart(PlatformFile*) { return ErrorAccessDenied; }

namespace {

// The file's names below folder (path, relative to the machine, in Windows
// form) but the one it was opened by; links are not followed. Takes folder.
void findNames(int folder, const std::string& path, const struct stat& file,
               const PlatformFile& own, std::vector<std::string>* names) {
  DIR* listing = fdopendir(folder);
  if (listing == nullptr) {
    close(folder);
    return;
  }
  struct stat here, ownFolder;
  const bool holdsOwn = fstat(dirfd(listing), &here) == 0 && fstat(own.folder, &ownFolder) == 0 &&
                        here.st_dev == ownFolder.st_dev && here.st_ino == ownFolder.st_ino;
  while (struct dirent* found = readdir(listing)) {
    const std::string name = found->d_name;
    struct stat info;
    if (name == "." || name == ".." ||
        fstatat(dirfd(listing), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    const std::string named = path.empty() ? name : path + "\\" + name;
    if (S_ISDIR(info.st_mode)) {
      const int inner =
          openat(dirfd(listing), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (inner >= 0) findNames(inner, named, file, own, names);
    } else if (info.st_dev == file.st_dev && info.st_ino == file.st_ino &&
               !(holdsOwn && name == own.name)) {
      names->push_back(named);
    }
  }
  closedir(listing);
}

}  // namespace

// Looked for in the whole machine, which is cheap only because a second
// name is rare: the walk is made only for a file that has one.
OtherNames platformOtherNames(PlatformFile* file) {
  OtherNames other;
  struct stat info;
  if (file->folder < 0 || fstat(file->fd, &info) != 0 || info.st_nlink <= 1) return other;
  other.count = static_cast<uint32_t>(info.st_nlink - 1);
  const int machine = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (machine >= 0) findNames(machine, "", info, *file, &other.paths);
  if (other.paths.size() < other.count) other.listed = ErrorNotFound;  // beyond the machine
  return other;
}

// A machine in a folder runs no program of its own.
std::vector<ProcessStop> platformStopProcessesRunning(PlatformFile*) { return {}; }

namespace {

// A key's folder, opened name by name below the hive folder; the folder
// holding it stays open too. A name that is a symbolic link stands for a
// registry link and is not followed.
struct KeyFolder {
  int parent = -1;
  int fd = -1;
  std::string name;
  ~KeyFolder() {
    if (parent >= 0) close(parent);
    if (fd >= 0) close(fd);
  }
};

// From an open key's folder when baseFd is one (then the folder holding a
// key of one name is not held), else from the folder base.
long openKeyFolder(const std::string& subKey, KeyFolder* key,
                   const std::string& base = "HKEY_LOCAL_MACHINE", int baseFd = -1) {
  if (!staysInside(subKey)) return ErrorNotFound;
  if (baseFd < 0) {
    key->fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (key->fd < 0) return ErrorNotFound;
  }
  bool stepped = false;
  size_t start = 0;
  while (start <= subKey.size()) {
    size_t end = subKey.find_first_of("\\/", start);
    if (end == std::string::npos) end = subKey.size();
    const std::string name = subKey.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    const int from = key->fd >= 0 ? key->fd : baseFd;
    // Only a folder itself opens so; what else is there is told apart after.
    const int next = openat(from, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      if (errno == ELOOP) return ErrorKeyIsLink;
      struct stat info;
      return fstatat(from, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)
                 ? ErrorKeyIsLink
                 : ErrorNotFound;
    }
    if (key->parent >= 0) close(key->parent);
    key->parent = key->fd;
    key->fd = next;
    key->name = name;
    stepped = true;
  }
  return stepped ? ErrorSuccess : ErrorNotFound;
}

}  // namespace

struct PlatformKey {
  std::string folder;
  KeyFolder held;  // a key opened to be removed: its folder and the one holding it
  int fd = -1;     // any other key's folder, as it was opened
  ~PlatformKey() {
    if (fd >= 0) close(fd);
  }
};

namespace {

// The key's folder as opened: values are read and sub-keys listed there,
// as a handle reads the key it was opened on, whatever its name leads to
// since.
int openedFolder(const PlatformKey& key) { return key.held.fd >= 0 ? key.held.fd : key.fd; }

KeyOpening openedKey(KeyFolder* folder, const std::string& path) {
  KeyOpening opening;
  opening.key.reset(new PlatformKey);
  opening.key->folder = path;
  opening.key->fd = folder->fd;
  folder->fd = -1;
  return opening;
}

}  // namespace

KeyOpening platformOpenKey(const std::string& subKey) {
  KeyFolder folder;
  const long opened = openKeyFolder(subKey, &folder);
  if (opened != ErrorSuccess) {
    KeyOpening refused;
    refused.error = opened;
    return refused;
  }
  return openedKey(&folder, keyFolder(subKey));
}

namespace {

bool sameNameCaseless(const std::string& one, const std::string& other) {
  if (one.size() != other.size()) return false;
  for (size_t i = 0; i < one.size(); ++i)
    if (tolower(static_cast<unsigned char>(one[i])) != tolower(static_cast<unsigned char>(other[i])))
      return false;
  return true;
}

// A listing of an open key folder from its start, through a duplicate so
// that the folder stays open; null, with the system's code in *error, when
// there is none (a folder of -1: no key there).
DIR* listKeyFolder(int folder, long* error) {
  const int listed = folder >= 0 ? dup(folder) : -1;
  DIR* listing = listed >= 0 ? fdopendir(listed) : nullptr;
  if (listing == nullptr) {
    *error = listed >= 0 ? windowsError(errno) : ErrorNotFound;
    if (listed >= 0) close(listed);
    return nullptr;
  }
  rewinddir(listing);  // a duplicate shares the folder's place in the listing
  return listing;
}

// The value file's name in the key's folder, for a name that is not there
// as it is spelt: the registry tells value names apart without regard to
// case.
std::string valueFileName(int folder, const std::string& name) {
  long error = ErrorSuccess;
  DIR* listing = listKeyFolder(folder, &error);
  if (listing == nullptr) return name;
  std::string found = name;
  while (struct dirent* entry = readdir(listing))
    if (sameNameCaseless(entry->d_name, name)) found = entry->d_name;
  closedir(listing);
  return found;
}

// The folder keeps no type: every value is its file's bytes, given as
// binary, whose text is those bytes.
KeyValue storedValue(const std::string& name, std::string bytes) {
  KeyValue value;
  value.name = name;
  value.type = ValueTypeBinary;
  value.text = bytes;
  value.raw = std::move(bytes);
  return value;
}

// The whole of a value's file, or the system's code. A regular file gives
// what it has up to what is asked: a read shorter than asked is its end, so
// a value no larger than its stated size takes one read.
long readValueFile(int fd, size_t statedSize, std::string* bytes) {
  size_t have = 0;
  bytes->resize(statedSize + 1);
  for (;;) {
    if (have == bytes->size()) bytes->resize(have * 2 + 4096);
    const size_t asked = bytes->size() - have;
    const ssize_t got = read(fd, &(*bytes)[have], asked);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return windowsError(errno);
    have += static_cast<size_t>(got);
    if (static_cast<size_t>(got) < asked) break;
  }
  bytes->resize(have);
  return ErrorSuccess;
}

bool isValueName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

ValueRead platformReadValue(PlatformKey* key, const std::string& name) {
  ValueRead read;
  read.error = ErrorNotFound;
  if (!isValueName(name)) return read;
  const int folder = openedFolder(*key);
  if (folder < 0) return read;
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = openat(folder, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT) fd = openat(folder, valueFileName(folder, name).c_str(), flags);
  const int opening = errno;
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) close(fd);
    if (fd < 0 && opening != ENOENT && opening != ELOOP) read.error = ErrorAccessDenied;
    return read;
  }
  std::string bytes;
  read.error = readValueFile(fd, static_cast<size_t>(info.st_size), &bytes);
  close(fd);
  if (read.error == ErrorSuccess) read.value = storedValue(name, std::move(bytes));
  return read;
}

long platformFindValue(PlatformKey* key, const std::string& name) {
  const int folder = openedFolder(*key);
  if (!isValueName(name) || folder < 0) return ErrorNotFound;
  struct stat info;
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return ErrorAccessDenied;
    const std::string spelt = valueFileName(folder, name);
    if (spelt == name || fstatat(folder, spelt.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return ErrorNotFound;
  }
  return S_ISREG(info.st_mode) ? ErrorSuccess : ErrorNotFound;
}

void PlatformKeyCloser::operator()(PlatformKey* key) const { delete key; }

KeyOpening platformOpenKeyBelow(PlatformKey* parent, const std::string& subKey) {
  KeyFolder folder;
  const long opened = openKeyFolder(subKey, &folder, parent->folder, openedFolder(*parent));
  if (opened != ErrorSuccess) {
    KeyOpening refused;
    refused.error = opened;
    return refused;
  }
  return openedKey(&folder, parent->folder + "/" + hostPath(subKey));
}

// Sub-keys are the key folder's folders; a symbolic link stands for a
// registry link, listed as a key whose open is refused.
SubKeys platformListSubKeys(PlatformKey* key) {
  SubKeys listed;
  DIR* listing = listKeyFolder(openedFolder(*key), &listed.error);
  if (listing == nullptr) return listed;
  while (struct dirent* found = readdir(listing)) {
    const std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    // The listing says what most entries are; a stat tells the rest.
    bool isKey = found->d_type == DT_DIR || found->d_type == DT_LNK;
    struct stat info;
    if (found->d_type == DT_UNKNOWN)
      isKey = fstatat(dirfd(listing), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
              (S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode));
    if (isKey) listed.names.push_back(name);
  }
  closedir(listing);
  return listed;
}

// A key folder, or the folder holding it, that may not be written stands
// for a key an administrator may only read: refused at the open, so that
// nothing is removed and a key is never left without its values.
KeyOpenedToRemove platformOpenKeyToRemove(const std::string& subKey) {
  KeyOpenedToRemove opened;
  PlatformKey* key = new PlatformKey;
  opened.how.result = openKeyFolder(subKey, &key->held);
  if (opened.how.result == ErrorSuccess &&
      (faccessat(key->held.parent, key->held.name.c_str(), W_OK | X_OK, 0) != 0 ||
       faccessat(key->held.parent, ".", W_OK | X_OK, 0) != 0))
    opened.how.result = ErrorAccessDenied;
  if (opened.how.result != ErrorSuccess) {
    delete key;
    return opened;
  }
  key->folder = keyFolder(subKey);
  opened.key.reset(key);
  return opened;
}

// Everything goes through the folders held: the key deleted is the one
// opened, and only while its name still holds it.
long platformDeleteOpenKey(PlatformKey* key) {
  const KeyFolder& held = key->held;
  struct stat opened, named;
  if (held.fd < 0 || fstat(held.fd, &opened) != 0) return ErrorAccessDenied;
  if (fstatat(held.parent, held.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
    return ErrorNotFound;
  long unlisted = ErrorSuccess;
  DIR* listing = listKeyFolder(held.fd, &unlisted);
  if (listing == nullptr) return ErrorAccessDenied;
  std::vector<std::string> values;
  bool hasSubKeys = false;
  while (struct dirent* found = readdir(listing)) {
    std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    if (fstatat(held.fd, name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode))
      hasSubKeys = true;
    else
      values.push_back(name);
  }
  closedir(listing);
  if (hasSubKeys) return ErrorAccessDenied;
  for (const std::string& name : values)
    if (unlinkat(held.fd, name.c_str(), 0) != 0) return ErrorAccessDenied;
  return unlinkat(held.parent, held.name.c_str(), AT_REMOVEDIR) == 0 ? ErrorSuccess
                                                                     : ErrorAccessDenied;
}

// A key opened to be removed is read through its folder as held.
ValuesRead platformReadValues(PlatformKey* key) {
  ValuesRead read;
  DIR* listing = listKeyFolder(openedFolder(*key), &read.error);
  if (listing == nullptr) return read;
  while (struct dirent* found = readdir(listing)) {
    const std::string name = found->d_name;
    struct stat info;
    if (name == "." || name == ".." ||
        (fstatat(dirfd(listing), name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode)))
      continue;
    const int valueFd = openat(dirfd(listing), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::string bytes;
    struct stat opened;
    if (valueFd < 0 || fstat(valueFd, &opened) != 0)
      read.error = windowsError(errno);
    else
      read.error = readValueFile(valueFd, static_cast<size_t>(opened.st_size), &bytes);
    if (valueFd >= 0) close(valueFd);
    if (read.error != ErrorSuccess) break;
    read.values.push_back(storedValue(name, std::move(bytes)));
  }
  closedir(listing);
  return read;
}

long platformMakeFolder(const std::string& path) {
  const std::string host = hostPath(path);
  if (mkdir(host.c_str(), 0755) == 0 || (errno == EEXIST && isFolder(host))) return ErrorSuccess;
  return windowsError(errno);
}

namespace {

long writeFile(const std::string& path, const std::string& bytes, int flags) {
  int fd = open(hostPath(path).c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | flags, 0644);
  if (fd < 0) return windowsError(errno);
  // A second name would carry the bytes into a file of someone else's.
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    close(fd);
    return ErrorAccessDenied;
  }
  long result = ErrorSuccess;
  for (size_t at = 0; at < bytes.size();) {
    ssize_t written = write(fd, bytes.data() + at, bytes.size() - at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      result = written < 0 ? windowsError(errno) : ErrorAccessDenied;
      break;
    }
    at += static_cast<size_t>(written);
  }
  if (close(fd) != 0 && result == ErrorSuccess) result = windowsError(errno);
  return result;
}

}  // namespace

long platformAppendToFile(const std::string& path, const std::string& bytes) {
  return writeFile(path, bytes, O_APPEND | O_CREAT);
}

long platformWriteNewFile(const std::string& path, const std::string& bytes) {
  return writeFile(path, bytes, O_CREAT | O_EXCL);
}

LocalTime platformLocalTime() {
  const time_t now = time(nullptr);
  struct tm parts;
  LocalTime local;
  if (localtime_r(&now, &parts) == nullptr) return local;
  local.year = parts.tm_year + 1900;
  local.month = parts.tm_mon + 1;
  local.day = parts.tm_mday;
  local.hour = parts.tm_hour;
  local.minute = parts.tm_min;
  local.second = parts.tm_sec;
  return local;
}

std::string platformComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}
