#include "net/proxy_codec.h"

namespace {

uint32_t DigitValue(wchar_t unit) {
  if (unit >= L'0' && unit <= L'9') return uint32_t(unit - L'0');
  if (unit >= L'A' && unit <= L'Z') return uint32_t(unit - L'A') + 10;
  if (unit >= L'a' && unit <= L'z') return uint32_t(unit - L'a') + 10;
  return 0;
}

uint32_t Bit(uint32_t value, int index) { return (value >> index) & 1u; }

}  // namespace

bool DecodeProxyByte(const wchar_t** cursor, uint32_t key, uint8_t* byte) {
  const wchar_t* at = *cursor;
  if (at[0] == L'\0' || at[1] == L'\0') return false;
  // The first character of a pair is the low part; letters past F overflow into the
  // high nibble on purpose, as the writers of the file do.
  const uint32_t d = ((DigitValue(at[1]) * 16) % 256) | DigitValue(at[0]);
  const uint32_t e = (Bit(d, 4) << 7) | (Bit(d, 0) << 6) | ((Bit(d, 6) ^ 1u) << 5) |
                     (Bit(d, 1) << 4) | (Bit(d, 7) << 3) | ((Bit(d, 5) ^ 1u) << 2) |
                     (Bit(d, 2) << 1) | Bit(d, 3);
  *byte = uint8_t((e ^ ((key & 0xF) * 16) ^ (key & 0xF)) & 0xFF);
  *cursor = at + 2;
  return true;
}

bool DecodeProxyValue(const wchar_t* text, wchar_t* output) {
  output[0] = L'\0';
  if (!text || text[0] == L'\0') return true;
  const uint32_t key = (uint32_t(text[0]) - 1) % 16;
  const wchar_t* cursor = text + 1;
  int32_t length = 0;
  while (*cursor != L'\0') {
    uint16_t accumulator = 0;
    uint8_t byte = 0;
    do {
      if (!DecodeProxyByte(&cursor, key, &byte)) {
        output[0] = L'\0';
        return false;
      }
      accumulator = uint16_t((uint32_t(accumulator) << 7) | (byte & 0x7Fu));
    } while (byte & 0x80u);
    if (length >= kProxyValueUnits - 1) {
      output[0] = L'\0';
      return false;
    }
    output[length++] = wchar_t(accumulator);
    output[length] = L'\0';
  }
  return true;
}
