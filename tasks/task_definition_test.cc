#include "tasks/task_definition.h"

#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "tests/test_support.h"

namespace {

using Programs = std::vector<std::pair<std::string, std::string>>;

// A record's URI, its first action's fields and the actions after that one.
struct Fields : std::tuple<std::string, std::string, std::string, Programs> {
  // cppcheck-suppress noExplicitConstructor ; the rows give a brace list for one
  Fields(const std::string& uri = "", const std::string& command = "",
         const std::string& arguments = "", const Programs& later = {})
      : tuple(uri, command, arguments, later) {}
};

Fields fieldsOf(const TaskRecord& record) {
  Programs later;
  for (size_t i = 1; i < record.actions.size(); ++i)
    later.emplace_back(record.actions[i].command, record.actions[i].arguments);
  return Fields(record.uri, record.command, record.arguments, later);
}

Fields readBytes(const std::string& bytes) {
  ScopedTempDir folder;
  writeFile(folder.path + "/task", bytes);
  return fieldsOf(readTaskDefinition(folder.path + "/task"));
}

std::string task(const std::string& inside) {
  return "<?xml version=\"1.0\"?>\n<Task>" + inside + "</Task>";
}

std::string exec(const std::string& inside) {
  return task("<Actions Context=\"Author\"><Exec>" + inside + "</Exec></Actions>");
}

}  // namespace

TEST(TaskDefinition, ReadsEveryEncodingThePrologueAllows) {
  const std::string uri = u8"\\Microsoft\\Windows\\更新\\Tâche 😀";
  const std::string command = u8"C:\\Windows\\System32\\cmd.exe";
  const std::string arguments = u8"/c \"C:\\用户\\a&b <1>.exe\" 😀";
  const std::string xml = schedulerTaskXml(uri, command, arguments);
  const struct { const char* name; std::string bytes; } cases[] = {
    {"UTF-16 LE with BOM, as the scheduler writes", utf16leWithBom(xml)},
    {"UTF-16 LE without BOM", encodeUnicode(xml, 2, false, false)},
    {"UTF-16 BE with BOM", encodeUnicode(xml, 2, true, true)},
    {"UTF-32 LE with BOM", encodeUnicode(xml, 4, false, true)},
    {"UTF-32 BE with BOM", encodeUnicode(xml, 4, true, true)},
    {"UTF-8 with BOM", "\xEF\xBB\xBF" + xml},
    {"UTF-8 without BOM", xml},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Fields(uri, command, arguments), readBytes(c.bytes)) << c.name;
}

TEST(TaskDefinition, TakesTextAsTheParserDeliversIt) {
  const std::string uriOnly = "<RegistrationInfo><URI>\\u</URI></RegistrationInfo>";
  const struct { const char* name; std::string bytes; Fields expected; } cases[] = {
    {"Latin-1 declared",
     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Task><RegistrationInfo>"
     "<URI>\\caf\xE9</URI></RegistrationInfo><Actions><Exec><Command>cmd.exe"
     "</Command><Arguments>\xE9t\xE9</Arguments></Exec></Actions></Task>",
     {u8"\\café", "cmd.exe", u8"été"}},
    {"CDATA kept literally",
     exec("<Command>cmd.exe</Command><Arguments><![CDATA[/c &quot;C:\\a.exe&quot;]]>"
          "</Arguments>"),
     {"", "cmd.exe", "/c &quot;C:\\a.exe&quot;"}},
    {"references decoded",
     exec("<Command>&quot;C:\\x\\cmd.exe&quot;</Command>"
          "<Arguments>&lt;&amp;&gt;&apos;&#x4E2D;&#22269;</Arguments>"),
     {"", "\"C:\\x\\cmd.exe\"", u8"<&>'中国"}},
    {"a comment splits no text",
     exec("<Command>cmd.exe</Command><Arguments>/c C:\\a<!-- x -->.exe</Arguments>"),
     {"", "cmd.exe", "/c C:\\a.exe"}},
    {"nor does a processing instruction", exec("<Command>cmd<?pi x?>.exe</Command>"),
     {"", "cmd.exe", ""}},
    {"CDATA and text in turn",
     exec("<Arguments>/c <![CDATA[C:\\a]]>.exe<![CDATA[ -q]]> /s</Arguments>"),
     {"", "", "/c C:\\a.exe -q /s"}},
    {"blanks alone between comments are no text",
     exec("<Arguments>C:\\a<!-- --> <!-- -->.exe</Arguments>"), {"", "", "C:\\a.exe"}},
    {"blank-only text is no text, other blanks are kept",
     task("<RegistrationInfo><URI> \t\r\n </URI></RegistrationInfo>"
          "<Actions><Exec><Command>  cmd.exe\t</Command><Arguments> /c x </Arguments>"
          "</Exec></Actions>"),
     {"", "  cmd.exe\t", " /c x "}},
    {"line ends normalised",
     exec("<Command>a\r\nb\rc</Command><Arguments>\r\n/c\r\n</Arguments>"),
     {"", "a\nb\nc", "\n/c\n"}},
    {"first top-level Task, not one nested elsewhere",
     "<Other><Task><Actions><Exec><Command>nested</Command></Exec></Actions></Task>"
     "</Other><Task>" + uriOnly + "</Task><Task><Actions><Exec><Command>second"
     "</Command></Exec></Actions></Task>",
     {"\\u", "", ""}},
    {"every Exec in turn, the first without Arguments",
     task(uriOnly + "<Actions><ComHandler><ClassId>{0}</ClassId></ComHandler>"
          "<Exec><Command>first</Command></Exec><ShowMessage/>"
          "<Exec><Command>second</Command><Arguments>x</Arguments></Exec><Exec/></Actions>"),
     {"\\u", "first", "", {{"second", "x"}, {"", ""}}}},
    {"the first Actions only",
     task("<Actions><Exec><Command>a</Command></Exec></Actions>"
          "<Actions><Exec><Command>b</Command></Exec></Actions>"),
     {"", "a", ""}},
    {"empty file", "", {"", "", ""}},
    {"declaration only", "<?xml version=\"1.0\"?>", {"", "", ""}},
    {"malformed after a complete Exec",
     "<Task>" + uriOnly + "<Actions><Exec><Command>cmd.exe</Command></Exec></Actions>",
     {"", "", ""}},
    {"no Task element", "<Root><Task/></Root>", {"", "", ""}},
    {"names are case-sensitive", "<task><Actions><Exec><Command>cmd.exe</Command>"
     "</Exec></Actions></task>", {"", "", ""}},
    {"a zero byte ends the text: the '>' after it closes nothing",
     "<Task><Actions><Exec><Command>cmd.exe</Command></Exec></Actions></Task" +
         std::string("\0>", 2),
     {"", "", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, readBytes(c.bytes)) << c.name;
}

TEST(TaskDefinition, GivesEmptyRecordForWhatIsNotARegularReadableFile) {
  ScopedTempDir folder;
  const std::string valid = schedulerTaskXml("\\t", "cmd.exe", "/c C:\\a.exe");
  writeFile(folder.path + "/dir/inner", valid);
  std::string huge = folder.path + "/huge";  // just above the 256 MiB cap
  writeFile(huge, valid);
  ASSERT_EQ(0, truncate(huge.c_str(), (off_t(256) << 20) + 1));
  std::string fifo = folder.path + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  ASSERT_EQ(0, symlink("huge", (folder.path + "/link").c_str()));
  // Too large is read no further, as a definition that does not parse.
  const struct { std::string path; FileFailure failure; long error; } cases[] = {
      {folder.path + "/missing", FileFailure::Missing, ErrorNotFound},
      {folder.path + "/dir", FileFailure::NotAFile, ErrorSuccess},
      {huge, FileFailure::None, ErrorSuccess},
      {fifo, FileFailure::NotAFile, ErrorSuccess},
      {folder.path + "/link", FileFailure::ContentElsewhere, ErrorSuccess},
      {"", FileFailure::Missing, ErrorNotFound},
  };
  for (const auto& c : cases) {
    const TaskRecord record = readTaskDefinition(c.path);
    EXPECT_EQ(Fields(), fieldsOf(record)) << c.path;
    EXPECT_EQ(c.failure, record.unread.failure) << c.path;
    EXPECT_EQ(c.error, record.unread.error) << c.path;
  }
  // The same bytes at a readable size do give the record.
  EXPECT_EQ(Fields("\\t", "cmd.exe", "/c C:\\a.exe"), readBytes(valid));
}

TEST(TaskDefinition, DecodesUtf16UnitsAsTheParserDoes) {
  // The URI holds the units given; the rest of the file is ASCII.
  auto file = [](const std::vector<unsigned>& units, const std::string& tail) {
    std::string bytes = utf16leWithBom(
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task><RegistrationInfo><URI>\\");
    for (unsigned unit : units) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes + utf16leWithBom("</URI></RegistrationInfo></Task>\r\n").substr(2) + tail;
  };
  const struct { const char* name; std::vector<unsigned> units; std::string tail, uri; } cases[] = {
    {"one to three UTF-8 bytes", {'a', 0xE9, 0x7FF, 0x800, 0x4E2D, 0xD7FF}, "",
     u8"\\aé\u07FF\u0800中\uD7FF"},
    {"above the surrogates", {0xE000, 0xFFFD, 0xFFFF}, "", u8"\\\uE000\uFFFD\uFFFF"},
    {"a pair is one code point", {0xD83D, 0xDE00, 0xDBFF, 0xDFFF}, "", u8"\\😀\U0010FFFF"},
    // A surrogate that pairs with nothing is kept as the three bytes of its
    // value, as the system's names are: the parser itself would drop it.
    {"a lone leading surrogate is kept", {'a', 0xD800, 'b'}, "", "\\a\xED\xA0\x80" "b"},
    {"a lone trailing surrogate is kept", {'a', 0xDC00, 'b'}, "", "\\a\xED\xB0\x80" "b"},
    {"two leading surrogates, then a pair", {0xD800, 0xD83D, 0xDE00}, "",
     "\\\xED\xA0\x80" u8"😀"},
    {"a leading surrogate before U+E000", {0xDBFF, 0xE000}, "", "\\\xED\xAF\xBF" u8"\uE000"},
    {"a leading surrogate ends the file", {'a'}, std::string("\x00\xD8", 2), "\\a"},
    {"an odd last byte is ignored", {'a'}, "<", "\\a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Fields(c.uri, "", ""), readBytes(file(c.units, c.tail))) << c.name;
}

// UTF-16 LE definitions are converted by the reader itself before parsing;
// the record must be what the parser gives for the same text in UTF-8 (a
// lone surrogate as its three bytes), for any units.
TEST(TaskDefinition, ConvertsUtf16LikeTheParserOnRandomUnits) {
  std::mt19937 random(20261208);
  ScopedTempDir folder;
  const std::string path = folder.path + "/task";
  int parsed = 0;
  const unsigned interesting[] = {'a', '<', '>', '&', ';', '/', 0x0A, 0x0D, 0x7F, 0x80,
                                  0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF,
                                  0xE000, 0xFFFE, 0xFFFF, 0x4E2D, 0x00};
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = utf16leWithBom("<Task><RegistrationInfo><URI>");
    const int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) {
      unsigned unit = random() % 3 == 0 ? random() % 0x10000
                                        : interesting[random() % (sizeof interesting / sizeof *interesting)];
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    bytes += utf16leWithBom("</URI></RegistrationInfo></Task>").substr(2);
    if (random() % 4 == 0) bytes.resize(bytes.size() - random() % 5);  // cut anywhere

    // The same units as UTF-8, written here independently of the reader.
    std::string utf8;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      uint32_t code = static_cast<unsigned char>(bytes[i]) |
                      static_cast<unsigned char>(bytes[i + 1]) << 8;
      const uint32_t next = i + 3 < bytes.size() ? (static_cast<unsigned char>(bytes[i + 2]) |
                                                    static_cast<unsigned char>(bytes[i + 3]) << 8)
                                                 : 0;
      if (code >= 0xD800 && code < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
        i += 2;
      }
      const int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
      utf8 += static_cast<char>(extra == 0 ? code : ((0xFF00 >> (extra + 1)) & 0xFF) | code >> (6 * extra));
      for (int k = extra - 1; k >= 0; --k) utf8 += static_cast<char>(0x80 | (code >> (6 * k) & 0x3F));
    }
    pugi::xml_document document;
    std::string expected;
    if (document.load_buffer(utf8.data(), utf8.size(), pugi::parse_default,
                             pugi::encoding_utf8)) {
      expected = document.child("Task").child("RegistrationInfo").child("URI").child_value();
      ++parsed;
    }
    writeFile(path, bytes);
    ASSERT_EQ(expected, readTaskDefinition(path).uri) << "round " << round;
  }
  EXPECT_GT(parsed, 1000);  // most rounds are documents, not parse errors
}
