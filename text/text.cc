#include "text/text.h"

uint32_t nextCodePoint(const std::string& text, size_t* at) {
  const size_t i = *at;
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  *at = i + 1;
  if (lead < 0x80) return lead;
  const size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                       : lead >= 0xE0 && lead <= 0xEF ? 2
                       : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                      : 0;
  if (extra == 0 || text.size() - i <= extra) return NotACharacter;
  uint32_t code = lead & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return NotACharacter;
    code = code << 6 | (next & 0x3F);
  }
  const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
  if (code < smallest[extra] || code > 0x10FFFF) return NotACharacter;
  *at = i + 1 + extra;
  return code;
}

unsigned char* putUtf8(uint32_t code, unsigned char* out) {
  if (code < 0x80) {
    *out++ = static_cast<unsigned char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<unsigned char>(0xC0 | code >> 6);
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<unsigned char>(0xE0 | code >> 12);
    *out++ = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<unsigned char>(0xF0 | code >> 18);
    *out++ = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  }
  return out;
}

void appendUtf8(uint32_t code, std::string* out) {
  unsigned char bytes[4];
  const unsigned char* end = putUtf8(code, bytes);
  out->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

namespace {

bool isLeadSurrogate(uint32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool isTrailSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

uint32_t pairedCodePoint(uint32_t lead, uint32_t trail) {
  return 0x10000 + ((lead & 0x3FF) << 10) + (trail & 0x3FF);
}

uint32_t unitAt(const unsigned char* in) { return in[0] | uint32_t(in[1]) << 8; }

// Four UTF-16 LE units at in as one number, unit k in bits 16k to 16k+15.
uint64_t fourUnits(const unsigned char* in) {
  return uint64_t(in[0]) | uint64_t(in[1]) << 8 | uint64_t(in[2]) << 16 |
         uint64_t(in[3]) << 24 | uint64_t(in[4]) << 32 | uint64_t(in[5]) << 40 |
         uint64_t(in[6]) << 48 | uint64_t(in[7]) << 56;
}

}  // namespace

uint32_t nextUtf16CodePoint(const char16_t* units, size_t count, size_t* i) {
  const uint32_t unit = static_cast<uint16_t>(units[(*i)++]);
  if (isLeadSurrogate(unit) && *i < count && isTrailSurrogate(static_cast<uint16_t>(units[*i])))
    return pairedCodePoint(unit, static_cast<uint16_t>(units[(*i)++]));
  return unit;
}

size_t utf8FromUtf16Le(const unsigned char* in, size_t size, unsigned char* out) {
  const size_t units = size / 2;
  unsigned char* const start = out;
  size_t i = 0;
  while (i < units) {
    if (i + 4 <= units) {
      const uint64_t four = fourUnits(in + 2 * i);
      if ((four & 0xFF80FF80FF80FF80u) == 0) {
        out[0] = static_cast<unsigned char>(four);
        out[1] = static_cast<unsigned char>(four >> 16);
        out[2] = static_cast<unsigned char>(four >> 32);
        out[3] = static_cast<unsigned char>(four >> 48);
        out += 4;
        i += 4;
        continue;
      }
    }
    uint32_t code = unitAt(in + 2 * i++);
    if (isLeadSurrogate(code) && i < units && isTrailSurrogate(unitAt(in + 2 * i)))
      code = pairedCodePoint(code, unitAt(in + 2 * i++));
    out = putUtf8(code, out);
  }
  *out = 0;
  return static_cast<size_t>(out - start);
}

bool isSurrogate(uint32_t code) { return code >= 0xD800 && code < 0xE000; }

std::u16string utf16FromUtf8(const std::string& utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    uint32_t code = nextCodePoint(utf8, &at);
    if (code == NotACharacter) code = 0xFFFD;
    if (code >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 | (code - 0x10000) >> 10);
      wide += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

std::string utf8FromUtf16(const char16_t* units, size_t count) {
  std::string utf8;
  utf8.reserve(count);
  for (size_t i = 0; i < count;) appendUtf8(nextUtf16CodePoint(units, count, &i), &utf8);
  return utf8;
}

std::u16string utf16FromLeBytes(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(unitAt(reinterpret_cast<const unsigned char*>(&bytes[2 * i])));
  return units;
}

std::string utf8FromRegistryString(const std::string& bytes) {
  const std::u16string units = utf16FromLeBytes(bytes);
  const size_t zero = units.find(u'\0');
  return utf8FromUtf16(units.data(), zero == std::u16string::npos ? units.size() : zero);
}

std::string utf16LeFromUtf8(const std::string& utf8) {
  const std::u16string wide = utf16FromUtf8(utf8);
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t unit : wide) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

size_t utf16PieceLength(const char16_t* units, size_t count, size_t most) {
  if (count <= most) return count;
  const bool partsPair = isLeadSurrogate(units[most - 1]) && isTrailSurrogate(units[most]);
  return partsPair ? most - 1 : most;
}

std::string numberText(uint32_t value, int base) {
  const char* digits = "0123456789abcdef";
  const uint32_t radix = base == 16 ? 16 : 10;
  char text[16];
  size_t start = sizeof text;
  do {
    text[--start] = digits[value % radix];
    value /= radix;
  } while (value != 0);
  return std::string(text + start, sizeof text - start);
}

bool isAscii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool isControlCharacter(uint32_t code) { return code < 0x20 || code == 0x7F; }

bool hasControlCharacter(const std::string& utf8) {
  for (char c : utf8)
    if (isControlCharacter(static_cast<unsigned char>(c))) return true;
  return false;
}

std::string withControlsShown(const std::string& utf8) {
  std::string shown = utf8;
  for (char& c : shown)
    if (isControlCharacter(static_cast<unsigned char>(c))) c = '?';
  return shown;
}
