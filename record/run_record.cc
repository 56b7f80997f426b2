#include "record/run_record.h"

#include <stdint.h>
#include <stdio.h>

#include "text/text.h"

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

// One event a line, whatever a value holds: a control character is written
// as ^ and two hexadecimal digits, and ^ itself as ^^, so no value can end
// a line or pass for another's text.
std::string recordedText(const std::string& text) {
  if (!hasControlCharacter(text) && text.find('^') == std::string::npos) return text;
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '^') {
      out += "^^";
    } else if (isControlCharacter(byte)) {
      const char* digits = "0123456789ABCDEF";
      out += '^';
      out += digits[byte >> 4];
      out += digits[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

void append(const RunRecord& record, const std::string& text) {
  if (!record.logPath.empty()) platformAppendToFile(record.logPath, text);
}

// A REG_SZ's bytes as text, when regedit's quoted form gives exactly those
// bytes back: UTF-16 that pairs up, one terminating zero, no other zero and
// no line break.
bool quotableString(const std::string& data, std::string* utf8) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  std::u16string units = utf16FromLeBytes(data);
  if (units.back() != 0) return false;
  units.pop_back();
  for (size_t i = 0; i < units.size();) {
    const uint32_t code = nextUtf16CodePoint(units.data(), units.size(), &i);
    if (code == 0 || code == '\r' || code == '\n' || isSurrogate(code))
      return false;
  }
  *utf8 = utf8FromUtf16(units.data(), units.size());
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
  append(record, recordedText(label) + ": " + recordedText(value) + LineEnd);
}

void recordAnswer(const RunRecord& record, const std::string& question, bool yes) {
  recordLine(record, "answer", question + ": " + (yes ? "yes" : "no"));
}

std::string outcomeText(const RunOutcome& outcome) {
  if (!outcome.administrator) return "not-administrator";
  return "dangerous=" + std::to_string(outcome.dangerous) +
         " removed=" + std::to_string(outcome.removed) +
         " incomplete=" + std::to_string(outcome.incomplete) +
         " unjudged=" + std::to_string(outcome.unjudged) +
         " restart=" + (outcome.restart ? "yes" : "no");
}

void endRunRecord(const RunRecord& record, const RunOutcome& outcome, int status) {
  recordLine(record, "outcome", outcomeText(outcome));
  append(record, "exit status: " + std::to_string(status) + LineEnd + LineEnd);
}

std::string regFileSection(const KeySnapshot& key, std::vector<std::string>* notBackedUp) {
  // A line break in a name would end the line regedit reads and start one
  // of the name's choosing: such a key or value is named in a comment only.
  if (hasControlCharacter(key.subKey)) {
    notBackedUp->push_back(regKeyName(key.subKey));
    return "; " + recordedText(regKeyName(key.subKey)) + ": not backed up, its name holds a " +
           "control character" + LineEnd + LineEnd;
  }
  std::string text = "[" + regKeyName(key.subKey) + "]" + LineEnd;
  for (const KeyValue& value : key.values) {
    if (hasControlCharacter(value.name)) {
      notBackedUp->push_back(regKeyName(key.subKey) + " value " + value.name);
      text += "; value " + recordedText(value.name) +
              ": not backed up, its name holds a control character" + LineEnd;
      continue;
    }
    const std::string name = (value.name.empty() ? "@" : quoted(value.name)) + "=";
    std::string utf8;
    if (value.type == ValueTypeString && quotableString(value.raw, &utf8)) {
      text += name + quoted(utf8);
    } else if (value.type == ValueTypeNumber && value.raw.size() == 4) {
      char number[16];
      snprintf(number, sizeof number, "dword:%02x%02x%02x%02x",
               static_cast<unsigned char>(value.raw[3]), static_cast<unsigned char>(value.raw[2]),
               static_cast<unsigned char>(value.raw[1]), static_cast<unsigned char>(value.raw[0]));
      text += name + number;
    } else {
      text += hexValue(name, value.type, value.raw);
    }
    text += LineEnd;
  }
  return text + LineEnd;
}

void backupKeys(RunRecord* record, const std::vector<KeySnapshot>& keys) {
  std::string text;
  for (const KeySnapshot& key : keys) {
    if (key.readResult == ErrorSuccess) {
      std::vector<std::string> notBackedUp;
      text += regFileSection(key, &notBackedUp);
      for (const std::string& name : notBackedUp)
        recordLine(*record, "not backed up, the name holds a control character", name);
    } else {
      // Said in the file too, where regedit takes it for a comment.
      const std::string why = key.readResult == ErrorKeyIsLink
                                  ? std::string("not read, the key is a registry link")
                                  : "not read, error " + std::to_string(key.readResult);
      text += "; " + recordedText(regKeyName(key.subKey)) + ": " + why + LineEnd + LineEnd;
      recordLine(*record, "backup of " + regKeyName(key.subKey), why);
    }
  }
  long result = ErrorSuccess;
  if (record->backupPath.empty()) {
    // Never over an earlier backup: the next free name.
    const std::string base = record->folder + "\\vorkelbraith-remover-" + record->stamp;
    const std::string header = std::string("Windows Registry Editor Version 5.00") + LineEnd +
                               LineEnd;
    const std::string bytes = "\xFF\xFE" + utf16LeFromUtf8(header + text);
    for (int copy = 1; copy < 100; ++copy) {
      const std::string path = base + (copy == 1 ? "" : "-" + std::to_string(copy)) + ".reg";
      result = platformWriteNewFile(path, bytes);
      if (result != ErrorFileExists) {
        if (result == ErrorSuccess) record->backupPath = path;
        break;
      }
    }
  } else {
    result = platformAppendToFile(record->backupPath, utf16LeFromUtf8(text));
  }
  recordLine(*record, "registry backup",
             result == ErrorSuccess ? record->backupPath
                                    : "not written, error " + std::to_string(result));
}
