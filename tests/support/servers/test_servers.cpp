#include "support/servers/test_servers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace {

const wchar_t* FolderName(TestServer server) {
  switch (server) {
    case TestServer::kUpdate: return L"update";
    case TestServer::kNginx: return L"nginx";
    case TestServer::kProxy: return L"proxy";
    case TestServer::kTls: return L"tls";
  }
  return L"";
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Field(const std::string& value) { return value == "-" ? std::string() : value; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(Trimmed(line));
  return lines;
}

}  // namespace

bool TestServersAvailable() { return std::getenv("VELTO_TEST_SERVERS") != nullptr; }

std::wstring WindowsPathOf(const std::string& unixPath) {
  std::wstring path = L"Z:" + Widen(unixPath);
  for (wchar_t& unit : path) {
    if (unit == L'/') unit = L'\\';
  }
  return path;
}

std::wstring ServerFolder(TestServer server) {
  const char* folder = std::getenv("VELTO_TEST_SERVERS");
  EXPECT_NE(folder, nullptr) << "VELTO_TEST_SERVERS is not set: run the test through CTest";
  return WindowsPathOf(folder ? folder : "/nonexistent") + L"\\" + FolderName(server);
}

int ServerPort(TestServer server) {
  const int port = std::atoi(ReadFileBytes(ServerFolder(server) + L"\\port").c_str());
  EXPECT_GT(port, 0) << "no port published for " << Narrow(FolderName(server));
  return port;
}

std::wstring ServedFolder(TestServer server) { return ServerFolder(server) + L"\\root"; }

std::wstring ServedPath(TestServer server, const std::wstring& name) {
  return ServedFolder(server) + L"\\" + name;
}

std::wstring ServedUrl(TestServer server, const std::wstring& name) {
  return L"http://127.0.0.1:" + std::to_wstring(ServerPort(server)) + L"/updater/" + name;
}

std::wstring TlsUrl(const std::wstring& host, const std::wstring& name, const wchar_t* portFile) {
  const std::wstring folder = ServerFolder(TestServer::kTls);
  const int port = std::atoi(ReadFileBytes(folder + L"\\" + portFile).c_str());
  EXPECT_GT(port, 0) << "no TLS port " << Narrow(portFile);
  return L"https://" + host + L":" + std::to_wstring(port) + L"/updater/" + name;
}

std::vector<LoggedRequest> ReadRequestLog(TestServer server) {
  std::vector<LoggedRequest> requests;
  for (const std::string& line : Lines(ReadFileBytes(ServerFolder(server) + L"\\requests.log"))) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    if (fields.size() != 7) continue;
    LoggedRequest request;
    request.method = Field(fields[0]);
    request.target = Field(fields[1]);
    request.host = Field(fields[2]);
    request.range = Field(fields[3]);
    request.ifRange = Field(fields[4]);
    request.status = std::atoi(fields[5].c_str());
    request.bodyBytes = std::atoll(fields[6].c_str());
    requests.push_back(request);
  }
  return requests;
}

std::vector<LoggedRequest> AwaitRequests(TestServer server, const std::wstring& name,
                                         size_t count) {
  const std::string suffix = name.empty() ? "" : "/updater/" + Narrow(name);
  const ULONGLONG deadline = GetTickCount64() + (count ? 5000 : 200);
  for (;;) {
    std::vector<LoggedRequest> found;
    for (const LoggedRequest& request : ReadRequestLog(server)) {
      const std::string& target = request.target;
      if (target.size() >= suffix.size() &&
          target.compare(target.size() - suffix.size(), suffix.size(), suffix) == 0) {
        found.push_back(request);
      }
    }
    if ((count && found.size() >= count) || GetTickCount64() >= deadline) return found;
    Sleep(10);
  }
}

void ClearRequestLog(TestServer server) {
  // Truncated in place: the servers keep the file open for appending.
  HANDLE file = CreateFileW((ServerFolder(server) + L"\\requests.log").c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot empty the request log";
  CloseHandle(file);
}

void SetFault(const std::wstring& name, const std::string& switches) {
  WriteFileBytes(ServedPath(TestServer::kUpdate, name + L".fault"), switches + "\n");
}

void ClearFault(const std::wstring& name) {
  RemoveTree(ServedPath(TestServer::kUpdate, name + L".fault"));
}

std::wstring ProxyUser() {
  return Widen(Lines(ReadFileBytes(ServerFolder(TestServer::kProxy) + L"\\credentials")).at(0));
}

std::wstring ProxyPassword() {
  return Widen(Lines(ReadFileBytes(ServerFolder(TestServer::kProxy) + L"\\credentials")).at(1));
}
