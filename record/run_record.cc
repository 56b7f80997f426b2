#include "record/run_record.h"

#include <stdint.h>
#include <stdio.h>

#ifndef VORKEL_VERSION
#define VORKEL_VERSION "unknown"
#endif

namespace {

const char LogName[] = "vorkelbraith-remover.log";
// UTF-8 with a byte-order mark and CR LF line ends: Notepad on Windows 7
// shows Chinese names right.
const char Utf8Mark[] = "\xEF\xBB\xBF";
const char LineEnd[] = "\r\n";

std::string twoDigits(int value) {
  char text[16];
  snprintf(text, sizeof text, "%02d", value);
  return text;
}

void append(const RunRecord& record, const std::string& text) {
  if (!record.logPath.empty()) platformAppendToFile(record.logPath, text);
}

// ---- UTF-8 and UTF-16 LE, for the backup -------------------------------------

std::string utf16le(const std::string& utf8) {
  std::string out;
  auto unit = [&out](uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
  };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
      code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += extra + 1;
    if (code >= 0x10000) {
      unit(0xD800 | (code - 0x10000) >> 10);
      unit(0xDC00 | (code & 0x3FF));
    } else {
      unit(code);
    }
  }
  return out;
}

// A REG_SZ's bytes as text, when regedit's quoted form gives exactly those
// bytes back: UTF-16 that pairs up, one terminating zero, no other zero and
// no line break.
bool quotableString(const std::string& data, std::string* utf8) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const size_t units = data.size() / 2 - 1;
  auto unitAt = [&data](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(data[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(data[2 * i + 1])) << 8;
  };
  if (unitAt(units) != 0) return false;
  for (size_t i = 0; i < units; ++i) {
    uint32_t code = unitAt(i);
    if (code == 0 || code == '\r' || code == '\n' || (code >= 0xDC00 && code < 0xE000))
      return false;
    if (code >= 0xD800 && code < 0xDC00) {
      if (i + 1 >= units || unitAt(i + 1) < 0xDC00 || unitAt(i + 1) >= 0xE000) return false;
      code = 0x10000 + ((code & 0x3FF) << 10) + (unitAt(++i) & 0x3FF);
    }
    if (code < 0x80) {
      *utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      *utf8 += static_cast<char>(0xC0 | code >> 6);
      *utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *utf8 += static_cast<char>(0xE0 | code >> 12);
      *utf8 += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *utf8 += static_cast<char>(0xF0 | code >> 18);
      *utf8 += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      *utf8 += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return true;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// hex:01,02,... or hex(N):..., broken into lines as regedit breaks them.
std::string hexValue(const std::string& prefix, uint32_t type, const std::string& data) {
  char kind[24];
  if (type == 3)
    snprintf(kind, sizeof kind, "hex:");
  else
    snprintf(kind, sizeof kind, "hex(%x):", static_cast<unsigned>(type));
  std::string out = prefix + kind;
  size_t column = out.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > 76) {
        out += std::string("\\") + LineEnd + "  ";
        column = 2;
      }
    }
  }
  return out;
}

// The key as regedit names it: each name once separated (the registry has
// no empty names, so "a\\b" is a\b).
std::string regKeyName(const std::string& subKey) {
  std::string name = "HKEY_LOCAL_MACHINE";
  for (char c : "\\" + subKey)
    if (c != '\\' || name.back() != '\\') name += c;
  if (name.back() == '\\') name.pop_back();
  return name;
}

}  // namespace

RunRecord beginRunRecord(const std::string& systemRoot, bool administrator) {
  RunRecord record;
  const LocalTime now = platformLocalTime();
  record.stamp = std::to_string(now.year) + twoDigits(now.month) + twoDigits(now.day) + "-" +
                 twoDigits(now.hour) + twoDigits(now.minute) + twoDigits(now.second);
  record.folder = systemRoot + "\\Debug";
  record.logPath = record.folder + "\\" + LogName;
  platformMakeFolder(record.folder);
  // A new file starts with the byte-order mark; one that is there is added to.
  platformWriteNewFile(record.logPath, Utf8Mark);
  append(record, std::string("==== vorkelbraith-remover ") + VORKEL_VERSION + " ====" +
                     LineEnd);
  recordLine(record, "time", std::to_string(now.year) + "-" + twoDigits(now.month) + "-" +
                                 twoDigits(now.day) + " " + twoDigits(now.hour) + ":" +
                                 twoDigits(now.minute) + ":" + twoDigits(now.second));
  recordLine(record, "computer", platformComputerName());
  recordLine(record, "administrator", administrator ? "yes" : "no");
  return record;
}

void recordLine(const RunRecord& record, const std::string& label, const std::string& value) {
  append(record, label + ": " + value + LineEnd);
}

void recordAnswer(const RunRecord& record, const std::string& question, bool yes) {
  recordLine(record, "answer", question + ": " + (yes ? "yes" : "no"));
}

void endRunRecord(const RunRecord& record, int status) {
  append(record, "exit status: " + std::to_string(status) + LineEnd + LineEnd);
}

std::string regFileSection(const std::string& subKey, const std::vector<KeyValue>& values) {
  std::string text = "[" + regKeyName(subKey) + "]" + LineEnd;
  const uint32_t String = 1, Number = 4;
  for (const KeyValue& value : values) {
    const std::string name = (value.name.empty() ? "@" : quoted(value.name)) + "=";
    std::string utf8;
    if (value.type == String && quotableString(value.data, &utf8)) {
      text += name + quoted(utf8);
    } else if (value.type == Number && value.data.size() == 4) {
      char number[16];
      snprintf(number, sizeof number, "dword:%02x%02x%02x%02x",
               static_cast<unsigned char>(value.data[3]), static_cast<unsigned char>(value.data[2]),
               static_cast<unsigned char>(value.data[1]), static_cast<unsigned char>(value.data[0]));
      text += name + number;
    } else {
      text += hexValue(name, value.type, value.data);
    }
    text += LineEnd;
  }
  return text + LineEnd;
}

void backupKeys(RunRecord* record, const std::vector<std::string>& subKeys) {
  std::string text;
  for (const std::string& subKey : subKeys) {
    PlatformKey* key = nullptr;
    long result = platformOpenKey(subKey, &key);
    std::vector<KeyValue> values;
    if (result == 0) {
      result = platformReadValues(key, &values);
      platformCloseKey(key);
    }
    if (result == 0) {
      text += regFileSection(subKey, values);
    } else {
      // Said in the file too, where regedit takes it for a comment.
      text += "; " + regKeyName(subKey) + ": not read, error " + std::to_string(result) +
              LineEnd + LineEnd;
      recordLine(*record, "backup of " + regKeyName(subKey),
                 "not read, error " + std::to_string(result));
    }
  }
  long result = 0;
  if (record->backupPath.empty()) {
    // Never over an earlier backup: the next free name.
    const std::string base = record->folder + "\\vorkelbraith-remover-" + record->stamp;
    const std::string header = std::string("Windows Registry Editor Version 5.00") + LineEnd +
                               LineEnd;
    const std::string bytes = "\xFF\xFE" + utf16le(header + text);
    for (int copy = 1; copy < 100; ++copy) {
      const std::string path = base + (copy == 1 ? "" : "-" + std::to_string(copy)) + ".reg";
      result = platformWriteNewFile(path, bytes);
      if (result != 80) {
        if (result == 0) record->backupPath = path;
        break;
      }
    }
  } else {
    result = platformAppendToFile(record->backupPath, utf16le(text));
  }
  recordLine(*record, "registry backup",
             result == 0 ? record->backupPath : "not written, error " + std::to_string(result));
}
