#include "worker/setup_init.h"

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/product.h"
#include "state/setup_state.h"
#include "verify/program_keys.h"
#include "worker/worker.h"

namespace {

void ResetSlot(ComponentSlot& slot, bool installedAtStart, const wchar_t* remoteName,
               const wchar_t* localName) {
  slot.process.reset();
  slot.installedAtStart.store(installedAtStart, std::memory_order_relaxed);
  slot.installing = false;
  slot.installFailed = false;
  slot.installerExitCode = 0;
  slot.downloadFailed.store(false, std::memory_order_relaxed);
  slot.remoteName = remoteName;
  slot.localName = localName;
}

}  // namespace

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
  ResetSlot(gSetup.slots[kDotNet], IsDotNetSatisfied(), kDotNetRemoteName,
            kDotNetLocalName);
  const wchar_t* localDbRemote = nullptr;
  const wchar_t* localDbLocal = nullptr;
  LocalDbInstallerNames(LocalDbPackageKind(), &localDbRemote, &localDbLocal);
  ResetSlot(gSetup.slots[kLocalDb], IsLocalDbSatisfied(), localDbRemote,
            localDbLocal);
  // Only the registration counts here: "already installed" (8) rather than "completed"
  // (7) when the application is current later.
  ResetSlot(gSetup.slots[kProduct], IsProductInstalled(), nullptr, nullptr);
  for (auto& entry : gSetup.componentFiles) entry[0] = L'\0';
  for (FilePin& pin : gSetup.componentPins) pin = FilePin();
  for (FilePin& pin : gSetup.installerPins) pin = FilePin();
}

bool InitSetupState() {
  FillSetupSlots();
  const ProgramKeys keys = LoadProgramKeys(nullptr);
  gSetup.updateKeys = keys.keys;
  gSetup.updateKeyCount = keys.count;
  gSetup.updateKeysPresent = keys.present;
  // The worker starts before the dialog exists, so phase may have moved on by the first
  // refresh. Without a worker the application step stays at kPhasePreparing.
  gSetup.workerThread.reset(CreateThread(nullptr, 0, WorkerThreadMain, nullptr, 0, nullptr));
  return true;
}
