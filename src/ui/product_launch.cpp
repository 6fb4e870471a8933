#include "ui/product_launch.h"

#include <shlwapi.h>

#include <utility>

#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/update_list.h"
#include "ui/next_step.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kPieceSuffix[] = L".upi";
// Room for the two pairs of quotes, the switch with its spaces, " /quiet" and the
// terminator.
constexpr int32_t kCommandLineExtraUnits = 24;

// The piece table may be looked at only once the worker has published it.
const wchar_t* FirstPiece() {
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseReady) return nullptr;
  const wchar_t* first = gSetup.componentFiles[0];
  return first[0] != L'\0' ? first : nullptr;
}

// The pieces besides the installer are checked when pinned; a piece that differs is
// deleted from the work folder (never from the local medium) and nothing is started.
bool OtherPiecesMatch(bool fromAssets) {
  bool match = true;
  for (int i = 1; i < kComponentFileCount; ++i) {
    const wchar_t* entry = gSetup.componentFiles[i];
    const FilePin* pin = PiecePin(i);
    if (entry[0] == L'\0' || !pin || !pin->present) continue;
    HeapString piece = ConcatString(entry, kPieceSuffix);
    HeapString path = fromAssets ? AssetsPath(piece.get()) : WorkPath(piece.get(), false);
    UniqueFile unused;
    if (CheckBeforeStart(path.get(), pin, false, &unused) == HeldStart::kGo) continue;
    if (!fromAssets && path) DeleteFileW(path.get());
    match = false;
  }
  return match;
}

}  // namespace

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
  const wchar_t* first = FirstPiece();
  if (!first) return false;
  HeapString piece = ConcatString(first, kPieceSuffix);
  const bool fromAssets = gSetup.localAssetsMode.load(std::memory_order_relaxed);
  HeapString installer = fromAssets ? AssetsPath(piece.get()) : WorkPath(piece.get(), true);
  if (!installer || !PathFileExistsW(installer.get())) return false;
  HeapString information = fromAssets ? AssetsPath(kUpdateInfoName)
                                      : WorkPath(kUpdateInfoName, true);
  // Started without its argument the installer would not know what to install.
  if (!information) return false;
  HeapString commandLine = ProductInstallerCommandLine(
      installer.get(), information.get(), fromAssets, gSetup.runMode == RunMode::kQuiet);
  if (!commandLine) return false;
  // The installer is held, checked, until its process exists.
  UniqueFile held;
  const HeldStart check = CheckBeforeStart(installer.get(), PiecePin(0), PinsRequired(), &held);
  if (check == HeldStart::kMismatch && !fromAssets) DeleteFileW(installer.get());
  if (check != HeldStart::kGo || !OtherPiecesMatch(fromAssets)) return false;
  UniqueHandle started = StartCommandLine(commandLine.get());
  if (!started) return false;
  if (process) *process = std::move(started);
  return true;
}

void LaunchProductInstaller() {
  if (!FirstPiece()) return;
  if (StartProductInstaller()) {
    // The exit code is decided (and logged) before the log is closed.
    const int32_t exitCode = HandOverExitCode();
    CloseSetupLog(L"The setup has ended: the application installer was started.");
    ExitProcess(UINT(exitCode));
  }
  LogEvent(L"the application installer could not be started");
  // The setup program stays open: the user sees the failure and can try again.
  gSetup.slots[kProduct].installFailed = true;
}
