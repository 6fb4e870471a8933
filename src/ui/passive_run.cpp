#include "ui/passive_run.h"

#include "ui/next_step.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"

namespace {

// Set once the run has decided its own end; until then the user has ended it.
int32_t gEndedWith = kExitCancelled;

int ButtonOf(ComponentId step) {
  switch (step) {
    case kDotNet:
      return IDC_DOTNET_INSTALL;
    case kLocalDb:
      return IDC_LOCALDB_INSTALL;
    default:
      return IDC_PRODUCT_INSTALL;
  }
}

}  // namespace

void PressOnByItself(HWND dialog, const ButtonInputs& steps) {
  // The prerequisite buttons ask for elevation themselves, once per installer.
  const NextStepInputs inputs = NextStepInputsFor(steps, false, true);
  const NextStep next = NextStepFor(inputs);
  switch (next.action) {
    case NextAction::kInstall:
    case NextAction::kStartProduct:
      // Posted, so that the press runs after this refresh exactly as a click does; a
      // posted message comes before the next timer tick, which then sees it done.
      PostMessageW(dialog, WM_COMMAND, ButtonOf(next.step), 0);
      return;
    case NextAction::kEnd:
      LogUnattendedEnd(next);
      gEndedWith = next.exitCode;
      EndDialog(dialog, kDialogClosed);
      return;
    default:
      return;
  }
}

int32_t PassiveExitCode() { return gEndedWith; }
