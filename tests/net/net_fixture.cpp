#include "net/net_fixture.h"

#include <bcrypt.h>



std::string Sha256Hex(const std::string& bytes) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32] = {};
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    return "<no sha256>";
  }
  BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                 ULONG(bytes.size()), 0);
  BCryptFinishHash(hash, digest, sizeof(digest), 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

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
