// SQL Server LocalDB (setup step 2): what is registered, which package this machine
// should get, whether step 2 is done, and the line that tells the user. Every call reads
// the registry and asks the system afresh.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Package kinds: 0 = 32-bit Windows (2014 SP3 x86), 1 = 64-bit Windows 7 or earlier
// (2014 SP3 x64), 2 = 64-bit Windows 8 or later (2017 RTM x64).
inline constexpr int kLocalDbKind2014x86 = 0;
inline constexpr int kLocalDbKind2014x64 = 1;
inline constexpr int kLocalDbKind2017x64 = 2;

// The highest major version registered under "Installed Versions" (a subkey "12.0"
// gives 12); 0 when none.
int32_t MaxLocalDbMajorVersion();

// The package kind for this machine, from IsWow64 and the Windows version.
int LocalDbPackageKind();

// The package kind for a machine: not 64-bit → 0; the version query failed → 1;
// a Windows version above 6.1 → 2, else 1.
int LocalDbPackageKindFor(bool wow64, bool versionKnown, uint32_t major, uint32_t minor);

// Whether a highest registered major satisfies step 2 for a package kind: kinds 0 and 1
// take 12 or 14, kind 2 only 14, any other kind nothing.
bool IsLocalDbMajorAccepted(int kind, int32_t major);

// The package name of a kind ("SQL Server 2014 SP3 LocalDB(x86)" for any kind other
// than 1 and 2). Null only when memory runs out.
HeapString LocalDbPackageName(int kind);

// The release name for a setup version text (exact match, else the unknown-version
// text) or, without a version text, for the major alone. Null only when memory runs out.
HeapString DescribeLocalDbVersion(int32_t major, const wchar_t* setupVersion);

// The line of step 2: not installed, or the release name followed by the installed
// suffix, marked "(異常)" when the instance API library or the instance's setup version
// is missing. Null only when memory runs out.
HeapString DescribeLocalDb(int32_t major);

// IsLocalDbMajorAccepted(LocalDbPackageKind(), MaxLocalDbMajorVersion()).
bool IsLocalDbSatisfied();
