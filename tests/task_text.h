// Task definitions as text, shaped as the scheduler writes them. Free of
// the test framework, so the fuzz seed writer uses them too.
#ifndef VORKELBRAITH_TESTS_TASK_TEXT_H_
#define VORKELBRAITH_TESTS_TASK_TEXT_H_

#include <string>
#include <utility>
#include <vector>

/// text with the characters XML gives meaning to written as references.
std::string escapeXml(const std::string& text);

/// utf8 as UTF-16 (unit 2) or UTF-32 (unit 4), either byte order, with or
/// without a byte-order mark; utf8 must be valid UTF-8.
std::string encodeUnicode(const std::string& utf8, int unit, bool bigEndian, bool mark);

/// UTF-16 little endian with a byte-order mark, as the scheduler writes its
/// definitions; utf8 must be valid UTF-8.
std::string utf16leWithBom(const std::string& utf8);

/// A definition as the scheduler writes one (before encoding): namespace on
/// Task, triggers, principals and settings around one Exec action. The
/// values are inserted as XML text, escaped.
std::string schedulerTaskXml(const std::string& uri, const std::string& command,
                             const std::string& arguments);

/// A Tasks key's Actions value as Windows 10 and 11 write it (version 3,
/// context "Author"): one program action for each command and arguments.
std::string actionsValue(const std::vector<std::pair<std::string, std::string>>& programs);

#endif  // VORKELBRAITH_TESTS_TASK_TEXT_H_
