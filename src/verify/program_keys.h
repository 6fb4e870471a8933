// The public keys that the update list must be signed with: resource VELTOKEYS of type
// RT_RCDATA in the program, 64-byte keys (X then Y of the P-256 point) one after another.
// A vendor can set them in a built program with UpdateResourceW before signing it.
#pragma once

#include <windows.h>

#include <cstdint>

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

// The keys of module (null: the executable).
ProgramKeys LoadProgramKeys(HMODULE module);
