#include "catalog/list_freshness.h"

#include <shlwapi.h>

#include "catalog/comma_field.h"
#include "catalog/line_file.h"
#include "detect/registry.h"
#include "state/setup_state.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kSerialKey[] = L"ListSerial";
constexpr wchar_t kExpiresKey[] = L"ListExpires";
constexpr wchar_t kAcceptedSerialValue[] = L"UpdateListSerial";
constexpr int32_t kMaxSerialDigits = 19;  // below 2^64 whatever the digits
constexpr int32_t kStampLength = 13;
constexpr int32_t kSettingType = -2;

bool ParseSerial(const wchar_t* text, uint64_t* serial) {
  const int32_t length = TextLength(text);
  if (length == 0 || length > kMaxSerialDigits) return false;
  uint64_t value = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    value = value * 10 + uint64_t(text[i] - L'0');
  }
  *serial = value;
  return true;
}

bool IsStampShape(const wchar_t* text) {
  if (TextLength(text) != kStampLength) return false;
  for (int32_t i = 0; i < kStampLength; ++i) {
    const bool digit = text[i] >= L'0' && text[i] <= L'9';
    if (i == 8 ? text[i] != L'_' : !digit) return false;
  }
  return true;
}

HeapString NowUtcStamp() {
  HeapString stamp = NewString(16);
  if (!stamp) return stamp;
  SYSTEMTIME now;
  GetSystemTime(&now);
  wnsprintfW(stamp.get(), 16, L"%04d%02d%02d_%02d%02d", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute);
  return stamp;
}

// serial in decimal into text (24 units), or "none".
void SerialText(bool present, uint64_t serial, wchar_t* text) {
  if (!present) {
    CopyString(text, L"none", 24);
    return;
  }
  wchar_t digits[24] = {};
  int32_t count = 0;
  do {
    digits[count++] = wchar_t(L'0' + serial % 10);
    serial /= 10;
  } while (serial && count < 23);
  for (int32_t i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  text[count] = L'\0';
}

}  // namespace

void ApplyFreshnessLine(const wchar_t* line, ListFreshness* freshness) {
  if (!line || IsCommentLine(line) || RecordType(line) != kSettingType) return;
  HeapString key = CommaField(line, 1);
  if (!key) return;
  const bool serial = lstrcmpW(key.get(), kSerialKey) == 0;
  if (!serial && lstrcmpW(key.get(), kExpiresKey) != 0) return;
  HeapString value = CommaField(line, 2);
  const wchar_t* text = value ? value.get() : L"";
  if (serial) {
    freshness->serialPresent = true;
    freshness->serialValid = ParseSerial(text, &freshness->serial);
    return;
  }
  freshness->expiryPresent = true;
  freshness->expiryValid = IsStampShape(text);
  CopyString(freshness->expires, freshness->expiryValid ? text : L"", 16);
}

bool ReadListFreshness(const wchar_t* path, ListFreshness* freshness) {
  LineReader reader;
  if (!freshness || !reader.Open(path)) return false;
  for (HeapString line = reader.ReadLine(); line; line = reader.ReadLine()) {
    ApplyFreshnessLine(line.get(), freshness);
  }
  const bool complete = !reader.failed;
  reader.Close();
  return complete;
}

FreshnessVerdict JudgeListFreshness(const ListFreshness& list, bool keyed, bool storedPresent,
                                    uint64_t stored, const wchar_t* nowUtc) {
  if (!keyed) return FreshnessVerdict::kAccepted;
  if (list.serialPresent && !list.serialValid) return FreshnessVerdict::kSerialUnreadable;
  if (list.expiryPresent && !list.expiryValid) return FreshnessVerdict::kExpiryUnreadable;
  if (!list.serialPresent && storedPresent) return FreshnessVerdict::kSerialMissing;
  if (list.serialPresent && storedPresent && list.serial < stored) {
    return FreshnessVerdict::kSerialBelowStored;
  }
  if (list.expiryPresent && (!nowUtc || lstrcmpW(nowUtc, list.expires) >= 0)) {
    return FreshnessVerdict::kExpired;
  }
  return FreshnessVerdict::kAccepted;
}

bool ReadAcceptedListSerial(uint64_t* serial) {
  uint64_t value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, kProductRegistryKey, kAcceptedSerialValue,
                   RRF_RT_REG_QWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return false;
  }
  *serial = value;
  return true;
}

bool StoreAcceptedListSerial(uint64_t serial) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kProductRegistryKey, 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  UniqueRegKey owner(key);
  return RegSetValueExW(key, kAcceptedSerialValue, 0, REG_QWORD,
                        reinterpret_cast<const BYTE*>(&serial), sizeof(serial)) == ERROR_SUCCESS;
}

bool AcceptFreshList(const wchar_t* path) {
  ListFreshness list;
  if (!ReadListFreshness(path, &list)) {
    LogEvent(L"update list refused: it could not be read for its serial");
    return false;
  }
  uint64_t stored = 0;
  const bool storedPresent = ReadAcceptedListSerial(&stored);
  HeapString now = NowUtcStamp();
  const FreshnessVerdict verdict = JudgeListFreshness(list, true, storedPresent, stored, now.get());
  wchar_t serialText[24];
  SerialText(list.serialPresent && list.serialValid, list.serial, serialText);
  wchar_t storedText[24];
  SerialText(storedPresent, stored, storedText);
  const wchar_t* expires = list.expiryPresent ? list.expires : L"none";
  switch (verdict) {
    case FreshnessVerdict::kAccepted:
      LogEvent(L"update list serial %s (highest accepted before: %s), expires %s UTC", serialText,
               storedText, expires);
      if (list.serialPresent && (!storedPresent || list.serial > stored) &&
          !StoreAcceptedListSerial(list.serial)) {
        LogEvent(L"the update list's serial could not be stored");
      }
      return true;
    case FreshnessVerdict::kSerialBelowStored:
      LogEvent(L"update list refused: its serial %s is below %s, the highest accepted before",
               serialText, storedText);
      return false;
    case FreshnessVerdict::kSerialMissing:
      LogEvent(L"update list refused: it has no serial, and serial %s was accepted before",
               storedText);
      return false;
    case FreshnessVerdict::kSerialUnreadable:
      LogEvent(L"update list refused: its serial is not a decimal number");
      return false;
    case FreshnessVerdict::kExpired:
      LogEvent(L"update list refused: it expired at %s UTC (now %s UTC)", expires,
               now ? now.get() : L"?");
      return false;
    case FreshnessVerdict::kExpiryUnreadable:
      LogEvent(L"update list refused: its expiry is not of the shape YYYYMMDD_HHMM");
      return false;
  }
  return false;
}
