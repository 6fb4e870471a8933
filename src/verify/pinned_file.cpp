#include "verify/pinned_file.h"

#include <cstring>

#include "verify/sha256.h"

UniqueFile OpenPinnedFile(const wchar_t* path, const uint8_t pin[kSha256Bytes], PinCheck* check) {
  PinCheck outcome = PinCheck::kUnreadable;
  UniqueFile file;
  if (path && pin) {
    file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  }
  uint8_t digest[kSha256Bytes];
  if (file && Sha256OfFile(file.get(), digest)) {
    outcome = memcmp(digest, pin, kSha256Bytes) == 0 ? PinCheck::kMatches : PinCheck::kDiffers;
  }
  if (outcome != PinCheck::kMatches) file.reset();
  if (check) *check = outcome;
  return file;
}
