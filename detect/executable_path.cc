#include "detect/executable_path.h"

#include <stddef.h>

// Task lines can be many megabytes long, so this is a single left-to-right
// scan with no backtracking: each position is tried as the start of a quoted
// path, then of a bare one, and the first that fits wins.

namespace {

bool isDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

/// True when s has a drive root such as "C:\" at position at.
bool hasDriveRoot(const std::string& s, size_t at) {
  return at + 2 < s.size() && isDriveLetter(s[at]) && s[at + 1] == ':' &&
         s[at + 2] == '\\';
}

/// A character Windows allows in a file or folder name (spaces included).
bool isNameChar(char c) {
  switch (c) {
    case '\\': case '/': case ':': case '*': case '?': case '"':
    case '<': case '>': case '|': case '\r': case '\n':
      return false;
    default:
      return true;
  }
}

/// End of a quoted path whose drive letter is at start (just after the
/// opening quote), or 0. The path runs to the first space or quote past
/// "X:\" and needs at least one character there; only a quote closes it.
size_t quotedPathEnd(const std::string& s, size_t start) {
  size_t i = start + 3;
  while (i < s.size() && s[i] != ' ' && s[i] != '"')
    ++i;
  return (i > start + 3 && i < s.size() && s[i] == '"') ? i : 0;
}

/// End of a bare path whose drive letter is at start, or 0. Names are
/// separated by single backslashes; the path stops at the last name before
/// anything else, so "C:\a\\b" and "C:\a\" both give "C:\a".
size_t barePathEnd(const std::string& s, size_t start) {
  size_t end = 0;  // Just past the last name character seen.
  for (size_t i = start + 3; i < s.size(); ++i) {
    if (isNameChar(s[i]))
      end = i + 1;
    else if (s[i] != '\\' || end != i)
      break;  // Not a name char, nor a backslash right after a name.
  }
  return end;
}

}  // namespace

// Linear overall: a failed quoted try stops at the first space or quote after
// "X:", and no later quoted try can start before that quote; a failed bare
// try looks at one character. A bare try that scans further always succeeds.
std::string extractExecutablePath(const std::string& arguments) {
  const std::string& s = arguments;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '"' && hasDriveRoot(s, i + 1)) {
      size_t end = quotedPathEnd(s, i + 1);
      if (end)
        return s.substr(i + 1, end - (i + 1));
    } else if (hasDriveRoot(s, i)) {
      size_t end = barePathEnd(s, i);
      if (end)
        return s.substr(i, end - i);
    }
  }
  return std::string();
}
