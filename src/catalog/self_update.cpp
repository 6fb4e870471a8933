#include "catalog/self_update.h"

#include <shlwapi.h>

#include <utility>

#include "state/exit_codes.h"
#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/fetch_retry.h"
#include "catalog/update_server.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

// The quotes, " -U", the run mode's switch and the terminator.
constexpr int32_t kCommandLineExtraUnits = 24;
constexpr DWORD kHandOverPollMs = 100;

}  // namespace

HeapString SetupCommandLine(const wchar_t* path, bool updateMode, RunMode mode) {
  if (!path) return HeapString();
  const int32_t length = TextLength(path);
  if (length > INT32_MAX - kCommandLineExtraUnits) return HeapString();
  const int32_t capacity = length + kCommandLineExtraUnits;
  HeapString commandLine = NewString(capacity);
  if (!commandLine) return commandLine;
  const wchar_t* modeSwitch = mode == RunMode::kQuiet     ? L" /quiet"
                             : mode == RunMode::kPassive ? L" /passive"
                                                         : L"";
  wnsprintfW(commandLine.get(), capacity, updateMode ? L"\"%s\" -U%s" : L"\"%s\"%s", path,
             modeSwitch);
  return commandLine;
}

void HandOverInstanceMutex() {
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseAwaitingMutex) return;
  gSetup.instanceMutex.reset();
  gSetup.phase.store(kPhaseHandedOver, std::memory_order_release);
}

int32_t HandOverAndStart(HeapString commandLine, UniqueFile heldProgram) {
  // The new program takes the single-instance mutex at its start, so it may run only
  // once the UI thread has closed this process's handle (it then moves the phase on).
  gSetup.phase.store(kPhaseAwaitingMutex, std::memory_order_release);
  while (gSetup.phase.load(std::memory_order_acquire) == kPhaseAwaitingMutex) {
    Sleep(kHandOverPollMs);
  }
  HeapString logged = WithoutProfileFolder(commandLine.get());
  LogEvent(L"self-update: handing over to %s",
           logged ? logged.get() : L"nothing (no command line)");
  // Closed before the newer program starts, so that it finds the file free and keeps it
  // as the previous run's log.
  CloseSetupLog(L"The setup has ended: a newer setup program takes over.");
  // An unattended run ends with the outcome of the whole work, which the newer program
  // now does: a deployment tool must not read success before it has ended.
  if (gSetup.runMode == RunMode::kInteractive) {
    if (commandLine) RunCommandLine(commandLine.get());
    commandLine.reset();
    heldProgram.reset();
    return 0;
  }
  UniqueHandle newer = commandLine ? StartCommandLine(commandLine.get()) : UniqueHandle();
  heldProgram.reset();
  DWORD exitCode = kExitFailed;
  if (newer && WaitForSingleObject(newer.get(), INFINITE) == WAIT_OBJECT_0) {
    GetExitCodeProcess(newer.get(), &exitCode);
  }
  return int32_t(exitCode);
}

SelfUpdateEnd SelfUpdate(const wchar_t* setupBaseName, const wchar_t* setupPin) {
  HeapString commandLine;
  UniqueFile held;
  bool fetched = false;
  {
    // The name comes from the update list and becomes a file name in the work folder.
    const bool bare = IsBareFileName(setupBaseName);
    HeapString remoteName = bare ? ConcatString(setupBaseName, L".upd") : HeapString();
    HeapString localName = bare ? ConcatString(setupBaseName, L".exe") : HeapString();
    fetched = bare && FetchWithRetries(remoteName.get(), localName.get(), true);
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
      // Started by the path of the held handle, never by looking the name up again.
      HeapString path = held ? HeldFilePath(held.get()) : WorkPath(localName.get(), true);
      // Every switch of this run goes on: the newer program does this run's work.
      const CommandLineOptions options = ParseCommandLine(GetCommandLineW());
      HeapString program = SetupCommandLine(
          path.get(), gSetup.updateMode.load(std::memory_order_relaxed), RunMode::kInteractive);
      HeapString switches = PassedOnSwitches(options);
      if (program && switches) commandLine = ConcatString(program.get(), switches.get());
    }
  }
  if (!fetched) {
    LogEvent(L"self-update: the newer setup program could not be fetched");
    const bool unattended = gSetup.runMode != RunMode::kInteractive;
    if (unattended) LogEndEvent(L"The newer setup program could not be fetched (exit code 1603).");
    return {unattended ? kExitFailed : 0, true};
  }
  LogEvent(L"self-update: %s fetched", setupBaseName);
  // Without a command line nothing can be started; the run still ends.
  return {HandOverAndStart(std::move(commandLine), std::move(held)), false};
}
