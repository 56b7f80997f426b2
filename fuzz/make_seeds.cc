// Writes the fuzz targets' seed corpora and dictionaries into a folder:
//   make_seeds OUT  ->  OUT/<target>/seed-N and OUT/<target>.dict
// Task definitions come in every encoding the reader takes; argument lines
// sit on the edges of the path rule; Actions values hold every kind of
// action in both versions; the verdict's seeds name each file of its
// scratch machine; answers mix blanks, yes, no and other bytes; MD5's
// inputs cut themselves into pieces.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/task_text.h"

namespace {

std::string definition(const std::string& uri, const std::string& command,
                        const std::string& arguments, const std::string& encoding) {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n"
         "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
         "  <RegistrationInfo>\r\n    <URI>" + escapeXml(uri) + "</URI>\r\n"
         "  </RegistrationInfo>\r\n  <Triggers><LogonTrigger><Enabled>true</Enabled>"
         "</LogonTrigger></Triggers>\r\n  <Actions Context=\"Author\">\r\n    <Exec>\r\n"
         "      <Command>" + escapeXml(command) + "</Command>\r\n"
         "      <Arguments>" + escapeXml(arguments) + "</Arguments>\r\n"
         "    </Exec>\r\n  </Actions>\r\n</Task>\r\n";
}

void makeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    perror(path.c_str());
    exit(1);
  }
}

void writeSeeds(const std::string& folder, const std::vector<std::string>& seeds) {
  makeFolder(folder);
  int n = 0;
  for (const std::string& seed : seeds) {
    std::string path = folder + "/seed-" + std::to_string(++n);
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr || fwrite(seed.data(), 1, seed.size(), file) != seed.size() ||
        fclose(file) != 0) {
      perror(path.c_str());
      exit(1);
    }
  }
}

/// A libFuzzer dictionary: one quoted token a line, bytes as \xNN.
void writeDictionary(const std::string& path, const std::vector<std::string>& tokens) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    perror(path.c_str());
    exit(1);
  }
  for (const std::string& token : tokens) {
    fputc('"', file);
    for (unsigned char c : token) {
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x7F) fprintf(file, "\\x%02X", c);
      else fputc(c, file);
    }
    fputs("\"\n", file);
  }
  fclose(file);
}

std::vector<std::string> taskDefinitions() {
  const std::string uri = u8"\\Microsoft\\Windows\\更新\\Tâche 😀";
  const std::string command = "C:\\Windows\\System32\\cmd.exe";
  const std::string arguments = u8"/c \"C:\\用户\\a&b <1>.exe\" 😀";
  std::vector<std::string> seeds;
  for (const char* declared : {"UTF-16", "UTF-32"}) {
    const std::string xml = definition(uri, command, arguments, declared);
    const int unit = declared[4] == '1' ? 2 : 4;
    for (bool bigEndian : {false, true})
      for (bool mark : {true, false}) seeds.push_back(encodeUnicode(xml, unit, bigEndian, mark));
  }
  const std::string utf8 = definition(uri, command, arguments, "UTF-8");
  seeds.push_back(utf8);
  seeds.push_back("\xEF\xBB\xBF" + utf8);
  seeds.push_back(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Task><RegistrationInfo>"
      "<URI>\\caf\xE9</URI></RegistrationInfo><Actions><Exec><Command>cmd.exe"
      "</Command><Arguments>/c C:\\\xE9t\xE9.exe</Arguments></Exec></Actions></Task>");
  const std::string body =
      "<Task><RegistrationInfo><URI>\\u</URI></RegistrationInfo><Actions><Exec>";
  seeds.push_back(body + "<Command>cmd.exe</Command><Arguments><![CDATA[/c \"C:\\a.exe\"]]>"
                         "</Arguments></Exec></Actions></Task>");
  seeds.push_back(body + "<Command>&quot;C:\\x\\cmd.exe&quot;</Command><Arguments>"
                         "&lt;&amp;&gt;&apos;&#x4E2D;&#22269;</Arguments></Exec></Actions></Task>");
  seeds.push_back(body + "<Command>cmd.exe</Command><Arguments>/c C:\\a<!-- x -->.exe"
                         "</Arguments></Exec><Exec><Command>second</Command></Exec></Actions></Task>");
  seeds.push_back("<!DOCTYPE Task [<!ENTITY e \"x\">]><Task><?pi data?><Actions><Exec>"
                  "<Command>cmd.exe</Command></Exec></Actions></Task>");
  seeds.push_back(body + "<Command>cmd.exe</Command>");  // cut short
  seeds.push_back("");
  // UTF-16 LE with its mark, as the scheduler writes, around the units the
  // conversion treats apart: lone or reversed surrogates, a mark alone, an
  // odd last byte, non-ASCII text between runs of ASCII.
  const std::string le = "\xFF\xFE";
  auto units = [](const std::string& ascii) { return encodeUnicode(ascii, 2, false, false); };
  const std::string lone = std::string("\x00\xD8", 2), trail = std::string("\x00\xDC", 2);
  const std::string open = units("<Task><RegistrationInfo><URI>");
  const std::string close = units("</URI></RegistrationInfo><Actions><Exec><Command>cmd.exe"
                                  "</Command><Arguments>/c C:\\a.exe</Arguments></Exec>"
                                  "</Actions></Task>");
  for (const std::string& inside :
       {lone + units("ab"), trail + units("a"), trail + lone, lone + lone + trail,
        units("a") + encodeUnicode(u8"é中😀", 2, false, false) + units("abcde"), lone})
    seeds.push_back(le + open + inside + close);
  seeds.push_back(le + open + units("x") + close + "\n");  // odd last byte
  seeds.push_back(le + open + lone);                        // ends on a lone surrogate
  seeds.push_back(le);
  return seeds;
}

// Actions values of both versions: programs among the other kinds, empty
// strings, a lone surrogate, and values cut short or miscounted.
std::vector<std::string> actionsValues() {
  std::vector<std::string> seeds;
  for (unsigned version : {1u, 3u}) {
    std::string value = actionsValueHead(version);
    seeds.push_back(value);
    value += programAction(version, "C:\\Windows\\System32\\cmd.exe", "/c C:\\a.exe");
    seeds.push_back(value);
    value += u16Le(0x7777) + countedString("") + std::string(16, '\x11') + countedString("data");
    value += u16Le(0x8888);  // mail with an attachment and a header
    for (int k = 0; k < 9; ++k) value += countedString(k % 3 ? "" : "a@b");
    value += u32Le(1) + countedString("C:\\f.txt") + u32Le(1) + countedString("X-Name") +
             countedString(u8"值");
    value += u16Le(0x9999) + countedString("") + countedString("") + countedString("text");
    value += programAction(version, "", "");
    seeds.push_back(value);
    seeds.push_back(value.substr(0, value.size() - 1));
    // A lone surrogate, then a count past the end.
    seeds.push_back(actionsValueHead(version) + u16Le(0x6666) + countedString("") + u32Le(2) +
                    u16Le(0xDC00) + countedString("") + u32Le(0xFFFFFFFF));
  }
  return seeds;
}

std::vector<std::string> argumentLines() {
  return {
    "/c \"C:\\Users\\Public\\svc.exe\"", "/c C:\\ProgramData\\x\\y.exe",
    "/c \"D:\\a b\\c.exe\"", "/c C:\\t\\a.exe -q", "/c C:\\t\\a.exe /q",
    "/c copy C:\\a.txt D:\\b.exe", "/c echo hello", "C:\\a\\", "C:\\a\\\\b",
    "C:\\\\x D:\\y", "\"C:\\a\"b\"", "\"C:\\\"D:\\e\"", "\"C:\\a", "x\"c:\\a\\b\"c",
    "1:\\a @:\\b [:\\c `:\\d {:\\e", "C:\\a\r\nD:\\b", "\"C:\\a b\" C:\\c",
    "C:\\a*b?c<d>e|f:g/h", std::string("C:\\a\0b", 5), "\"C:\\\xC4\xE3\xBA\xC3.exe\"",
    "C:", "C:\\", "\"C:\\\"", "\"\"\"C:\\x\"\"\"", "z:\\" + std::string(40, 'a') + "\\",
  };
}

std::vector<std::string> verdictInputs() {
  const std::string cmd = std::string("C:\\Windows\\System32\\CMD.EXE") + '\0';
  std::vector<std::string> seeds;
  for (const char* args :
       {"/c C:\\p\\a.exe", "/c \"C:\\p\\a b.exe\"", "/c C:\\p\\a b.exe", "/c \"C:\\p\\ro.exe\"",
        "/c C:\\p\\b.exe", "/c C:\\p\\empty.exe", "/c C:\\p\\dir.exe", "/c C:\\p\\fifo.exe",
        "/c C:\\p\\link.exe", "/c C:\\p\\locked.exe", "/c C:\\p\\missing.exe",
        "/c d:\\x.exe", "/c start c:\\p\\a.exe", "/c C:\\p\\a.exe.exe", "/c echo .exe"})
    seeds.push_back(cmd + args);
  seeds.push_back(std::string("powershell.exe") + '\0' + "/c C:\\p\\a.exe");
  seeds.push_back(std::string("cmd.ex") + '\0' + "C:\\p\\a.exe");
  return seeds;
}

// Each piece's first byte sets its length: the RFC's test strings in a few
// pieces, and pieces that end on a block's edges, either side and far past.
std::vector<std::string> md5Inputs() {
  return {"", "abc", "\x05" "bcdemessage digest", std::string(64, '\x3F'),
          std::string(65, '\x40'), std::string(1, '\x81') + std::string(121, 'a'),
          "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
          std::string(1, '\xFF') + std::string(12000, '\x01'), std::string(300, '\0')};
}

std::vector<std::string> answerInputs() {
  return {"", "y", "n", "Y", "y\ny\ny\ny\ny\ny\ny\ny\n", " \t\v\f\r\ny", "yes\nno\n",
          "\xFFy", std::string("\0y", 2), "nnnnnnnnyyyy", "\r\n\r\n", "Yy Nn yY"};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
    return 1;
  }
  const std::string out = argv[1];
  makeFolder(out);
  writeSeeds(out + "/task_definition", taskDefinitions());
  writeSeeds(out + "/task_actions", actionsValues());
  writeSeeds(out + "/executable_path", argumentLines());
  writeSeeds(out + "/verdict", verdictInputs());
  writeSeeds(out + "/answers", answerInputs());
  writeSeeds(out + "/md5", md5Inputs());
  writeDictionary(out + "/task_definition.dict",
                  {"<?xml", "?>", "version=\"1.0\"", "encoding=\"", "UTF-16", "ISO-8859-1",
                   "<Task>", "</Task>", "<RegistrationInfo>", "<URI>", "</URI>",
                   "<Actions>", "<Exec>", "</Exec>", "<Command>", "</Command>",
                   "<Arguments>", "</Arguments>", "<![CDATA[", "]]>", "<!--", "-->",
                   "<!DOCTYPE", "&#x", "&amp;", "&quot;", "\xEF\xBB\xBF", "\xFF\xFE",
                   "\xFE\xFF", std::string("\xFF\xFE\0\0", 4), std::string("\0\xD8", 2),
                   std::string("\0\xDC", 2), "\x3D\xD8\x00\xDE",
                   encodeUnicode("<URI>", 2, false, false), encodeUnicode("</URI>", 2, false, false),
                   encodeUnicode("<Command>", 2, false, false), encodeUnicode("<Arguments>", 2, false, false)});
  writeDictionary(out + "/task_actions.dict",
                  {std::string("\x01\0", 2), std::string("\x03\0", 2), "\x66\x66", "\x77\x77",
                   "\x88\x88", "\x99\x99", std::string(4, '\0'), std::string("\x02\0\0\0", 4),
                   "\xFF\xFF\xFF\xFF", std::string("\0\xD8", 2)});
  writeDictionary(out + "/executable_path.dict",
                  {"C:\\", "\"C:\\", "\\", "\"", " ", ".exe", "\r\n", ":"});
  writeDictionary(out + "/verdict.dict",
                  {"cmd.exe", "CMD.EXE", ".exe", "C:\\p\\", "a.exe", "a b.exe", "ro.exe",
                   "dir.exe", "fifo.exe", "link.exe", "empty.exe", "\"", std::string(1, '\0')});
  return 0;
}
