#include "net/proxy_settings.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "net/proxy_codec.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kSection[] = L"ProxySetting";
constexpr int32_t kEncodedValueUnits = 1028;
constexpr int32_t kAuthTypeCredentials = 1;
constexpr int32_t kProtocolTypeHttp = 1;

int32_t ReadProxyInt(const wchar_t* path, const wchar_t* key) {
  return int32_t(GetPrivateProfileIntW(kSection, key, 0, path));
}

// Sets a text option; WinINet takes the length in characters including the terminator.
void SetTextOption(HINTERNET request, DWORD option, const wchar_t* text) {
  InternetSetOptionW(request, option, const_cast<wchar_t*>(text), DWORD(TextLength(text) + 1));
}

// The WinINet access type for the file's ProxyType (present false: no file).
DWORD ProxyAccessType(bool present, int32_t proxyType) {
  if (!present) return INTERNET_OPEN_TYPE_PRECONFIG;
  if (proxyType == kProxyTypeDirect) return INTERNET_OPEN_TYPE_DIRECT;
  if (proxyType == kProxyTypeNamed) return INTERNET_OPEN_TYPE_PROXY;
  return INTERNET_OPEN_TYPE_PRECONFIG;
}

}  // namespace

HeapString ProxyFilePath() {
  HeapString path = NewString(MAX_PATH);
  if (!path) return path;
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                              path.get()))) {
    return HeapString();
  }
  if (!PathAppendW(path.get(), L"Lumet") || !PathIsDirectoryW(path.get())) return HeapString();
  if (!PathAppendW(path.get(), L"Proxy.ini") || !PathFileExistsW(path.get())) return HeapString();
  return path;
}

bool IsHttpForced() {
  HeapString path = ProxyFilePath();
  return path && ReadProxyInt(path.get(), L"ProtocolType") == kProtocolTypeHttp;
}

void FormatProxyText(const wchar_t* server, const wchar_t* port, wchar_t* output) {
  output[0] = L'\0';
  if (port && port[0] != L'\0') {
    wnsprintfW(output, kProxyTextUnits, L"%ls:%ls", server, port);
  } else {
    wnsprintfW(output, kProxyTextUnits, L"%ls", server);
  }
  output[kProxyTextUnits - 1] = L'\0';
}

UniqueInternet OpenInternetSession() {
  HeapString path = ProxyFilePath();
  const int32_t proxyType = path ? ReadProxyInt(path.get(), L"ProxyType") : 0;
  const DWORD access = ProxyAccessType(bool(path), proxyType);
  HeapString proxyText;
  if (access == INTERNET_OPEN_TYPE_PROXY) {
    HeapString server = NewString(kProxyValueUnits);
    HeapString port = NewString(kProxyValueUnits);
    proxyText = NewString(kProxyTextUnits);
    if (!server || !port || !proxyText) return UniqueInternet();
    ReadProxyValue(path.get(), L"A1", server.get());
    ReadProxyValue(path.get(), L"A2", port.get());
    FormatProxyText(server.get(), port.get(), proxyText.get());
  }
  return UniqueInternet(InternetOpenW(L"kvor.dll", access, proxyText.get(), nullptr, 0));
}

void ApplyProxyCredentials(HINTERNET request) {
  HeapString path = ProxyFilePath();
  if (!path || ReadProxyInt(path.get(), L"ProxyType") != kProxyTypeNamed ||
      ReadProxyInt(path.get(), L"AuthType") != kAuthTypeCredentials) {
    return;
  }
  HeapString user = NewString(kProxyValueUnits);
  HeapString password = NewString(kProxyValueUnits);
  if (!user || !password) return;
  ReadProxyValue(path.get(), L"A3", user.get());
  ReadProxyValue(path.get(), L"A4", password.get());
  // On the request handle only: set on the session they would outlive this download
  // and reach every later request of the process.
  if (user.get()[0] != L'\0') SetTextOption(request, INTERNET_OPTION_PROXY_USERNAME, user.get());
  if (password.get()[0] != L'\0') {
    SetTextOption(request, INTERNET_OPTION_PROXY_PASSWORD, password.get());
  }
}

void LogProxySettings() {
  HeapString path = ProxyFilePath();
  if (!path) {
    LogEvent(L"proxy: no Proxy.ini, the system's settings");
    return;
  }
  const int32_t proxyType = ReadProxyInt(path.get(), L"ProxyType");
  const int32_t protocolType = ReadProxyInt(path.get(), L"ProtocolType");
  const bool credentials = proxyType == kProxyTypeNamed &&
                           ReadProxyInt(path.get(), L"AuthType") == kAuthTypeCredentials;
  const wchar_t* access = proxyType == kProxyTypeNamed    ? L"the named proxy"
                          : proxyType == kProxyTypeDirect ? L"direct"
                                                          : L"the system's settings";
  LogEvent(L"proxy: ProxyType %d (%s), ProtocolType %d (%s), credentials %s", proxyType, access,
           protocolType, protocolType == kProtocolTypeHttp ? L"https fetched as http" : L"as named",
           credentials ? L"sent" : L"none");
}

void ReadProxyValue(const wchar_t* path, const wchar_t* key, wchar_t* output) {
  ZeroMemory(output, kProxyValueUnits * sizeof(wchar_t));
  HeapString encoded = NewString(kEncodedValueUnits);
  if (!encoded) return;
  GetPrivateProfileStringW(kSection, key, L"", encoded.get(), kEncodedValueUnits, path);
  DecodeProxyValue(encoded.get(), output);
}
