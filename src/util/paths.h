// Where the program finds its own files: beside the executable ("Assets") and in the
// per-user work folder (profile\QRN\VeltoUpdater). Every call recomputes its path.
#pragma once

#include "util/owners.h"

// Full path of the module's file (null module: the executable); null on failure.
HeapString ModulePath(HMODULE module);

// The executable's folder, "Assets", '\' and name; null on failure.
HeapString AssetsPath(const wchar_t* name);

// The profile folder, "QRN\", "VeltoUpdater\" and name. With createFolders, the two
// folder levels are created when missing (failures ignored: the path is returned all
// the same and the caller fails later when it uses it). Null on failure.
HeapString WorkPath(const wchar_t* name, bool createFolders);

// text with every occurrence of the user's profile folder (any case) written as
// "%USERPROFILE%": the log, which users send to support, then names where a file lies
// without the user's name. Null when text is null or the heap is exhausted.
HeapString WithoutProfileFolder(const wchar_t* text);

// The path that an open file handle names now, with links and junctions resolved (the
// "\\?\" form shortened to a plain drive or UNC path); null when it cannot be read.
// Starting a checked file by this path starts the file that was checked, whatever a
// re-pointed junction on the way to its old name points at since.
HeapString HeldFilePath(HANDLE file);
