#include "state/command_line.h"
#include "worker/setup_init.h"

#include <gtest/gtest.h>

#include "detect/localdb.h"
#include "detect/product.h"
#include "support/installers/test_installers.h"
#include "support/servers/proxy_ini.h"
#include "support/test_support.h"
#include "util/strings.h"

namespace {

TEST(UpdateMode, OnlyAnExactDashUAsTheFirstArgument) {
  const struct {
    const wchar_t* commandLine;
    bool updateMode;
  } rows[] = {
      {L"VeltoSetup.exe -U", true},
      {L"\"C:\\Program Files\\Velto\\VeltoSetup.exe\" -U", true},
      {L"VeltoSetup.exe -U more arguments", true},
      {L"VeltoSetup.exe \"-U\"", true},
      {L"VeltoSetup.exe -u", false},
      {L"VeltoSetup.exe x -U", false},
      {L"VeltoSetup.exe -U-", false},
      {L"VeltoSetup.exe /U", false},
      {L"VeltoSetup.exe", false},
      {L"", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsUpdateModeCommandLine(row.commandLine), row.updateMode)
        << Narrow(row.commandLine);
  }
}

TEST(CommandLine, SwitchesAnywhereInAnyCaseAndTheLogPlace) {
  const struct {
    const wchar_t* commandLine;
    bool updateMode;
    RunMode mode;
    const wchar_t* logPath;
  } rows[] = {
      {L"VeltoSetup.exe", false, RunMode::kInteractive, nullptr},
      {L"VeltoSetup.exe -U /PASSIVE", true, RunMode::kPassive, nullptr},
      {L"VeltoSetup.exe /passive -Quiet", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe /log \"C:\\a b\\s.log\" -U", false, RunMode::kInteractive, L"C:\\a b\\s.log"},
      {L"VeltoSetup.exe -U -LOG x.log /norestart", true, RunMode::kInteractive, L"x.log"},
      {L"VeltoSetup.exe /log", false, RunMode::kInteractive, nullptr},
      {L"VeltoSetup.exe quiet //passive /quiet-", false, RunMode::kInteractive, nullptr},
      {L"VeltoSetup.exe -passive /Log C:\\v.log /norestart", false, RunMode::kPassive, L"C:\\v.log"},
      {L"VeltoSetup.exe /quiet /NORESTART /passive", false, RunMode::kQuiet, nullptr},
  };
  for (const auto& row : rows) {
    const CommandLineOptions options = ParseCommandLine(row.commandLine);
    EXPECT_EQ(options.updateMode, row.updateMode) << Narrow(row.commandLine);
    EXPECT_EQ(options.mode, row.mode) << Narrow(row.commandLine);
    EXPECT_EQ(Text(options.logPath), row.logPath ? row.logPath : L"<null>")
        << Narrow(row.commandLine);
  }
}

class InitSetupStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UndoStandInInstallations();
    ResetSetupState();
  }
  void TearDown() override {
    UndoStandInInstallations();
    ResetSetupState();
  }
};

TEST_F(InitSetupStateTest, JudgesEachStepAndEmptiesThePieceTable) {
  SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", 394254, kView32);
  SetRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"Installed", 1, kView64);
  // Left over from an earlier run of the table: must not survive.
  CopyString(gSetup.componentFiles[0], L"Stale", kComponentFileUnits);
  CopyString(gSetup.componentFiles[9], L"Stale", kComponentFileUnits);
  gSetup.slots[kDotNet].installFailed = true;
  gSetup.slots[kProduct].downloadFailed.store(true);

  // The worker it starts asks for the update list: through a proxy on a closed loopback
  // port, so the question never leaves this machine.
  ProxyIni closedRoute;
  closedRoute.proxyType = 3;
  closedRoute.server = L"127.0.0.1";
  closedRoute.port = L"9";
  WriteProxyIni(closedRoute);
  gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  InitSetupState();
  ASSERT_TRUE(gSetup.workerThread) << "the worker thread did not start";
  SetEvent(gSetup.stopEvent.get());
  EXPECT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 20000), WAIT_OBJECT_0);
  RemoveProxyIni();

  EXPECT_TRUE(gSetup.slots[kDotNet].installedAtStart.load());
  EXPECT_FALSE(gSetup.slots[kDotNet].installFailed);
  EXPECT_STREQ(gSetup.slots[kDotNet].remoteName, L"ndp461.upd");
  EXPECT_STREQ(gSetup.slots[kDotNet].localName, L"ndp461.exe");
  EXPECT_FALSE(gSetup.slots[kLocalDb].installedAtStart.load());
  // This build answers as the 32-bit program on 64-bit Windows: Windows 7 (what Wine
  // reports unless told otherwise) gets the 2014 x64 package, later versions the 2017 one.
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExW(&version));
  const bool after7 = version.dwMajorVersion > 6 ||
                      (version.dwMajorVersion == 6 && version.dwMinorVersion > 1);
  EXPECT_STREQ(gSetup.slots[kLocalDb].remoteName,
               after7 ? L"ldb2017rtmx64.upd" : L"ldb2014sp3x64.upd");
  EXPECT_STREQ(gSetup.slots[kLocalDb].localName,
               after7 ? L"ldb2017rtmx64.msi" : L"ldb2014sp3x64.msi");
  // The registration alone counts at start, though no version code is on offer yet.
  EXPECT_TRUE(gSetup.slots[kProduct].installedAtStart.load());
  EXPECT_FALSE(gSetup.slots[kProduct].downloadFailed.load());
  EXPECT_EQ(gSetup.slots[kProduct].remoteName, nullptr);
  EXPECT_EQ(gSetup.slots[kProduct].localName, nullptr);
  for (const auto& entry : gSetup.componentFiles) EXPECT_EQ(entry[0], L'\0');
}

}  // namespace
