#include "record/run_record.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/task_text.h"

namespace {

std::string utf16z(const std::string& utf8) {
  return encodeUnicode(utf8, 2, false, false) + std::string(2, '\0');
}

// Each value as regedit writes it, so that importing the backup gives back
// exactly the bytes and type that were there.
TEST(RunRecord, BackupWritesEachValueAsRegeditImportsIt) {
  const struct {
    KeyValue value;
    const char* line;
  } cases[] = {
      {{"", 1, utf16z("x")}, "@=\"x\""},
      {{"a\"b\\c", 1, utf16z("C:\\d \"e\"")}, "\"a\\\"b\\\\c\"=\"C:\\\\d \\\"e\\\"\""},
      {{"s", 1, utf16z(u8"计划")}, u8"\"s\"=\"计划\""},
      // Strings the quoted form cannot give back byte for byte.
      {{"s", 1, encodeUnicode("ab", 2, false, false)}, "\"s\"=hex(1):61,00,62,00"},
      {{"s", 1, utf16z("a\r\n")}, "\"s\"=hex(1):61,00,0d,00,0a,00,00,00"},
      {{"s", 1, std::string("a\0\0\0b\0\0\0", 8)}, "\"s\"=hex(1):61,00,00,00,62,00,00,00"},
      {{"s", 1, std::string("\x00\xd8\0\0", 4)}, "\"s\"=hex(1):00,d8,00,00"},
      {{"d", 4, std::string("\x78\x56\x34\x12", 4)}, "\"d\"=dword:12345678"},
      {{"d", 4, std::string("\x01\x02\x03", 3)}, "\"d\"=hex(4):01,02,03"},
      {{"q", 11, std::string("\x01\0\0\0\0\0\0\x80", 8)}, "\"q\"=hex(b):01,00,00,00,00,00,00,80"},
      {{"e", 2, utf16z("%a%")}, "\"e\"=hex(2):25,00,61,00,25,00,00,00"},
      {{"n", 0, ""}, "\"n\"=hex(0):"},
      {{"o", 0x1234, "z"}, "\"o\"=hex(1234):7a"},
      {{"b", 3, std::string(30, '\xff')},
       "\"b\"=hex:ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,\\\r\n"
       "  ff,ff,ff,ff,ff,ff,ff"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ("[HKEY_LOCAL_MACHINE\\K\\Tree\\T]\r\n" + std::string(c.line) + "\r\n\r\n",
              regFileSection("K\\Tree\\\\T", {c.value}))
        << c.line;
  }
}

}  // namespace
