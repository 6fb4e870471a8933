#include "catalog/update_info.h"

#include <shlwapi.h>

#include "state/setup_state.h"
#include "catalog/comma_field.h"
#include "catalog/file_pins.h"
#include "catalog/line_file.h"
#include "catalog/update_list.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kProductNameShortKey[] = L"ProductNameShort";
constexpr int32_t kFirstPieceType = 1;
constexpr int32_t kLastPieceType = kComponentFileCount;
constexpr int32_t kSettingType = -2;
constexpr int32_t kHeaderType = 0;

// What the file sets, gathered before it reaches SetupState: the names are published
// once at the end, so that a file with many headers does not leave a trail of
// replaced-but-never-freed strings behind.
struct InfoValues {
  bool headerSeen = false;
  int32_t versionCode = 0;
  HeapString displayName;
  bool nameShortSeen = false;
  HeapString nameShort;
};

void StorePiece(const wchar_t* line, int32_t type) {
  HeapString name = CommaField(line, 1);
  if (!name) return;
  // An empty name empties the entry; a name that would leave the folder it is joined to
  // counts as absent.
  if (name.get()[0] != L'\0' && !IsBareFileName(name.get())) return;
  CopyString(gSetup.componentFiles[type - kFirstPieceType], name.get(), kComponentFileUnits);
  // The pin goes with the name: a later record for the entry replaces both.
  HeapString pin = CommaField(line, 2);
  gSetup.componentPins[type - kFirstPieceType] = ParsePin(pin.get());
}

// "-2,SHA256:<name on the server>,<64 hex>" pins a prerequisite's installer.
void StoreInstallerPin(const wchar_t* key, const wchar_t* line) {
  const ComponentId id = PrerequisiteNamed(PinSettingName(key));
  if (id < 0) return;
  HeapString value = CommaField(line, 2);
  gSetup.installerPins[id] = ParsePin(value.get());
}

void ApplyInfoLine(const wchar_t* line, InfoValues& values) {
  if (IsCommentLine(line)) return;
  const int32_t type = RecordType(line);
  if (type >= kFirstPieceType && type <= kLastPieceType) {
    StorePiece(line, type);
  } else if (type == kSettingType) {
    HeapString key = CommaField(line, 1);
    StoreInstallerPin(key.get(), line);
    if (!key || lstrcmpW(key.get(), kProductNameShortKey) != 0) return;
    values.nameShortSeen = true;
    values.nameShort = CommaField(line, 2);
  } else if (type == kHeaderType) {
    values.headerSeen = true;
    values.versionCode = NumericField(line, 1);
    values.displayName = CommaField(line, 5);
  }
}

}  // namespace

namespace {

void LogUpdateInfo(const InfoValues& values) {
  wchar_t pieces[kComponentFileCount * 40] = {};
  for (const auto& entry : gSetup.componentFiles) {
    if (entry[0] == L'\0') continue;
    const int32_t used = TextLength(pieces);
    wnsprintfW(pieces + used, int(ARRAYSIZE(pieces)) - used, used ? L", %s" : L"%s", entry);
  }
  if (!values.headerSeen) {
    LogEvent(L"update information: no section header; pieces: %s", pieces);
    return;
  }
  LogEvent(L"update information: version code %d, \"%s\", pieces: %s", values.versionCode,
           values.displayName ? values.displayName.get() : L"(no name)", pieces);
}

}  // namespace

bool ReadUpdateInfo(const wchar_t* path) {
  LineReader reader;
  if (!reader.Open(path)) {
    LogEvent(L"update information: %s cannot be read", path);
    return false;
  }
  InfoValues values;
  for (HeapString line = reader.ReadLine(); line; line = reader.ReadLine()) {
    ApplyInfoLine(line.get(), values);
  }
  // A read that failed looks like the end of the file, and what came before it may be a
  // record cut short ("0,120" read as "0,12"): the file counts as unreadable.
  const bool complete = !reader.failed;
  reader.Close();
  if (!complete) {
    LogEvent(L"update information: %s could not be read to its end", path);
    return false;
  }
  LogUpdateInfo(values);
  if (values.headerSeen) {
    gSetup.productVersionCode.store(values.versionCode, std::memory_order_release);
    gSetup.productDisplayName.store(values.displayName.release(), std::memory_order_release);
  }
  if (values.nameShortSeen) {
    gSetup.productNameShort.store(values.nameShort.release(), std::memory_order_release);
  }
  return true;
}

bool LoadUpdateInfo() {
  HeapString assetsInfo = AssetsPath(kUpdateInfoName);
  if (assetsInfo && PathFileExistsW(assetsInfo.get())) return ReadUpdateInfo(assetsInfo.get());
  HeapString workInfo = WorkPath(kUpdateInfoName, true);
  if (workInfo && PathFileExistsW(workInfo.get())) return ReadUpdateInfo(workInfo.get());
  return false;
}
