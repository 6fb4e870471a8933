// The banner image at the top of the setup dialog: a PNG resource decoded with GDI+.
#pragma once

#include <windows.h>

#include "util/owners.h"

// A decoded bitmap together with the stream and the memory block it was decoded from.
// GDI+ may read from the stream for as long as the bitmap lives, so the three go
// together; the members are released bitmap first, then stream, then memory.
struct BannerBitmap {
  GlobalBlock memory;
  UniqueStream stream;
  UniqueGdiplusBitmap bitmap;
};

// Decodes resource 108 of type "PNG" in module. bitmap is null when the resource is
// missing or empty, or when it cannot be copied, streamed or decoded (GDI+ must have
// been started).
BannerBitmap LoadBannerBitmap(HMODULE module);

// A GDI bitmap of the banner for a static control, or null when any step fails.
UniqueGdiObject BannerHandle(HMODULE module);
