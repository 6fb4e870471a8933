// Replacement of the running setup program by a newer revision named in the update list.
// Runs on the worker thread while the dialog is up; ends the run on every path, and the
// process entry then ends the process with the outcome.
#pragma once

#include "state/command_line.h"
#include "util/owners.h"

// The command line that starts the setup program at path: the path in double quotes,
// followed by " -U" when updateMode, then by " /passive" or " /quiet" for those modes.
// Formatted with a capacity of length(path) + 24 units and cut beyond it. Null when path
// is null or the heap is exhausted.
HeapString SetupCommandLine(const wchar_t* path, bool updateMode,
                            RunMode mode = RunMode::kInteractive);

// How a self-update ended this run: the process exit code, and whether the newer program
// could not be fetched (the user is told, unless the run is quiet).
struct SelfUpdateEnd {
  int32_t exitCode;
  bool fetchFailed;
};

// Fetches setupBaseName + ".upd" from the update server as setupBaseName + ".exe" in the
// work folder (always afresh), hands the single-instance mutex over to the UI thread,
// starts the fetched program with SetupCommandLine (in update mode) followed by every
// switch of this run (PassedOnSwitches) and ends as HandOverAndStart ends. A base name that is absent or not
// a bare file name fails like a failed fetch: fetchFailed with exit code 0, or 1603 with
// /quiet or /passive (the end is then logged).
// setupPin is the SHA-256 from the setup revision record: a fetched program that differs
// (or has none while the program holds keys) is deleted and fails like a failed fetch;
// the one that matches is held open until it has been started, and started by the path
// of the held handle.
SelfUpdateEnd SelfUpdate(const wchar_t* setupBaseName, const wchar_t* setupPin = nullptr);

// The UI thread's half of the hand-over, for every run: once the worker asks for it
// (phase kPhaseAwaitingMutex), closes the single-instance mutex (the newer setup program
// may start only then) and moves the phase to kPhaseHandedOver. Call on the UI thread at
// least once a second.
void HandOverInstanceMutex();

// The hand-over on its own: sets phase to kPhaseAwaitingMutex, tests it at once and
// every 100 ms until the UI thread has closed instanceMutex and moved it on (no time
// limit), closes the setup log, then starts commandLine (unless null; a failed start is
// not reported) and returns exit code 0. With /quiet or /passive it waits for the started
// program and returns its exit code (1603 when nothing could be started), so that a
// deployment tool reads the outcome of the whole run. heldProgram, when given, stays open until the
// start has been made.
int32_t HandOverAndStart(HeapString commandLine, UniqueFile heldProgram = UniqueFile());
