#include <gtest/gtest.h>

#include <string>

#include "net/download.h"
#include "net/net_fixture.h"

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
  std::wstring Destination() { return temp_ / NameFor(); }
  std::wstring Partial() { return Destination() + L".FilePart"; }
  bool Run(const std::wstring& url) { return DownloadFile(url.c_str(), Destination().c_str(), TransferControl{}); }
};

TEST_F(RealServers, NginxFreshResumedAndAlreadyCompleteDownloads) {
  const std::string body = RandomBytes(3 << 20, 30);
  Publish(TestServer::kNginx, NameFor(), body);
  const std::wstring url = ServedUrl(TestServer::kNginx, NameFor());
  struct Row { const char* name; size_t partial; int status; long long bodyBytes; };
  const Row rows[] = {{"fresh", 0, 200, 3 << 20},
                      {"resumed from 1 MiB", 1 << 20, 206, 2 << 20},
                      {"partial file already complete", 3 << 20, 416, -1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(Destination());
    if (row.partial) WriteFileBytes(Partial(), body.substr(0, row.partial));
    ClearRequestLog(TestServer::kNginx);
    ASSERT_TRUE(Run(url));
    EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
    EXPECT_FALSE(PathExists(Partial()));
    const auto requests = AwaitRequests(TestServer::kNginx, NameFor(), 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, row.partial ? "bytes=" + std::to_string(row.partial) + "-" : "");
    EXPECT_EQ(requests[0].status, row.status);
    if (row.bodyBytes >= 0) {
      EXPECT_EQ(requests[0].bodyBytes, row.bodyBytes);
    }
  }
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

TEST_F(RealServers, ProxyWithBasicAuthNeedsTheEncodedCredentials) {
  const std::string body = RandomBytes(500000, 33);
  Publish(TestServer::kUpdate, NameFor(), body);
  WriteFileBytes(Partial(), body.substr(0, 100000));
  const std::wstring url = L"https://updates.velto.example/updater/" + NameFor();
  struct Row { const char* name; int authType; std::wstring password; bool result; };
  const Row rows[] = {{"no credentials: 407", 0, ProxyPassword(), false},
                      {"wrong password: 407", 1, ProxyPassword() + L"x", false},
                      {"right credentials", 1, ProxyPassword(), true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProxyIni settings;
    settings.proxyType = 3;
    settings.protocolType = 1;
    settings.authType = row.authType;
    settings.server = L"127.0.0.1";
    settings.port = std::to_wstring(ServerPort(TestServer::kProxy));
    settings.user = ProxyUser();
    settings.password = row.password;
    WriteProxyIni(settings);
    ClearRequestLog(TestServer::kUpdate);
    EXPECT_EQ(Run(url), row.result);
    const auto upstream = AwaitRequests(TestServer::kUpdate, NameFor(), row.result ? 1 : 0);
    if (!row.result) {
      EXPECT_EQ(ReadFileBytes(Partial()), body.substr(0, 100000)) << "partial file untouched";
      EXPECT_TRUE(upstream.empty()) << "the proxy let nothing through";
      continue;
    }
    EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
    ASSERT_EQ(upstream.size(), 1u);
    EXPECT_EQ(upstream[0].host, "updates.velto.example");
    EXPECT_EQ(upstream[0].range, "bytes=100000-");
    EXPECT_EQ(upstream[0].status, 206);
  }
}

}  // namespace
