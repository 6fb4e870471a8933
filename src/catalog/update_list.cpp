#include "catalog/update_list.h"

#include <shlwapi.h>

#include "state/setup_state.h"
#include "catalog/list_verification.h"
#include "catalog/self_update.h"
#include "catalog/update_selection.h"
#include "catalog/update_server.h"
#include "util/paths.h"

bool PrepareUpdateInfo() {
  {
    HeapString assetsInfo = AssetsPath(kUpdateInfoName);
    if (assetsInfo && PathFileExistsW(assetsInfo.get())) {
      gSetup.localAssetsMode.store(true, std::memory_order_release);
      return true;
    }
  }
  gSetup.phase.store(kPhaseQuerying, std::memory_order_release);
  // Forced: a list from an earlier run is never reused.
  if (!FetchFromUpdateServer(kUpdateListRemoteName, kUpdateListLocalName, true)) return false;
  HeapString listPath = WorkPath(kUpdateListLocalName, true);
  // Held through the scan: the copy that is read is the one whose signature was checked.
  UniqueFile signedList;
  if (gSetup.updateKeysPresent && !(signedList = OpenSignedList(listPath.get()))) return false;
  HeapString stamp = NowStamp();
  if (!stamp) return false;
  HeapString tempPath = WorkPath(kUpdateInfoTempName, true);
  HeapString infoPath = WorkPath(kUpdateInfoName, true);
  HeapString setupBaseName;
  HeapString setupPin;
  const ScanOutcome outcome = ScanUpdateList(listPath.get(), stamp.get(), tempPath.get(),
                                             infoPath.get(), &setupBaseName, &setupPin);
  if (outcome == ScanOutcome::kSelfUpdate) {
    stamp.reset();
    listPath.reset();
    tempPath.reset();
    infoPath.reset();
    signedList.reset();
    SelfUpdate(setupBaseName.get(), setupPin.get());
  }
  return outcome != ScanOutcome::kFailed;
}
