#include "e2e_fixture.h"

#include <cstdio>
#include <cstring>

#include "worker/setup_init.h"
#include "detect/localdb.h"
#include "detect/registry.h"
#include "support/installers/test_installers.h"
#include "util/owners.h"

const std::wstring& ProgramUnderTest() {
  static const std::wstring program = [] {
    wchar_t named[MAX_PATH] = {};
    const DWORD units = GetEnvironmentVariableW(L"VELTO_SETUP_UNDER_TEST", named, MAX_PATH);
    return units > 0 && units < MAX_PATH ? std::wstring(named) : std::wstring(VT_SETUP_EXE);
  }();
  static const bool shown = [] {
    std::printf("program under test: %s (%s build)\n", Narrow(program).c_str(),
                Narrow(BuildOf(program)).c_str());
    return true;
  }();
  (void)shown;
  return program;
}

std::wstring BuildOf(const std::wstring& program) {
  const std::string image = ReadFileBytes(program);
  if (image.size() < 0x40) return L"";
  uint32_t header = 0;
  memcpy(&header, image.data() + 0x3c, sizeof(header));
  uint16_t machine = 0;
  if (header > image.size() - 6 || image.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
    return L"";
  }
  memcpy(&machine, image.data() + header + 4, sizeof(machine));
  return machine == IMAGE_FILE_MACHINE_I386    ? L"i686"
         : machine == IMAGE_FILE_MACHINE_AMD64 ? L"x86_64"
                                               : L"";
}

std::wstring LocalDbName() {
  HeapString name = LocalDbPackageName(LocalDbPackageKind());
  return name.get();
}

std::wstring LocalDbPackageFile() {
  const wchar_t* remoteName = nullptr;
  const wchar_t* localName = nullptr;
  LocalDbInstallerNames(LocalDbPackageKind(), &remoteName, &localName);
  return localName;
}

void SetupProgramTest::SetUp() {
  ASSERT_TRUE(TestServersAvailable());
  UndoStandInInstallations();
  RemoveTree(QrnFolderPath());
  DeleteRegTree(HKEY_CURRENT_USER, kProductRegistryKey, kView64);
  RouteThroughUpdateServer();
  ClearRequestLog(TestServer::kUpdate);
  program_ = folder_ / L"VeltoSetup.exe";
  ASSERT_TRUE(CopyFileW(ProgramUnderTest().c_str(), program_.c_str(), FALSE))
      << Narrow(ProgramUnderTest());
  // Stand-ins started by the program under test inherit this and record their start.
  record_ = folder_ / L"started.txt";
  SetEnvironmentVariableW(kStandInRecordVariable, record_.c_str());
}

void SetupProgramTest::TearDown() {
  for (LaunchedProcess* process : {&first_, &second_}) process->Kill();
  SetEnvironmentVariableW(kStandInRecordVariable, nullptr);
  for (const auto& [server, name] : published_) RemoveTree(ServedPath(server, name));
  RemoveProxyIni();
  DeleteRegTree(HKEY_CURRENT_USER, kProductRegistryKey, kView64);
  UndoStandInInstallations();
  RemoveTree(QrnFolderPath());
}

void SetupProgramTest::Publish(const std::wstring& name, const std::string& bytes,
                               TestServer server) {
  published_.emplace_back(server, name);
  WriteFileBytes(ServedPath(server, name), bytes);
}

void SetupProgramTest::PublishFile(const std::wstring& name, const std::wstring& source) {
  const std::string bytes = ReadFileBytes(source);
  ASSERT_FALSE(bytes.empty()) << Narrow(source);
  Publish(name, bytes);
}

void SetupProgramTest::HoldAfter(const std::wstring& name, long long bytes) {
  Publish(name + L".fault", "hold=" + std::to_string(bytes) + "\n");
  Publish(name + L".hold", "");
}

void SetupProgramTest::Release(const std::wstring& name) {
  RemoveTree(ServedPath(TestServer::kUpdate, name + L".hold"));
}

void SetupProgramTest::PutInAssets(const std::wstring& name, const std::string& bytes) {
  CreateDirectoryW((folder_ / L"Assets").c_str(), nullptr);
  WriteFileBytes(AssetsPath(name), bytes);
}

std::wstring SetupProgramTest::AssetsPath(const std::wstring& name) const {
  return folder_ / L"Assets" + L"\\" + name;
}

std::wstring SetupProgramTest::WorkPath(const std::wstring& name) {
  return WorkFolderPath() + L"\\" + name;
}

HWND SetupProgramTest::Start(const std::wstring& arguments) {
  first_ = Launch(L"\"" + program_ + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
  EXPECT_TRUE(first_);
  HWND dialog = WaitForDialog(first_.id(), kShowLimitMs);
  EXPECT_NE(dialog, nullptr) << "no dialog";
  return dialog;
}

std::vector<std::wstring> SetupProgramTest::Recorded(size_t atLeast) const {
  return RecordedCommandLines(record_, atLeast);
}

bool WaitForEnabled(HWND dialog, int id, bool enabled, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (IsControlEnabled(dialog, id) == enabled) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
}
