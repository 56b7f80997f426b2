#include "remedy/task_cache.h"

#include <string.h>

#include "app/console/console.h"
#include "platform/platform.h"

const char TaskCacheBase[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

namespace {

const uint32_t IdBufferSize = 260;

// The task's identifier, or "" when the key holds no Id that fits the
// buffer whole: a cut or stale identifier would name some other task's key.
std::string readTaskId(PlatformKey* treeKey) {
  char buffer[IdBufferSize];
  memset(buffer, 0, sizeof buffer);
  uint32_t size = IdBufferSize;
  if (platformQueryValue(treeKey, "Id", buffer, &size) != 0) return std::string();
  size_t stored = size < IdBufferSize ? size : IdBufferSize;
  // The value is text up to its first zero byte, never past the buffer.
  size_t length = 0;
  // cppcheck-suppress knownConditionTrueFalse ; size is set by the query above
  while (length < stored && buffer[length] != '\0') ++length;
  return std::string(buffer, length);
}

void deleteKeyAndReport(const std::string& subKey) {
  long result = platformDeleteKey(subKey);
  writeOut(MsgDeletedPrefix);
  writeOut(subKey);
  writeOut(result == 0 ? MsgOk : MsgKeyFailed);
  endLine(StdStream::Out);
}

}  // namespace

void removeTaskCacheEntries(const TaskRecord& record) {
  const std::string treeKey = std::string(TaskCacheBase) + "\\Tree\\" + record.uri;
  PlatformKey* opened = nullptr;
  long result = platformOpenKey(treeKey, &opened);
  if (result != 0) {
    writeErr(MsgOpenKeyError);
    writeNumber(StdStream::Err, static_cast<uint32_t>(result), 16);
    writeErr(MsgRegistryAbort);
    endLine(StdStream::Err);
    return;
  }
  const std::string id = readTaskId(opened);
  platformCloseKey(opened);
  if (id.empty()) return;

  const std::string tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  writeOut(MsgTreeKeyFound);
  writeOut(treeKey);
  endLine(StdStream::Out);
  writeOut(MsgTasksKeyFound);
  writeOut(tasksKey);
  endLine(StdStream::Out);

  setColour(ColourRed);
  writeOut(MsgAskDeleteKeys);
  setColour(ColourNormal);
  if (!askYesNo()) {
    writeOut(MsgKeysKept);
    endLine(StdStream::Out);
    return;
  }
  deleteKeyAndReport(treeKey);
  deleteKeyAndReport(tasksKey);
}
