// A file checked against its SHA-256 pin and held so that it cannot change before use.
#pragma once

#include <cstdint>

#include "util/owners.h"
#include "verify/hex.h"

enum class PinCheck {
  kMatches,     // the file's SHA-256 equals the pin
  kDiffers,     // it does not
  kUnreadable,  // the file cannot be opened (missing, or held open for writing) or read
};

// Opens path for reading while sharing read access only: as long as the returned handle
// is held, nobody can write, replace, rename or delete the file, so what was checked is
// what a process started from it runs. The handle is returned only when the file
// matches the pin (*check says why not otherwise).
UniqueFile OpenPinnedFile(const wchar_t* path, const uint8_t pin[kSha256Bytes], PinCheck* check);
