#include "catalog_test_support.h"

#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_support.h"

#include <cstdio>
#include <regex>

SYSTEMTIME LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now;
}

std::string StampAt(const SYSTEMTIME& now, int minutes) {
  FILETIME file;
  SystemTimeToFileTime(&now, &file);
  ULARGE_INTEGER ticks;
  ticks.LowPart = file.dwLowDateTime;
  ticks.HighPart = file.dwHighDateTime;
  ticks.QuadPart += int64_t(minutes) * 60 * 10000000LL;
  file.dwLowDateTime = ticks.LowPart;
  file.dwHighDateTime = ticks.HighPart;
  SYSTEMTIME moved;
  FileTimeToSystemTime(&file, &moved);
  char stamp[32];
  snprintf(stamp, sizeof(stamp), "%04d%02d%02d_%02d%02d", moved.wYear, moved.wMonth, moved.wDay,
           moved.wHour, moved.wMinute);
  return stamp;
}

std::string ExpandStamps(const std::string& text, const SYSTEMTIME& now) {
  static const std::regex placeholder(R"(\{([-+]?\d+)\})");
  std::string result;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), placeholder), end; it != end; ++it) {
    result.append(last, text.cbegin() + it->position());
    result += StampAt(now, std::stoi((*it)[1].str()));
    last = text.cbegin() + it->position() + it->length();
  }
  result.append(last, text.cend());
  return result;
}

SYSTEMTIME InOneMinute(const std::function<void(const SYSTEMTIME& now)>& step) {
  SYSTEMTIME start = LocalNow();
  for (int run = 0; run < 3; ++run) {
    start = LocalNow();
    step(start);
    if (StampAt(start, 0) == StampAt(LocalNow(), 0)) break;
  }
  return start;
}

void CatalogServerTest::SetUp() {
  ASSERT_TRUE(TestServersAvailable()) << "run through CTest: the servers are its fixtures";
  Clean();
  RouteThroughUpdateServer();
}

void CatalogServerTest::TearDown() {
  Clean();
  RemoveProxyIni();
}

void CatalogServerTest::Clean() {
  RemoveTree(AssetsFolderPath());
  RemoveTree(QrnFolderPath());
  for (const wchar_t* name : {L"vtupdaterlist.upd", L"newsetup.upd"}) {
    RemoveTree(ServedPath(TestServer::kUpdate, name));
  }
  ClearRequestLog(TestServer::kUpdate);
  ResetSetupState();
}

std::wstring CatalogServerTest::Work(const std::wstring& name) {
  return WorkFolderPath() + L"\\" + name;
}

BrokenOffPipe::BrokenOffPipe(const wchar_t* name, std::string bytes) : bytes_(std::move(bytes)) {
  pipe_ = CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1024, 0, 0,
                           nullptr);
  if (pipe_ != INVALID_HANDLE_VALUE) writer_ = CreateThread(nullptr, 0, Send, this, 0, nullptr);
}

BrokenOffPipe::~BrokenOffPipe() {
  if (writer_) {
    EXPECT_EQ(WaitForSingleObject(writer_, 10000), WAIT_OBJECT_0);
    CloseHandle(writer_);
  } else if (pipe_ != INVALID_HANDLE_VALUE) {
    CloseHandle(pipe_);
  }
}

DWORD WINAPI BrokenOffPipe::Send(void* self) {
  BrokenOffPipe& pipe = *static_cast<BrokenOffPipe*>(self);
  ConnectNamedPipe(pipe.pipe_, nullptr);
  DWORD written = 0;
  WriteFile(pipe.pipe_, pipe.bytes_.data(), DWORD(pipe.bytes_.size()), &written, nullptr);
  FlushFileBuffers(pipe.pipe_);
  CloseHandle(pipe.pipe_);
  return 0;
}
