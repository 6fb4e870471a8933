#include "catalog/self_update.h"

#include <shlwapi.h>

#include <utility>

#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/update_server.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/strings.h"

namespace {

constexpr int32_t kCommandLineExtraUnits = 16;
constexpr DWORD kHandOverPollMs = 100;
constexpr wchar_t kSetupFetchFailedText[] = L"更新セットアッププログラムの取得に失敗しました";

}  // namespace

HeapString SetupCommandLine(const wchar_t* path, bool updateMode) {
  if (!path) return HeapString();
  const int32_t length = TextLength(path);
  if (length > INT32_MAX - kCommandLineExtraUnits) return HeapString();
  const int32_t capacity = length + kCommandLineExtraUnits;
  HeapString commandLine = NewString(capacity);
  if (!commandLine) return commandLine;
  wnsprintfW(commandLine.get(), capacity, updateMode ? L"\"%s\" -U" : L"\"%s\"", path);
  return commandLine;
}

void HandOverAndStart(HeapString commandLine, UniqueFile heldProgram) {
  // The new program takes the single-instance mutex at its start, so it may run only
  // once the UI thread has closed this process's handle (it then moves the phase on).
  gSetup.phase.store(kPhaseAwaitingMutex, std::memory_order_release);
  while (gSetup.phase.load(std::memory_order_acquire) == kPhaseAwaitingMutex) {
    Sleep(kHandOverPollMs);
  }
  if (commandLine) RunCommandLine(commandLine.get());
  commandLine.reset();
  heldProgram.reset();
  ExitProcess(0);
}

void SelfUpdate(const wchar_t* setupBaseName, const wchar_t* setupPin) {
  HeapString commandLine;
  UniqueFile held;
  bool fetched = false;
  {
    // The name comes from the update list and becomes a file name in the work folder.
    const bool bare = IsBareFileName(setupBaseName);
    HeapString remoteName = bare ? ConcatString(setupBaseName, L".upd") : HeapString();
    HeapString localName = bare ? ConcatString(setupBaseName, L".exe") : HeapString();
    fetched = bare && FetchFromUpdateServer(remoteName.get(), localName.get(), true);
    if (fetched) {
      HeapString path = WorkPath(localName.get(), true);
      const FilePin pin = ParsePin(setupPin);
      // The self-update never runs on local media: with keys, the pin is required.
      const HeldStart check =
          CheckBeforeStart(path.get(), &pin, gSetup.updateKeysPresent, &held);
      fetched = check == HeldStart::kGo;
      if (!fetched && path) DeleteFileW(path.get());
    }
    if (fetched) {
      HeapString path = WorkPath(localName.get(), true);
      commandLine = SetupCommandLine(path.get(), gSetup.updateMode.load(std::memory_order_relaxed));
    }
  }
  if (!fetched) {
    MessageBoxW(nullptr, kSetupFetchFailedText, kErrorTitle, MB_OK | MB_ICONERROR);
    ExitProcess(0);
  }
  // Without a command line nothing can be started; the process still ends.
  HandOverAndStart(std::move(commandLine), std::move(held));
}
