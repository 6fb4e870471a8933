#include "app/setup_run.h"

#include <commctrl.h>

#include "app/run_log.h"
#include "state/command_line.h"
#include "state/setup_state.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"
#include "util/setup_log.h"
#include "worker/setup_init.h"

namespace {

void StopWorkerThread() {
  if (!gSetup.workerThread) return;
  // A worker blocked in a transfer that does not notice the stop event in time is not
  // waited for. Killed, it may hold the heap's lock or the log's for good, so the process
  // ends at once, without a teardown that could wait on them.
  if (WaitForSingleObject(gSetup.workerThread.get(), kWorkerStopWaitMs) != WAIT_OBJECT_0) {
    // Written while the worker still runs: once it is killed the log's lock may be lost.
    CloseSetupLog(L"The setup has ended; the worker did not stop in time and was ended.");
    TerminateThread(gSetup.workerThread.get(), 0);
    ExitProcess(0);
  }
  gSetup.workerThread.reset();
}

}  // namespace

void RunSetup() {
  const CommandLineOptions options = ParseCommandLine(GetCommandLineW());
  gSetup.updateMode.store(options.updateMode, std::memory_order_relaxed);
  gSetup.runMode = options.mode;
  OpenRunLog(options);
  InitializeCriticalSection(&gSetup.stateLock);
  if (InitSetupState()) {
    // Push buttons and statics of Common Controls 6, which the shield needs.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP), nullptr,
                    SetupDialogProc, 0);
  }
  if (gSetup.stopEvent) SetEvent(gSetup.stopEvent.get());
  StopWorkerThread();
  DeleteCriticalSection(&gSetup.stateLock);
  CloseSetupLog(L"The setup has ended.");
}
