#include <gtest/gtest.h>

#include <string>

#include "detect/localdb.h"
#include "detect/registry.h"
#include "support/test_support.h"
#include "util/owners.h"

namespace {

const std::wstring kVersions = kLocalDbInstalledVersionsKey;
const std::wstring kSqlServer = L"SOFTWARE\\Microsoft\\Microsoft SQL Server";

TEST(LocalDbRules, PackageKindFollowsArchitectureAndWindowsVersion) {
  const struct {
    bool wow64;
    bool known;
    uint32_t major, minor;
    int kind;
  } rows[] = {
      {false, true, 10, 0, 0}, {false, false, 6, 1, 0}, {true, false, 10, 0, 1},
      {true, true, 5, 2, 1},   {true, true, 6, 0, 1},   {true, true, 6, 1, 1},
      {true, true, 6, 2, 2},   {true, true, 6, 3, 2},   {true, true, 10, 0, 2},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(LocalDbPackageKindFor(r.wow64, r.known, r.major, r.minor), r.kind)
        << r.wow64 << r.known << " " << r.major << "." << r.minor;
  }
}

TEST(LocalDbRules, OnlyExactMajorsSatisfyEachKind) {
  // Columns: majors 0, 11, 12, 13, 14, 15; 1 = accepted.
  const int32_t majors[] = {0, 11, 12, 13, 14, 15};
  const struct {
    int kind;
    int accepted[6];
  } rows[] = {
      {0, {0, 0, 1, 0, 1, 0}},  {1, {0, 0, 1, 0, 1, 0}}, {2, {0, 0, 0, 0, 1, 0}},
      {3, {0, 0, 0, 0, 0, 0}},  {-1, {0, 0, 0, 0, 0, 0}},
  };
  for (const auto& r : rows) {
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(IsLocalDbMajorAccepted(r.kind, majors[i]), r.accepted[i] == 1)
          << "kind " << r.kind << " major " << majors[i];
    }
  }
}

TEST(LocalDbRules, PackageNamesAndReleaseNames) {
  EXPECT_EQ(Text(LocalDbPackageName(0)), L"SQL Server 2014 SP3 LocalDB(x86)");
  EXPECT_EQ(Text(LocalDbPackageName(1)), L"SQL Server 2014 SP3 LocalDB(x64)");
  EXPECT_EQ(Text(LocalDbPackageName(2)), L"SQL Server 2017 RTM LocalDB(x64)");
  EXPECT_EQ(Text(LocalDbPackageName(7)), L"SQL Server 2014 SP3 LocalDB(x86)");

  const struct {
    int32_t major;
    const wchar_t* version;
    const wchar_t* name;
  } rows[] = {
      {11, L"11.0.2100.60", L"SQL Server 2012 RTM LocalDB"},
      {11, L"11.1.3000.0", L"SQL Server 2012 SP1 LocalDB"},
      {11, L"11.2.5058.0", L"SQL Server 2012 SP2 LocalDB"},
      {11, L"11.3.6020.0", L"SQL Server 2012 SP3 LocalDB"},
      {11, L"11.4.7001.0", L"SQL Server 2012 SP4 LocalDB"},
      {12, L"12.0.2000.8", L"SQL Server 2014 RTM LocalDB"},
      {12, L"12.1.4100.1", L"SQL Server 2014 SP1 LocalDB"},
      {12, L"12.2.5000.0", L"SQL Server 2014 SP2 LocalDB"},
      {12, L"12.3.6024.0", L"SQL Server 2014 SP3 LocalDB"},
      {13, L"13.0.1601.5", L"SQL Server 2016 RTM LocalDB"},
      {13, L"13.1.4001.0", L"SQL Server 2016 SP1 LocalDB"},
      {13, L"13.2.5026.0", L"SQL Server 2016 SP2 LocalDB"},
      {14, L"14.0.1000.169", L"SQL Server 2017 RTM LocalDB"},
      // The major plays no part once a version text is given.
      {99, L"12.3.6024.0", L"SQL Server 2014 SP3 LocalDB"},
      {12, L"12.3.6024.1", L"不明なバージョンのSQL Server LocalDB(12.3.6024.1)"},
      {12, L"12.3.6024.0 ", L"不明なバージョンのSQL Server LocalDB(12.3.6024.0 )"},
      {12, L"", L"不明なバージョンのSQL Server LocalDB()"},
      {0, nullptr, L"SQL Server 2012 LocalDB以前"},
      {11, nullptr, L"SQL Server 2012 LocalDB以前"},
      {12, nullptr, L"SQL Server 2014 LocalDB"},
      {13, nullptr, L"SQL Server 2016 LocalDB"},
      {14, nullptr, L"SQL Server 2017 LocalDB"},
      {15, nullptr, L"SQL Server 2019 LocalDB以降"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Text(DescribeLocalDbVersion(r.major, r.version)), r.name)
        << r.major << " " << (r.version ? r.version : L"<null>");
  }
}

// Registers LocalDB majors as the packages do: "Installed Versions\<major>.0" in the
// 32-bit view, the instance's setup version in the 64-bit view.
class LocalDb : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    apiLibrary_ = temp_ / L"SqlUserInstance.dll";
    WriteFileBytes(apiLibrary_, "MZ");
  }
  void TearDown() override {
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB", kView32);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kSqlServer, kView64);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kSqlServer, kView32);
  }
  void Register(const std::wstring& subkey, const wchar_t* instance) {
    const std::wstring key = kVersions + L"\\" + subkey;
    SetRegString(HKEY_LOCAL_MACHINE, key, L"InstanceAPIPath", apiLibrary_, kView32);
    if (instance) SetRegString(HKEY_LOCAL_MACHINE, key, L"ParentInstance", instance, kView32);
  }
  void SetSetupVersion(const std::wstring& instance, const std::wstring& version, REGSAM view) {
    SetRegString(HKEY_LOCAL_MACHINE, kSqlServer + L"\\" + instance + L"\\Setup", L"Version",
                 version, view);
  }

  TempFolder temp_;
  std::wstring apiLibrary_;
};

TEST_F(LocalDb, NothingRegisteredIsNotInstalled) {
  EXPECT_EQ(MaxLocalDbMajorVersion(), 0);
  EXPECT_EQ(Text(DescribeLocalDb(0)), L"SQL Server LocalDBはインストールされておりません");
  EXPECT_FALSE(IsLocalDbSatisfied());
}

TEST_F(LocalDb, TheHighestMajorCountsAndNamesWithoutDigitsCountAsZero) {
  Register(L"11.0", L"MSSQL11E.LOCALDB");
  Register(L"12.0", L"MSSQL12E.LOCALDB");
  Register(L"Unversioned", nullptr);
  EXPECT_EQ(MaxLocalDbMajorVersion(), 12);
  // The test prefix is 64-bit Windows 7: kind 1 takes 12.
  EXPECT_EQ(LocalDbPackageKind(), 1);
  EXPECT_TRUE(IsLocalDbSatisfied());

  // A higher unaccepted major hides an accepted one.
  Register(L"13.0", L"MSSQL13E.LOCALDB");
  EXPECT_EQ(MaxLocalDbMajorVersion(), 13);
  EXPECT_FALSE(IsLocalDbSatisfied());
}

TEST_F(LocalDb, AHealthyInstanceNeedsItsLibraryAndItsSetupVersionIn64BitView) {
  Register(L"12.0", L"MSSQL12E.LOCALDB");
  SetSetupVersion(L"MSSQL12E.LOCALDB", L"12.3.6024.0", kView64);
  EXPECT_EQ(Text(DescribeLocalDb(12)), L"SQL Server 2014 SP3 LocalDBがインストール済みです");

  DeleteFileW(apiLibrary_.c_str());
  EXPECT_EQ(Text(DescribeLocalDb(12)), L"SQL Server 2014 SP3 LocalDBがインストール済みです(異常)");
}

TEST_F(LocalDb, MissingOrUnknownSetupVersionsAreShownAsSuch) {
  Register(L"12.0", L"MSSQL12E.LOCALDB");
  SetSetupVersion(L"MSSQL12E.LOCALDB", L"12.3.6024.1", kView64);
  EXPECT_EQ(Text(DescribeLocalDb(12)),
            L"不明なバージョンのSQL Server LocalDB(12.3.6024.1)がインストール済みです");

  // In the 32-bit view only: the instance is not where the 64-bit view looks.
  DeleteRegTree(HKEY_LOCAL_MACHINE, kSqlServer, kView64);
  SetSetupVersion(L"MSSQL12E.LOCALDB", L"12.3.6024.0", kView32);
  EXPECT_EQ(Text(DescribeLocalDb(12)), L"SQL Server 2014 LocalDBがインストール済みです(異常)");

  Register(L"13.0", nullptr);  // no ParentInstance at all
  EXPECT_EQ(Text(DescribeLocalDb(13)), L"SQL Server 2016 LocalDBがインストール済みです(異常)");
  EXPECT_FALSE(IsLocalDbSatisfied());
}

TEST_F(LocalDb, AnOverlongInstanceNameDoesNotReadAnotherKey) {
  // Cut to the key buffer, this instance name would name the key "...\MSSQL12E.LOCALDB".
  const std::wstring instance = L"MSSQL12E.LOCALDB" + std::wstring(120, L'x');
  Register(L"12.0", instance.c_str());
  const std::wstring cut = (kSqlServer + L"\\" + instance).substr(0, 127);
  SetRegString(HKEY_LOCAL_MACHINE, cut, L"Version", L"12.3.6024.0", kView64);
  EXPECT_EQ(Text(DescribeLocalDb(12)), L"SQL Server 2014 LocalDBがインストール済みです(異常)");
}

// The package kind comes from the Windows version that Wine reports to a new process.
TEST_F(LocalDb, WindowsVersionChoosesThePackageAndWhatSatisfiesIt) {
  Register(L"12.0", L"MSSQL12E.LOCALDB");
  const struct {
    const wchar_t* version;
    int kind;
    bool satisfied;
  } rows[] = {{L"win7", 1, true}, {L"win8", 2, false}, {L"win10", 2, false}, {L"vista", 1, true}};
  for (const auto& r : rows) {
    SetRegString(HKEY_CURRENT_USER, L"Software\\Wine", L"Version", r.version, 0);
    std::wstring command = L"\"" + ProgramFolder() + L"\\localdb_kind_probe.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, DWORD(r.kind * 10 + (r.satisfied ? 1 : 0))) << r.version;
  }
  DeleteRegValue(HKEY_CURRENT_USER, L"Software\\Wine", L"Version", 0);
}

}  // namespace
