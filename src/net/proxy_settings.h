// The machine-wide proxy settings file: "Proxy.ini" in the folder "Lumet" of the common
// application data folder, section "ProxySetting". It is only read, and read afresh by
// every call, so a changed file takes effect at the next download. An absent folder or
// file behaves as an empty file: the system's proxy, no credentials, no HTTP rule.
#pragma once

#include <cstdint>

#include "util/owners.h"

// ProxyType values that mean something; any other value selects the system's proxy.
inline constexpr int32_t kProxyTypeDirect = 2;
inline constexpr int32_t kProxyTypeNamed = 3;
// Capacity of the proxy text handed to the session: at most 271 characters.
inline constexpr int32_t kProxyTextUnits = 272;

// The path of the proxy file; null when the folder or the file is absent.
HeapString ProxyFilePath();

// Whether "https://" URLs are to be fetched over plain HTTP (ProtocolType 1).
bool IsHttpForced();

// "server:port", or "server" alone when port is empty, cut to kProxyTextUnits - 1
// characters; output holds kProxyTextUnits units.
void FormatProxyText(const wchar_t* server, const wchar_t* port, wchar_t* output);

// A WinINet session with the agent "kvor.dll" and the proxy the file asks for; null when
// InternetOpenW fails.
UniqueInternet OpenInternetSession();

// Sets the proxy user name and password from the file (ProxyType 3 and AuthType 1 only)
// on an opened request that has not been sent; each only when its decoded text is not
// empty. Failures are ignored: the request is sent all the same.
void ApplyProxyCredentials(HINTERNET request);

// Logs the settings a download now uses: ProxyType, ProtocolType and whether
// credentials are sent. Never a server, port, user name or password (A1 to A4).
void LogProxySettings();

// Reads key from the "ProxySetting" section of the file at path (default "") and
// decodes it into output (kProxyValueUnits units, zero-filled here first). A value that
// fails to decode leaves output empty.
void ReadProxyValue(const wchar_t* path, const wchar_t* key, wchar_t* output);
