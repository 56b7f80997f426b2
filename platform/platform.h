// Operating-system services the tool uses. One header for every backend:
// windows.cc talks to kernel32 and advapi32, posix.cc stands in for them on
// a Unix machine, where the working directory plays the part of the Windows
// machine (drive paths and registry keys become folders under it).
#ifndef VORKELBRAITH_PLATFORM_H_
#define VORKELBRAITH_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum class StdStream { Out, Err };

// Console.
void platformSetTextAttribute(int attribute);
void platformWrite(StdStream stream, const char* data, size_t size);
/// One byte of standard input, or -1 when the input is exhausted or broken.
/// Reads nothing ahead, so a program started later sees the rest.
int platformReadByte();
/// "cls" or "pause", as the command interpreter runs them.
void platformRunShellCommand(const char* command);
[[noreturn]] void platformExit(int status);

// Environment.
/// False when the variable is not set.
bool platformGetEnvironment(const char* name, std::string* value);
/// True when the built-in Administrators group is in force for this process.
bool platformIsAdministrator();

// Directory listing.
struct DirectoryEntry {
  std::string name;
  bool isDirectory;
};
/// Every entry of one directory once, "." and ".." included, in the order
/// the system delivers them. False, with nothing added, when the directory
/// cannot be listed.
bool platformListDirectory(const std::string& directory,
                           std::vector<DirectoryEntry>* entries);

// Reading files, shared with other readers and writers.
struct PlatformFile;
/// Null when the path is not a regular file that can be opened for reading.
PlatformFile* platformOpenFile(const std::string& path, uint64_t* size);
/// Bytes read into buffer (up to capacity); 0 at the end, -1 on failure.
int64_t platformReadFile(PlatformFile* file, void* buffer, size_t capacity);
void platformCloseFile(PlatformFile* file);
/// True when the file is gone.
bool platformDeleteFile(const std::string& path);

// MD5 from the system's cryptographic service.
struct PlatformMd5;
/// Null when the service cannot give an MD5 hash.
PlatformMd5* platformBeginMd5();
bool platformAddToMd5(PlatformMd5* hash, const void* data, size_t size);
bool platformFinishMd5(PlatformMd5* hash, unsigned char digest[16]);
/// Releases the hash and the context it came from.
void platformReleaseMd5(PlatformMd5* hash);

// Registry, under HKEY_LOCAL_MACHINE in the 64-bit view. Results are the
// system's error codes: 0 is success, 2 is not found, 5 is access denied,
// 234 is more data.
struct PlatformKey;
long platformOpenKey(const std::string& subKey, PlatformKey** key);
/// Reads a value into buffer; *size is its capacity going in and the
/// value's size coming out.
long platformQueryValue(PlatformKey* key, const char* valueName, char* buffer,
                        uint32_t* size);
void platformCloseKey(PlatformKey* key);
/// Deletes one key that has no sub-keys, with its values.
long platformDeleteKey(const std::string& subKey);

#endif  // VORKELBRAITH_PLATFORM_H_
