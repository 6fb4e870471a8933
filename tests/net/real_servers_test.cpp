#include <gtest/gtest.h>

#include <string>

#include "net/download.h"
#include "net/net_fixture.h"
#include "support/servers/trusted_authority.h"

namespace {

// The validator nginx gives a file (its ETag), read with a HEAD request.
std::string EtagOf(const std::wstring& url) {
  HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  wchar_t etag[256] = {};
  DWORD size = sizeof(etag);
  HttpQueryInfoW(request, HTTP_QUERY_ETAG, etag, &size, nullptr);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  return Narrow(etag);
}

void SetModifiedTime(const std::wstring& path, WORD year) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = 1;
  time.wDay = 1;
  FILETIME stamp;
  SystemTimeToFileTime(&time, &stamp);
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &stamp));
  CloseHandle(file);
}

class RealServers : public ServerTest {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(TrustTestAuthority()); }
  void SetUp() override {
    ServerTest::SetUp();
    ClearRequestLog(TestServer::kTls);
  }
  std::wstring Destination() { return temp_ / NameFor(); }
  std::wstring Partial() { return Destination() + L".FilePart"; }
  bool Run(const std::wstring& url) { return DownloadFile(url.c_str(), Destination().c_str(), TransferControl{}); }
};

// The same answers over plain HTTP and over TLS (the program's own request flags; the
// test authority is trusted as a public one is on a user's machine).
TEST_F(RealServers, NginxFreshResumedAndAlreadyCompleteDownloads) {
  const std::string body = RandomBytes(3 << 20, 30);
  struct Server { TestServer server; std::wstring url; };
  Publish(TestServer::kNginx, NameFor(), body);
  Publish(TestServer::kTls, NameFor(), body);
  const Server servers[] = {{TestServer::kNginx, ServedUrl(TestServer::kNginx, NameFor())},
                            {TestServer::kTls, TlsUrl(L"localhost", NameFor())}};
  struct Row { const char* name; size_t partial; int status; long long bodyBytes; };
  const Row rows[] = {{"fresh", 0, 200, 3 << 20},
                      {"resumed from 1 MiB", 1 << 20, 206, 2 << 20},
                      {"partial file already complete", 3 << 20, 416, -1}};
  for (const Server& server : servers) {
    for (const Row& row : rows) {
      SCOPED_TRACE(Narrow(server.url) + " " + row.name);
      RemoveTree(Destination());
      if (row.partial) WriteFileBytes(Partial(), body.substr(0, row.partial));
      ClearRequestLog(server.server);
      ASSERT_TRUE(Run(server.url));
      EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
      EXPECT_FALSE(PathExists(Partial()));
      const auto requests = AwaitRequests(server.server, NameFor(), 1);
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].range,
                row.partial ? "bytes=" + std::to_string(row.partial) + "-" : "");
      EXPECT_EQ(requests[0].status, row.status);
      if (row.bodyBytes >= 0) {
        EXPECT_EQ(requests[0].bodyBytes, row.bodyBytes);
      }
    }
  }
}

// A certificate the machine does not trust, or one for another name, ends the download
// before any request is made: the partial file stays as it was, and nothing is asked
// again over plain HTTP (the TLS port would log such a request as 400).
TEST_F(RealServers, UntrustedOrMisnamedCertificateFailsWithoutFallingBackToHttp) {
  const std::string body = RandomBytes(100000, 34);
  Publish(TestServer::kTls, NameFor(), body);
  for (const wchar_t* port : {L"port-other-authority", L"port-other-name"}) {
    SCOPED_TRACE(Narrow(port));
    WriteFileBytes(Partial(), body.substr(0, 1000));
    TransferOutcome outcome;
    TransferControl control;
    control.outcome = &outcome;
    EXPECT_FALSE(DownloadFile(TlsUrl(L"localhost", NameFor(), port).c_str(),
                              Destination().c_str(), control));
    EXPECT_EQ(outcome.end, TransferEnd::kNoAnswer);
    EXPECT_NE(outcome.error, DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(ReadFileBytes(Partial()), body.substr(0, 1000));
    EXPECT_FALSE(PathExists(Destination()));
  }
  EXPECT_TRUE(AwaitRequests(TestServer::kTls, L"", 0).empty());
}

TEST_F(RealServers, NginxReplacedFileComesWholeThroughIfRange) {
  const std::string first = RandomBytes(1 << 20, 31);
  const std::string second = RandomBytes(1 << 20, 32);  // same size: only the ETag tells
  Publish(TestServer::kNginx, NameFor(), first);
  SetModifiedTime(ServedPath(TestServer::kNginx, NameFor()), 2020);
  const std::wstring url = ServedUrl(TestServer::kNginx, NameFor());
  const std::string etag = EtagOf(url);
  ASSERT_FALSE(etag.empty());

  // The partial file and validator that an interrupted download of the first version
  // leaves behind; first resumed against the unchanged file, then against a replaced one.
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "replaced" : "unchanged");
    RemoveTree(Destination());
    WriteFileBytes(Partial(), first.substr(0, 300000));
    WriteFileBytes(Destination() + L".FileValidator", etag);
    if (replaced) Publish(TestServer::kNginx, NameFor(), second);
    ClearRequestLog(TestServer::kNginx);
    ASSERT_TRUE(Run(url));
    EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(replaced ? second : first));
    const auto requests = AwaitRequests(TestServer::kNginx, NameFor(), 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=300000-");
    EXPECT_EQ(requests[0].ifRange, etag);
    EXPECT_EQ(requests[0].status, replaced ? 200 : 206);
  }
}

// The office route: the built-in https:// base URL through tinyproxy with BasicAuth,
// either fetched as plain HTTP (ProtocolType 1) or, as shipped (ProtocolType 0), through
// a CONNECT tunnel that tinyproxy chains to the update server and that ends at the TLS
// server.
TEST_F(RealServers, ProxyWithBasicAuthNeedsTheEncodedCredentials) {
  const std::string body = RandomBytes(500000, 33);
  Publish(TestServer::kUpdate, NameFor(), body);
  Publish(TestServer::kTls, NameFor(), body);
  const std::wstring url = L"https://updates.velto.example/updater/" + NameFor();
  struct Row {
    const char* name;
    int protocolType;
    int authType;
    std::wstring password;
    bool result;
  };
  const Row rows[] = {{"no credentials: 407", 1, 0, ProxyPassword(), false},
                      {"wrong password: 407", 1, 1, ProxyPassword() + L"x", false},
                      {"right credentials", 1, 1, ProxyPassword(), true},
                      {"tunnel without credentials: 407 on CONNECT", 0, 0, ProxyPassword(), false},
                      {"tunnel with credentials: TLS to the end", 0, 1, ProxyPassword(), true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(Destination());
    WriteFileBytes(Partial(), body.substr(0, 100000));
    ProxyIni settings;
    settings.proxyType = 3;
    settings.protocolType = row.protocolType;
    settings.authType = row.authType;
    settings.server = L"127.0.0.1";
    settings.port = std::to_wstring(ServerPort(TestServer::kProxy));
    settings.user = ProxyUser();
    settings.password = row.password;
    WriteProxyIni(settings);
    ClearRequestLog(TestServer::kUpdate);
    ClearRequestLog(TestServer::kTls);
    EXPECT_EQ(Run(url), row.result);
    const TestServer origin = row.protocolType == 0 ? TestServer::kTls : TestServer::kUpdate;
    const auto upstream = AwaitRequests(origin, NameFor(), row.result ? 1 : 0);
    if (!row.result) {
      EXPECT_EQ(ReadFileBytes(Partial()), body.substr(0, 100000)) << "partial file untouched";
      EXPECT_TRUE(upstream.empty()) << "the proxy let nothing through";
      EXPECT_TRUE(AwaitRequests(TestServer::kUpdate, L"", 0).empty()) << "nor a tunnel";
      continue;
    }
    EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
    ASSERT_EQ(upstream.size(), 1u);
    EXPECT_EQ(upstream[0].host, "updates.velto.example");
    EXPECT_EQ(upstream[0].range, "bytes=100000-");
    EXPECT_EQ(upstream[0].status, 206);
    if (row.protocolType == 0) {
      const auto tunnels = AwaitRequests(TestServer::kUpdate, L"", 1);
      ASSERT_EQ(tunnels.size(), 1u);
      EXPECT_EQ(tunnels[0].method, "CONNECT");
      EXPECT_EQ(tunnels[0].target, "updates.velto.example:443");
    }
  }
}

}  // namespace
