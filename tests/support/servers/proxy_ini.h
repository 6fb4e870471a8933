// The proxy settings file for tests: "Proxy.ini" in "Lumet" under the common application
// data folder, with its text values encoded as the program expects them (the inverse of
// DecodeProxyValue, which the program itself never needs).
#pragma once

#include <optional>
#include <string>

// Encodes text with the given key character: one group of 1 to 3 bytes per UTF-16 unit,
// each byte as a pair of hex digits, low digit first, in upper or lower case.
std::wstring EncodeProxyValue(const std::wstring& text, wchar_t keyCharacter = L'K',
                              bool lowerCase = false);

// The keys of the file; an unset key is left out. The texts are written encoded.
struct ProxyIni {
  std::optional<int> proxyType;
  std::optional<int> protocolType;
  std::optional<int> authType;
  std::optional<std::wstring> server;    // A1
  std::optional<std::wstring> port;      // A2
  std::optional<std::wstring> user;      // A3
  std::optional<std::wstring> password;  // A4
};

std::wstring ProxyFolderPath();  // ...\Lumet
std::wstring ProxyIniPath();     // ...\Lumet\Proxy.ini

// Writes the file (creating "Lumet"), replacing any earlier one.
void WriteProxyIni(const ProxyIni& settings);
// Writes the file's text as given (for values that are not valid encodings).
void WriteProxyIniText(const std::string& text);
// Deletes the file and the "Lumet" folder.
void RemoveProxyIni();

// The update server as a forward proxy with "https://" fetched as "http://" (ProxyType 3,
// ProtocolType 1), so that the built-in base URLs reach it.
void RouteThroughUpdateServer();

// The authenticating proxy fixture (tinyproxy) as the named proxy (ProxyType 3), with its
// user and password given (AuthType 1) or not; protocolType 1 fetches https:// as http://.
void RouteThroughTheOfficeProxy(int protocolType, bool credentials = true);
