// The program's run between the process entry and its end: the command line, the shared
// state, the modal setup dialog and the orderly stop of the worker thread.
#pragma once

#include "app/setup_state.h"

// The single-instance mutex; a second start while it exists is refused.
inline constexpr wchar_t kInstanceMutexName[] = L"Local\\VTSETUPMUTEX201909171615";
// Longest wait for the worker thread after the stop signal before it is terminated.
inline constexpr DWORD kWorkerStopWaitMs = 1000;

// Update mode: more than one argument and the first after the program path is exactly
// "-U" (case-sensitive). False when the command line cannot be split.
bool IsUpdateModeCommandLine(const wchar_t* commandLine);

// The installer names of the LocalDB step for a package kind (an unknown kind gets the
// 32-bit package).
void LocalDbInstallerNames(int kind, const wchar_t** remoteName, const wchar_t** localName);

// Fills the three slots (installed-at-start judgements, installer names) and empties the
// piece table. Runs on the UI thread before the worker thread exists.
void FillSetupSlots();

// FillSetupSlots, then starts the worker thread (workerThread stays null when it cannot
// be created). Runs on the UI thread before the dialog exists. Always true.
bool InitSetupState();

// Reads the command line, runs the dialog until it ends and stops the worker thread.
// stateLock exists only during this call. Called once, by the process entry.
void RunSetup();
