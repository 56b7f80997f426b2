#include "tasks/task_definition.h"

#include <stdint.h>

#include <memory>
#include <new>

#include <pugixml.hpp>

#include "platform/platform.h"

namespace {

// The scheduler's own definitions are a few kilobytes; anything this large
// was not written by it and is not worth the memory.
const uint64_t LargestDefinition = uint64_t(256) << 20;

// The file's bytes, or null when it cannot be opened, is too large or the
// memory cannot be had. A file cut short while read gives what was read.
std::unique_ptr<unsigned char[]> readWholeFile(const std::string& path, size_t* size) {
  uint64_t fileSize = 0;
  PlatformFile* file = platformOpenFile(path, &fileSize);
  if (file == nullptr) return nullptr;
  std::unique_ptr<unsigned char[]> contents;
  if (fileSize <= LargestDefinition)
    contents.reset(new (std::nothrow) unsigned char[static_cast<size_t>(fileSize)]);
  size_t filled = 0;
  while (contents && filled < fileSize) {
    int64_t got = platformReadFile(file, contents.get() + filled,
                                   static_cast<size_t>(fileSize) - filled);
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  platformCloseFile(file);
  *size = filled;
  return contents;
}

// How pugixml would take the bytes by themselves: UTF-16 little endian when
// they start with its byte-order mark and are not UTF-32.
bool isUtf16Le(const unsigned char* bytes, size_t size) {
  return size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xFE &&
         !(bytes[2] == 0 && bytes[3] == 0);
}

// Four UTF-16 LE units at in as one number, unit k in bits 16k to 16k+15.
uint64_t fourUnits(const unsigned char* in) {
  return uint64_t(in[0]) | uint64_t(in[1]) << 8 | uint64_t(in[2]) << 16 |
         uint64_t(in[3]) << 24 | uint64_t(in[4]) << 32 | uint64_t(in[5]) << 40 |
         uint64_t(in[6]) << 48 | uint64_t(in[7]) << 56;
}

// The scheduler writes UTF-16 LE, which pugixml turns into UTF-8 before it
// parses, in two passes over every unit. This is the same conversion in one
// pass: each code point as UTF-8, surrogates that are not a pair dropped, an
// odd last byte ignored. out holds at least 3 bytes for every unit, and gets
// a terminating zero as pugixml's own buffer does; returns the length
// without it.
size_t utf16LeToUtf8(const unsigned char* in, size_t size, unsigned char* out) {
  const size_t units = size / 2;
  unsigned char* const start = out;
  size_t i = 0;
  while (i < units) {
    // Nearly all of a definition is ASCII: four units at once while it lasts.
    if (i + 4 <= units) {
      uint64_t four = fourUnits(in + 2 * i);
      if ((four & 0xFF80FF80FF80FF80u) == 0) {
        out[0] = static_cast<unsigned char>(four);
        out[1] = static_cast<unsigned char>(four >> 16);
        out[2] = static_cast<unsigned char>(four >> 32);
        out[3] = static_cast<unsigned char>(four >> 48);
        out += 4;
        i += 4;
        continue;
      }
    }
    uint32_t unit = in[2 * i] | uint32_t(in[2 * i + 1]) << 8;
    ++i;
    if (unit < 0x80) {
      *out++ = static_cast<unsigned char>(unit);
    } else if (unit < 0x800) {
      *out++ = static_cast<unsigned char>(0xC0 | unit >> 6);
      *out++ = static_cast<unsigned char>(0x80 | (unit & 0x3F));
    } else if (unit < 0xD800 || unit >= 0xE000) {
      *out++ = static_cast<unsigned char>(0xE0 | unit >> 12);
      *out++ = static_cast<unsigned char>(0x80 | (unit >> 6 & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (unit & 0x3F));
    } else if (unit < 0xDC00 && i < units) {
      uint32_t next = in[2 * i] | uint32_t(in[2 * i + 1]) << 8;
      if (next >= 0xDC00 && next < 0xE000) {
        uint32_t code = 0x10000 + ((unit & 0x3FF) << 10) + (next & 0x3FF);
        *out++ = static_cast<unsigned char>(0xF0 | code >> 18);
        *out++ = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
        ++i;
      }
    }
  }
  *out = 0;
  return static_cast<size_t>(out - start);
}

}  // namespace

TaskRecord readTaskDefinition(const std::string& path) {
  TaskRecord record;
  size_t size = 0;
  std::unique_ptr<unsigned char[]> contents = readWholeFile(path, &size);
  if (!contents) return record;
  // Read through the platform layer rather than load_file so that paths
  // mean the same on every backend and a device name is never opened; the
  // parse is the one load_file makes of the same bytes. UTF-16 LE is given
  // to the parser already converted, as the bytes and length its own
  // conversion would give it (the text and the zero after it).
  std::unique_ptr<unsigned char[]> converted;
  if (isUtf16Le(contents.get(), size)) {
    converted.reset(new (std::nothrow) unsigned char[size / 2 * 3 + 1]);
    if (!converted) return record;  // as when the parser runs out of memory
    size = utf16LeToUtf8(contents.get(), size, converted.get()) + 1;
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
  pugi::xml_node task = document.child("Task");
  if (task.empty()) return record;
  record.uri = task.child("RegistrationInfo").child("URI").child_value();
  pugi::xml_node exec = task.child("Actions").child("Exec");
  record.command = exec.child("Command").child_value();
  record.arguments = exec.child("Arguments").child_value();
  return record;
}
