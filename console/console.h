// Console output, colours and y/n questions. Standard output is collected
// and written out at every line's end and before every colour change,
// question, error line, clearing and pause, so what the user sees is always
// in the order written. The backend converts each text by its kind where it
// writes it (platformWriteText).
#ifndef VORKEL_CONSOLE_CONSOLE_H_
#define VORKEL_CONSOLE_CONSOLE_H_

#include <stdint.h>

#include <string>

#include "console/messages.h"
#include "platform/platform.h"

void setColour(ConsoleColour colour);
/// A value (a path, key name or text read from the machine, in UTF-8), each
/// control character shown as '?'.
void writeOut(const std::string& text);
/// A text of the catalogue (GBK).
void writeOut(MessageKey key);
void writeErr(const std::string& text);
void writeErr(MessageKey key);
/// A line feed, then the stream is flushed.
void endLine(StdStream stream);
/// Decimal (base 10) or lower-case hexadecimal without prefix (base 16).
void writeNumber(StdStream stream, uint32_t value, int base);
void flushOut();
/// Flushes standard output, skips blanks on standard input and takes one
/// byte: yes only for Y or y. At the end of the input every answer is no.
bool askYesNo();
/// Clears the screen as cmd's cls does (redirected, a form feed).
void clearScreen();
/// cmd's pause, as a Chinese Windows words it: the prompt, a key press (on
/// a console a fresh one: what is left of the answers' lines does not
/// count), then CR LF. No program is started for either.
void pauseForKey();

#endif  // VORKEL_CONSOLE_CONSOLE_H_
