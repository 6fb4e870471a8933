#include "ui/product_launch.h"

#include <shlwapi.h>

#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/update_list.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kPieceSuffix[] = L".upi";
// Room for the two pairs of quotes, the switch with its spaces and the terminator.
constexpr int32_t kCommandLineExtraUnits = 16;

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
                                       bool fromAssets) {
  const int64_t units =
      int64_t(TextLength(installer)) + TextLength(information) + kCommandLineExtraUnits;
  if (units > INT32_MAX) return HeapString();
  HeapString commandLine = NewString(int32_t(units));
  if (!commandLine) return commandLine;
  wnsprintfW(commandLine.get(), int(units), fromAssets ? L"\"%s\" /m \"%s\"" : L"\"%s\" /i \"%s\"",
             installer ? installer : L"", information ? information : L"");
  return commandLine;
}

bool StartProductInstaller() {
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
  HeapString commandLine =
      ProductInstallerCommandLine(installer.get(), information.get(), fromAssets);
  if (!commandLine) return false;
  // The installer is held, checked, until its process exists.
  UniqueFile held;
  const HeldStart check = CheckBeforeStart(installer.get(), PiecePin(0), PinsRequired(), &held);
  if (check == HeldStart::kMismatch && !fromAssets) DeleteFileW(installer.get());
  if (check != HeldStart::kGo || !OtherPiecesMatch(fromAssets)) return false;
  return RunCommandLine(commandLine.get());
}

void LaunchProductInstaller() {
  if (!FirstPiece()) return;
  if (StartProductInstaller()) ExitProcess(0);
  // The setup program stays open: the user sees the failure and can try again.
  gSetup.slots[kProduct].installFailed = true;
}
