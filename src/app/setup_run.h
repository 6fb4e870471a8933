// The program's run between the process entry and its end: the command line, the shared
// state, the modal setup dialog and the orderly stop of the worker thread.
#pragma once

#include <windows.h>

#include <cstdint>

// Longest wait for the worker thread after the stop signal before it is terminated.
inline constexpr DWORD kWorkerStopWaitMs = 1000;

// Reads the command line, runs the dialog until it ends (or, with /quiet, the run
// without a window) and stops the worker thread. stateLock exists only during this call.
// Called once, by the process entry. The process exit code: 0 in the interactive mode;
// in the unattended ones the run's own code (see ui/next_step.h).
int32_t RunSetup();
