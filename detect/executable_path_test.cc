#include "detect/executable_path.h"

#include <stdio.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

// GCC 12 with sanitizers warns falsely inside libstdc++'s regex compiler.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <gtest/gtest.h>

namespace {

// The expression task lines used to be matched with. It is the reference for
// extractExecutablePath, which must pick the same text without its
// backtracking (std::regex overflows the stack on long lines).
const char Pattern[] =
    R"RE("([A-Za-z]:\\[^ "]+)"|([A-Za-z]:\\(?:[^\\/:*?"<>|\r\n]+\\)*[^\\/:*?"<>|\r\n]+))RE";

std::string regexExecutablePath(const std::regex& re, const std::string& s) {
  std::smatch m;
  if (!std::regex_search(s, m, re))
    return std::string();
  if (m[1].matched)
    return m[1].str();
  if (m[2].matched)
    return m[2].str();
  return std::string();
}

/// s as a C string literal, so a failing input can be pasted into a test.
std::string escaped(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    char buffer[8];
    if (c == '\\' || c == '"')
      snprintf(buffer, sizeof(buffer), "\\%c", c);
    else if (c >= 0x20 && c < 0x7F)
      snprintf(buffer, sizeof(buffer), "%c", c);
    else
      snprintf(buffer, sizeof(buffer), "\\x%02X\"\"", c);
    out += buffer;
  }
  return out + "\"";
}

TEST(ExecutablePath, KnownLines) {
  const struct { const char* line; const char* path; } cases[] = {
    { R"(/c "C:\Users\Public\svc.exe")", R"(C:\Users\Public\svc.exe)" },
    { R"(/c C:\ProgramData\x\y.exe)", R"(C:\ProgramData\x\y.exe)" },
    { R"(/c "D:\a b\c.exe")", R"(D:\a b\c.exe)" },
    { R"(/c C:\t\a.exe -q)", R"(C:\t\a.exe -q)" },
    { R"(/c C:\t\a.exe /q)", R"(C:\t\a.exe )" },
    { R"(/c copy C:\a.txt D:\b.exe)", R"(C:\a.txt D)" },
    { R"(/c echo hello)", "" },
    { "", "" },
    { R"(C:\a\)", R"(C:\a)" },
    { R"(C:\a\\b)", R"(C:\a)" },
    { R"(C:\\x)", "" },
    { R"(C:\\x D:\y)", R"(D:\y)" },
    { R"("C:\a"b")", R"(C:\a)" },
    { R"("C:\"D:\e")", R"(D:\e)" },
    { R"("C:\a)", R"(C:\a)" },
    { R"(x"c:\a\b"c)", R"(c:\a\b)" },
    { R"(1:\a @:\b)", "" },
    { "C:\\a\r\nD:\\b", R"(C:\a)" },
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.path, extractExecutablePath(c.line)) << escaped(c.line);
}

/// A random line built from pieces that exercise every part of the pattern.
std::string randomLine(std::mt19937* rng) {
  static const std::vector<std::string> Pieces = {
    "C", "d", "Z", "a", "1", "@", "[", "`", ":", ":", "\\", "\\", "\\",
    "\"", "\"", " ", " ", "/", "*", "?", "<", ">", "|", "\r", "\n", ".",
    "exe", ".exe", "C:\\", "C:\\", "\"D:\\", "\"D:\\", "\xC4", "\xFF",
    std::string(1, '\0'), "\t",
  };
  std::uniform_int_distribution<size_t> piece(0, Pieces.size() - 1);
  // Mostly short lines; now and then a long one, still safe for std::regex.
  size_t maxPieces = (*rng)() % 50 == 0 ? 160 : 40;
  size_t count = (*rng)() % (maxPieces + 1);
  std::string line;
  for (size_t i = 0; i < count; ++i)
    line += Pieces[piece(*rng)];
  return line.substr(0, 499);
}

TEST(ExecutablePath, AgreesWithRegex) {
  const std::regex re(Pattern, std::regex::icase);
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  const int Lines = 100000;
  int matched = 0, failures = 0;
  for (int i = 0; i < Lines && failures < 10; ++i) {
    std::string line = randomLine(&rng);
    std::string expected = regexExecutablePath(re, line);
    std::string actual = extractExecutablePath(line);
    matched += !expected.empty();
    if (actual != expected) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << " line " << i << ": "
                    << escaped(line) << "\n  regex: " << escaped(expected)
                    << "\n  got:   " << escaped(actual);
    }
  }
  // Guard against a generator that never produces paths.
  EXPECT_GT(matched, Lines / 4);
  EXPECT_LT(matched, Lines * 9 / 10);

  // Every single byte after a drive root and around a quoted one.
  for (int c = 0; c < 256; ++c) {
    const std::string b(1, static_cast<char>(c));
    for (const std::string& line :
         {"C:\\" + b, "C:\\a" + b + "b", "\"C:\\a" + b + "\"", b + ":\\a",
          "\"" + b + ":\\a\"", "C:\\" + b + b + "\\x"}) {
      EXPECT_EQ(regexExecutablePath(re, line), extractExecutablePath(line))
          << escaped(line);
    }
  }
}

TEST(ExecutablePath, LongLinesTakeLinearTime) {
  const size_t Size = 16 << 20;
  auto repeat = [&](const std::string& piece) {
    std::string s;
    s.reserve(Size + piece.size());
    while (s.size() < Size)
      s += piece;
    return s;
  };
  const std::string letters(Size, 'a');
  std::string names = "C:\\" + repeat("a\\");
  const std::string namesPath = names.substr(0, names.size() - 1);
  const struct { const char* name; std::string line, path; } cases[] = {
    { "drive root then letters", "/c C:\\" + letters, "C:\\" + letters },
    { "drive letters and colons", repeat("C:"), "" },
    { "quoted root and space", repeat("\"C:\\a "), "C:\\a " },
    { "names and backslashes", names, namesPath },
    { "unclosed quote", "\"C:\\" + letters, "C:\\" + letters },
    { "quoted roots", repeat("\"C:\\"), "" },
    { "dead quoted roots", repeat("\"C:\\/x ") + "\"E:\\end\"", "E:\\end" },
    { "double backslashes", repeat("C:\\\\") + "D:\\ok", "D:\\ok" },
  };
  for (const auto& c : cases) {
    auto start = std::chrono::steady_clock::now();
    std::string path = extractExecutablePath(c.line);
    std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    printf("  %-26s %9zu bytes: %.4f s\n", c.name, c.line.size(),
           took.count());
    // Not EXPECT_EQ: a failure would print megabytes.
    EXPECT_TRUE(path == c.path) << c.name << ": got " << path.size()
                                << " bytes, expected " << c.path.size();
    EXPECT_LT(took.count(), 5.0) << c.name;
  }
}

}  // namespace
