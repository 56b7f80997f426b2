#include "tasks/task_actions.h"

#include <stdio.h>

#include "text/text.h"

namespace {

// Every field is little endian. Each read checks that the bytes left hold
// the field; after a first failure every read gives nothing, so one action
// reads as straight-line code and the reason names the first failure.
struct Cursor {
  const unsigned char* bytes = nullptr;
  size_t size = 0;
  size_t at = 0;
  int action = 0;  // the number of the action being read, from 1; 0 before
  std::string reason;
};

// "the context", "action 2's arguments", "action 1's attachment 3".
std::string fieldName(const Cursor& cursor, const char* field, uint32_t number) {
  std::string name =
      cursor.action == 0 ? std::string("the ") : "action " + std::to_string(cursor.action) + "'s ";
  name += field;
  if (number != 0) name += " " + std::to_string(number);
  return name;
}

bool refuse(Cursor* cursor, const std::string& reason) {
  if (cursor->reason.empty()) cursor->reason = reason;
  return false;
}

// Whether count more bytes are there, refusing the value when they are not.
bool holds(Cursor* cursor, uint64_t count, const char* field, uint32_t number = 0) {
  if (!cursor->reason.empty()) return false;
  if (count <= cursor->size - cursor->at) return true;
  return refuse(cursor, "cut short in " + fieldName(*cursor, field, number));
}

uint32_t readNumber(Cursor* cursor, int size, const char* field, uint32_t number = 0) {
  if (!holds(cursor, size, field, number)) return 0;
  uint32_t value = 0;
  for (int k = 0; k < size; ++k) value |= uint32_t(cursor->bytes[cursor->at + k]) << (8 * k);
  cursor->at += size;
  return value;
}

uint16_t readU16(Cursor* cursor, const char* field) {
  return static_cast<uint16_t>(readNumber(cursor, 2, field));
}

// A counted UTF-16 string as UTF-8 (a unit that pairs with nothing kept, as
// in every name the system gives); "" once the value is refused.
std::string readString(Cursor* cursor, const char* field, uint32_t number = 0) {
  const uint32_t count = readNumber(cursor, 4, field, number);
  if (!holds(cursor, count, field, number)) return std::string();
  if (count % 2 != 0) {
    refuse(cursor, "odd string length in " + fieldName(*cursor, field, number));
    return std::string();
  }
  const std::u16string units = utf16FromLeBytes(
      std::string(reinterpret_cast<const char*>(cursor->bytes + cursor->at), count));
  cursor->at += count;
  return utf8FromUtf16(units.data(), units.size());
}

void skipStrings(Cursor* cursor, uint32_t count, const char* field) {
  for (uint32_t k = 1; k <= count && cursor->reason.empty(); ++k) readString(cursor, field, k);
}

// Reads the action that starts at the cursor; a program goes into programs.
void readAction(Cursor* cursor, uint16_t version, std::vector<TaskAction>* programs) {
  const uint16_t kind = readU16(cursor, "kind");
  readString(cursor, "id");
  if (!cursor->reason.empty()) return;
  switch (kind) {
    case ActionKindProgram: {
      TaskAction program;
      program.command = readString(cursor, "command");
      program.arguments = readString(cursor, "arguments");
      readString(cursor, "working folder");
      if (version == ActionsVersion10) readU16(cursor, "flags");
      programs->push_back(std::move(program));
      return;
    }
    case ActionKindComHandler:
      if (holds(cursor, 16, "class id")) cursor->at += 16;
      readString(cursor, "data");
      return;
    case ActionKindMail: {
      skipStrings(cursor, 8, "mail text");
      // Each counted string takes at least its four-byte count: a count the
      // bytes left cannot hold is refused before any of it is read.
      const uint32_t attachments = readNumber(cursor, 4, "attachment count");
      if (holds(cursor, uint64_t(attachments) * 4, "attachments"))
        skipStrings(cursor, attachments, "attachment");
      const uint32_t headers = readNumber(cursor, 4, "header count");
      if (!holds(cursor, uint64_t(headers) * 8, "headers")) return;
      for (uint32_t k = 1; k <= headers && cursor->reason.empty(); ++k) {
        readString(cursor, "header", k);  // its name
        readString(cursor, "header", k);  // and its value
      }
      return;
    }
    case ActionKindMessageBox:
      skipStrings(cursor, 2, "message box text");
      return;
    default: {
      char hex[8];
      snprintf(hex, sizeof hex, "0x%04x", kind);
      refuse(cursor, std::string("unknown action kind ") + hex + " in action " +
                         std::to_string(cursor->action));
    }
  }
}

}  // namespace

RegistryActions decodeTaskActions(const unsigned char* bytes, size_t size) {
  RegistryActions result;
  Cursor cursor;
  cursor.bytes = bytes;
  cursor.size = size;
  result.version = readU16(&cursor, "version");
  if (cursor.reason.empty() && result.version != ActionsVersion81 &&
      result.version != ActionsVersion10)
    refuse(&cursor, "unknown version " + std::to_string(result.version));
  if (result.version == ActionsVersion10) readString(&cursor, "context");
  while (cursor.reason.empty() && cursor.at < size) {
    ++cursor.action;
    readAction(&cursor, result.version, &result.programs);
  }
  result.ok = cursor.reason.empty();
  if (!result.ok) {
    result.reason = std::move(cursor.reason);
    result.programs.clear();
  }
  return result;
}

RegistryActions decodeTaskActions(const std::string& value) {
  return decodeTaskActions(reinterpret_cast<const unsigned char*>(value.data()), value.size());
}
