// Starting a program from a command line alone.
#pragma once

#include "util/owners.h"

// Whether this process's token is elevated; false when it cannot be asked.
bool IsProcessElevated();

// Starts the process named by the first (quoted) token of commandLine, with the
// caller's environment and current folder, and does not wait for it. commandLine must
// be writable: the platform may modify it during the call. True when it was started.
bool RunCommandLine(wchar_t* commandLine);

// The same start, keeping the process handle for a caller that waits for the process;
// null when nothing was started.
UniqueHandle StartCommandLine(wchar_t* commandLine);
