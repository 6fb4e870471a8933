#include "net/net_fixture.h"

void MakeSparseFile(const std::wstring& path, long long size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = size;
  EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
  CloseHandle(file);
}

void ServerTest::SetUp() {
  ASSERT_TRUE(TestServersAvailable()) << "run through CTest: the servers are its fixtures";
  ResetSetupState();
  RemoveProxyIni();
  ClearRequestLog(TestServer::kUpdate);
  ClearRequestLog(TestServer::kNginx);
}

void ServerTest::TearDown() {
  for (const auto& [server, name] : published_) {
    RemoveTree(ServedPath(server, name));
    if (server == TestServer::kUpdate) ClearFault(name);
  }
  RemoveProxyIni();
  ResetSetupState();
}

void ServerTest::Publish(TestServer server, const std::wstring& name, const std::string& bytes) {
  WriteFileBytes(ServedPath(server, name), bytes);
  published_.emplace_back(server, name);
}

std::wstring ServerTest::NameFor(const wchar_t* extension) const {
  return Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()) + extension;
}
