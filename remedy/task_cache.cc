#include "remedy/task_cache.h"

#include <string.h>

#include "console/console.h"
#include "platform/platform.h"
#include "record/run_record.h"

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

KeyDeletion deleteKeyAndReport(const std::string& subKey, const RunRecord& runRecord) {
  KeyDeletion deletion = platformDeleteKey(subKey);
  writeOut(MsgDeletedPrefix);
  writeOut(subKey);
  writeOut(deletion.result == 0 ? MsgOk : MsgKeyFailed);
  endLine(StdStream::Out);
  std::string outcome = deletion.result == 0 ? "key deleted"
                        : deletion.result == 2
                            ? "key not found"
                            : "key not deleted, error " + std::to_string(deletion.result);
  if (deletion.retried) outcome += deletion.result == 0 ? " with the restore right"
                                                        : " (also with the restore right)";
  recordLine(runRecord, outcome, "HKEY_LOCAL_MACHINE\\" + subKey);
  return deletion;
}

}  // namespace

CacheRemoval removeTaskCacheEntries(const TaskRecord& record, RunRecord* runRecord) {
  CacheRemoval removal;
  removal.treeKey = std::string(TaskCacheBase) + "\\Tree\\" + record.uri;
  PlatformKey* opened = nullptr;
  removal.openResult = platformOpenKey(removal.treeKey, &opened);
  if (removal.openResult != 0) {
    recordLine(*runRecord,
               removal.openResult == 2
                   ? std::string("Tree key not found")
                   : "Tree key not opened, error " + std::to_string(removal.openResult),
               "HKEY_LOCAL_MACHINE\\" + removal.treeKey);
    writeErr(MsgOpenKeyError);
    writeNumber(StdStream::Err, static_cast<uint32_t>(removal.openResult), 16);
    writeErr(MsgRegistryAbort);
    endLine(StdStream::Err);
    return removal;
  }
  const std::string id = readTaskId(opened);
  platformCloseKey(opened);
  if (id.empty()) {
    recordLine(*runRecord, "no usable Id in", "HKEY_LOCAL_MACHINE\\" + removal.treeKey);
    return removal;
  }

  removal.tasksKey = std::string(TaskCacheBase) + "\\Tasks\\" + id;
  writeOut(MsgTreeKeyFound);
  writeOut(removal.treeKey);
  endLine(StdStream::Out);
  writeOut(MsgTasksKeyFound);
  writeOut(removal.tasksKey);
  endLine(StdStream::Out);

  setColour(ColourRed);
  writeOut(MsgAskDeleteKeys);
  setColour(ColourNormal);
  removal.confirmed = askYesNo();
  recordAnswer(*runRecord, "delete registry keys HKEY_LOCAL_MACHINE\\" + removal.treeKey +
                               " and HKEY_LOCAL_MACHINE\\" + removal.tasksKey,
               removal.confirmed);
  if (!removal.confirmed) {
    writeOut(MsgKeysKept);
    endLine(StdStream::Out);
    recordLine(*runRecord, "registry keys", "kept by the user");
    return removal;
  }
  // Backed up before they go, so that a mistake can be undone.
  backupKeys(runRecord, {removal.treeKey, removal.tasksKey});
  removal.tree = deleteKeyAndReport(removal.treeKey, *runRecord);
  removal.tasks = deleteKeyAndReport(removal.tasksKey, *runRecord);
  return removal;
}
