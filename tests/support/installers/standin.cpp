#include "standin.h"

#include <vector>

#include "standin_protocol.h"

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD units = GetEnvironmentVariableW(name, nullptr, 0);
  if (units == 0) return std::wstring();
  std::vector<wchar_t> value(units);
  const DWORD length = GetEnvironmentVariableW(name, value.data(), units);
  return length < units ? std::wstring(value.data(), length) : std::wstring();
}

void RecordCommandLine(const std::wstring& fallbackPath) {
  std::wstring path = EnvironmentValue(kStandInRecordVariable);
  if (path.empty()) path = fallbackPath;
  if (path.empty()) return;
  const std::wstring line = std::wstring(GetCommandLineW()) + L"\r\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::vector<char> utf8(bytes > 0 ? bytes : 0);
  WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  // Appending keeps one line per start, so a test can count the starts.
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), DWORD(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

void HoldWhileAsked() {
  HANDLE hold = OpenEventW(SYNCHRONIZE, FALSE, kStandInHoldEvent);
  if (!hold) return;
  WaitForSingleObject(hold, kStandInHoldLimitMs);
  CloseHandle(hold);
}

namespace {

bool StoreRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                   const void* data, DWORD size, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool stored =
      RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

}  // namespace

bool StoreRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value,
                   REGSAM view) {
  return StoreRegValue(root, subkey, name, REG_DWORD, &value, sizeof(value), view);
}

bool StoreRegString(HKEY root, const wchar_t* subkey, const wchar_t* name,
                    const std::wstring& value, REGSAM view) {
  return StoreRegValue(root, subkey, name, REG_SZ, value.c_str(),
                       DWORD((value.size() + 1) * sizeof(wchar_t)), view);
}
