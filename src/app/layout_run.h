// "/layout DIR": an offline medium for PCs without the update server. DIR gets a copy of
// this program and DIR\Assets the update information of the section in effect (with its
// pins), the .NET Framework installer, every LocalDB package that some supported Windows
// is offered, and the application's pieces: what the program run from DIR needs to
// install everything in local mode.
#pragma once

#include <cstdint>

// Makes the medium at folder (a full path) and returns the exit code: 0 when it is
// complete, 1603 otherwise. Files already in DIR\Assets that match their pins are kept;
// others are fetched with the worker's retries, resuming from the partial files of an
// earlier run in the work folder, checked, and moved in. The information file and the
// program copy come last, so a medium cut short never looks complete. With keys every
// file must carry a pin. Needs the shared state initialised and the worker started (it
// prepares the update information, and may hand the run over to a newer setup program).
int32_t RunLayout(const wchar_t* folder);

// RunLayout on a thread of its own while a window shows which file is fetched and how far
// (a passive layout). Cancelling the window stops the layout, which then ends with 1602.
int32_t RunLayoutWithWindow(const wchar_t* folder);
