// Task definitions as text and their registry copy's actions as bytes,
// shaped as the scheduler writes them. Free of the test framework, so the
// fuzz targets and their seed writer use them too.
#ifndef VORKEL_TESTS_TASK_TEXT_H_
#define VORKEL_TESTS_TASK_TEXT_H_

#include <string>

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

/// The pieces of a task's Actions value as the scheduler stores it in the
/// registry: numbers little endian,
std::string u16Le(unsigned value);
std::string u32Le(unsigned value);
/// a counted string (its byte count, then its UTF-16 LE units),
std::string countedString(const std::string& utf8);
/// one program action (kind, id, command, arguments, working folder and, in
/// version 3, its flags),
std::string programAction(unsigned version, const std::string& command,
                          const std::string& arguments);
/// A value's start: its version and, in version 3, the context.
std::string actionsValueHead(unsigned version, const std::string& context = "Author");

#endif  // VORKEL_TESTS_TASK_TEXT_H_
