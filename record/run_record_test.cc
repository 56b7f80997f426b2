#include "record/run_record.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/task_text.h"
#include "tests/test_support.h"

namespace {

std::string utf16z(const std::string& utf8) {
  return encodeUnicode(utf8, 2, false, false) + std::string(2, '\0');
}

std::string section(const std::string& subKey, const std::vector<KeyValue>& values,
                    std::vector<std::string>* notBackedUp = nullptr) {
  std::vector<std::string> ignored;
  return regFileSection({subKey, ErrorSuccess, values}, notBackedUp ? notBackedUp : &ignored);
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
              section("K\\Tree\\\\T", {c.value}))
        << c.line;
  }
}

// A name with a line break could close the key's section and open one of
// its own choosing: it is named in a comment, and nothing of it is written.
TEST(RunRecord, BackupNamesWhatItCannotHoldInComments) {
  std::vector<std::string> notBackedUp;
  EXPECT_EQ("; HKEY_LOCAL_MACHINE\\K\\Tree\\Upd^0D^0A[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]: not "
            "backed up, its name holds a control character\r\n\r\n",
            section("K\\Tree\\Upd\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]",
                    {{"Id", 1, utf16z("{1}")}}, &notBackedUp));
  EXPECT_EQ(std::vector<std::string>{"HKEY_LOCAL_MACHINE\\K\\Tree\\Upd\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]"},
            notBackedUp);
  notBackedUp.clear();
  EXPECT_EQ("[HKEY_LOCAL_MACHINE\\K]\r\n\"a\"=\"1\"\r\n; value x^0A@=\"2\": not backed up, its "
            "name holds a control character\r\n\"b\"=\"3\"\r\n\r\n",
            section("K", {{"a", 1, utf16z("1")}, {"x\n@=\"2\"", 1, utf16z("2")}, {"b", 1, utf16z("3")}},
                    &notBackedUp));
  EXPECT_EQ(std::vector<std::string>{"HKEY_LOCAL_MACHINE\\K value x\n@=\"2\""}, notBackedUp);
}

// One event a line: a value cannot end its line or write another's.
TEST(RunRecord, WritesControlCharactersInValuesVisibly) {
  InMachineFolder machine;
  makeFolders("C:/Windows");
  const RunRecord record = beginRunRecord("C:\\Windows", true);
  recordLine(record, "answer", "a^b\r\nfile deleted: C:\\x\t\x7f");
  recordLine(record, "plain", u8"C:\\用户\\a b.exe");
  const std::string log = readFile("C:/Windows/Debug/vorkelbraith-remover.log");
  EXPECT_NE(std::string::npos,
            log.find("\r\nanswer: a^^b^0D^0Afile deleted: C:\\x^09^7F\r\n"
                     u8"plain: C:\\用户\\a b.exe\r\n"))
      << log;
}

// Fleets parse this line: its keys, their order and their spelling stay.
TEST(RunRecord, OutcomeLineKeepsItsForm) {
  const struct { RunOutcome outcome; const char* text; } cases[] = {
      {{}, "dangerous=0 removed=0 incomplete=0 unjudged=0 restart=no"},
      {{true, 12, 3, 9, 40, true}, "dangerous=12 removed=3 incomplete=9 unjudged=40 restart=yes"},
      {{false, 1, 1, 0, 0, true}, "not-administrator"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, outcomeText(c.outcome));
}

}  // namespace
