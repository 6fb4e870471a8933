// The hand-over to the application's own installer, the first piece named by the update
// information, which the setup program ends itself for.
#pragma once

#include "util/owners.h"

// The first piece named by the update information (the application's installer), once
// the worker has published it (phase ready); null before, or when none is named.
const wchar_t* FirstPieceName();

// The installer's command line: the quoted installer path, "/m" when the pieces come
// from the Assets folder (else "/i"), and the quoted path of the update information,
// followed by "/quiet" when quiet is set. A null path counts as empty. Null only when
// memory runs out.
HeapString ProductInstallerCommandLine(const wchar_t* installer, const wchar_t* information,
                                       bool fromAssets, bool quiet = false);

// Starts the first piece (Assets folder in local assets mode, else the work folder) with
// the update information as argument. True when a process was started; false when the
// update information is not loaded, names no piece, the piece is missing, a piece fails
// its pin (it is then deleted from the work folder), a piece's name was refused, a piece
// has no pin while one is required, or the start failed. The installer and the pieces
// are held, checked, until this process ends, and the installer is started by the path
// of its held handle. In the
// quiet mode the installer is asked to run without a window ("/quiet"), and process, when
// given, receives the started process for the caller to wait for.
bool StartProductInstaller(UniqueHandle* process = nullptr);

// Lets go of the pieces held since the last start, for a caller that has seen the
// installer end (the next start would hold them again).
void ReleaseProductPieces();

// The third install button: starts the application's installer and ends the run with
// HandOverExitCode() (0 in the interactive mode) as runEndCode, runEnded set and the log
// closed; the dialog then ends. When nothing could be started it marks the
// application step failed, so the dialog stays and shows the failure with the button
// still usable; pressed again with a piece gone since (deleted for failing its check), the
// step fetches its pieces afresh instead. Does nothing while no first piece is named.
void LaunchProductInstaller();
