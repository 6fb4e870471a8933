#include "catalog/file_pins.h"

#include <shlwapi.h>

#include "util/setup_log.h"
#include "verify/pinned_file.h"

namespace {

constexpr wchar_t kPinSettingPrefix[] = L"SHA256:";
constexpr int kPinSettingPrefixUnits = 7;

// Where this run's pins come from, for the log.
const wchar_t* PinSource() {
  return gSetup.localAssetsMode.load(std::memory_order_relaxed) ? L"the medium's information file"
                                                                : L"the signed update list";
}

}  // namespace

FilePin ParsePin(const wchar_t* text) {
  FilePin pin;
  pin.present = ParseHexText(text, pin.digest, kPinBytes);
  if (!pin.present) ZeroMemory(pin.digest, sizeof(pin.digest));
  return pin;
}

const wchar_t* PinSettingName(const wchar_t* key) {
  if (!key || StrCmpNW(key, kPinSettingPrefix, kPinSettingPrefixUnits) != 0) return nullptr;
  return key + kPinSettingPrefixUnits;
}

ComponentId PrerequisiteNamed(const wchar_t* remoteName) {
  if (!remoteName) return -1;
  for (ComponentId id : {kDotNet, kLocalDb}) {
    const wchar_t* name = gSetup.slots[id].remoteName;
    if (name && lstrcmpiW(name, remoteName) == 0) return id;
  }
  return -1;
}

bool PinsRequiredFor(bool onMedium) {
  return gSetup.updateKeysPresent &&
         !(onMedium && gSetup.localAssetsMode.load(std::memory_order_relaxed));
}

bool MayFetch(const wchar_t* remoteName, const FilePin& pin) {
  if (!gSetup.updateKeysPresent || pin.present) return true;
  // Started elevated and unattended, an unpinned download would run whatever the line
  // (plain HTTP, a proxy) handed over.
  LogEvent(L"not downloaded: %s has no SHA-256 in %s", remoteName ? remoteName : L"?",
           PinSource());
  return false;
}

const FilePin* InstallerPin(ComponentId id) {
  if (id != kDotNet && id != kLocalDb) return nullptr;
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseReady) return nullptr;
  return &gSetup.installerPins[id];
}

const FilePin* PiecePin(int entry) {
  if (entry < 0 || entry >= kComponentFileCount) return nullptr;
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseReady) return nullptr;
  return &gSetup.componentPins[entry];
}

StartCheck StartCheckFor(bool pinsRequired, const FilePin* pin) {
  if (pin && pin->present) return StartCheck::kCheck;
  return pinsRequired ? StartCheck::kRefuse : StartCheck::kUnchecked;
}

HeldStart CheckBeforeStart(const wchar_t* path, const FilePin* pin, bool pinsRequired,
                           UniqueFile* held) {
  switch (StartCheckFor(pinsRequired, pin)) {
    case StartCheck::kUnchecked:
      LogEvent(L"%s started without a SHA-256 check", LogFileName(path));
      return HeldStart::kGo;
    case StartCheck::kRefuse:
      LogEvent(L"not started: %s has no SHA-256 in %s", LogFileName(path), PinSource());
      return HeldStart::kNoPin;
    case StartCheck::kCheck:
      break;
  }
  PinCheck check = PinCheck::kUnreadable;
  UniqueFile file = OpenPinnedFile(path, pin->digest, &check);
  if (!file) {
    LogEvent(check == PinCheck::kDiffers ? L"not started: %s does not match its SHA-256"
                                         : L"not started: %s cannot be read for its check",
             LogFileName(path));
    return HeldStart::kMismatch;
  }
  LogEvent(L"SHA-256 of %s verified before its start", LogFileName(path));
  if (held) *held = static_cast<UniqueFile&&>(file);
  return HeldStart::kGo;
}
