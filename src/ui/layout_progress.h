// The window of a "/layout DIR /passive" run: which file of the medium is being fetched,
// its bar and bytes, and a button that cancels the layout.
#pragma once

#include <windows.h>

#include "state/transfer_progress.h"

// What the layout reports while it works; the window reads it on each tick.
struct LayoutProgress {
  TransferProgress transfer;
  SRWLOCK lock = SRWLOCK_INIT;
  wchar_t file[MAX_PATH] = L"";  // the file being laid out (under lock)
};

// Names the file now being laid out (cut to the buffer).
void SetLayoutFile(LayoutProgress& progress, const wchar_t* name);

// Shows the window until done is signalled, then closes it. True when the user cancelled
// first (the button, Esc or the close box): the caller then stops the work.
bool ShowLayoutProgress(LayoutProgress& progress, HANDLE done);
