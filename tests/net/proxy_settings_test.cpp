#include <gtest/gtest.h>

#include <string>

#include "net/proxy_codec.h"
#include "net/proxy_settings.h"
#include "support/servers/proxy_ini.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kSystemProxy[] = L"127.0.0.1:9";

struct SessionProxy {
  DWORD access = 0;
  std::wstring proxy;
};

// What WinINet says the session will use.
SessionProxy ProxyOf(HINTERNET session) {
  SessionProxy result;
  char buffer[4096] = {};
  DWORD size = sizeof(buffer);
  EXPECT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer, &size));
  const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer);
  result.access = info->dwAccessType;
  if (info->lpszProxy) result.proxy = reinterpret_cast<const wchar_t*>(info->lpszProxy);
  return result;
}

std::wstring TextOption(HINTERNET handle, DWORD option) {
  wchar_t text[300] = {};
  DWORD size = sizeof(text);
  if (!InternetQueryOptionW(handle, option, text, &size)) return L"<none>";
  return text;
}

class ProxySettings : public ::testing::Test {
 protected:
  // A system proxy makes the system's configuration visible: a session that follows it
  // reports that proxy, a direct one does not.
  void SetUp() override {
    RemoveProxyIni();
    SetRegDword(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", 1, kView64);
    SetRegString(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", kSystemProxy, kView64);
  }
  void TearDown() override {
    RemoveProxyIni();
    DeleteRegValue(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", kView64);
    DeleteRegValue(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", kView64);
  }
};

TEST_F(ProxySettings, AbsentFileMeansTheSystemProxyAndNoHttpRule) {
  // No Lumet folder; Lumet without the file; Lumet as a file rather than a folder.
  for (int variant = 0; variant < 3; ++variant) {
    RemoveProxyIni();
    if (variant == 1) CreateDirectoryW(ProxyFolderPath().c_str(), nullptr);
    if (variant == 2) WriteFileBytes(ProxyFolderPath(), "[ProxySetting]\r\nProtocolType=1\r\n");
    EXPECT_FALSE(ProxyFilePath()) << variant;
    EXPECT_FALSE(IsHttpForced()) << variant;
    UniqueInternet session = OpenInternetSession();
    ASSERT_TRUE(session);
    const SessionProxy proxy = ProxyOf(session.get());
    EXPECT_EQ(proxy.access, DWORD(INTERNET_OPEN_TYPE_PROXY)) << variant;
    EXPECT_EQ(proxy.proxy, kSystemProxy) << variant;
  }
}

TEST_F(ProxySettings, ProxyTypeChoosesTheSession) {
  struct Row { int proxyType; const wchar_t* server; const wchar_t* port; DWORD access; const wchar_t* proxy; };
  const Row rows[] = {
      {0, nullptr, nullptr, INTERNET_OPEN_TYPE_PROXY, kSystemProxy},
      {1, nullptr, nullptr, INTERNET_OPEN_TYPE_PROXY, kSystemProxy},
      {4, L"ignored", L"1", INTERNET_OPEN_TYPE_PROXY, kSystemProxy},
      {2, L"ignored", L"1", INTERNET_OPEN_TYPE_DIRECT, L""},
      {3, L"proxy.example", L"8080", INTERNET_OPEN_TYPE_PROXY, L"proxy.example:8080"},
      {3, L"proxy.example", L"", INTERNET_OPEN_TYPE_PROXY, L"proxy.example"},
      {3, L"proxy.example", nullptr, INTERNET_OPEN_TYPE_PROXY, L"proxy.example"},
  };
  for (const Row& row : rows) {
    ProxyIni settings;
    settings.proxyType = row.proxyType;
    if (row.server) settings.server = row.server;
    if (row.port) settings.port = row.port;
    WriteProxyIni(settings);
    UniqueInternet session = OpenInternetSession();
    ASSERT_TRUE(session);
    const SessionProxy proxy = ProxyOf(session.get());
    EXPECT_EQ(proxy.access, row.access) << "ProxyType " << row.proxyType;
    if (row.access == INTERNET_OPEN_TYPE_PROXY) {
      EXPECT_EQ(proxy.proxy, row.proxy) << "ProxyType " << row.proxyType;
    }
  }
  // The missing key counts as 0.
  WriteProxyIniText("[ProxySetting]\r\n");
  EXPECT_EQ(ProxyOf(OpenInternetSession().get()).proxy, kSystemProxy);
}

TEST_F(ProxySettings, LongestProxyTextIsCut) {
  wchar_t text[kProxyTextUnits];
  const std::wstring server(255, L's');
  const std::wstring port(255, L'9');
  FormatProxyText(server.c_str(), port.c_str(), text);
  EXPECT_EQ(std::wstring(text), (server + L":" + port).substr(0, kProxyTextUnits - 1));
}

TEST_F(ProxySettings, HttpRuleFollowsProtocolTypeAlone) {
  struct Row { std::optional<int> protocolType; int proxyType; bool forced; };
  const Row rows[] = {{1, 2, true}, {1, 0, true}, {1, 3, true},
                      {0, 3, false}, {2, 3, false}, {std::nullopt, 3, false}};
  for (const Row& row : rows) {
    ProxyIni settings;
    settings.protocolType = row.protocolType;
    settings.proxyType = row.proxyType;
    WriteProxyIni(settings);
    EXPECT_EQ(IsHttpForced(), row.forced) << row.protocolType.value_or(-1) << "/" << row.proxyType;
  }
}

TEST_F(ProxySettings, CredentialsGoOnTheRequestOnlyForANamedProxyWithAuthType1) {
  struct Row {
    int proxyType;
    int authType;
    const wchar_t* user;
    const wchar_t* password;
    const wchar_t* expectedUser;
    const wchar_t* expectedPassword;
  };
  const Row rows[] = {
      {3, 1, L"\x3086\x30FC\x30B6", L"p@ss:w\x00F6rd", L"\x3086\x30FC\x30B6", L"p@ss:w\x00F6rd"},
      {3, 1, L"", L"secret", L"", L"secret"},
      {3, 1, L"someone", L"", L"someone", L""},
      {2, 1, L"someone", L"secret", L"", L""},
      {0, 1, L"someone", L"secret", L"", L""},
      {3, 0, L"someone", L"secret", L"", L""},
      {3, 2, L"someone", L"secret", L"", L""},
  };
  for (const Row& row : rows) {
    ProxyIni settings;
    settings.proxyType = row.proxyType;
    settings.authType = row.authType;
    settings.server = L"127.0.0.1";
    settings.port = L"9";
    settings.user = row.user;
    settings.password = row.password;
    WriteProxyIni(settings);
    UniqueInternet session = OpenInternetSession();
    UniqueInternet connection(InternetConnectW(session.get(), L"127.0.0.1", 9, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    UniqueInternet request(HttpOpenRequestW(connection.get(), L"GET", L"/", nullptr, nullptr,
                                            nullptr, 0, 0));
    ASSERT_TRUE(request);
    ApplyProxyCredentials(request.get());
    const std::string name = std::to_string(row.proxyType) + "/" + std::to_string(row.authType);
    EXPECT_EQ(TextOption(request.get(), INTERNET_OPTION_PROXY_USERNAME), row.expectedUser) << name;
    EXPECT_EQ(TextOption(request.get(), INTERNET_OPTION_PROXY_PASSWORD), row.expectedPassword) << name;
    // Never on the session: a later download without credentials must not inherit them.
    EXPECT_NE(TextOption(session.get(), INTERNET_OPTION_PROXY_USERNAME), L"someone") << name;
  }
}

TEST_F(ProxySettings, ReadProxyValueDecodesOrLeavesTheOutputEmpty) {
  WriteProxyIniText("[ProxySetting]\r\nA1=" + Narrow(EncodeProxyValue(L"host.example")) +
                    "\r\nA2=K123\r\nA3=K\r\n");
  wchar_t output[kProxyValueUnits];
  struct Row { const wchar_t* key; const wchar_t* expected; };
  const Row rows[] = {{L"A1", L"host.example"}, {L"A2", L""}, {L"A3", L""}, {L"A4", L""}};
  for (const Row& row : rows) {
    wmemset(output, L'#', kProxyValueUnits);
    ReadProxyValue(ProxyIniPath().c_str(), row.key, output);
    EXPECT_EQ(std::wstring(output), row.expected) << Narrow(row.key);
    EXPECT_EQ(output[kProxyValueUnits - 1], L'\0');
  }
}

}  // namespace

namespace {

// The file that the publisher's tool wrote at build time (tests/net/CMakeLists.txt), as
// an administrator copies it onto the PCs: the program reads back what was asked for.
TEST_F(ProxySettings, AFileFromThePublishersToolReadsBackAsWritten) {
  WriteProxyIniText(ReadFileBytes(VT_TOOL_PROXY_INI));
  EXPECT_TRUE(IsHttpForced());
  EXPECT_EQ(GetPrivateProfileIntW(L"ProxySetting", L"ProxyType", 0, ProxyIniPath().c_str()), 3u);
  EXPECT_EQ(GetPrivateProfileIntW(L"ProxySetting", L"AuthType", 0, ProxyIniPath().c_str()), 1u);
  const struct {
    const wchar_t* key;
    const wchar_t* expected;
  } rows[] = {{L"A1", L"proxy.velto.example"}, {L"A2", L"8080"},
              {L"A3", L"営業部ユーザー"}, {L"A4", L"pa.ss-1~Ω"}};
  for (const auto& row : rows) {
    wchar_t output[kProxyValueUnits];
    ReadProxyValue(ProxyIniPath().c_str(), row.key, output);
    // Compared without printing: a decoded value is never shown.
    EXPECT_TRUE(std::wstring(output) == row.expected) << Narrow(row.key);
  }
}

}  // namespace
