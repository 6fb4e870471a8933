#include "support/servers/proxy_ini.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "support/servers/test_servers.h"
#include "support/test_support.h"

namespace {

unsigned Bit(unsigned value, int index) { return (value >> index) & 1u; }

// The inverse of the decoder's bit rearrangement: from the byte e it yields, the d that
// the pair of characters must carry.
unsigned ScrambledByte(unsigned e) {
  return (Bit(e, 7) << 4) | Bit(e, 6) | ((Bit(e, 5) ^ 1u) << 6) | (Bit(e, 4) << 1) |
         (Bit(e, 3) << 7) | ((Bit(e, 2) ^ 1u) << 5) | (Bit(e, 1) << 2) | (Bit(e, 0) << 3);
}

void AppendLine(std::string& text, const char* key, const std::wstring& value) {
  text += key;
  text += "=";
  text += Narrow(value);
  text += "\r\n";
}

}  // namespace

std::wstring EncodeProxyValue(const std::wstring& text, wchar_t keyCharacter, bool lowerCase) {
  const unsigned key = (unsigned(keyCharacter) - 1) % 16;
  const wchar_t* digits = lowerCase ? L"0123456789abcdef" : L"0123456789ABCDEF";
  std::wstring encoded(1, keyCharacter);
  for (wchar_t unit : text) {
    const unsigned value = unsigned(unit);
    std::vector<unsigned> group;
    if (value >= 0x4000) group.push_back(0x80 | (value >> 14));
    if (value >= 0x80) group.push_back(0x80 | ((value >> 7) & 0x7F));
    group.push_back(value & 0x7F);
    for (unsigned byte : group) {
      const unsigned d = ScrambledByte(byte ^ (key * 16) ^ key);
      encoded += digits[d & 0xF];
      encoded += digits[d >> 4];
    }
  }
  return encoded;
}

std::wstring ProxyFolderPath() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return std::wstring(folder) + L"\\Lumet";
}

std::wstring ProxyIniPath() { return ProxyFolderPath() + L"\\Proxy.ini"; }

void WriteProxyIniText(const std::string& text) {
  CreateDirectoryW(ProxyFolderPath().c_str(), nullptr);
  WriteFileBytes(ProxyIniPath(), text);
}

void WriteProxyIni(const ProxyIni& settings) {
  std::string text = "[ProxySetting]\r\n";
  if (settings.proxyType) AppendLine(text, "ProxyType", std::to_wstring(*settings.proxyType));
  if (settings.protocolType) {
    AppendLine(text, "ProtocolType", std::to_wstring(*settings.protocolType));
  }
  if (settings.authType) AppendLine(text, "AuthType", std::to_wstring(*settings.authType));
  if (settings.server) AppendLine(text, "A1", EncodeProxyValue(*settings.server, L'a'));
  if (settings.port) AppendLine(text, "A2", EncodeProxyValue(*settings.port, L'7'));
  if (settings.user) AppendLine(text, "A3", EncodeProxyValue(*settings.user, L'Q', true));
  if (settings.password) AppendLine(text, "A4", EncodeProxyValue(*settings.password, L'~'));
  WriteProxyIniText(text);
}

void RemoveProxyIni() { RemoveTree(ProxyFolderPath()); }

void RouteThroughUpdateServer() {
  ProxyIni settings;
  settings.proxyType = 3;
  settings.protocolType = 1;
  settings.server = L"127.0.0.1";
  settings.port = std::to_wstring(ServerPort(TestServer::kUpdate));
  WriteProxyIni(settings);
}

void RouteThroughTheOfficeProxy(int protocolType, bool credentials) {
  ProxyIni settings;
  settings.proxyType = 3;
  settings.protocolType = protocolType;
  settings.authType = credentials ? 1 : 0;
  settings.server = L"127.0.0.1";
  settings.port = std::to_wstring(ServerPort(TestServer::kProxy));
  settings.user = ProxyUser();
  settings.password = ProxyPassword();
  WriteProxyIni(settings);
}
