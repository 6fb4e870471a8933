// Decoding of the text values of the proxy settings file. An encoded value is a key
// character followed by pairs of characters; each pair gives one byte, and each group of
// bytes (all but the last with the top bit set) gives one UTF-16 unit of the text.
#pragma once

#include <cstdint>

// Capacity of a decoded value in UTF-16 units: at most 255 characters and the terminator.
inline constexpr int32_t kProxyValueUnits = 256;

// The byte of the pair at *cursor for the key nibble key (0..15), stored in *byte; the
// cursor moves past both characters. False (cursor and *byte unchanged) when the text
// ends within the pair.
bool DecodeProxyByte(const wchar_t** cursor, uint32_t key, uint8_t* byte);

// Decodes text into output, which holds kProxyValueUnits units. An empty text (or the
// key character alone) gives the empty text. False when the text ends within a pair or
// an open group, or when the result would exceed 255 characters; output is then empty.
// Output always ends with a terminator within its capacity; a null text decodes as empty.
bool DecodeProxyValue(const wchar_t* text, wchar_t* output);
