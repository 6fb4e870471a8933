// The .NET Framework 4.6.1 or later (setup step 1), read afresh at every call.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Release numbers of 394254 (4.6.1 on Windows 10 1511) and above satisfy step 1.
inline constexpr uint32_t kDotNetRequiredRelease = 394254;

// The "Release" of the .NET Framework 4.5 and later (32-bit view); 0 when none.
uint32_t ReadDotNetRelease();

// ReadDotNetRelease() >= kDotNetRequiredRelease.
bool IsDotNetSatisfied();

// The Japanese line that tells which .NET Framework 4 is installed; for release 0 it
// falls back to the 4.0 Full and Client profiles. Null only when memory runs out.
HeapString DescribeDotNet(uint32_t release);

// The release-table text for a release number above 0 (without the installed suffix),
// formatted into buffer (capacity units, cut to fit).
void DotNetReleaseName(uint32_t release, wchar_t* buffer, int capacity);
