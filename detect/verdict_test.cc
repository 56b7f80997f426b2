#include "detect/verdict.h"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Names of the entries of a watched folder opened since the last call.
std::set<std::string> openedSinceLastLook(int watcher) {
  std::set<std::string> names;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t got; (got = read(watcher, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) names.insert(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return names;
}

}  // namespace

// The suite is built with the test signature: the stand-in is the payload.
TEST(Verdict, KnownFingerprintIsTheStandInsDigest) {
  EXPECT_EQ(md5Of(standInPayload()), KnownPayloadMd5);
  EXPECT_TRUE(isKnownPayloadMd5(md5Of(standInPayload())));
  EXPECT_FALSE(isKnownPayloadMd5(""));
  EXPECT_FALSE(isKnownPayloadMd5(md5Of("MZ not the payload")));
}

// Actions failing the textual tests never get their file opened; those
// passing them get exactly the extracted file hashed, in turn until one's
// digest is the known one: the task is dangerous, and that action matched.
TEST(Verdict, HashesOnlyTheFileOfACmdTaskNamingAnExe) {
  InMachineFolder machine;
  const std::string standIn = standInPayload();
  ASSERT_FALSE(standIn.empty());
  writeFile("C:/Temp/a.exe", standIn);
  writeFile("C:/Temp/a.EXE", standIn);
  writeFile("C:/Temp/b.exe", "MZ not the payload");
  makeFolders("C:/Temp/folder.exe");
  int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_GE(inotify_add_watch(watcher, "C:/Temp", IN_OPEN), 0);

  const std::string a = R"(C:\Temp\a.exe)", b = R"(C:\Temp\b.exe)", payload = md5Of(standIn),
                    other = md5Of("MZ not the payload");
  const int none = -1;  // no action matched
  const struct { std::vector<TaskAction> actions; std::set<std::string> opened; int matched;
                 std::string executable, md5; } cases[] = {
    {{{"", "/c " + a}}, {}, none, "", ""},
    {{{R"(C:\Windows\System32\CMD.EXE)", "/c " + a}}, {"a.exe"}, 0, a, payload},
    {{{R"("C:\Windows\system32\cmd.exe")", "/c \"" + a + "\" " + b}}, {"a.exe"}, 0, a, payload},
    {{{"cmd.exe", "/c " + b}}, {"b.exe"}, none, b, other},
    {{{"cmd.exe", R"(/c C:\Temp\folder.exe)"}}, {"folder.exe"}, none, R"(C:\Temp\folder.exe)", ""},
    {{{"cmd.exe", R"(/c C:\Temp\missing.exe)"}}, {}, none, R"(C:\Temp\missing.exe)", ""},
    // As Windows resolves it.
    {{{"cmd.exe", R"(/c "C:\Temp\x\..\a.exe\.)"}}, {"a.exe"}, 0, R"(C:\Temp\x\..\a.exe\.)",
     payload},
    {{{"cmd.exe", "/c run.exe"}}, {}, none, "", ""},
    {{{"cmd.exe", R"(/c start C:\Temp\a.EXE)"}}, {}, none, "", ""},
    {{{"cmd.exe", ""}}, {}, none, "", ""},
    {{{"cmd", "/c " + a}}, {}, none, "", ""},
    {{{"powershell.exe", "-c " + a}}, {}, none, "", ""},
    {{{a, "cmd.exe /c " + a}}, {}, none, "", ""},
    {{}, {}, none, "", ""},
    {{{"cmd.exe", "/c " + b}, {"cmd.exe", "/c " + a}}, {"b.exe", "a.exe"}, 1, a, payload},
    {{{"powershell.exe", "-c " + a}, {"cmd.exe", "/c " + a}, {"cmd.exe", "/c " + b}}, {"a.exe"},
     1, a, payload},
    {{{"cmd.exe", "/c " + b}, {"cmd.exe", R"(/c C:\Temp\missing.exe)"}}, {"b.exe"}, none,
     R"(C:\Temp\missing.exe)", ""},
  };
  for (const auto& c : cases) {
    const TaskRecord record{"\\t", "", "", c.actions};
    const TaskVerdict verdict = judgeTask(record);
    const std::string name = c.actions.empty() ? "" : c.actions.back().arguments;
    EXPECT_EQ(c.opened, openedSinceLastLook(watcher)) << name;
    EXPECT_EQ(c.matched != none, verdict.dangerous) << name;
    EXPECT_EQ(c.executable, verdict.executable) << name;
    EXPECT_EQ(c.md5, verdict.md5) << name;
    if (c.matched == none) continue;
    EXPECT_EQ(size_t(c.matched), verdict.action) << name;
    EXPECT_EQ(c.actions[c.matched].command, verdict.command) << name;
    EXPECT_EQ(c.actions[c.matched].arguments, verdict.arguments) << name;
  }
  close(watcher);
}
