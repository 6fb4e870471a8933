// The status of each setup step, evaluated by the dialog once a second, and the start
// and watch of the prerequisite installers. Everything here runs on the UI thread.
#pragma once

#include "state/setup_state.h"
#include "util/owners.h"

// ComponentStatus codes.
using ComponentStatus = int32_t;
inline constexpr ComponentStatus kStatusWaitingForDownload = 1;
inline constexpr ComponentStatus kStatusDownloading = 2;
inline constexpr ComponentStatus kStatusInstallerAvailable = 3;
inline constexpr ComponentStatus kStatusDownloadFailed = 4;
inline constexpr ComponentStatus kStatusInstalling = 5;
inline constexpr ComponentStatus kStatusInstallFailed = 6;
inline constexpr ComponentStatus kStatusInstallCompleted = 7;
inline constexpr ComponentStatus kStatusAlreadyInstalled = 8;

// The status of a step (1 to 8), or for step 3 the phase while it is not kPhaseReady.
// Not a pure query: it reaps an ended installer (judging, recording and deleting the
// used installer) and posts a download request when the installer is missing.
// Any id other than 0, 1 and 2 gives 0 and changes nothing.
ComponentStatus ComponentStatusOf(ComponentId id);

// Steps 1 and 2: the path of the installer (Assets folder first, then the work folder),
// or null. Step 3: "OK" when every named piece is present (also for an empty table),
// else null. Owned by the caller.
HeapString FindInstaller(ComponentId id);

// Deletes the used installer of step 1 or 2 from the work folder; the Assets copy stays.
void DeleteInstaller(ComponentId id);

// Starts the installer of step 1 or 2 (with the "RunAs" verb when elevate is set),
// unless one is already running or none is found. The file is checked against its pin
// on a handle held (in the slot) until the process has been reaped, and started by that
// handle's path. A medium copy that fails its check is left alone and not used again in
// this run: the work folder's copy is tried, or, without one, the step asks for a
// download. A work folder copy that fails is deleted (pressed again, the step fetches it
// afresh: FetchAgainIfGone). The outcome shows in the status.
void StartInstaller(ComponentId id, bool elevate);

// A start pressed again after one that failed: when the installer has gone since (a
// work folder copy deleted for failing its check), nothing is left to start, so the step
// fetches it afresh (installFailed is cleared) and true is returned. False, and nothing
// changes, when the step had not failed or its installer is there.
bool FetchAgainIfGone(ComponentId id);

// Starts the installer at path: step 2 through the system folder's msiexec.exe (never
// one found by searching), others directly. The process
// handle, or null when nothing was started (also when the msiexec parameter text cannot
// be allocated).
UniqueHandle LaunchInstaller(ComponentId id, const wchar_t* path, bool elevate);

// The switches of the .NET Framework installer: none in the interactive mode (it shows
// its own user interface), "/passive /norestart" or "/q /norestart" in the unattended
// ones, so that it never restarts the PC by itself.
const wchar_t* DotNetInstallerSwitches(RunMode mode);

// The msiexec parameters that install the LocalDB package at packagePath silently with
// its licence terms accepted: /i "<path>" /qn IACCEPTSQLLOCALDBLICENSETERMS=YES.
// Null when packagePath is null or the text cannot be allocated.
HeapString MsiexecParameters(const wchar_t* packagePath);
