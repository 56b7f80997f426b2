#include "console/console.h"

#include <vector>

#include "text/text.h"

namespace {

// Output waiting for the next flush, in pieces of one kind each, so that
// the backend converts each by what it is; a progress line costs one write.
struct PendingOut {
  std::vector<ConsoleText> pieces;
  size_t size = 0;
};

PendingOut& pendingOut() {
  static PendingOut pending;
  return pending;
}

const size_t FlushThreshold = 1 << 16;

// ASCII reads the same in the catalogue's bytes and in a value's, so it
// joins whatever piece came last.
void appendPiece(std::vector<ConsoleText>* pieces, TextKind kind, bool ascii, const char* data,
                 size_t size) {
  if (pieces->empty() || (!ascii && pieces->back().kind != kind))
    pieces->push_back({kind, std::string()});
  pieces->back().bytes.append(data, size);
}

void writeOutText(TextKind kind, bool ascii, const char* data, size_t size) {
  PendingOut& pending = pendingOut();
  appendPiece(&pending.pieces, kind, ascii, data, size);
  pending.size += size;
  if (pending.size >= FlushThreshold) flushOut();
}

// Standard output first, so that the two streams keep their order.
void writeErrText(TextKind kind, const char* data, size_t size) {
  flushOut();
  platformWriteText(StdStream::Err, {{kind, std::string(data, size)}});
}

void writeAscii(StdStream stream, const char* data, size_t size) {
  if (stream == StdStream::Out)
    writeOutText(TextKind::Catalogue, true, data, size);
  else
    writeErrText(TextKind::Catalogue, data, size);
}

bool isBlank(int byte) {
  return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f' ||
         byte == '\r' || byte == '\n';
}

}  // namespace

void flushOut() {
  PendingOut& pending = pendingOut();
  if (pending.pieces.empty()) return;
  platformWriteText(StdStream::Out, pending.pieces);
  pending.pieces.clear();
  pending.size = 0;
}

void setColour(ConsoleColour colour) {
  flushOut();
  platformSetTextAttribute(colour);
}

// Values are UTF-8, converted for the console by the backend. A control
// character would let whoever wrote the value lay out the screen.
void writeOut(const std::string& text) {
  const std::string shown = withControlsShown(text);
  writeOutText(TextKind::Value, false, shown.data(), shown.size());
}

void writeOut(MessageKey key) {
  const char* text = MessageCatalogue[key];
  writeOutText(TextKind::Catalogue, false, text, std::char_traits<char>::length(text));
}

void writeErr(const std::string& text) {
  const std::string shown = withControlsShown(text);
  writeErrText(TextKind::Value, shown.data(), shown.size());
}

void writeErr(MessageKey key) {
  const char* text = MessageCatalogue[key];
  writeErrText(TextKind::Catalogue, text, std::char_traits<char>::length(text));
}

void endLine(StdStream stream) {
  writeAscii(stream, "\n", 1);
  if (stream == StdStream::Out) flushOut();
}

void writeNumber(StdStream stream, uint32_t value, int base) {
  const std::string text = numberText(value, base);
  writeAscii(stream, text.data(), text.size());
}

bool askYesNo() {
  flushOut();
  int byte = platformReadByte();
  while (byte != -1 && isBlank(byte)) byte = platformReadByte();
  return byte == 'Y' || byte == 'y';
}

void clearScreen() {
  flushOut();
  platformClearScreen();
}

void pauseForKey() {
  writeOut(MsgPressAnyKey);
  flushOut();
  platformWaitForKey();
  writeAscii(StdStream::Out, "\r\n", 2);
  flushOut();
}
