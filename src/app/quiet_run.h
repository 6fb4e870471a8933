// The /quiet run: no window at all. The same work as the dialog's, in the same order and
// on the same one-second rhythm: the steps are evaluated as the dialog evaluates them
// (which drives downloads and watches installers), and the next-step decision starts
// the installers. The application's installer is waited for.
#pragma once

#include <cstdint>

// Runs until the work is done or fails; the process exit code (0, 3010, 1603, or the
// application installer's own non-zero code). The end is written to the setup log.
// Needs the shared state initialised and the worker started.
int32_t RunQuietly();
