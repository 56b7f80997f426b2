#include "tasks/task_definition.h"

#include <vector>

#include <pugixml.hpp>

#include "platform/platform.h"

namespace {

// The scheduler's own definitions are a few kilobytes; anything this large
// was not written by it and is not worth the memory.
const uint64_t LargestDefinition = uint64_t(256) << 20;

bool readWholeFile(const std::string& path, std::vector<char>* contents) {
  uint64_t size = 0;
  PlatformFile* file = platformOpenFile(path, &size);
  if (file == nullptr) return false;
  bool complete = size <= LargestDefinition;
  if (complete) {
    contents->resize(static_cast<size_t>(size));
    size_t filled = 0;
    while (filled < contents->size()) {
      int64_t got = platformReadFile(file, contents->data() + filled,
                                     contents->size() - filled);
      if (got <= 0) break;
      filled += static_cast<size_t>(got);
    }
    contents->resize(filled);  // a file cut short while read is parsed as it is
  }
  platformCloseFile(file);
  return complete;
}

}  // namespace

TaskRecord readTaskDefinition(const std::string& path) {
  TaskRecord record;
  std::vector<char> contents;
  if (!readWholeFile(path, &contents)) return record;
  pugi::xml_document document;
  // Read through the platform layer rather than load_file so that paths
  // mean the same on every backend and a device name is never opened; the
  // parse is the one load_file makes of the same bytes.
  pugi::xml_parse_result parsed =
      document.load_buffer_inplace(contents.data(), contents.size(),
                                   pugi::parse_default, pugi::encoding_auto);
  if (!parsed) return record;
  pugi::xml_node task = document.child("Task");
  if (task.empty()) return record;
  record.uri = task.child("RegistrationInfo").child("URI").child_value();
  pugi::xml_node exec = task.child("Actions").child("Exec");
  record.command = exec.child("Command").child_value();
  record.arguments = exec.child("Arguments").child_value();
  return record;
}
