// The background thread: prepares and loads the update information, then fetches the
// installers that the dialog asks for, one at a time, until the stop event is set.
#pragma once

#include <windows.h>

// Thread routine started by InitSetupState: COM for the thread (single-threaded
// apartment, OLE1 DDE disabled), WorkerMain, COM released; exit code 0.
DWORD WINAPI WorkerThreadMain(void* unused);

// Sets phase to preparing, prepares and loads the update information (phase ready, or
// failed and return), then serves requestedDownload until the stop event is set.
void WorkerMain();

// Fetches every piece named in componentFiles, in order, skipping empty entries; the
// first failure (and any request in local mode, where nothing is downloaded) sets
// downloadFailed of the application's slot and stops.
void FetchProductPieces();
