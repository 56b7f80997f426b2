// The Windows build's reader, fingerprint, extractor and store walk, run
// under Wine, against the native build's on the same bytes and against
// expectations worked out independently.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "detect/executable_path.h"
#include "detect/fingerprint.h"
#include "tasks/task_definition.h"
#include "tasks/task_store.h"
#include "tests/test_support.h"
#include "tests/wine.h"

namespace {

using Fields = std::tuple<std::string, std::string, std::string>;

class WineProbe : public testing::Test {
 protected:
  void SetUp() override {
    if (skipped(cannotRun(probeProgram()))) return;
    ASSERT_FALSE(winePrefix().empty()) << winePrefixProblem();
  }

  static std::string host(const std::string& name) { return wineDriveC() + "/probe/" + name; }
  static std::string windows(const std::string& name) { return "C:\\probe\\" + name; }

  // Standard output of one probe run, which must end promptly and well.
  static std::string runProbe(std::vector<std::string> arguments, double* seconds = nullptr,
                              int timeoutSeconds = 30) {
    const double start = monotonicSeconds();
    const std::string called = testing::PrintToString(arguments);
    arguments.insert(arguments.begin(), probeProgram());
    ProcessResult run = runUnderWine(arguments, "", timeoutSeconds);
    if (seconds != nullptr) *seconds = monotonicSeconds() - start;
    EXPECT_FALSE(run.timedOut) << called;
    EXPECT_EQ(0, run.status) << called << ": " << run.err;
    return run.out;
  }
};

Fields splitRecord(const std::string& out) {
  size_t first = out.find('\0'), second = out.find('\0', first + 1);
  if (second == std::string::npos) return Fields("unparsable probe output", out, "");
  return Fields(out.substr(0, first), out.substr(first + 1, second - first - 1),
                out.substr(second + 1));
}

const int RightEnabled = 2;  // SE_PRIVILEGE_ENABLED

// The attributes the probe's line gives a right ("SeBackupPrivilege=2"), or
// -1 when the line does not name it.
int rightAttributes(const std::string& line, const std::string& right) {
  const size_t at = line.find(right + "=");
  return at == std::string::npos ? -1 : atoi(line.c_str() + at + right.size() + 1);
}

// The lines of a probe's answer after each label ("before ", "during "...).
std::string lineAfter(const std::string& out, const std::string& label) {
  const size_t at = out.find("\n" + label);
  if (at == std::string::npos) return "(no " + label + "line)";
  const size_t start = at + 1 + label.size();
  return out.substr(start, out.find('\n', start) - start);
}

std::string exec(const std::string& inside) {
  return "<?xml version=\"1.0\"?>\r\n<Task><Actions><Exec>" + inside +
         "</Exec></Actions></Task>\r\n";
}

TEST_F(WineProbe, ReadsDefinitionsAsTheNativeBuildDoes) {
  const std::string uri = u8"\\Microsoft\\Windows\\更新\\Tâche 😀";
  const std::string command = u8"C:\\Windows\\System32\\cmd.exe";
  const std::string arguments = u8"/c \"C:\\用户\\a&b <1>.exe\" 😀";
  const std::string xml = schedulerTaskXml(uri, command, arguments);
  const struct { const char* name; std::string bytes; Fields expected; } cases[] = {
    {"scheduler.xml", utf16leWithBom(xml), {uri, command, arguments}},
    {"utf8.xml", xml, {uri, command, arguments}},
    {"utf16be.xml", encodeUnicode(xml, 2, true, true), {uri, command, arguments}},
    {"utf32le.xml", encodeUnicode(xml, 4, false, true), {uri, command, arguments}},
    {"latin1.xml",
     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Task><RegistrationInfo>"
     "<URI>\\caf\xE9</URI></RegistrationInfo></Task>", {u8"\\café", "", ""}},
    {"markup.xml",
     "\xEF\xBB\xBF" + exec("<Command>&quot;C:\\x\\cmd.exe&quot;</Command><Arguments>"
                           "<![CDATA[/c &quot;C:\\a.exe&quot;]]></Arguments>"),
     {"", "\"C:\\x\\cmd.exe\"", "/c &quot;C:\\a.exe&quot;"}},
    // Bytes a text-mode read would change: CR LF and Ctrl-Z.
    {"binary.xml", exec("<Command> cmd.exe\r\n</Command><Arguments>a\x1A" "b<!-- -->c"
                        "</Arguments>"),
     {"", " cmd.exe\n", "a\x1A" "bc"}},
  };
  for (const auto& c : cases) writeFile(host(c.name), c.bytes);
  for (const auto& c : cases) {
    TaskRecord record = readTaskDefinition(host(c.name));
    Fields native(record.uri, record.command, record.arguments);
    EXPECT_EQ(c.expected, native) << c.name;
    EXPECT_EQ(native, splitRecord(runProbe({"read", windows(c.name)}))) << c.name;
  }
}

TEST_F(WineProbe, FingerprintsFilesAsTheNativeBuildDoes) {
  std::string leadingZero;
  for (int i = 0; !startsWith(md5Of(leadingZero), "0"); ++i)
    leadingZero = "leading zero " + std::to_string(i);
  std::mt19937 generator(7);
  std::string large((3 << 20) + 17, '\0');
  for (char& byte : large) byte = static_cast<char>(generator());
  const struct { const char* name; std::string bytes; } cases[] = {
    {"empty.bin", ""}, {"abc.bin", "abc"}, {"large.bin", large},
    {"zero.bin", leadingZero},
  };
  for (const auto& c : cases) {
    writeFile(host(c.name), c.bytes);
    EXPECT_EQ(md5Of(c.bytes), fileFingerprint(host(c.name)).md5) << c.name;
    EXPECT_EQ(md5Of(c.bytes), runProbe({"md5", windows(c.name)})) << c.name;
  }
}

// Each says why it has no digest. A file another program holds open sharing
// nothing is refused, and named so: not passed over as clean.
TEST_F(WineProbe, OpensNoDeviceFolderOrMissingFile) {
  makeFolders(host("folder"));
  writeFile(host("held.exe"), "held");
  const int holder = startUnderWine({probeProgram(), "hold", windows("held.exe")});
  for (int tries = 0; tries < 300 && !pathExists(host("held.exe.held")); ++tries) usleep(100000);
  const struct { std::string path; const char* says; } cases[] = {
      {"C:\\NUL.exe", "not a file"},      {"C:\\CON.exe", "not a file"},
      {windows("folder"), "not a file"},  {windows("missing.exe"), "missing 2"},
      {windows("held.exe"), "refused 32"},
  };
  for (const auto& c : cases) {
    double seconds = 0;
    EXPECT_EQ(c.says, runProbe({"md5", c.path}, &seconds)) << c.path;
    EXPECT_LT(seconds, 10.0) << c.path;
  }
  stopUnderWine(holder);
  EXPECT_EQ(std::string(2, '\0'), runProbe({"read", "C:\\CON"})) << "an empty record";
}

TEST_F(WineProbe, ExtractsFromA16MiBLineInLinearTime) {
  const std::string name(16 << 20, 'q');
  const std::string arguments = "/c C:\\" + name;
  writeFile(host("long.txt"), arguments);
  ASSERT_EQ("C:\\" + name, extractExecutablePath(arguments));
  double seconds = 0;
  std::string out = runProbe({"path", windows("long.txt")}, &seconds);
  printf("vorkel-probe path on a 16 MiB line took %.2f s under Wine\n", seconds);
  EXPECT_TRUE(out == "C:\\" + name) << out.size() << " bytes: " << out.substr(0, 40);
  EXPECT_LT(seconds, 5.0);
}

// A link in the store is named, never listed as a file; what lies below a
// link to a folder inside the store is listed once, by its own name, so a
// loop cannot make the walk endless. Wine keeps no reparse data for its Unix
// links: the target it names is where the link ends.
TEST_F(WineProbe, WalksLinkLoopsAsTheNativeBuildDoes) {
  writeFile(host("store/root.xml"), "x");
  writeFile(host("store/A/inner.xml"), "x");
  ASSERT_EQ(0, symlink("..", host("store/A/up").c_str()));
  ASSERT_EQ(0, symlink(".", host("store/A/self").c_str()));
  ASSERT_EQ(0, symlink("A", host("store/B").c_str()));
  const struct { const char* link; const char* says; const char* leadsTo; } links[] = {
      {"A\\self", ".", "\\A"}, {"A\\up", "..", ""}, {"B", "A", "\\A"}};
  std::vector<std::string> native = {windows("store\\A\\inner.xml"), windows("store\\root.xml")};
  std::vector<std::string> wine = native;
  for (const auto& l : links) {
    const std::string named = "link " + windows("store\\") + l.link + " -> ";
    native.push_back(named + l.says + " walked");
    wine.push_back(named + "\\\\?\\" + windows("store") + l.leadsTo + " walked");
  }
  const auto asWindows = [](const std::string& path) {
    return windows("store") + path.substr(host("store").size());
  };
  const TaskStoreListing listing = collectTaskFiles(host("store"));
  std::vector<std::string> nativeLines;
  for (const std::string& file : listing.files) nativeLines.push_back(asWindows(file));
  for (const StoreLink& link : listing.links)
    nativeLines.push_back("link " + asWindows(link.path) + " -> " + link.target +
                          (link.walked ? " walked" : ""));
  std::sort(nativeLines.begin(), nativeLines.end());
  EXPECT_EQ(native, nativeLines);
  std::vector<std::string> listed = splitLines(runProbe({"list", windows("store")}, nullptr, 15));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(wine, listed);
}

// An open to delete refused with access denied is tried once more with the
// backup and restore rights in force, which are put back after. Wine
// enforces the access list but grants no such right, so the retry fails
// here too; a key that is missing or has sub-keys is never created or
// deleted, and one with sub-keys opens and is refused its deletion.
TEST_F(WineProbe, RetriesRefusedKeyDeletionWithRightsItPutsBack) {
  const std::string base = "SOFTWARE\\VorkelProbe";
  ASSERT_EQ(0, importRegistry(utf16leWithBom(
                   "Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\" + base + "\\Protected]\r\n\"Id\"=\"{p}\"\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\" + base + "\\Plain]\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\" + base + "\\Parent\\Child]\r\n\r\n")));
  ASSERT_EQ(0, runTheProbe({"protect", base + "\\Protected"}).status);
  const struct { const char* key; const char* outcome; } cases[] = {
      {"Protected", "result=5 retried=1 inForce=1 putBack=1"},
      {"Parent", "result=5 retried=0 inForce=0 putBack=0"},
      {"Missing", "result=2 retried=0 inForce=0 putBack=0"},
      {"Plain", "result=0 retried=0 inForce=0 putBack=0"},
  };
  for (const auto& c : cases) {
    const std::string out = runProbe({"delete-key", base + "\\" + c.key});
    EXPECT_EQ(c.outcome, out.substr(0, out.find('\n'))) << c.key;
    // The probe's own reading of its token, before and after the call.
    EXPECT_EQ(lineAfter(out, "before "), lineAfter(out, "after ")) << c.key;
    EXPECT_NE(-1, rightAttributes(lineAfter(out, "before "), "SeRestorePrivilege")) << out;
  }
  ProcessResult left = runUnderWine({"reg", "query", "HKLM\\" + base, "/s"}, "");
  for (const char* key : {"Protected", "Parent", "Parent\\Child"})
    EXPECT_NE(std::string::npos, left.out.find(base + "\\" + key + "\r\n")) << key;
  for (const char* key : {"Plain", "Missing"})
    EXPECT_EQ(std::string::npos, left.out.find(base + "\\" + key + "\r\n")) << key;
  ASSERT_EQ(0, runTheProbe({"shut", base + "\\Parent\\Child"}).status);
  // A key administrators may not read is opened again with the backup
  // right; Wine refuses that too, and the token is as before.
  const std::string opened = runProbe({"open-key", base + "\\Parent\\Child"});
  EXPECT_EQ(0u, opened.find("result=5\n")) << opened;
  EXPECT_EQ(lineAfter(opened, "before "), lineAfter(opened, "after ")) << opened;
  runTheProbe({"unprotect", base + "\\Protected"});
  runTheProbe({"unprotect", base + "\\Parent\\Child"});
  runUnderWine({"reg", "delete", "HKLM\\" + base, "/f"}, "");
}

// A value as a file or pipe the output goes to is given it, in the ANSI code
// page: what the page cannot hold as itself is '?', never a look-alike. UTF-7
// refuses the flag that keeps look-alikes out, as GB18030 and UTF-8 do on
// Windows (Wine 8 has no GB18030 and takes the flag for UTF-8), and is
// converted plainly and checked by converting back.
TEST_F(WineProbe, ValuesInACodePageKeepOnlyWhatItHolds) {
  const struct { std::string text; const char* codePage; std::string bytes; } cases[] = {
      {u8"中文é😀", "936", "\xD6\xD0\xCE\xC4\xA8\xA6?"},
      {u8"āé", "1252", "?\xE9"},
      {u8"a中", "65000", "a+Ti0-"},
      {u8"中😀", "65001", u8"中😀"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testing::PrintToString(c.bytes),
              testing::PrintToString(runProbe({"code-page", c.text, c.codePage})))
        << c.text << " at " << c.codePage;
  }
}

// A registry link is neither followed nor read nor deleted, wherever it
// stands in the path; the key it points at stays as it was. Opened by its
// name as any program opens it, Wine follows the link, so the refusal is
// the tool's own.
TEST_F(WineProbe, RefusesRegistryLinksAnywhereInThePath) {
  const std::string base = "SOFTWARE\\VorkelLinks";
  const std::string victim = "\\Registry\\Machine\\" + base + "\\Victim";
  const std::string key = "[HKEY_LOCAL_MACHINE\\" + base + "\\Victim";
  ASSERT_EQ(0, importRegistry(utf16leWithBom("Windows Registry Editor Version 5.00\r\n\r\n" +
                                             key + "]\r\n\"Id\"=\"{victim}\"\r\n\r\n" + key +
                                             "\\Child]\r\n\r\n")));
  for (const char* link : {"Lk", "Mid"})
    ASSERT_EQ(0, runTheProbe({"make-link", base + "\\" + link, victim}).status) << link;
  EXPECT_EQ("link result=0 type=6 target=" + victim + "\nfollowed Id={victim}\n",
            runProbe({"link-value", base + "\\Lk"}));
  const struct { const char* verb; const char* key; const char* outcome; } cases[] = {
      {"open-key", "Lk", "result=681"},
      {"delete-key", "Lk", "result=681 retried=0 inForce=0 putBack=0"},
      {"open-key", "Mid\\Child", "result=681"},
      {"delete-key", "Mid\\Child", "result=681 retried=0 inForce=0 putBack=0"},
      {"open-key", "MID\\\\Child\\", "result=681"},
      {"open-key", "Victim\\Child", "result=0"},
  };
  for (const auto& c : cases) {
    const std::string out = runProbe({c.verb, base + "\\" + c.key});
    EXPECT_EQ(c.outcome, out.substr(0, out.find('\n'))) << c.verb << ' ' << c.key;
  }
  ProcessResult left = runUnderWine({"reg", "query", "HKLM\\" + base + "\\Victim", "/s"}, "");
  EXPECT_NE(std::string::npos, left.out.find("{victim}")) << left.out;
  EXPECT_NE(std::string::npos, left.out.find(base + "\\Victim\\Child\r\n")) << left.out;
  // The links themselves are still there to be taken away.
  for (const char* link : {"Lk", "Mid"})
    EXPECT_EQ(0, runTheProbe({"remove-link", base + "\\" + link}).status) << link;
  runUnderWine({"reg", "delete", "HKLM\\" + base, "/f"}, "");
}

// A name the walk lists is the file of that name, whatever Windows' path
// rules would make of it; an executable's path is the file cmd would start.
TEST_F(WineProbe, TakesListedNamesAsTheyAreAndCommandPathsAsRun) {
  const Fields task("\\Upd", "C:\\Windows\\System32\\cmd.exe", "/c C:\\x\\y.exe");
  const std::string xml =
      utf16leWithBom(schedulerTaskXml(std::get<0>(task), std::get<1>(task), std::get<2>(task)));
  const std::vector<std::string> names = {"CON", "Dir.\\Inner ", "Dir.\\Upd..", "NUL.xml",
                                          "Upd ", "Upd."};
  std::vector<std::string> expected;
  for (const std::string& name : names) {
    std::string hostName = name;
    std::replace(hostName.begin(), hostName.end(), '\\', '/');
    writeFile(host("odd/" + hostName), xml);
    expected.push_back(windows("odd\\" + name));
  }
  std::vector<std::string> listed = splitLines(runProbe({"list", windows("odd")}));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(expected, listed);
  for (const std::string& path : expected) EXPECT_EQ(task, splitRecord(runProbe({"read", path})));

  writeFile(host("run/a.exe"), "plain");
  writeFile(host("run/a.exe "), "spaced");
  writeFile(host("run/NUL.exe"), "named like a device");
  const struct { const char* path; std::string md5; } executables[] = {
      {"run\\a.exe", md5Of("plain")},
      {"run\\a.exe ", md5Of("plain")},
      {"run\\a.exe.", md5Of("plain")},
      {"run\\.\\x\\..\\a.exe", md5Of("plain")},
      {"run\\NUL.exe", "not a file"},  // the device
  };
  for (const auto& e : executables) EXPECT_EQ(e.md5, runProbe({"md5", windows(e.path)})) << e.path;
}

// The scan holds the backup right in force, the removal the restore right
// too, and each gives the token back as it was.
TEST_F(WineProbe, PutsEachPassRightsInForceAndTheTokenBack) {
  const struct { const char* pass; bool restore; } passes[] = {{"scan", false}, {"removal", true}};
  for (const auto& p : passes) {
    const std::string out = runProbe({"file-rights", p.pass});
    EXPECT_EQ(0u, out.find("inForce=1 asBefore=1\n")) << out;
    const std::string before = lineAfter(out, "before "), during = lineAfter(out, "during ");
    EXPECT_EQ(before, lineAfter(out, "after ")) << p.pass;
    EXPECT_EQ(0, rightAttributes(before, "SeBackupPrivilege") & RightEnabled) << out;
    EXPECT_EQ(0, rightAttributes(before, "SeRestorePrivilege") & RightEnabled) << out;
    EXPECT_NE(0, rightAttributes(during, "SeBackupPrivilege") & RightEnabled) << out;
    EXPECT_EQ(p.restore,
              (rightAttributes(during, "SeRestorePrivilege") & RightEnabled) != 0)
        << out;
  }
}

// The record and the backups go only into a file of their own: a link or a
// second name planted where they go takes nothing, and the file it leads to
// stays as it was. A folder is never a file to remove.
TEST_F(WineProbe, WritesNoFileThroughALinkOrASecondName) {
  writeFile(host("own/victim.txt"), "victim");
  writeFile(host("own/second.txt"), "second");
  writeFile(host("own/plain.log"), "a");
  ASSERT_EQ(0, symlink("victim.txt", host("own/linked.log").c_str()));
  ASSERT_EQ(0, link(host("own/second.txt").c_str(), host("own/hard.log").c_str()));
  ASSERT_EQ(0, symlink("missing.txt", host("own/dangling.log").c_str()));
  const struct { const char* name; const char* result; const char* left; } cases[] = {
      {"linked.log", "5", nullptr}, {"hard.log", "5", nullptr}, {"dangling.log", "80", nullptr},
      {"plain.log", "0", "ax"},     {"new.log", "0", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, runProbe({"append", windows("own\\") + c.name, "x"})) << c.name;
    if (c.left != nullptr) {
      EXPECT_EQ(c.left, readFile(host("own/") + c.name)) << c.name;
    }
  }
  EXPECT_EQ("victim", readFile(host("own/victim.txt")));
  EXPECT_EQ("second", readFile(host("own/second.txt")));
  EXPECT_FALSE(pathExists(host("own/missing.txt")));
  EXPECT_EQ("outcome=3 code=5", runProbe({"remove", windows("own")}));
  EXPECT_TRUE(pathExists(host("own/victim.txt")));
}

}  // namespace
