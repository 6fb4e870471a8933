// The shared state's first fill and the start of the worker thread, on the UI thread
// before the dialog exists.
#pragma once

// The installer names of the LocalDB step for a package kind (an unknown kind gets the
// 32-bit package).
void LocalDbInstallerNames(int kind, const wchar_t** remoteName, const wchar_t** localName);

// Fills the three slots (installed-at-start judgements, installer names) and empties the
// piece table. Runs on the UI thread before the worker thread exists.
void FillSetupSlots();

// FillSetupSlots, then starts the worker thread (workerThread stays null when it cannot
// be created). Runs on the UI thread before the dialog exists. Always true.
bool InitSetupState();
