#include "verify/sha256.h"

#include "verify/bcrypt_owners.h"

namespace {

constexpr DWORD kReadBlockBytes = 64 * 1024;

}  // namespace

bool Sha256OfFile(HANDLE file, uint8_t digest[kSha256Bytes]) {
  if (!file || file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  UniqueAlgorithm algorithm;
  UniqueHash hash = NewSha256Hash(&algorithm);
  if (!hash) return false;
  LocalBlock block(LocalAlloc(LMEM_FIXED, kReadBlockBytes));
  if (!block) return false;
  auto* bytes = static_cast<UCHAR*>(block.get());
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, bytes, kReadBlockBytes, &read, nullptr)) return false;
    if (read == 0) break;
    if (!Succeeded(BCryptHashData(hash.get(), bytes, read, 0))) return false;
  }
  return Succeeded(BCryptFinishHash(hash.get(), digest, kSha256Bytes, 0));
}

bool Sha256OfBytes(const void* data, uint32_t size, uint8_t digest[kSha256Bytes]) {
  UniqueAlgorithm algorithm;
  UniqueHash hash = NewSha256Hash(&algorithm);
  if (!hash) return false;
  // bcrypt takes a non-const pointer but does not write through it.
  if (size && !Succeeded(BCryptHashData(hash.get(), static_cast<UCHAR*>(const_cast<void*>(data)),
                                        size, 0))) {
    return false;
  }
  return Succeeded(BCryptFinishHash(hash.get(), digest, kSha256Bytes, 0));
}
