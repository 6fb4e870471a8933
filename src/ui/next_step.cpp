#include "ui/next_step.h"

#include "util/setup_log.h"

namespace {

constexpr ComponentId kNoStep = -1;
constexpr ComponentId kPrerequisites[] = {kDotNet, kLocalDb};

NextStep Wait() { return {NextAction::kWait, kNoStep, kExitSuccess, nullptr}; }

NextStep Fail(ComponentId step, const wchar_t* reason) {
  return {NextAction::kEnd, step, kExitFailed, reason};
}

ComponentStatus StatusOf(const ButtonInputs& steps, ComponentId id) {
  return id == kDotNet ? steps.s0 : id == kLocalDb ? steps.s1 : steps.s2;
}

}  // namespace

NextStep NextStepFor(const NextStepInputs& in) {
  const ButtonInputs& steps = in.steps;
  if (in.workerMissing) return Fail(kNoStep, L"the worker thread could not be started");
  // Ending now would leave an installer behind that nobody judges.
  if (steps.s0 == kStatusInstalling || steps.s1 == kStatusInstalling) return Wait();
  // A newer setup program that takes over does the run's work and gives its end.
  const bool handingOver = steps.s2 == kPhaseAwaitingMutex || steps.s2 == kPhaseHandedOver;
  if (in.prerequisitesOnly && !handingOver && IsStepFinished(steps.s0) &&
      IsStepFinished(steps.s1)) {
    return {NextAction::kEnd, kNoStep, in.restartAsked ? kExitRestartRequired : kExitSuccess,
            in.restartAsked ? L"both prerequisites are in place; a restart was asked for"
                            : L"both prerequisites are in place"};
  }
  if (steps.s2 == kPhaseFailed) return Fail(kProduct, L"no update information");
  // Without a window an elevation prompt would wait for nobody; better to say so before
  // anything is downloaded.
  if (in.quiet && !in.elevated) {
    for (ComponentId id : kPrerequisites) {
      if (!IsStepFinished(StatusOf(steps, id))) return Fail(id, L"the process is not elevated");
    }
  }
  // The update information may still bring a newer setup program, which takes over the
  // whole run: nothing is started before it is known.
  if (steps.s2 < 0 && steps.s2 != kPhaseReady) return Wait();
  for (ComponentId id : kPrerequisites) {
    const ComponentStatus status = StatusOf(steps, id);
    if (IsStepFinished(status)) continue;
    if (status == kStatusDownloadFailed) return Fail(id, L"the download failed");
    if (status == kStatusInstallFailed &&
        in.installerExitCodes[id] == uint32_t(kExitInstallInProgress)) {
      return {NextAction::kEnd, id, kExitInstallInProgress,
              L"another installation is in progress (1618); try again later"};
    }
    if (status == kStatusInstallFailed) {
      return Fail(id, L"the installer failed, could not be started, or left it not installed");
    }
  }
  for (ComponentId id : kPrerequisites) {
    const ComponentStatus status = StatusOf(steps, id);
    if (IsStepFinished(status)) continue;
    if (status == kStatusInstallerAvailable) return {NextAction::kInstall, id, kExitSuccess, nullptr};
    return Wait();
  }
  if (IsStepFinished(steps.s2)) {
    return {NextAction::kEnd, kNoStep, in.restartAsked ? kExitRestartRequired : kExitSuccess,
            in.restartAsked ? L"a prerequisite asked for a restart" : L"every step is done"};
  }
  if (steps.s2 == kStatusDownloadFailed) return Fail(kProduct, L"the download failed");
  if (steps.s2 == kStatusInstallFailed) {
    return Fail(kProduct, L"the installer could not be started or left it not installed");
  }
  if (steps.s2 == kStatusInstallerAvailable) {
    if (InstallButtonsFor(steps).product) {
      return {NextAction::kStartProduct, kProduct, kExitSuccess, nullptr};
    }
    return Fail(kProduct, L"the update information names no installer, or a prerequisite "
                          L"is not found in the registry");
  }
  return Wait();
}

bool AsksForRestart(uint32_t installerExitCode) {
  return installerExitCode == ERROR_SUCCESS_REBOOT_REQUIRED ||
         installerExitCode == ERROR_SUCCESS_REBOOT_INITIATED;
}

bool RestartAskedInThisRun() {
  for (ComponentId id : kPrerequisites) {
    if (AsksForRestart(gSetup.slots[id].installerExitCode)) return true;
  }
  return false;
}

NextStepInputs NextStepInputsFor(const ButtonInputs& steps, bool quiet, bool elevated) {
  return {steps,
          quiet,
          elevated,
          RestartAskedInThisRun(),
          gSetup.prerequisitesOnly,
          !gSetup.workerThread,
          {gSetup.slots[kDotNet].installerExitCode, gSetup.slots[kLocalDb].installerExitCode}};
}

int32_t HandOverExitCode() {
  if (gSetup.runMode == RunMode::kInteractive || !RestartAskedInThisRun()) return kExitSuccess;
  LogUnattendedEnd({NextAction::kEnd, kNoStep, kExitRestartRequired,
                    L"a prerequisite asked for a restart; the application installer runs on"});
  return kExitRestartRequired;
}

const wchar_t* StepLogName(ComponentId step) {
  switch (step) {
    case kDotNet:
      return L"the .NET Framework";
    case kLocalDb:
      return L"SQL Server LocalDB";
    case kProduct:
      return L"the application";
    default:
      return L"the setup";
  }
}

void LogUnattendedEnd(const NextStep& end) {
  LogEndEvent(L"The unattended setup ends with exit code %d (%s: %s).", end.exitCode,
              StepLogName(end.step), end.reason ? end.reason : L"no reason given");
}
