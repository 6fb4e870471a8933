#include "app/quiet_run.h"

#include <windows.h>

#include "catalog/self_update.h"
#include "state/setup_state.h"
#include "ui/next_step.h"
#include "ui/product_launch.h"
#include "ui/step_inputs.h"
#include "util/process.h"
#include "util/setup_log.h"
#include "worker/component_status.h"

namespace {

int32_t End(ComponentId step, int32_t exitCode, const wchar_t* reason) {
  LogUnattendedEnd({NextAction::kEnd, step, exitCode, reason});
  return exitCode;
}

// The deployment tool reads the outcome of the whole installation, so the setup waits
// for the application's installer and passes a failure of it on unchanged.
int32_t RunProductInstaller() {
  UniqueHandle process;
  if (!StartProductInstaller(&process)) {
    return End(kProduct, kExitFailed, L"its installer could not be started");
  }
  LogEvent(L"The application installer runs without a window; the setup waits for it.");
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    return End(kProduct, kExitFailed, L"the exit code of its installer cannot be read");
  }
  if (exitCode != 0) {
    return End(kProduct, int32_t(exitCode), L"its installer ended with this code");
  }
  if (!IsStepFinished(ComponentStatusOf(kProduct))) {
    return End(kProduct, kExitFailed, L"its installer ended, yet it is not installed");
  }
  const bool restart = RestartAskedInThisRun();
  return End(-1, restart ? kExitRestartRequired : kExitSuccess,
             restart ? L"a prerequisite asked for a restart" : L"every step is done");
}

}  // namespace

int32_t RunQuietly() {
  const bool elevated = IsProcessElevated();
  for (;;) {
    HandOverInstanceMutex();
    if (gSetup.runEnded.load(std::memory_order_acquire)) return gSetup.runEndCode;
    const NextStepInputs inputs = NextStepInputsFor(GatherStepInputs(), true, elevated);
    const NextStep next = NextStepFor(inputs);
    switch (next.action) {
      case NextAction::kInstall:
        LogEvent(L"Starting the installer of %s.", StepLogName(next.step));
        // Elevated already (or the decision would have ended the run): no prompt.
        StartInstaller(next.step, false);
        break;
      case NextAction::kStartProduct:
        return RunProductInstaller();
      case NextAction::kEnd:
        LogUnattendedEnd(next);
        return next.exitCode;
      default:
        break;
    }
    Sleep(kRefreshPeriodMs);
  }
}
