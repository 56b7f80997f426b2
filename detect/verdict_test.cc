#include "detect/verdict.h"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <set>
#include <string>

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

// Tasks failing the textual tests never get their file opened; those passing
// them get exactly the extracted file hashed, and are dangerous only when its
// digest is the known one.
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

  const struct { const char* command; const char* arguments; const char* opened; } cases[] = {
    {"", R"(/c C:\Temp\a.exe)", ""},
    {R"(C:\Windows\System32\CMD.EXE)", R"(/c C:\Temp\a.exe)", "a.exe"},
    {R"("C:\Windows\system32\cmd.exe")", R"(/c "C:\Temp\a.exe" C:\Temp\b.exe)", "a.exe"},
    {"cmd.exe", R"(/c C:\Temp\b.exe)", "b.exe"},
    {"cmd.exe", R"(/c C:\Temp\folder.exe)", "folder.exe"},
    {"cmd.exe", R"(/c C:\Temp\missing.exe)", ""},
    {"cmd.exe", R"(/c "C:\Temp\x\..\a.exe\.)", "a.exe"},  // as Windows resolves it
    {"cmd.exe", "/c run.exe", ""},
    {"cmd.exe", R"(/c start C:\Temp\a.EXE)", ""},
    {"cmd.exe", "", ""},
    {"cmd", R"(/c C:\Temp\a.exe)", ""},
    {"powershell.exe", R"(-c C:\Temp\a.exe)", ""},
    {R"(C:\Temp\a.exe)", R"(cmd.exe /c C:\Temp\a.exe)", ""},
  };
  for (const auto& c : cases) {
    TaskRecord record{"\\t", c.command, c.arguments};
    bool dangerous = isDangerousTask(record);
    std::set<std::string> opened = openedSinceLastLook(watcher);
    std::set<std::string> expected;
    if (*c.opened) expected.insert(c.opened);
    EXPECT_EQ(expected, opened) << c.command << " | " << c.arguments;
    EXPECT_EQ(std::string(c.opened) == "a.exe", dangerous)
        << c.command << " | " << c.arguments;
  }
  close(watcher);
}
