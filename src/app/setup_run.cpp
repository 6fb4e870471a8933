#include "app/setup_run.h"

#include <commctrl.h>
#include <shellapi.h>

#include "detect/localdb.h"
#include "detect/product.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"
#include "worker/worker.h"

namespace {

constexpr wchar_t kUpdateModeSwitch[] = L"-U";

void ResetSlot(ComponentSlot& slot, bool installedAtStart, const wchar_t* remoteName,
               const wchar_t* localName) {
  slot.process.reset();
  slot.installedAtStart.store(installedAtStart, std::memory_order_relaxed);
  slot.installing = false;
  slot.installFailed = false;
  slot.downloadFailed.store(false, std::memory_order_relaxed);
  slot.remoteName = remoteName;
  slot.localName = localName;
}

void StopWorkerThread() {
  if (!gSetup.workerThread) return;
  // A worker blocked in a transfer that does not notice the stop event in time is not
  // waited for: the process ends right after.
  if (WaitForSingleObject(gSetup.workerThread.get(), kWorkerStopWaitMs) != WAIT_OBJECT_0) {
    TerminateThread(gSetup.workerThread.get(), 0);
  }
  gSetup.workerThread.reset();
}

}  // namespace

bool IsUpdateModeCommandLine(const wchar_t* commandLine) {
  if (!commandLine) return false;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
  // The array and its texts are one LocalAlloc block.
  LocalBlock block(arguments);
  return arguments && count > 1 && lstrcmpW(arguments[1], kUpdateModeSwitch) == 0;
}

void LocalDbInstallerNames(int kind, const wchar_t** remoteName, const wchar_t** localName) {
  switch (kind) {
    case kLocalDbKind2014x64:
      *remoteName = kLocalDb2014x64RemoteName;
      *localName = kLocalDb2014x64LocalName;
      return;
    case kLocalDbKind2017x64:
      *remoteName = kLocalDb2017x64RemoteName;
      *localName = kLocalDb2017x64LocalName;
      return;
    default:
      *remoteName = kLocalDb2014x86RemoteName;
      *localName = kLocalDb2014x86LocalName;
      return;
  }
}

void FillSetupSlots() {
  ResetSlot(gSetup.slots[kDotNet], IsComponentSatisfied(kDotNet), kDotNetRemoteName,
            kDotNetLocalName);
  const wchar_t* localDbRemote = nullptr;
  const wchar_t* localDbLocal = nullptr;
  LocalDbInstallerNames(LocalDbPackageKind(), &localDbRemote, &localDbLocal);
  ResetSlot(gSetup.slots[kLocalDb], IsComponentSatisfied(kLocalDb), localDbRemote,
            localDbLocal);
  // Only the registration counts here: "already installed" (8) rather than "completed"
  // (7) when the application is current later.
  ResetSlot(gSetup.slots[kProduct], IsProductInstalled(), nullptr, nullptr);
  for (auto& entry : gSetup.componentFiles) entry[0] = L'\0';
}

bool InitSetupState() {
  FillSetupSlots();
  // The worker starts before the dialog exists, so phase may have moved on by the first
  // refresh. Without a worker the application step stays at kPhasePreparing.
  gSetup.workerThread.reset(CreateThread(nullptr, 0, WorkerThreadMain, nullptr, 0, nullptr));
  return true;
}

void RunSetup() {
  gSetup.updateMode.store(IsUpdateModeCommandLine(GetCommandLineW()), std::memory_order_relaxed);
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
}
