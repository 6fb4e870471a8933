#include "app/setup_run.h"

#include <commctrl.h>

#include "app/layout_run.h"
#include "app/quiet_run.h"
#include "app/run_log.h"
#include "state/command_line.h"
#include "state/setup_state.h"
#include "ui/next_step.h"
#include "ui/passive_run.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"
#include "util/setup_log.h"
#include "worker/setup_init.h"

namespace {

void StopWorkerThread(int32_t exitCode) {
  if (!gSetup.workerThread) return;
  // A worker blocked in a transfer that does not notice the stop event in time is not
  // waited for. Killed, it may hold the heap's lock or the log's for good, so the process
  // ends at once, without a teardown that could wait on them.
  if (WaitForSingleObject(gSetup.workerThread.get(), kWorkerStopWaitMs) != WAIT_OBJECT_0) {
    // Written while the worker still runs: once it is killed the log's lock may be lost.
    CloseSetupLog(L"The setup has ended; the worker did not stop in time and was ended.");
    TerminateThread(gSetup.workerThread.get(), 0);
    ExitProcess(UINT(exitCode));
  }
  gSetup.workerThread.reset();
}

// The dialog, and in a passive run the code it ended with.
int32_t RunDialog() {
  // Push buttons and statics of Common Controls 6, which the shield needs.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP),
                                         nullptr, SetupDialogProc, 0);
  // Ended by a self-update: its outcome is the run's, whatever the mode.
  if (gSetup.runEnded.load(std::memory_order_acquire)) return gSetup.runEndCode;
  if (gSetup.runMode != RunMode::kPassive) return kExitSuccess;
  if (result == -1) {
    LogUnattendedEnd({NextAction::kEnd, -1, kExitFailed, L"the dialog could not be shown"});
    return kExitFailed;
  }
  const int32_t exitCode = PassiveExitCode();
  if (exitCode == kExitCancelled) {
    LogUnattendedEnd({NextAction::kEnd, -1, kExitCancelled, L"the dialog was closed"});
  }
  return exitCode;
}

}  // namespace

int32_t RunSetup() {
  const CommandLineOptions options = ParseCommandLine(GetCommandLineW());
  gSetup.updateMode.store(options.updateMode, std::memory_order_relaxed);
  gSetup.runMode = options.mode;
  gSetup.prerequisitesOnly = options.prerequisitesOnly;
  // Unattended, a box that asks to insert a disk or reports a crash (this program's or an
  // installer's, which inherit the mode) would wait for nobody.
  if (options.mode != RunMode::kInteractive) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  }
  OpenRunLog(options);
  int32_t exitCode = kExitSuccess;
  if (InitSetupState()) {
    exitCode = options.layoutFolder ? (gSetup.runMode == RunMode::kPassive
                                           ? RunLayoutWithWindow(options.layoutFolder.get())
                                           : RunLayout(options.layoutFolder.get()))
               : gSetup.runMode == RunMode::kQuiet ? RunQuietly()
                                                   : RunDialog();
  }
  if (gSetup.runEnded.load(std::memory_order_acquire) && gSetup.selfUpdateFailed) {
    ShowSelfUpdateFailure();
  }
  if (gSetup.stopEvent) SetEvent(gSetup.stopEvent.get());
  StopWorkerThread(exitCode);
  CloseSetupLog(L"The setup has ended.");
  return exitCode;
}
