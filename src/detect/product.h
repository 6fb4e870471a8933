// The application itself (setup step 3), as its own installer registers it per user
// under HKEY_CURRENT_USER "Software\Qirana\Velto3rd", and the one predicate that says
// whether a setup step is done.
#pragma once

#include "state/setup_state.h"
#include "detect/registry.h"
#include "util/owners.h"

// Whether "Installed" reads 1 (64-bit view wanted).
bool IsProductInstalled();

// "<Version>がインストール済みです" when installed with a non-empty version, else
// "インストールされておりません". Null only when memory runs out.
HeapString DescribeProduct();

// Installed, and a "VersionCode" of 0 or more that equals offeredVersionCode, the code
// that the update information offers.
bool IsProductCurrent(int32_t offeredVersionCode);

// Whether a step is done: 0 .NET Framework, 1 LocalDB, 2 the application (current at
// offeredVersionCode); false for any other id.
bool IsComponentSatisfied(ComponentId id, int32_t offeredVersionCode);
