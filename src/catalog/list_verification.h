// The update list's signature check, for a program that holds public keys.
#pragma once

#include "util/owners.h"

inline constexpr wchar_t kListSignatureName[] = L"vtupdaterlist.sig";

// Fetches "vtupdaterlist.sig" from beside the list (afresh) and checks the list copy at
// listPath against it with the program's keys. The list's handle, held with read
// sharing only so that the copy read next is the one that was checked; empty when the
// list is not signed by one of the keys, in which case the list copy is deleted and
// the setup log says why.
UniqueFile OpenSignedList(const wchar_t* listPath);
