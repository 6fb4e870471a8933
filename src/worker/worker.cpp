#include "worker/worker.h"

#include "state/setup_state.h"
#include "catalog/file_pins.h"
#include "catalog/update_info.h"
#include "catalog/pinned_fetch.h"
#include "catalog/update_list.h"
#include "catalog/update_server.h"
#include "catalog/fetch_retry.h"
#include "util/setup_log.h"
#include "util/stop_event.h"
#include "util/strings.h"

namespace {

constexpr DWORD kIdleWaitMs = 1000;

// True once the dialog has ended. The idle wait watches the event too, so an idle
// worker leaves at once instead of finishing its sleep.
bool StopSignalled(DWORD waitMs) { return StopRequested(gSetup.stopEvent.get(), waitMs); }

int32_t TakeRequest() {
  const LockGuard hold(gSetup.stateLock);
  return gSetup.requestedDownload.load(std::memory_order_relaxed);
}

void EndRequest() {
  const LockGuard hold(gSetup.stateLock);
  gSetup.requestedDownload.store(kNoRequest, std::memory_order_relaxed);
}

void FetchPrerequisite(ComponentId id) {
  ComponentSlot& slot = gSetup.slots[id];
  if (!MayFetch(slot.remoteName, gSetup.installerPins[id]) ||
      !FetchPinnedFromUpdateServer(slot.remoteName, slot.localName, gSetup.installerPins[id],
                                   FetchWithRetries, &slot.progress)) {
    slot.downloadFailed.store(true, std::memory_order_relaxed);
  }
}

// One piece, fetched under its server name and stored under its local one (FetchByName refuses
// names that would reach outside the work folder, and null ones).
bool FetchPiece(const wchar_t* baseName, const FilePin& pin) {
  HeapString remote = PieceRemoteName(baseName);
  HeapString local = PieceLocalName(baseName);
  if (!MayFetch(remote.get(), pin)) return false;
  return FetchPinnedFromUpdateServer(remote.get(), local.get(), pin, FetchWithRetries,
                                     &gSetup.slots[kProduct].progress);
}

void Serve(int32_t request) {
  switch (request) {
    case kDotNet:
    case kLocalDb:
      FetchPrerequisite(request);
      return;
    case kProduct:
      FetchProductPieces();
      return;
    default:
      return;
  }
}

}  // namespace

void FetchProductPieces() {
  ComponentSlot& slot = gSetup.slots[kProduct];
  if (gSetup.localAssetsMode.load(std::memory_order_relaxed)) {
    slot.downloadFailed.store(true, std::memory_order_relaxed);
    return;
  }
  for (int i = 0; i < kComponentFileCount; ++i) {
    const wchar_t* entry = gSetup.componentFiles[i];
    if (entry[0] == L'\0') continue;
    if (gSetup.componentRefused[i]) {
      LogEvent(L"piece %d is missing: its name \"%s\" is refused", i + 1, entry);
      slot.downloadFailed.store(true, std::memory_order_relaxed);
      return;
    }
    if (!FetchPiece(entry, gSetup.componentPins[i])) {
      slot.downloadFailed.store(true, std::memory_order_relaxed);
      return;
    }
  }
}

void WorkerMain() {
  gSetup.phase.store(kPhasePreparing, std::memory_order_release);
  if (!PrepareUpdateInfo() || !LoadUpdateInfo()) {
    // After a self-update the run ends as it ended, not as a failure of the information.
    if (gSetup.runEnded.load(std::memory_order_acquire)) return;
    gSetup.phase.store(kPhaseFailed, std::memory_order_release);
    return;
  }
  // Publishes the update information loaded above to the UI thread.
  gSetup.phase.store(kPhaseReady, std::memory_order_release);

  for (;;) {
    if (StopSignalled(0)) return;
    const int32_t request = TakeRequest();
    if (request == kNoRequest) {
      if (StopSignalled(kIdleWaitMs)) return;
      continue;
    }
    Serve(request);
    // downloadFailed is stored before the request is ended, so the UI thread that sees
    // no request pending also sees the outcome.
    EndRequest();
  }
}

DWORD WINAPI WorkerThreadMain(void*) {
  const ComApartment apartment;
  WorkerMain();
  return 0;
}
