// Text as the tool holds it (UTF-8) and as Windows names things (UTF-16),
// and how a value is made safe to show. Free of any system call, so both
// backends, the definition reader, the record and the tests share it.
//
// Windows names are UTF-16 units that need not pair up. A unit that pairs
// with nothing is held as the three bytes UTF-8 would give its value, and
// those three bytes give the unit back: every name the system gives
// round-trips unchanged. Bytes that start no sequence at all stand for
// U+FFFD, which names no file or key.
#ifndef VORKEL_TEXT_TEXT_H_
#define VORKEL_TEXT_TEXT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

/// What nextCodePoint gives for a byte that starts no well-formed sequence.
const uint32_t NotACharacter = 0xFFFFFFFF;

/// The code point at text[*at] (a lone surrogate included), moving *at past
/// it; NotACharacter, moving one byte, where no well-formed sequence starts.
uint32_t nextCodePoint(const std::string& text, size_t* at);
/// Writes code (up to U+10FFFF, a lone surrogate included) as UTF-8 at out;
/// returns the end of what it wrote, 1 to 4 bytes on.
unsigned char* putUtf8(uint32_t code, unsigned char* out);
void appendUtf8(uint32_t code, std::string* out);

/// The code point of the UTF-16 units at units[*i] (a pair, or one unit,
/// a lone surrogate as itself), moving *i past them; count is how many
/// units there are.
uint32_t nextUtf16CodePoint(const char16_t* units, size_t count, size_t* i);
/// Whether a code point is a surrogate, which nextCodePoint and
/// nextUtf16CodePoint give only for a unit that pairs with nothing.
bool isSurrogate(uint32_t code);
std::u16string utf16FromUtf8(const std::string& utf8);
std::string utf8FromUtf16(const char16_t* units, size_t count);
/// UTF-16 LE bytes (an odd last byte ignored) as UTF-8 at out, which holds
/// at least 3 bytes for every unit and one more: a terminating zero follows,
/// as in pugixml's own buffer. Returns the length without it. Quick on
/// ASCII, of which a task definition is nearly all.
size_t utf8FromUtf16Le(const unsigned char* in, size_t size, unsigned char* out);
/// The UTF-16 units of little-endian bytes, as the registry stores a
/// string (an odd last byte ignored).
std::u16string utf16FromLeBytes(const std::string& bytes);
/// A string value as the registry stores it (UTF-16 LE, an odd last byte
/// ignored) as UTF-8 text, up to its first zero unit.
std::string utf8FromRegistryString(const std::string& bytes);
/// UTF-16 little endian, as regedit's files hold it.
std::string utf16LeFromUtf8(const std::string& utf8);
/// How many of count units make the first piece of at most most units (most
/// at least 2): one less than most when cutting there would part a surrogate
/// pair, so a piece written on its own never ends in half a character.
size_t utf16PieceLength(const char16_t* units, size_t count, size_t most);

/// A number in decimal (base 10) or lower-case hexadecimal without prefix
/// (base 16), as the console and the record write it.
std::string numberText(uint32_t value, int base);

bool isAscii(const std::string& text);
/// U+0000 to U+001F and U+007F: a line break, tab or escape in a value
/// would let whoever wrote it lay out the console or a file.
bool isControlCharacter(uint32_t code);
bool hasControlCharacter(const std::string& utf8);
/// The text with each control character as one '?'. They are single bytes
/// in UTF-8, never part of a longer sequence, so nothing else changes.
std::string withControlsShown(const std::string& utf8);

#endif  // VORKEL_TEXT_TEXT_H_
