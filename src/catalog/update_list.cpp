#include "catalog/update_list.h"

#include <shlwapi.h>

#include "state/setup_state.h"
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
  HeapString stamp = NowStamp();
  if (!stamp) return false;
  HeapString listPath = WorkPath(kUpdateListLocalName, true);
  HeapString tempPath = WorkPath(kUpdateInfoTempName, true);
  HeapString infoPath = WorkPath(kUpdateInfoName, true);
  HeapString setupBaseName;
  const ScanOutcome outcome =
      ScanUpdateList(listPath.get(), stamp.get(), tempPath.get(), infoPath.get(), &setupBaseName);
  if (outcome == ScanOutcome::kSelfUpdate) {
    stamp.reset();
    listPath.reset();
    tempPath.reset();
    infoPath.reset();
    SelfUpdate(setupBaseName.get());
  }
  return outcome != ScanOutcome::kFailed;
}
