// Stand-in for the application's own installer (the first piece of the application):
// records how it was started and registers the application per user, as the real
// installer does, with the release the update information describes.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "standin.h"
#include "standin_protocol.h"

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// The update information named after the /i or /m switch; empty when there is none.
std::wstring UpdateInformationPath() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring path;
  for (int i = 1; arguments && i + 1 < count && path.empty(); ++i) {
    const std::wstring argument = arguments[i];
    if (argument == L"/i" || argument == L"/m") path = arguments[i + 1];
  }
  LocalFree(arguments);
  return path;
}

// The version code of the last section header ("0,<code>,...") of the update
// information; 0 when there is none. The file is UTF-8 with a byte-order mark.
int VersionCodeOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  int code = 0;
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, 2, "0,") == 0) code = std::atoi(text.c_str() + start + 2);
    start = end + 1;
  }
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RecordCommandLine(OwnPath() + L".cmdline");
  HoldWhileAsked();
  std::wstring version = EnvironmentValue(kStandInVersionVariable);
  if (version.empty()) version = kStandInDefaultVersion;
  const std::wstring codeText = EnvironmentValue(kStandInVersionCodeVariable);
  const int code = codeText.empty() ? VersionCodeOf(UpdateInformationPath())
                                    : _wtoi(codeText.c_str());
  // HKCU\Software is shared between the views; the setup program asks for the 64-bit one.
  const bool registered =
      StoreRegDword(HKEY_CURRENT_USER, kStandInProductKey, L"Installed", 1, KEY_WOW64_64KEY) &&
      StoreRegString(HKEY_CURRENT_USER, kStandInProductKey, L"Version", version,
                     KEY_WOW64_64KEY) &&
      StoreRegDword(HKEY_CURRENT_USER, kStandInProductKey, L"VersionCode", DWORD(code),
                    KEY_WOW64_64KEY);
  return registered ? 0 : int(kStandInFailureExitCode);
}
