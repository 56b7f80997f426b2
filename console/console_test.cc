#include "console/console.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Points the given descriptors at one file until destroyed. Check results
// only afterwards: gtest's own output goes to the real stdout.
class Redirect {
 public:
  Redirect(std::initializer_list<int> fds, const std::string& path, int flags) {
    fflush(stdout);
    fflush(stderr);
    flushOut();
    int file = open(path.c_str(), flags | O_CLOEXEC, 0600);
    for (int fd : fds) {
      saved_.emplace_back(fd, dup(fd));
      dup2(file, fd);
    }
    close(file);
  }
  ~Redirect() {
    flushOut();
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      dup2(it->second, it->first);
      close(it->second);
    }
  }

 private:
  std::vector<std::pair<int, int>> saved_;
};

const int Output = O_WRONLY | O_CREAT | O_TRUNC;

TEST(Console, AskYesNoTakesOneNonBlankByteEachTime) {
  const struct {
    std::string input;
    std::vector<bool> answers;
  } cases[] = {
      {"  Y\n", {true, false}},
      {"\n\ny", {true, false}},
      {"\t\v\fy", {true}},
      {"y n\n", {true, false, false}},
      {"yes", {true, false, false, false, false}},
      {"n\ny\n", {false, true, false}},
      {"1\n", {false, false}},
      {"\xA3\xD9y", {false, false, true}},  // full-width Y in GBK, then y
      {"y\r\n\r\nY\r\n", {true, true, false}},
      {std::string("\0y\0", 3), {false, true, false, false}},
      {"", {false, false, false}},
  };
  ScopedTempDir dir;
  for (const auto& c : cases) {
    writeFile(dir.path + "/in", c.input);
    std::vector<bool> answers;
    {
      Redirect in({0}, dir.path + "/in", O_RDONLY);
      for (size_t i = 0; i < c.answers.size(); ++i) answers.push_back(askYesNo());
    }
    EXPECT_EQ(answers, c.answers) << "input: " << testing::PrintToString(c.input);
  }
}

TEST(Console, WriteNumberDecimalAndLowerHex) {
  const struct {
    uint32_t value;
    int base;
    const char* text;
  } cases[] = {
      {0, 10, "0"},          {0, 16, "0"},
      {2, 10, "2"},          {0x80070005u, 16, "80070005"},
      {0x80070005u, 10, "2147942405"}, {0xABCDEFu, 16, "abcdef"},
      {4294967295u, 10, "4294967295"}, {4294967295u, 16, "ffffffff"},
  };
  ScopedTempDir dir;
  for (const auto& c : cases) {
    for (StdStream stream : {StdStream::Out, StdStream::Err}) {
      {
        Redirect out({1, 2}, dir.path + "/out", Output);
        writeNumber(stream, c.value, c.base);
      }
      EXPECT_EQ(readFile(dir.path + "/out"), c.text)
          << c.value << " base " << c.base << (stream == StdStream::Err ? " to stderr" : "");
    }
  }
}

TEST(Console, OutputAndErrorsKeepCallOrder) {
  ScopedTempDir dir;
  {
    Redirect both({1, 2}, dir.path + "/both", Output);
    writeOut("1");
    writeErr("2");
    writeOut("3");
    endLine(StdStream::Err);
    writeOut(MsgOk);
    writeErr(MsgKeyFailed);
    writeOut("4");
    endLine(StdStream::Out);
    writeNumber(StdStream::Err, 5, 10);
  }
  EXPECT_EQ(readFile(dir.path + "/both"), std::string("123\n") + MessageCatalogue[MsgOk] +
                                              MessageCatalogue[MsgKeyFailed] + "4\n5");
}

// Redirected, the pause takes one byte, whatever it is, and no more.
TEST(Console, ColourQuestionClearAndPauseFlushFirst) {
  ScopedTempDir dir;
  const std::string out = dir.path + "/out";
  writeFile(dir.path + "/in", "y\ny");
  std::vector<std::string> seen;
  bool lastAnswer = false;
  {
    Redirect in({0}, dir.path + "/in", O_RDONLY);
    Redirect redirected({1}, out, Output);
    writeOut("a");
    setColour(ColourGreen);
    seen.push_back(readFile(out));
    writeOut("b");
    askYesNo();
    seen.push_back(readFile(out));
    writeOut("c");
    clearScreen();
    seen.push_back(readFile(out));
    pauseForKey();
    lastAnswer = askYesNo();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "ab", "abc\f"}));
  EXPECT_EQ(readFile(out), "abc\f" + msg(MsgPressAnyKey) + "\r\n");
  EXPECT_TRUE(lastAnswer);
}

}  // namespace
