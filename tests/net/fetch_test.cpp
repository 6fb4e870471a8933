#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "build_config.h"
#include "catalog/update_server.h"
#include "detect/registry.h"
#include "net/fetch.h"
#include "net/net_fixture.h"

namespace {


// FetchByName against the built-in base URLs, which reach the update server through a
// proxy settings file that names it as the proxy and forces plain HTTP.
class Fetch : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    DeleteRegValue(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", kView64);
    RouteThroughUpdateServer();
    CleanWorkFolder();
  }
  void TearDown() override {
    CleanWorkFolder();
    DeleteRegValue(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", kView64);
    ServerTest::TearDown();
  }
  std::wstring Remote() const { return NameFor(L".upd"); }
  std::wstring Local() const { return NameFor(L".upi"); }
  std::wstring Work(const std::wstring& name) const { return WorkFolderPath() + L"\\" + name; }
  bool Run(bool force) { return FetchFromUpdateServer(Remote().c_str(), Local().c_str(), force); }
  std::vector<LoggedRequest> Requests(size_t count) {
    return AwaitRequests(TestServer::kUpdate, Remote(), count);
  }
  // The server's copy, and a local file already in the work folder.
  void Prepare(const std::string& onServer, const std::string& local) {
    Publish(TestServer::kUpdate, Remote(), onServer);
    CreateDirectoryW(QrnFolderPath().c_str(), nullptr);
    CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
    WriteFileBytes(Work(Local()), local);
  }

 private:
  void CleanWorkFolder() {
    for (const std::wstring& name : {Remote(), Remote() + L".FilePart",
                                     Remote() + L".FileValidator", Local()}) {
      RemoveTree(Work(name));
    }
  }
};

TEST_F(Fetch, ServerTestBitTwoSelectsTheTestServer) {
  const std::string body = RandomBytes(7000, 20);
  Publish(TestServer::kUpdate, Remote(), body);
  struct Row { std::optional<uint32_t> value; bool test; };
  const Row rows[] = {{std::nullopt, false}, {0, false}, {1, false}, {2, true},
                      {3, true}, {4, false}, {6, true}, {0xFFFFFFFDu, false}};
  for (const Row& row : rows) {
    const std::string name = row.value ? std::to_string(*row.value) : "absent";
    if (row.value) {
      SetRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", *row.value, kView64);
    } else {
      DeleteRegValue(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", kView64);
    }
    EXPECT_STREQ(UpdateServerBaseUrl(), row.test ? kTestBaseUrl : kProductionBaseUrl) << name;
    ClearRequestLog(TestServer::kUpdate);
    ASSERT_TRUE(Run(true)) << name;
    EXPECT_EQ(ReadFileBytes(Work(Local())), body) << name;
    const auto requests = Requests(1);
    ASSERT_EQ(requests.size(), 1u) << name;
    EXPECT_EQ(requests[0].host, row.test ? "updates-test.velto.example" : "updates.velto.example")
        << name;
  }
  EXPECT_FALSE(PathExists(Work(Remote())));
  EXPECT_FALSE(PathExists(Work(Remote() + L".FilePart")));
}

TEST_F(Fetch, PresentLocalFileWithoutForceNeedsNoNetwork) {
  Prepare("newer on the server", "already here");
  EXPECT_TRUE(Run(false));
  EXPECT_EQ(ReadFileBytes(Work(Local())), "already here");
  EXPECT_TRUE(Requests(0).empty());
}

TEST_F(Fetch, ForcedFetchReplacesTheLocalFileOrLeavesNone) {
  Prepare("fresh copy", "old copy");
  ASSERT_TRUE(Run(true));
  EXPECT_EQ(ReadFileBytes(Work(Local())), "fresh copy");

  SetFault(Remote(), "status=404");
  EXPECT_FALSE(Run(true));
  EXPECT_FALSE(PathExists(Work(Local())));
  EXPECT_FALSE(PathExists(Work(Remote())));
}

TEST_F(Fetch, LocalFileThatCannotBeReplacedIsNoSuccess) {
  Prepare("fresh copy", "old copy");
  // Held open without delete sharing, as a running installer holds its file.
  HANDLE held = CreateFileW(Work(Local()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Run(true));
  CloseHandle(held);
  EXPECT_EQ(ReadFileBytes(Work(Local())), "old copy");
  EXPECT_FALSE(PathExists(Work(Remote())));
}

TEST_F(Fetch, InterruptedFetchKeepsThePartialFileForTheNextCall) {
  const std::string body = RandomBytes(20000, 21);
  Publish(TestServer::kUpdate, Remote(), body);
  SetFault(Remote(), "close-after=3000\ntimes=1");
  EXPECT_FALSE(Run(false));
  EXPECT_FALSE(PathExists(Work(Local())));
  EXPECT_FALSE(PathExists(Work(Remote())));
  EXPECT_EQ(FileSizeOf(Work(Remote() + L".FilePart")), 3000);

  ASSERT_TRUE(Run(false));
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Work(Local()))), Sha256Hex(body));
  const auto requests = Requests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, "bytes=3000-");
  EXPECT_FALSE(PathExists(Work(Remote() + L".FilePart")));
}

TEST_F(Fetch, MissingWorkFoldersAreCreated) {
  Publish(TestServer::kUpdate, Remote(), "x");
  RemoveTree(QrnFolderPath());
  ASSERT_TRUE(Run(false));
  EXPECT_EQ(ReadFileBytes(Work(Local())), "x");
  // Only QRN present.
  RemoveTree(WorkFolderPath());
  ASSERT_TRUE(Run(false));
  EXPECT_EQ(ReadFileBytes(Work(Local())), "x");
}

TEST_F(Fetch, NamesThatAreNotBareFileNamesFetchNothing) {
  Publish(TestServer::kUpdate, Remote(), "x");
  const std::wstring remote = Remote();
  const std::wstring local = Local();
  struct Row { const wchar_t* remote; const wchar_t* local; };
  const Row rows[] = {{nullptr, nullptr}, {nullptr, local.c_str()}, {remote.c_str(), nullptr},
                      {L"..\\x.upd", local.c_str()}, {L"sub/x.upd", local.c_str()},
                      {remote.c_str(), L"..\\evil.exe"}, {remote.c_str(), L"C:evil.exe"},
                      {remote.c_str(), L""}};
  for (const Row& row : rows) {
    EXPECT_FALSE(FetchByName(UpdateServerBaseUrl(), row.remote, row.local, true, TransferControl{}));
  }
  EXPECT_TRUE(AwaitRequests(TestServer::kUpdate, L"", 0).empty());
}

}  // namespace
