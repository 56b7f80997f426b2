#include "console/console.h"

#include "text/text.h"

namespace {

// Output waiting for the next flush; a progress line costs one write.
std::string& pendingOut() {
  static std::string pending;
  return pending;
}

const size_t FlushThreshold = 1 << 16;

void writeOutBytes(const char* data, size_t size) {
  std::string& pending = pendingOut();
  pending.append(data, size);
  if (pending.size() >= FlushThreshold) flushOut();
}

// Standard output first, so that the two streams keep their order.
void writeErrBytes(const char* data, size_t size) {
  flushOut();
  platformWrite(StdStream::Err, data, size);
}

bool isBlank(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f' ||
         byte == '\r' || byte == '\n';
}

}  // namespace

void flushOut() {
  std::string& pending = pendingOut();
  if (pending.empty()) return;
  platformWrite(StdStream::Out, pending.data(), pending.size());
  pending.clear();
}

void setColour(ConsoleColour colour) {
  flushOut();
  platformSetTextAttribute(colour);
}

// Values are UTF-8; the console is shown them in its own code page. A
// control character would let whoever wrote the value lay out the screen.
void writeOut(const std::string& text) {
  const std::string shown = platformConsoleText(withControlsShown(text));
  writeOutBytes(shown.data(), shown.size());
}

void writeOut(MessageKey key) {
  const char* text = MessageCatalogue[key];
  writeOutBytes(text, std::char_traits<char>::length(text));
}

void writeErr(const std::string& text) {
  const std::string shown = platformConsoleText(withControlsShown(text));
  writeErrBytes(shown.data(), shown.size());
}

void writeErr(MessageKey key) {
  const char* text = MessageCatalogue[key];
  writeErrBytes(text, std::char_traits<char>::length(text));
}

void endLine(StdStream stream) {
  if (stream == StdStream::Out) {
    writeOutBytes("\n", 1);
    flushOut();
  } else {
    writeErrBytes("\n", 1);
  }
}

void writeNumber(StdStream stream, uint32_t value, int base) {
  const char* digits = "0123456789abcdef";
  const uint32_t radix = base == 16 ? 16 : 10;
  char text[16];
  size_t start = sizeof text;
  do {
    text[--start] = digits[value % radix];
    value /= radix;
  } while (value != 0);
  // Digits need no conversion for the console.
  if (stream == StdStream::Out)
    writeOutBytes(text + start, sizeof text - start);
  else
    writeErrBytes(text + start, sizeof text - start);
}

bool askYesNo() {
  flushOut();
  int byte = platformReadByte();
  while (byte != -1 && isBlank(byte)) byte = platformReadByte();
  return byte == 'Y' || byte == 'y';
}

void runShellCommand(const char* command) {
  flushOut();
  platformRunShellCommand(command);
}

