// Access to the test servers from a Windows test program under Wine. CTest tells the
// program where they live through VELTO_TEST_SERVERS (a Unix folder, reached through
// Wine's Z: drive); each server has a folder there with its port, its served folder
// (root, below "/updater/") and its request log.
#pragma once

#include <string>
#include <vector>

enum class TestServer { kUpdate, kNginx, kProxy, kTls };

// One line of a server's request log. Absent values are empty.
struct LoggedRequest {
  std::string method;
  std::string target;  // as sent: absolute in proxy mode
  std::string host;    // lower case, without port
  std::string range;
  std::string ifRange;
  int status = 0;
  long long bodyBytes = 0;
};

// Whether VELTO_TEST_SERVERS is set (the test runs under CTest with the fixtures).
bool TestServersAvailable();
// The Windows path of a Unix path (Wine's Z: drive).
std::wstring WindowsPathOf(const std::string& unixPath);
// The server's folder (Windows path); its port; its served folder.
std::wstring ServerFolder(TestServer server);
int ServerPort(TestServer server);
std::wstring ServedFolder(TestServer server);
// The served file's Windows path, and its URL on the server: http://127.0.0.1:port/updater/name.
std::wstring ServedPath(TestServer server, const std::wstring& name);
std::wstring ServedUrl(TestServer server, const std::wstring& name);

// The TLS server's URL of a served file, https://host:port/updater/name, on the port
// whose certificate is the test authority's for the test names (portFile "port"), one of
// another authority ("port-other-authority") or one for another name ("port-other-name").
std::wstring TlsUrl(const std::wstring& host, const std::wstring& name,
                    const wchar_t* portFile = L"port");

// The request log (update server, nginx and the TLS server); ClearRequestLog empties it.
std::vector<LoggedRequest> ReadRequestLog(TestServer server);
void ClearRequestLog(TestServer server);
// The logged requests whose target ends with "/updater/" + name (every request when name
// is empty). A server logs a request once its answer has ended, which may be after the
// client has given up on it: this waits (at most 5 s) until count of them are there, and
// for count 0 it waits 200 ms for late lines.
std::vector<LoggedRequest> AwaitRequests(TestServer server, const std::wstring& name,
                                         size_t count);

// Fault switches of a file on the update server (see update_server.py): the text of its
// sidecar file, one switch per line, e.g. "close-after=1000\ntimes=1".
void SetFault(const std::wstring& name, const std::string& switches);
void ClearFault(const std::wstring& name);

// The user name and password the proxy server accepts.
std::wstring ProxyUser();
std::wstring ProxyPassword();
