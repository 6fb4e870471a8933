// SHA-256 through bcrypt.dll (Windows Vista and later: BCryptCreateHash, BCryptHashData,
// BCryptFinishHash; not BCryptHash, which only Windows 10 has).
#pragma once

#include <windows.h>

#include <cstdint>

#include "verify/hex.h"

// The digest of the whole file behind an open handle with read access, read from its
// start in 64 KiB blocks whatever the handle's position was. False when a read or a
// hash call fails.
bool Sha256OfFile(HANDLE file, uint8_t digest[kSha256Bytes]);

// The digest of size bytes at data.
bool Sha256OfBytes(const void* data, uint32_t size, uint8_t digest[kSha256Bytes]);
