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

// The name on the server that a prerequisite's pin setting names, as an id.
ComponentId PinnedPrerequisite(const wchar_t* key) { return PrerequisiteNamed(PinSettingName(key)); }

}  // namespace

UpdateInfoReader::UpdateInfoReader() {
  CopyMemory(files_, gSetup.componentFiles, sizeof(files_));
  CopyMemory(refused_, gSetup.componentRefused, sizeof(refused_));
  CopyMemory(piecePins_, gSetup.componentPins, sizeof(piecePins_));
  CopyMemory(installerPins_, gSetup.installerPins, sizeof(installerPins_));
}

void UpdateInfoReader::Apply(const wchar_t* line) {
  if (IsCommentLine(line)) return;
  const int32_t type = RecordType(line);
  if (type >= kFirstPieceType && type <= kLastPieceType) {
    const int32_t entry = type - kFirstPieceType;
    HeapString name = CommaField(line, 1);
    if (!name) return;
    // A name that would leave the folder it is joined to, or that Windows would read as
    // another name, is no piece the program can store: it counts as missing, so that
    // the application installer never runs without it.
    refused_[entry] = name.get()[0] != L'\0' && !IsBareFileName(name.get());
    if (refused_[entry]) {
      LogEvent(L"update information: piece %d: the name \"%s\" is refused; the piece counts "
               L"as missing", type, name.get());
    }
    CopyString(files_[entry], name.get(), kComponentFileUnits);
    // The pin goes with the name: a later record for the entry replaces both.
    HeapString pin = CommaField(line, 2);
    piecePins_[entry] = refused_[entry] ? FilePin() : ParsePin(pin.get());
  } else if (type == kSettingType) {
    HeapString key = CommaField(line, 1);
    const ComponentId id = PinnedPrerequisite(key.get());
    if (id >= 0) {
      HeapString value = CommaField(line, 2);
      installerPins_[id] = ParsePin(value.get());
    }
    if (!key || lstrcmpW(key.get(), kProductNameShortKey) != 0) return;
    nameShortSeen_ = true;
    nameShort_ = CommaField(line, 2);
  } else if (type == kHeaderType) {
    headerSeen_ = true;
    versionCode_ = NumericField(line, 1);
    displayName_ = CommaField(line, 5);
  }
}

void UpdateInfoReader::PublishInstallerPins() const {
  CopyMemory(gSetup.installerPins, installerPins_, sizeof(installerPins_));
}

void UpdateInfoReader::Publish() {
  wchar_t pieces[kComponentFileCount * 40] = {};
  for (const auto& entry : files_) {
    if (entry[0] == L'\0') continue;
    const int32_t used = TextLength(pieces);
    wnsprintfW(pieces + used, int(ARRAYSIZE(pieces)) - used, used ? L", %s" : L"%s", entry);
  }
  if (!headerSeen_) {
    LogEvent(L"update information: no section header; pieces: %s", pieces);
  } else {
    LogEvent(L"update information: version code %d, \"%s\", pieces: %s", versionCode_,
             displayName_ ? displayName_.get() : L"(no name)", pieces);
  }
  CopyMemory(gSetup.componentFiles, files_, sizeof(files_));
  CopyMemory(gSetup.componentRefused, refused_, sizeof(refused_));
  CopyMemory(gSetup.componentPins, piecePins_, sizeof(piecePins_));
  PublishInstallerPins();
  if (headerSeen_) {
    gSetup.productVersionCode.store(versionCode_, std::memory_order_release);
    gSetup.productDisplayName.store(displayName_.release(), std::memory_order_release);
  }
  if (nameShortSeen_) {
    gSetup.productNameShort.store(nameShort_.release(), std::memory_order_release);
  }
}

bool ReadUpdateInfo(const wchar_t* path) {
  LineReader reader;
  if (!reader.Open(path)) {
    LogEvent(L"update information: %s cannot be read", LogFileName(path));
    return false;
  }
  UpdateInfoReader info;
  for (HeapString line = reader.ReadLine(); line; line = reader.ReadLine()) {
    info.Apply(line.get());
  }
  // A read that failed looks like the end of the file, and what came before it may be a
  // record cut short ("0,120" read as "0,12"): the file counts as unreadable.
  const bool complete = !reader.failed;
  reader.Close();
  if (!complete) {
    LogEvent(L"update information: %s could not be read to its end", LogFileName(path));
    return false;
  }
  info.Publish();
  return true;
}

namespace {

// The scan's hand-over (worker thread only). Made empty: SetupState may not exist yet
// while statics are made (and a function-local static would bring in the C++ runtime's
// thread-safe guards, twice the program's size).
UpdateInfoReader gScanned{UpdateInfoReader::kEmpty};
UpdateInfoReader& Scanned() { return gScanned; }
bool gScannedPresent = false;
bool gScannedWhole = false;

int32_t PinCount(const FilePin* pins, int32_t count) {
  int32_t pinned = 0;
  for (int32_t i = 0; i < count; ++i) pinned += pins[i].present ? 1 : 0;
  return pinned;
}

}  // namespace

void ForgetScannedInfo() { gScannedPresent = false; }

void HandOverScannedInfo(UpdateInfoReader&& reader, bool wholeSection) {
  Scanned() = static_cast<UpdateInfoReader&&>(reader);
  gScannedPresent = true;
  gScannedWhole = wholeSection;
}

bool LoadMediumUpdateInfo(const wchar_t* path) {
  if (!ReadUpdateInfo(path)) return false;
  LogEvent(L"local medium: pins from its information file %s (%d of 2 prerequisite installers "
           L"pinned); anything fetched from the network needs one%s",
           LogFileName(path), PinCount(gSetup.installerPins, kComponentCount),
           gSetup.updateKeysPresent ? L"" : L" only in a program with keys");
  return true;
}

bool LoadUpdateInfo() {
  // Decided once, when the information was prepared: a medium's file that appears or
  // goes later must not mix one folder's information with the other's pieces.
  if (gSetup.localAssetsMode.load(std::memory_order_acquire)) {
    HeapString assetsInfo = AssetsPath(kUpdateInfoName);
    return assetsInfo && LoadMediumUpdateInfo(assetsInfo.get());
  }
  const bool scanned = gScannedPresent;
  gScannedPresent = false;
  if (scanned && gScannedWhole) {
    Scanned().Publish();
    return true;
  }
  HeapString workInfo = WorkPath(kUpdateInfoName, true);
  bool loaded = workInfo && PathFileExistsW(workInfo.get()) && ReadUpdateInfo(workInfo.get());
  if (loaded && scanned && gSetup.updateKeysPresent) {
    // The earlier file's pins were not verified in this run; the list's settings were.
    for (FilePin& pin : gSetup.componentPins) pin = FilePin();
    Scanned().PublishInstallerPins();
    LogEvent(L"update information: the earlier file's piece pins are not used");
  }
  return loaded;
}
