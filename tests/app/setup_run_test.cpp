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

std::wstring gIgnored;

void NoteIgnored(const wchar_t* argument) { gIgnored += std::wstring(argument) + L";"; }

TEST(CommandLine, SwitchesAnywhereInAnyCaseAndTheLogPlace) {
  const struct {
    const wchar_t* commandLine;
    bool updateMode;
    RunMode mode;
    const wchar_t* logPath;
    bool prerequisitesOnly = false;
    const wchar_t* layout = nullptr;
    const wchar_t* ignored = L"";
  } rows[] = {
      {L"VeltoSetup.exe", false, RunMode::kInteractive, nullptr},
      // The spellings of other installer engines; other arguments are named as ignored.
      {L"VeltoSetup.exe /q", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe -QN", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe /s /qb", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe /Silent", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe /qb x /norestart", false, RunMode::kPassive, nullptr, false, nullptr, L"x;"},
      {L"VeltoSetup.exe -U /basicUI /qr /sil", true, RunMode::kPassive, nullptr, false, nullptr, L"/qr;/sil;"},
      {L"VeltoSetup.exe /prerequisites", false, RunMode::kPassive, nullptr, true},
      {L"VeltoSetup.exe /quiet /Prerequisites", false, RunMode::kQuiet, nullptr, true},
      {L"VeltoSetup.exe /layout C:\\m\\..\\medium", false, RunMode::kQuiet, nullptr, false, L"C:\\medium"},
      {L"VeltoSetup.exe /passive /layout \"C:\\a b\"", false, RunMode::kPassive, nullptr, false, L"C:\\a b"},
      {L"VeltoSetup.exe /log C:\\logs\\..\\x.log /layout", false, RunMode::kInteractive, L"C:\\x.log", false, nullptr, L"/layout;"},
      {L"VeltoSetup.exe -U /PASSIVE", true, RunMode::kPassive, nullptr},
      {L"VeltoSetup.exe /passive -Quiet", false, RunMode::kQuiet, nullptr},
      {L"VeltoSetup.exe /log \"C:\\a b\\s.log\" -U", false, RunMode::kInteractive, L"C:\\a b\\s.log",
       false, nullptr, L"-U;"},
      {L"VeltoSetup.exe -U -LOG C:\\x.log /norestart", true, RunMode::kInteractive, L"C:\\x.log"},
      {L"VeltoSetup.exe /log", false, RunMode::kInteractive, nullptr, false, nullptr, L"/log;"},
      {L"VeltoSetup.exe quiet //passive /quiet-", false, RunMode::kInteractive, nullptr, false,
       nullptr, L"quiet;//passive;/quiet-;"},
      {L"VeltoSetup.exe -passive /Log C:\\v.log /norestart", false, RunMode::kPassive, L"C:\\v.log"},
      {L"VeltoSetup.exe /quiet /NORESTART /passive", false, RunMode::kQuiet, nullptr},
  };
  for (const auto& row : rows) {
    gIgnored.clear();
    const CommandLineOptions options = ParseCommandLine(row.commandLine, NoteIgnored);
    EXPECT_EQ(options.updateMode, row.updateMode) << Narrow(row.commandLine);
    EXPECT_EQ(options.mode, row.mode) << Narrow(row.commandLine);
    EXPECT_EQ(Text(options.logPath), row.logPath ? row.logPath : L"<null>")
        << Narrow(row.commandLine);
    EXPECT_EQ(options.prerequisitesOnly, row.prerequisitesOnly) << Narrow(row.commandLine);
    EXPECT_EQ(Text(options.layoutFolder), row.layout ? row.layout : L"<null>")
        << Narrow(row.commandLine);
    EXPECT_EQ(gIgnored, row.ignored) << Narrow(row.commandLine);
  }
}

TEST(CommandLine, ANewerProgramGetsEverySwitchBackAsItWasMeant) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* passedOn;
  } rows[] = {
      {L"VeltoSetup.exe -U", L""},
      {L"VeltoSetup.exe /s /log C:\\Logs\\", L" /quiet /log \"C:\\Logs\\\\\""},
      {L"VeltoSetup.exe /qb /prerequisites /layout \"C:\\a b\" /log C:\\v.log",
       L" /passive /prerequisites /layout \"C:\\a b\" /log \"C:\\v.log\""},
  };
  for (const auto& row : rows) {
    const CommandLineOptions options = ParseCommandLine(row.commandLine);
    HeapString passed = PassedOnSwitches(options);
    EXPECT_EQ(Text(passed), row.passedOn) << Narrow(row.commandLine);
    // Read back, the newer program's command line means what this one meant.
    const std::wstring again = L"VeltoSetup.exe" + Text(passed);
    const CommandLineOptions back = ParseCommandLine(again.c_str());
    EXPECT_EQ(back.mode, options.mode);
    EXPECT_EQ(Text(back.logPath), Text(options.logPath));
    EXPECT_EQ(Text(back.layoutFolder), Text(options.layoutFolder));
    EXPECT_EQ(back.prerequisitesOnly, options.prerequisitesOnly);
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
