// Runs the parts of the catalogue that end the run, in a process of their own, with
// a thread that plays the dialog's side of the self-update hand-over.
//
//   self_update_probe handover <path> <u|-> <answer delay ms>
//   self_update_probe selfupdate <base name|-> <u|-> [SHA-256 of the new program]
//   self_update_probe prepare <u|->
//
// "u" starts in update mode. The probe holds the mutex named in VELTO_SETUP_MUTEX as
// its instance mutex. Exit codes: the code the run ended with, as the program's entry
// ends with it (a failed fetch reported as the program reports it), 10 / 11 when
// PrepareUpdateInfo returned true / false without ending the run, 2 for bad arguments.
#include <windows.h>

#include <cwchar>

#include "state/setup_state.h"
#include "catalog/self_update.h"
#include "catalog/update_list.h"
#include "ui/setup_dialog.h"
#include "support/installers/standin.h"
#include "support/installers/standin_protocol.h"

namespace {

DWORD gAnswerDelayMs = 0;

// The dialog's refresh: at -6 it closes the instance mutex and then moves on to -5. It
// leaves "<stand-in record file>.closed" behind once the mutex is closed, so the test
// sees that the hand-over was waited for.
DWORD WINAPI PlayTheDialog(void*) {
  for (;;) {
    if (gSetup.phase.load(std::memory_order_acquire) == kPhaseAwaitingMutex) {
      Sleep(gAnswerDelayMs);
      gSetup.instanceMutex.reset();
      const std::wstring marker = EnvironmentValue(kStandInRecordVariable) + L".closed";
      CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      gSetup.phase.store(kPhaseHandedOver, std::memory_order_release);
      return 0;
    }
    Sleep(20);
  }
}

// The state a running setup program has when the worker thread gets there.
void StartLikeTheSetupProgram(const wchar_t* updateFlag) {
  gSetup.updateMode.store(std::wcscmp(updateFlag, L"u") == 0);
  const std::wstring mutexName = EnvironmentValue(L"VELTO_SETUP_MUTEX");
  if (!mutexName.empty()) gSetup.instanceMutex.reset(CreateMutexW(nullptr, TRUE, mutexName.c_str()));
  CloseHandle(CreateThread(nullptr, 0, PlayTheDialog, nullptr, 0, nullptr));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wcscmp(argv[1], L"handover") == 0) {
    gAnswerDelayMs = DWORD(_wtoi(argv[4]));
    StartLikeTheSetupProgram(argv[3]);
    return HandOverAndStart(SetupCommandLine(argv[2], gSetup.updateMode.load()));
  }
  if ((argc == 4 || argc == 5) && std::wcscmp(argv[1], L"selfupdate") == 0) {
    StartLikeTheSetupProgram(argv[3]);
    const SelfUpdateEnd end =
        SelfUpdate(std::wcscmp(argv[2], L"-") == 0 ? nullptr : argv[2], argc == 5 ? argv[4] : nullptr);
    if (end.fetchFailed) ShowSelfUpdateFailure();
    return end.exitCode;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"prepare") == 0) {
    StartLikeTheSetupProgram(argv[2]);
    const bool prepared = PrepareUpdateInfo();
    if (gSetup.runEnded.load()) return gSetup.runEndCode;
    return prepared ? 10 : 11;
  }
  return 2;
}
