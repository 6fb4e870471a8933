#include "ui/product_launch.h"

#include <shlwapi.h>

#include <utility>

#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/update_list.h"
#include "ui/next_step.h"
#include "worker/component_status.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

// Room for the two pairs of quotes, the switch with its spaces, " /quiet" and the
// terminator.
constexpr int32_t kCommandLineExtraUnits = 24;

// The checked pieces, held until this process ends (it ends right after the start, or
// waits for the installer in the quiet mode): the installer reads them after its start.
UniqueFile gHeldPieces[kComponentFileCount];

// The pieces besides the installer are checked when pinned (and must be when pins are
// required); a piece that differs is deleted from the work folder (never from the local
// medium) and nothing is started.
bool OtherPiecesMatch(bool fromAssets) {
  bool match = true;
  for (int i = 1; i < kComponentFileCount; ++i) {
    const wchar_t* entry = gSetup.componentFiles[i];
    if (entry[0] == L'\0') continue;
    HeapString piece = PieceLocalName(entry);
    HeapString path = fromAssets ? AssetsPath(piece.get()) : WorkPath(piece.get(), false);
    const HeldStart check =
        CheckBeforeStart(path.get(), PiecePin(i), PinsRequiredFor(fromAssets), &gHeldPieces[i]);
    if (check == HeldStart::kGo) continue;
    if (check == HeldStart::kMismatch && !fromAssets && path) DeleteFileW(path.get());
    match = false;
  }
  return match;
}

bool AnyPieceRefused() {
  for (bool refused : gSetup.componentRefused) {
    if (refused) return true;
  }
  return false;
}

}  // namespace

// The piece table may be looked at only once the worker has published it.
const wchar_t* FirstPieceName() {
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseReady) return nullptr;
  const wchar_t* first = gSetup.componentFiles[0];
  return first[0] != L'\0' ? first : nullptr;
}

HeapString ProductInstallerCommandLine(const wchar_t* installer, const wchar_t* information,
                                       bool fromAssets, bool quiet) {
  const int64_t units =
      int64_t(TextLength(installer)) + TextLength(information) + kCommandLineExtraUnits;
  if (units > INT32_MAX) return HeapString();
  HeapString commandLine = NewString(int32_t(units));
  if (!commandLine) return commandLine;
  const wchar_t* format = fromAssets ? (quiet ? L"\"%s\" /m \"%s\" /quiet" : L"\"%s\" /m \"%s\"")
                                     : (quiet ? L"\"%s\" /i \"%s\" /quiet" : L"\"%s\" /i \"%s\"");
  wnsprintfW(commandLine.get(), int(units), format, installer ? installer : L"",
             information ? information : L"");
  return commandLine;
}

bool StartProductInstaller(UniqueHandle* process) {
  const wchar_t* first = FirstPieceName();
  if (!first || AnyPieceRefused()) return false;
  HeapString piece = PieceLocalName(first);
  const bool fromAssets = gSetup.localAssetsMode.load(std::memory_order_relaxed);
  HeapString installer = fromAssets ? AssetsPath(piece.get()) : WorkPath(piece.get(), true);
  if (!installer || !PathFileExistsW(installer.get())) return false;
  HeapString information = fromAssets ? AssetsPath(kUpdateInfoName)
                                      : WorkPath(kUpdateInfoName, true);
  // Started without its argument the installer would not know what to install.
  if (!information) return false;
  // The installer is held, checked, until this process ends, and started by the path of
  // the held handle, never by looking its name up again.
  ReleaseProductPieces();
  const HeldStart check = CheckBeforeStart(installer.get(), PiecePin(0),
                                           PinsRequiredFor(fromAssets), &gHeldPieces[0]);
  if (check == HeldStart::kMismatch && !fromAssets) DeleteFileW(installer.get());
  const bool checked = check == HeldStart::kGo && OtherPiecesMatch(fromAssets);
  if (checked && gHeldPieces[0]) installer = HeldFilePath(gHeldPieces[0].get());
  HeapString commandLine = checked && installer
                               ? ProductInstallerCommandLine(installer.get(), information.get(),
                                                             fromAssets,
                                                             gSetup.runMode == RunMode::kQuiet)
                               : HeapString();
  UniqueHandle started = commandLine ? StartCommandLine(commandLine.get()) : UniqueHandle();
  if (!started) {
    // Nothing runs that needs them: the files may change again (and be fetched afresh).
    ReleaseProductPieces();
    return false;
  }
  if (process) *process = std::move(started);
  return true;
}

void ReleaseProductPieces() {
  for (UniqueFile& held : gHeldPieces) held.reset();
}

void LaunchProductInstaller() {
  if (!FirstPieceName() || FetchAgainIfGone(kProduct)) return;
  if (StartProductInstaller()) {
    // The exit code is decided (and logged) before the log is closed.
    gSetup.runEndCode = HandOverExitCode();
    gSetup.runEnded.store(true, std::memory_order_release);
    CloseSetupLog(L"The setup has ended: the application installer was started.");
    return;
  }
  LogEvent(L"the application installer could not be started");
  // The setup program stays open: the user sees the failure and can try again.
  gSetup.slots[kProduct].installFailed = true;
}
