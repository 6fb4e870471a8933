#include "catalog/update_list.h"

#include <shlwapi.h>

#include "state/setup_state.h"
#include "catalog/list_freshness.h"
#include "catalog/list_verification.h"
#include "catalog/self_update.h"
#include "catalog/update_info.h"
#include "catalog/update_selection.h"
#include "catalog/fetch_retry.h"
#include "catalog/update_server.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

const wchar_t* OutcomeText(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::kSelected:
      return L"the section in effect was selected";
    case ScanOutcome::kNoSection:
      return L"no section is in effect; the earlier update information stays";
    case ScanOutcome::kSelfUpdate:
      return L"a newer setup program is in effect";
    default:
      return L"the list could not be read or the update information not written";
  }
}

}  // namespace

HeapString PieceRemoteName(const wchar_t* baseName) { return ConcatString(baseName, L".upd"); }

HeapString PieceLocalName(const wchar_t* baseName) { return ConcatString(baseName, L".upi"); }

bool PrepareUpdateInfo() {
  {
    HeapString assetsInfo = AssetsPath(kUpdateInfoName);
    if (assetsInfo && PathFileExistsW(assetsInfo.get())) {
      gSetup.localAssetsMode.store(true, std::memory_order_release);
      LogEvent(L"update information from the Assets folder (local medium)");
      return true;
    }
  }
  gSetup.phase.store(kPhaseQuerying, std::memory_order_release);
  // Forced: a list from an earlier run is never reused.
  if (!FetchWithRetries(kUpdateListRemoteName, kUpdateListLocalName, true)) {
    LogEvent(L"update list: the fetch failed");
    return false;
  }
  HeapString listPath = WorkPath(kUpdateListLocalName, true);
  // Held through the scan: the copy that is read is the one whose signature was checked.
  UniqueFile signedList;
  if (gSetup.updateKeysPresent && !(signedList = OpenSignedList(listPath.get()))) return false;
  if (!gSetup.updateKeysPresent) {
    LogEvent(L"update list not signed (this program has no keys)");
  } else if (!AcceptFreshList(listPath.get())) {
    // A replayed or expired list is used no more than an unsigned one.
    signedList.reset();
    DeleteFileW(listPath.get());
    return false;
  }
  HeapString stamp = NowStamp();
  if (!stamp) return false;
  HeapString tempPath = WorkPath(kUpdateInfoTempName, true);
  HeapString infoPath = WorkPath(kUpdateInfoName, true);
  HeapString setupBaseName;
  HeapString setupPin;
  // What the scan writes is applied as it is written: the information of this run is
  // the verified list's, whatever happens to the file afterwards.
  UpdateInfoReader scanned;
  const ScanOutcome outcome = ScanUpdateList(listPath.get(), stamp.get(), tempPath.get(),
                                             infoPath.get(), &setupBaseName, &setupPin, &scanned);
  if (outcome == ScanOutcome::kSelected || outcome == ScanOutcome::kNoSection) {
    HandOverScannedInfo(static_cast<UpdateInfoReader&&>(scanned),
                        outcome == ScanOutcome::kSelected);
  }
  LogEvent(L"update list at %s: %s", stamp.get(), OutcomeText(outcome));
  if (outcome == ScanOutcome::kSelfUpdate) {
    stamp.reset();
    listPath.reset();
    tempPath.reset();
    infoPath.reset();
    signedList.reset();
    const SelfUpdateEnd end = SelfUpdate(setupBaseName.get(), setupPin.get());
    gSetup.runEndCode = end.exitCode;
    gSetup.selfUpdateFailed = end.fetchFailed;
    gSetup.runEnded.store(true, std::memory_order_release);
    return false;
  }
  return outcome != ScanOutcome::kFailed;
}
