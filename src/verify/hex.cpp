#include "verify/hex.h"

namespace {

int DigitValue(unsigned unit) {
  if (unit >= '0' && unit <= '9') return int(unit - '0');
  if (unit >= 'a' && unit <= 'f') return int(unit - 'a' + 10);
  if (unit >= 'A' && unit <= 'F') return int(unit - 'A' + 10);
  return -1;
}

template <typename Unit>
bool ParseUnits(const Unit* text, size_t length, uint8_t* out, size_t bytes) {
  if (!text || !out || length != 2 * bytes) return false;
  for (size_t i = 0; i < bytes; ++i) {
    const int high = DigitValue(unsigned(text[2 * i]));
    const int low = DigitValue(unsigned(text[2 * i + 1]));
    if (high < 0 || low < 0) return false;
    out[i] = uint8_t(high << 4 | low);
  }
  return true;
}

}  // namespace

bool ParseHex(const char* text, size_t length, uint8_t* out, size_t bytes) {
  // Bytes above 0x7F must not pass for digits through sign extension.
  return ParseUnits(reinterpret_cast<const unsigned char*>(text), length, out, bytes);
}

bool ParseHexText(const wchar_t* text, uint8_t* out, size_t bytes) {
  if (!text) return false;
  size_t length = 0;
  // Bounded: a longer text is not a pin anyway.
  while (length <= 2 * bytes && text[length] != L'\0') ++length;
  return ParseUnits(text, length, out, bytes);
}

bool ParseSignatureLine(const char* line, size_t length, uint8_t signature[kSignatureBytes]) {
  return ParseHex(line, length, signature, kSignatureBytes);
}
