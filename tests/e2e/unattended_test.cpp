// Installation without anybody at the PC: /quiet (no window, the setup waits for the
// application's installer) and /passive (the dialog presses its own buttons), each from
// a clean prefix against the update server, read by their exit codes as a deployment
// tool reads them.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/registry.h"
#include "e2e_fixture.h"
#include "support/installers/test_installers.h"
#include "support/servers/trusted_authority.h"
#include "support/test_signing.h"
#include "ui/resource.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
// Wine's first msiexec in a fresh prefix takes about 10 s; downloads and installers
// take a few more.
constexpr DWORD kRunLimitMs = 180000;
constexpr DWORD kDownloadLimitMs = 30000;
const std::wstring kDotNetName = L".NET Framework 4.6.1";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Unattended : public SetupProgramTest {
 protected:
  // The update information names two pieces; the first is the application's installer.
  void PublishEverything(const std::wstring& dotNetInstaller) {
    Publish(L"vtupdaterlist.upd", std::string(kBom) +
                                      "0,120,0,x,20000101_0000,Velto 2026\r\n"
                                      "1,VeltoApp\r\n"
                                      "2,VeltoData\r\n");
    PublishFile(L"ndp461.upd", dotNetInstaller);
    const std::wstring package = LocalDbPackageFile();
    PublishFile(package.substr(0, package.size() - 4) + L".upd", StandInLocalDbPackage(package));
    PublishFile(L"VeltoApp.upd", StandInAppInstaller());
    Publish(L"VeltoData.upd", "application data");
  }

  // Starts the program without waiting for a window; the exit code, or -1 when it did
  // not end within the limit.
  long RunToTheEnd(const std::wstring& arguments) {
    first_ = Launch(Quoted(program_) + L" " + arguments);
    EXPECT_TRUE(first_);
    return first_ ? first_.WaitForExit(kRunLimitMs) : -1;
  }

  // The .NET installer the setup started is the only one started from the work folder
  // under its local name; the application's installer is the first piece.
  std::wstring DotNetStart() const { return Quoted(WorkPath(L"ndp461.exe")); }
  std::wstring ProductStart(const wchar_t* tail) const {
    return Quoted(WorkPath(L"VeltoApp.upi")) + L" /i " + Quoted(WorkPath(L"vtupdaterinfo.upi")) +
           tail;
  }
};

TEST_F(Unattended, QuietInstallsEverythingWithoutAWindowAndWaitsForTheApplication) {
  PublishEverything(StandInDotNetInstaller());
  first_ = Launch(Quoted(program_) + L" /QUIET");
  ASSERT_TRUE(first_);
  EXPECT_EQ(WaitForDialog(first_.id(), kSettleMs), nullptr) << "a window showed";
  EXPECT_EQ(first_.WaitForExit(kRunLimitMs), 0);
  // The setup waited for the application's installer, which registered the release.
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"VersionCode", 0, true), 120);
  EXPECT_EQ(ReadDotNetRelease(), kStandInDotNetRelease);
  EXPECT_EQ(Recorded(2), (std::vector<std::wstring>{DotNetStart() + L" /q /norestart",
                                                           ProductStart(L" /quiet")}));
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  EXPECT_TRUE(Contains(log, "exit code 0 (the setup: every step is done)")) << log;
}

TEST_F(Unattended, APrerequisiteThatAsksForARestartEndsWith3010) {
  PublishEverything(StandInDotNetInstallerRestart());
  EXPECT_EQ(RunToTheEnd(L"/quiet"), 3010);
  const auto lines = Recorded(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], ProductStart(L" /quiet"));
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  EXPECT_TRUE(Contains(log, "installer of step 1 ended with exit code 3010; the step is satisfied")) << log;
  EXPECT_TRUE(Contains(log, "exit code 3010 (the setup: a prerequisite asked for a restart)"))
      << log;
}

TEST_F(Unattended, AFailedPrerequisiteEndsWith1603AndTheLogNamesIt) {
  PublishEverything(StandInDotNetInstallerFailing());
  // "/log" names the place of the log in the unattended modes too. The failed installer
  // leaves nothing installed: the next row starts as the first did.
  const std::wstring logPath = folder_ / L"deploy.log";
  for (const auto& [mode, switches] : {std::pair{L"-quiet", L" /q /norestart"},
                                       std::pair{L"/passive", L" /passive /norestart"}}) {
    SCOPED_TRACE(Narrow(mode));
    DeleteFileW(record_.c_str());
    EXPECT_EQ(RunToTheEnd(std::wstring(mode) + L" /log " + Quoted(logPath)), 1603);
    EXPECT_EQ(Recorded(1), std::vector<std::wstring>{DotNetStart() + switches})
        << "the application's installer is not started";
    const std::string log = ReadFileBytes(logPath);
    EXPECT_TRUE(Contains(log, "exit code 1603 (the .NET Framework: the installer failed")) << log;
  }
}

// The office PC: a program that holds the publisher's key, its list signed and every
// installer pinned, all over TLS from the built-in https:// host through the
// authenticating proxy's CONNECT tunnel, unattended; the deployment tool reads the exit
// code from Windows (a Linux parent would see only its low 8 bits).
TEST_F(Unattended, QuietOverTlsThroughTheOfficeProxyWithASignedList) {
  ASSERT_TRUE(TrustTestAuthority());
  const TestSigningKey publisher;
  ASSERT_TRUE(WriteProgramKeys(program_, publisher.PublicKey()));
  const std::wstring package = LocalDbPackageFile();
  const std::string packageRemote = Narrow(package.substr(0, package.size() - 4)) + ".upd";
  const std::string dotNet = ReadFileBytes(StandInDotNetInstaller());
  const std::string localDb = ReadFileBytes(StandInLocalDbPackage(package));
  const std::string app = ReadFileBytes(StandInAppInstaller());
  const std::string data = "application data";
  const std::string list = std::string(kBom) + "-2,SHA256:ndp461.upd," + Sha256Hex(dotNet) +
                           "\r\n-2,SHA256:" + packageRemote + "," + Sha256Hex(localDb) +
                           "\r\n0,120,0,x,20000101_0000,Velto 2026\r\n1,VeltoApp," +
                           Sha256Hex(app) + "\r\n2,VeltoData," + Sha256Hex(data) + "\r\n";
  const std::pair<std::string, std::string> files[] = {
      {"vtupdaterlist.upd", list}, {"vtupdaterlist.sig", publisher.SignatureLine(list) + "\n"},
      {"ndp461.upd", dotNet},      {packageRemote, localDb},
      {"VeltoApp.upd", app},       {"VeltoData.upd", data}};
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) {
    Publish(Widen(name), bytes, TestServer::kTls);
    names.push_back(name);
  }
  RouteThroughTheOfficeProxy(0);
  ClearRequestLog(TestServer::kTls);

  EXPECT_EQ(RunToTheEnd(L"/quiet"), 0);
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"VersionCode", 0, true), 120);
  EXPECT_EQ(Recorded(2), (std::vector<std::wstring>{DotNetStart() + L" /q /norestart",
                                                           ProductStart(L" /quiet")}));
  std::vector<std::string> fetched;
  for (const auto& request : AwaitRequests(TestServer::kTls, L"", names.size())) {
    EXPECT_EQ(request.host, "updates.velto.example") << request.target;
    fetched.push_back(request.target.substr(request.target.rfind('/') + 1));
  }
  std::sort(fetched.begin(), fetched.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(fetched, names) << "every file once, over TLS";
  bool tunnelled = false;
  for (const auto& request : ReadRequestLog(TestServer::kUpdate)) {
    tunnelled |= request.method == "CONNECT" && request.target == "updates.velto.example:443";
  }
  EXPECT_TRUE(tunnelled) << "no CONNECT tunnel through the proxy";
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  const std::string build = "(" + Narrow(BuildOf(program_)) + " build)";
  for (const std::string& line : {build, std::string("WOW64 yes"),
                                  std::string("update list signature: verified")}) {
    EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
  }
  for (const std::wstring& secret : {ProxyUser(), ProxyPassword()}) {
    EXPECT_FALSE(Contains(log, Narrow(secret))) << "a proxy credential is in the log";
  }
}

TEST_F(Unattended, PassivePressesThroughWithTheDialogShown) {
  PublishEverything(StandInDotNetInstaller());
  HWND dialog = Start(L"/passive");
  ASSERT_TRUE(dialog);
  // Nobody clicks: the steps advance by themselves.
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                 kDotNetName + L" のインストールが完了しました", kRunLimitMs));
  // LocalDB's completion shows for one refresh only before the application's installer
  // is started and the dialog ends, so it is read from the registry afterwards.
  // The application's installer is started as the button starts it, and the setup ends.
  EXPECT_EQ(first_.WaitForExit(kRunLimitMs), 0);
  EXPECT_GE(MaxLocalDbMajorVersion(), 12) << "LocalDB was installed by itself";
  EXPECT_EQ(Recorded(2), (std::vector<std::wstring>{DotNetStart() + L" /passive /norestart",
                                                           ProductStart(L"")}));
}

TEST_F(Unattended, OnlyPassiveGoesOnByItselfAndEscEndsItWith1602) {
  const struct {
    const wchar_t* arguments;
    long exitCode;
  } rows[] = {{L"", 0}, {L"-Passive", 1602}};
  PublishEverything(StandInDotNetInstaller());
  for (const auto& row : rows) {
    SCOPED_TRACE(Utf8(row.arguments));
    StandInHold hold;  // a .NET installer started stays running while the dialog is read
    HWND dialog = Start(row.arguments);
    ASSERT_TRUE(dialog);
    const bool passive = row.exitCode != 0;
    if (passive) {
      // The installer fetched in the first round is pressed for at the first refresh.
      EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS, kDotNetName + L" をインストール中です",
                                     kRefreshLimitMs));
      PressEscape(dialog);
    } else {
      EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                     kDotNetName + L" インストーラーが利用可能です", kDownloadLimitMs));
      Sleep(kSettleMs);
      EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), kDotNetName + L" インストーラーが利用可能です");
      EXPECT_TRUE(Recorded().empty()) << "nothing starts by itself";
      ClickButton(dialog, IDC_EXIT);
    }
    EXPECT_EQ(first_.WaitForExit(kEndLimitMs), row.exitCode);
    hold.Release();
    // The released stand-in registers; let it end before the prefix is cleaned.
    for (int i = 0; passive && i < 100 && ReadDotNetRelease() == 0; ++i) Sleep(50);
  }
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  EXPECT_TRUE(Contains(log, "exit code 1602 (the setup: the dialog was closed)")) << log;
}

}  // namespace
