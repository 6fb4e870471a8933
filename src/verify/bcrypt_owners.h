// Owners of the bcrypt.dll handles, on the pattern of util/owners.h.
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
