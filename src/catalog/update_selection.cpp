#include "catalog/update_selection.h"

#include <shlwapi.h>

#include <utility>

#include "state/setup_state.h"
#include "catalog/comma_field.h"
#include "catalog/line_file.h"
#include "util/strings.h"

namespace {

constexpr int32_t kStampUnits = 16;

}  // namespace

HeapString NowStamp() {
  HeapString stamp = NewString(kStampUnits);
  if (!stamp) return stamp;
  SYSTEMTIME now;
  GetLocalTime(&now);
  wnsprintfW(stamp.get(), kStampUnits, L"%04d%02d%02d_%02d%02d", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute);
  return stamp;
}

bool IsStampInEffect(const wchar_t* startStamp, const wchar_t* nowStamp) {
  return !startStamp || lstrcmpW(startStamp, nowStamp) <= 0;
}

ListDecision DecideListLine(const wchar_t* line, const wchar_t* nowStamp, bool copying) {
  ListDecision decision;
  if (!line || IsCommentLine(line)) return decision;
  const int32_t type = RecordType(line);
  if (type >= 1) {
    decision.action = copying ? ListAction::kCopy : ListAction::kSkip;
    return decision;
  }
  if (type == -2) {
    decision.action = ListAction::kCopy;
    return decision;
  }
  if (type != 0 && type != -1) return decision;

  HeapString startStamp = CommaField(line, 4);
  if (!IsStampInEffect(startStamp.get(), nowStamp)) return decision;
  if (type == -1) {
    if (NumericField(line, 1) > kSetupRevision) {
      decision.action = ListAction::kSelfUpdate;
      decision.setupBaseName = CommaField(line, 5);
      decision.setupPin = CommaField(line, 6);
    }
    return decision;
  }
  decision.action = copying ? ListAction::kEndScan : ListAction::kOpenSection;
  return decision;
}

ScanOutcome ScanUpdateList(const wchar_t* listPath, const wchar_t* nowStamp,
                           const wchar_t* tempPath, const wchar_t* infoPath,
                           HeapString* setupBaseName, HeapString* setupPin,
                           UpdateInfoReader* applied) {
  if (!listPath || !nowStamp || !tempPath || !infoPath) return ScanOutcome::kFailed;
  LineReader list;
  if (!list.Open(listPath)) return ScanOutcome::kFailed;
  LineWriter info;
  if (!info.Open(tempPath)) {
    info.Close();
    DeleteFileW(tempPath);
    return ScanOutcome::kFailed;
  }

  bool copying = false;
  bool complete = true;
  for (HeapString line = list.ReadLine(); line; line = list.ReadLine()) {
    ListDecision decision = DecideListLine(line.get(), nowStamp, copying);
    if (decision.action == ListAction::kSelfUpdate) {
      if (setupBaseName) *setupBaseName = std::move(decision.setupBaseName);
      if (setupPin) *setupPin = std::move(decision.setupPin);
      return ScanOutcome::kSelfUpdate;
    }
    if (decision.action == ListAction::kEndScan) break;
    if (decision.action == ListAction::kSkip) continue;
    if (decision.action == ListAction::kOpenSection) copying = true;
    // A lost line would leave an incomplete section standing as the information.
    if (!info.WriteLine(line.get())) {
      complete = false;
      break;
    }
    if (applied) applied->Apply(line.get());
  }
  // A read that failed looks like the end of the list: the section may be cut short.
  if (list.failed) complete = false;
  list.Close();
  info.Close();

  if (complete && copying && MoveFileExW(tempPath, infoPath, MOVEFILE_REPLACE_EXISTING)) {
    return ScanOutcome::kSelected;
  }
  DeleteFileW(tempPath);
  return complete && !copying ? ScanOutcome::kNoSection : ScanOutcome::kFailed;
}
