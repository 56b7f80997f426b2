#include "tasks/task_actions.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/task_text.h"

namespace {

using Programs = std::vector<std::pair<std::string, std::string>>;

Programs programsOf(const RegistryActions& decoded) {
  Programs programs;
  for (const TaskAction& action : decoded.programs)
    programs.emplace_back(action.command, action.arguments);
  return programs;
}

}  // namespace

TEST(TaskActions, DecodesTheLayoutAndRefusesAllElse) {
  const auto text = countedString;
  const std::string cmd = "C:\\Windows\\System32\\cmd.exe";
  const std::string com = u16Le(0x7777) + text("{id}") + std::string(16, '\x7A') + text("data");
  std::string mailHead = u16Le(0x8888) + text("");
  for (int k = 0; k < 8; ++k) mailHead += text(k % 2 ? "" : "a@b");
  const std::string mail = mailHead + u32Le(2) + text("C:\\a.txt") + text("") + u32Le(1) +
                           text("X-Name") + text("value");
  const std::string box = u16Le(0x9999) + text("") + text("title") + text(u8"正文");
  // A valid value as its pieces: its head, then one action a piece.
  const std::string pieces[] = {actionsValueHead(3), com, programAction(3, cmd, "/c C:\\a.exe"),
                                mail, box, programAction(3, u8"C:\\用户\\x.exe", "")};
  std::string full;
  for (const std::string& piece : pieces) full += piece;
  const std::string lone = u16Le(0x6666) + text("") + u32Le(2) + u16Le(0xD800) + text("") +
                           text("");
  const std::string v1 = u16Le(1), program1 = programAction(1, cmd, "");
  const struct { const char* name; std::string bytes; bool ok; unsigned version; const char* reason;
                 Programs programs; } cases[] = {
    {"version 3: a COM handler first, programs among mail and a message box", full, true, 3, "",
     {{cmd, "/c C:\\a.exe"}, {u8"C:\\用户\\x.exe", ""}}},
    {"version 1: no context, no flags",
     v1 + programAction(1, "a", "1") + programAction(1, "b", "2"), true, 1, "",
     {{"a", "1"}, {"b", "2"}}},
    {"no actions", actionsValueHead(3), true, 3, "", {}},
    {"every string empty", actionsValueHead(3, "") + programAction(3, "", ""), true, 3, "",
     {{"", ""}}},
    {"a lone surrogate kept", v1 + lone, true, 1, "", {{"\xED\xA0\x80", ""}}},
    {"empty value", "", false, 0, "cut short in the version", {}},
    {"unknown version", u16Le(2) + program1, false, 2, "unknown version 2", {}},
    {"version 0", u16Le(0), false, 0, "unknown version 0", {}},
    {"unknown kind", v1 + program1 + u16Le(0x1234) + text(""), false, 1,
     "unknown action kind 0x1234 in action 2", {}},
    {"odd string length", v1 + u16Le(0x6666) + text("") + u32Le(3) + "abc" + text("") + text(""),
     false, 1, "odd string length in action 1's command", {}},
    {"odd context length", u16Le(3) + u32Le(1) + "a", false, 3, "odd string length in the context",
     {}},
    {"string count past the end", v1 + program1 + u16Le(0x6666) + text("") + text("") +
     u32Le(0xFFFFFFFE) + "ab", false, 1, "cut short in action 2's arguments", {}},
    {"attachment count past the end", v1 + mailHead + u32Le(0x40000000) + std::string(12, '\0'),
     false, 1, "cut short in action 1's attachments", {}},
    {"header count past the end", v1 + mailHead + u32Le(0) + u32Le(0x7FFFFFFF) +
     std::string(8, '\0'), false, 1, "cut short in action 1's headers", {}},
    {"a version 1 program in version 3", actionsValueHead(3) + program1, false, 3,
     "cut short in action 1's flags", {}},
    {"a COM handler's class id cut", v1 + com.substr(0, 20), false, 1,
     "cut short in action 1's class id", {}},
  };
  for (const auto& c : cases) {
    const RegistryActions decoded = decodeTaskActions(c.bytes);
    EXPECT_EQ(c.ok, decoded.ok) << c.name;
    EXPECT_EQ(c.version, decoded.version) << c.name;
    EXPECT_EQ(c.reason, decoded.reason) << c.name;
    EXPECT_EQ(c.programs, programsOf(decoded)) << c.name;
  }
  // The valid value cut at every byte: refused, with nothing judged from it,
  // except between two actions, where the actions before the cut are a
  // valid value. The cut bytes stand alone in memory, so that a read past
  // them is the sanitizer's.
  size_t boundary = 0, piece = 0, programs = 0;
  for (size_t cut = 0; cut < full.size(); ++cut) {
    if (cut == boundary + pieces[piece].size()) {
      boundary = cut;
      programs += pieces[piece++][0] == '\x66';
    }
    std::vector<unsigned char> bytes(full.begin(), full.begin() + cut);
    const RegistryActions decoded = decodeTaskActions(bytes.data(), bytes.size());
    const bool between = piece > 0 && cut == boundary;
    EXPECT_EQ(between, decoded.ok) << cut;
    EXPECT_EQ(between ? std::string::npos : 0, decoded.reason.find("cut short in ")) << cut;
    EXPECT_EQ(between ? programs : 0, decoded.programs.size()) << cut;
  }
}
