#include "tasks/task_definition.h"

#include <stdint.h>

#include <memory>
#include <new>

#include <pugixml.hpp>

#include "platform/platform.h"
#include "text/text.h"

namespace {

// The scheduler's own definitions are a few kilobytes; anything this large
// was not written by it and is not worth the memory.
const uint64_t LargestDefinition = uint64_t(256) << 20;

// The file's bytes, or null when it is too large, the memory cannot be had
// or it cannot be read whole; why it could not be read goes in *record.
std::unique_ptr<unsigned char[]> readWholeFile(const std::string& path, size_t* size,
                                               TaskRecord* record) {
  const FileOpening opening = platformOpenFile(path);
  record->unread = opening.unread;
  if (!opening.file) return nullptr;
  std::unique_ptr<unsigned char[]> contents;
  if (opening.size <= LargestDefinition)
    contents.reset(new (std::nothrow) unsigned char[static_cast<size_t>(opening.size)]);
  size_t filled = 0;
  while (contents && filled < opening.size) {
    const FileRead got = platformReadFile(opening.file.get(), contents.get() + filled,
                                          static_cast<size_t>(opening.size) - filled);
    if (got.error != ErrorSuccess || got.bytes == 0) {
      // Part of a definition is not the definition: nothing of it is judged.
      const long error = got.error != ErrorSuccess ? got.error : ErrorCutShort;
      record->unread = {FileFailure::Refused, error};
      contents.reset();
      break;
    }
    filled += got.bytes;
  }
  *size = filled;
  return contents;
}

// How pugixml would take the bytes by themselves: UTF-16 little endian when
// they start with its byte-order mark and are not UTF-32.
bool isUtf16Le(const unsigned char* bytes, size_t size) {
  return size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xFE &&
         !(bytes[2] == 0 && bytes[3] == 0);
}

// The element's whole text, as an XML reader gives it: every text and CDATA
// child in turn, so a comment or processing instruction (which the parser
// keeps no node for) splits nothing. A run of blanks alone between two of
// them is no text, as it is no text on its own.
std::string wholeText(const pugi::xml_node& element) {
  std::string text;
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  return text;
}

}  // namespace

TaskRecord readTaskDefinition(const std::string& path) {
  TaskRecord record;
  size_t size = 0;
  std::unique_ptr<unsigned char[]> contents = readWholeFile(path, &size, &record);
  if (!contents) return record;
  // Read through the platform layer rather than load_file so that paths
  // mean the same on every backend and a device name is never opened; the
  // parse is the one load_file makes of the same bytes. UTF-16 LE is given
  // to the parser already converted, in one pass rather than the parser's
  // two, as the text and the zero after it. A surrogate that pairs with
  // nothing is kept (the parser would drop it), as every name the system
  // gives is: the scheduler names the task's keys with it.
  std::unique_ptr<unsigned char[]> converted;
  if (isUtf16Le(contents.get(), size)) {
    converted.reset(new (std::nothrow) unsigned char[size / 2 * 3 + 1]);
    if (!converted) return record;  // as when the parser runs out of memory
    size = utf8FromUtf16Le(contents.get(), size, converted.get()) + 1;
    contents.reset();
  }
  pugi::xml_document document;
  // Other bytes go to load_buffer, which like load_file parses UTF-8 from a
  // copy with a zero after it. Parsed in place, a zero byte inside the text
  // would end the document there and the file's last byte still close it.
  pugi::xml_parse_result parsed =
      converted ? document.load_buffer_inplace(converted.get(), size, pugi::parse_default,
                                               pugi::encoding_utf8)
                : document.load_buffer(contents.get(), size, pugi::parse_default,
                                       pugi::encoding_auto);
  if (!parsed) return record;
  record.parsed = true;
  pugi::xml_node task = document.child("Task");
  if (task.empty()) return record;
  record.uri = task.child("RegistrationInfo").child("URI").child_value();
  // Every Exec, not only the 32 the scheduler runs at most: a file holding
  // more was not written by it, and a program past the 32nd is judged rather
  // than passed over. Each costs no more than the parse already spent on it.
  for (pugi::xml_node exec = task.child("Actions").child("Exec"); exec;
       exec = exec.next_sibling("Exec"))
    record.actions.push_back(
        {wholeText(exec.child("Command")), wholeText(exec.child("Arguments"))});
  if (!record.actions.empty()) {
    record.command = record.actions.front().command;
    record.arguments = record.actions.front().arguments;
  }
  return record;
}
