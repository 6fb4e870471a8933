// Hexadecimal texts of fixed length: the SHA-256 pins of the update catalogue and the
// lines of the update list's signature file.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kSha256Bytes = 32;
// An ECDSA P-256 signature: r then s, 32 bytes each, big-endian.
inline constexpr size_t kSignatureBytes = 64;

// Fills out[0..bytes) from text when text is exactly 2 * bytes hexadecimal digits
// (either case) and nothing else. False otherwise; out may then be partly written.
bool ParseHex(const char* text, size_t length, uint8_t* out, size_t bytes);
// The same for a NUL-terminated UTF-16 text (a field of the update information); a null
// text is false.
bool ParseHexText(const wchar_t* text, uint8_t* out, size_t bytes);

// One line of the signature file, without its line end: exactly 128 hex digits. A line
// that is anything else (blank, shorter, longer, other characters) is no signature.
bool ParseSignatureLine(const char* line, size_t length, uint8_t signature[kSignatureBytes]);
