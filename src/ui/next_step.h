// What an unattended run (/passive, /quiet) does next, given the state of the three
// steps, and the exit codes that software-deployment tools read. The dialog's automatic
// presses and the windowless run both ask this one decision once a second.
#pragma once

#include <cstdint>

#include "state/exit_codes.h"
#include "ui/dialog_rules.h"

enum class NextAction {
  kWait,          // nothing to do until the next evaluation
  kInstall,       // start the prerequisite installer of step
  kStartProduct,  // start the application's installer
  kEnd,           // the run is over with exitCode
};

struct NextStep {
  NextAction action;
  // The step acted on or failed; -1 when none (waiting, or ending with success).
  ComponentId step;
  int32_t exitCode;
  // Why the run ends (for the setup log); null unless action is kEnd.
  const wchar_t* reason;
};

struct NextStepInputs {
  ButtonInputs steps;  // the statuses and readings the dialog decides its buttons from
  bool quiet;          // no window: nothing may ask for elevation
  bool elevated;
  bool restartAsked;   // a prerequisite installer asked for a restart
  bool prerequisitesOnly;  // "/prerequisites": the run is over once steps 1 and 2 are
  bool workerMissing;      // the worker thread could not be started: nothing would come
  uint32_t installerExitCodes[2];  // of the last ended installer of steps 1 and 2 (0: none)
};

// One step at a time, in order: nothing starts or ends while a prerequisite installer
// runs; update information that could not be had ends the run with 1603 (its worker has
// ended, so no download would come), as does, without a window, a missing prerequisite
// in a process that is not elevated; nothing starts while the update information is
// prepared (it may hand the run over to a newer setup program); a download or
// installation that failed ends the run with 1603; a
// prerequisite whose installer is available is installed once the steps before it are
// done; the application's installer is started once its button would be offered; all
// three steps done ends with 0, or 3010 when a restart was asked for. With
// prerequisitesOnly both prerequisites done end the run (0 or 3010) whatever the
// application step reads. A prerequisite whose installer ended with 1618 (another
// installation in progress) ends the run with 1618, which deployment tools retry.
// Without a worker thread the run ends at once with 1603.
NextStep NextStepFor(const NextStepInputs& inputs);

// Installer exit codes that ask for a restart (3010 needed, 1641 initiated).
bool AsksForRestart(uint32_t installerExitCode);

// Whether an installer of this run asked for a restart.
bool RestartAskedInThisRun();

// What the next-step decision reads besides the steps, from this run's shared state.
NextStepInputs NextStepInputsFor(const ButtonInputs& steps, bool quiet, bool elevated);

// The exit code when the run ends by handing over to the application's installer: 0 in
// the interactive mode; otherwise 3010 when a restart was asked for (and logged), else 0.
int32_t HandOverExitCode();

// Writes the setup log's line for the end of an unattended run: the exit code, the step
// and the reason.
void LogUnattendedEnd(const NextStep& end);

// The setup log's name of a step ("the .NET Framework", ...); "the setup" for -1.
const wchar_t* StepLogName(ComponentId step);
