// Owners of the bcrypt.dll handles, on the pattern of util/owners.h, and the calls that
// every user of them needs.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "util/owners.h"

struct AlgorithmTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { BCryptCloseAlgorithmProvider(value, 0); }
};

struct HashTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { BCryptDestroyHash(value); }
};

struct KeyTraits {
  using Value = BCRYPT_KEY_HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { BCryptDestroyKey(value); }
};

// An open algorithm provider (BCryptCloseAlgorithmProvider).
using UniqueAlgorithm = Owner<AlgorithmTraits>;
// A hash object (BCryptDestroyHash).
using UniqueHash = Owner<HashTraits>;
// An imported key (BCryptDestroyKey).
using UniqueKey = Owner<KeyTraits>;

// Every bcrypt call answers an NTSTATUS: success and information codes are not negative.
inline bool Succeeded(NTSTATUS status) { return status >= 0; }

// A SHA-256 hash object, with the provider it came from in *algorithm (which must outlive
// it); empty on failure. bcrypt allocates the object's buffer (Windows 7 and later; Vista
// needs a buffer of the caller's, which this program does not support).
inline UniqueHash NewSha256Hash(UniqueAlgorithm* algorithm) {
  UniqueHash hash;
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm->put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                             0)) ||
      !Succeeded(BCryptCreateHash(algorithm->get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
    return UniqueHash();
  }
  return hash;
}
