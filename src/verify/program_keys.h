// The public keys that the update list must be signed with: resource VELTOKEYS of type
// RT_RCDATA, language-neutral, in the program, 64-byte keys (X then Y of the P-256 point)
// one after another. A vendor replaces them in a built program before signing it with
// tools/velto-stamp-keys, which leaves exactly one (neutral) resource.
#pragma once

#include <windows.h>

#include <cstdint>

inline constexpr wchar_t kProgramKeysResource[] = L"VELTOKEYS";

struct ProgramKeys {
  // The resource's bytes, valid while the module is loaded; null without keys.
  const uint8_t* keys = nullptr;
  // Whole keys in the resource.
  int32_t count = 0;
  // The resource exists and is not empty. A program with a broken resource (no whole
  // key) still demands a signature, which then never verifies: keys that were meant to
  // be there never make the program accept an unsigned list.
  bool present = false;
};

// The keys of module (null: the executable). A resource in any language but neutral, or
// in several, counts as present with no whole key: the program then demands a
// signature that never verifies.
ProgramKeys LoadProgramKeys(HMODULE module);
