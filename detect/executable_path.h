// Finds the program a scheduled task starts, given the task's argument line.
#ifndef VORKEL_DETECT_EXECUTABLE_PATH_H_
#define VORKEL_DETECT_EXECUTABLE_PATH_H_

#include <string>

/// The first absolute drive-letter path in a task's argument line, or "".
/// A path in double quotes ("C:\dir\x.exe") is taken up to the closing
/// quote when it holds no space; otherwise a path is taken as far as its
/// folder and file names run (names may hold spaces, never \ / : * ? " < > |
/// or a line break), ending on a name rather than on a backslash.
/// Runs in time linear in the line's length, using constant extra space.
std::string extractExecutablePath(const std::string& arguments);

#endif  // VORKEL_DETECT_EXECUTABLE_PATH_H_
