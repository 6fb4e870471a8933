// The whole setup as a user lives it: VeltoSetup.exe from an empty work folder and a
// clean registry, the update server behind the built-in base URL, the stand-in
// installers really run (the LocalDB package through Wine's msiexec), and the
// application installer started at the end.
#include <string>
#include <vector>

#include "detect/registry.h"
#include "e2e_fixture.h"
#include "support/installers/test_installers.h"
#include "ui/download_progress.h"
#include "ui/resource.h"

#include <commctrl.h>

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr wchar_t kInstanceMutex[] = L"Local\\VTSETUPMUTEX201909171615";
constexpr DWORD kDownloadLimitMs = 30000;
constexpr DWORD kMsiexecLimitMs = 120000;
constexpr long long kDotNetHeldBytes = 16384;
const std::wstring kDotNetName = L".NET Framework 4.6.1";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// Where each of events is found in text, searched in order; npos for one not found after
// the one before.
std::vector<size_t> FindInOrder(const std::string& text, const std::vector<std::string>& events) {
  std::vector<size_t> found;
  size_t from = 0;
  for (const auto& event : events) {
    const size_t at = text.find(event, from);
    found.push_back(at);
    if (at != std::string::npos) from = at + event.size();
  }
  return found;
}

// A step's download progress as the user sees it.
struct BarReading {
  bool shown;
  bool marquee;
  int position;
  std::wstring text;
};

// The position and the text are answered by the dialog's thread between two refreshes,
// the style (marquee, shown) is read from the window at any time: a reading is taken
// again while a refresh changed the style around it, so that the parts belong together.
BarReading ReadBar(HWND dialog, int bar, int text) {
  HWND control = GetDlgItem(dialog, bar);
  BarReading reading{};
  for (int attempt = 0; attempt < 5; ++attempt) {
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    DWORD_PTR position = 0;
    SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position);
    reading = {IsWindowVisible(control) != FALSE, (style & PBS_MARQUEE) != 0, int(position),
               ControlText(dialog, text)};
    if (GetWindowLongW(control, GWL_STYLE) == style) break;
  }
  return reading;
}

class WholeSetup : public SetupProgramTest {
 protected:
  // A list whose newest section lies in the future; the one in effect names two pieces.
  void PublishList(const std::string& firstLines = "") {
    Publish(L"vtupdaterlist.upd", std::string(kBom) + firstLines +
                                      "-- sections newest first\r\n"
                                      "0,130,0,x,29991231_2359,Velto 2999\r\n"
                                      "1,FuturePiece\r\n"
                                      "-2,ProductNameShort,Velto\r\n"
                                      "0,120,0,x,20000101_0000,Velto 2026\r\n"
                                      "1,VeltoApp\r\n"
                                      "2,VeltoData\r\n");
  }
  // Everything a first installation downloads.
  void PublishInstallers() {
    PublishFile(L"ndp461.upd", StandInDotNetInstaller());
    const std::wstring package = LocalDbPackageFile();
    PublishFile(package.substr(0, package.size() - 4) + L".upd", StandInLocalDbPackage(package));
    PublishFile(L"VeltoApp.upd", StandInAppInstaller());
    Publish(L"VeltoData.upd", "application data");
  }

  // The distinct texts a control shows until it shows final (bounded); final is last
  // when it was reached.
  static std::vector<std::wstring> TextsUntil(HWND dialog, int id, const std::wstring& final,
                                              DWORD timeoutMs) {
    std::vector<std::wstring> seen;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
      const std::wstring text = ControlText(dialog, id);
      if (seen.empty() || seen.back() != text) seen.push_back(text);
      if (text == final) break;
      Sleep(20);
    }
    return seen;
  }

  // The stand-ins record their start; the application installer may still be starting
  // when the setup program has ended.
  std::wstring LastRecorded(size_t atLeast) {
    const auto lines = Recorded(atLeast);
    return lines.size() >= atLeast ? lines.back() : L"<nothing recorded>";
  }

  // Installs .NET and LocalDB by their buttons and checks the step 3 button along the way.
  void InstallPrerequisites(HWND dialog) {
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PRODUCT_INSTALL)) << "no prerequisite installed yet";
    {
      StandInHold hold;  // keeps the .NET installer running while the dialog is looked at
      ClickButton(dialog, IDC_DOTNET_INSTALL);
      EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS, kDotNetName + L" をインストール中です",
                                     kRefreshLimitMs));
      for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
        EXPECT_TRUE(WaitForEnabled(dialog, id, false, kRefreshLimitMs)) << id;
      }
    }
    EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                   kDotNetName + L" のインストールが完了しました", kRefreshLimitMs));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PRODUCT_INSTALL)) << "LocalDB is still missing";

    ASSERT_TRUE(WaitForEnabled(dialog, IDC_LOCALDB_INSTALL, true, kRefreshLimitMs));
    ClickButton(dialog, IDC_LOCALDB_INSTALL);
    EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_STATUS,
                                   LocalDbName() + L" のインストールが完了しました", kMsiexecLimitMs));
    // The system's msiexec wrote the instance's setup version in the 64-bit view alone: the
    // line names the package's release, not a damaged installation.
    const std::wstring name = LocalDbName();
    EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_VERSION,
                                   name.substr(0, name.rfind(L'(')) + L"がインストール済みです",
                                   kRefreshLimitMs))
        << Utf8(ControlText(dialog, IDC_LOCALDB_VERSION));
    EXPECT_TRUE(WaitForEnabled(dialog, IDC_PRODUCT_INSTALL, true, kRefreshLimitMs));
  }

  // From the first display to the started application installer.
  void RunFirstInstallation() {
    PublishList();
    PublishInstallers();
    // The list, then the .NET installer after its first bytes, are held until the test
    // has seen the steps wait for them.
    HoldAfter(L"vtupdaterlist.upd", 0);
    HoldAfter(L"ndp461.upd", kDotNetHeldBytes);

    HWND dialog = Start();
    ASSERT_TRUE(dialog);
    const auto preparation =
        TextsUntil(dialog, IDC_PRODUCT_STATUS, L"更新情報の問合せ中です", kRefreshLimitMs);
    ASSERT_FALSE(preparation.empty());
    EXPECT_EQ(preparation.back(), L"更新情報の問合せ中です");
    EXPECT_TRUE(preparation.front() == L"更新情報の準備中です" || preparation.size() == 1);
    const std::wstring dotNetDownloading = kDotNetName + L" インストーラーのダウンロード中です";
    const std::wstring localDbWaiting = LocalDbName() + L" インストーラーのダウンロード待機中です";
    EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS, dotNetDownloading, kRefreshLimitMs));
    // The .NET installer is fetched first; the LocalDB package waits for it.
    EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS), localDbWaiting);
    Release(L"vtupdaterlist.upd");
    const std::wstring partial = WorkPath(L"ndp461.upd.FilePart");
    for (int i = 0; i < 400 && FileSizeOf(partial) < kDotNetHeldBytes; ++i) Sleep(50);
    EXPECT_EQ(FileSizeOf(partial), kDotNetHeldBytes) << "the .NET download did not start";
    EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), dotNetDownloading);
    EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS), localDbWaiting);
    Release(L"ndp461.upd");

    EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                   kDotNetName + L" インストーラーが利用可能です", kDownloadLimitMs));
    EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_STATUS,
                                   LocalDbName() + L" インストーラーが利用可能です", kDownloadLimitMs));
    EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS,
                                   L"Velto 2026 インストーラーが利用可能です", kDownloadLimitMs));
    std::vector<std::string> order;
    for (const auto& request : AwaitRequests(TestServer::kUpdate, L"", 5)) {
      order.push_back(request.target.substr(request.target.rfind('/') + 1));
    }
    const std::wstring package = LocalDbPackageFile();
    EXPECT_EQ(order, (std::vector<std::string>{"vtupdaterlist.upd", "ndp461.upd",
                                               Narrow(package.substr(0, package.size() - 4)) + ".upd",
                                               "VeltoApp.upd", "VeltoData.upd"}));

    InstallPrerequisites(dialog);
    EXPECT_FALSE(PathExists(WorkPath(L"ndp461.exe"))) << "a used installer is deleted";

    ClickButton(dialog, IDC_PRODUCT_INSTALL);
    EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
    EXPECT_EQ(LastRecorded(2),
              Quoted(WorkPath(L"VeltoApp.upi")) + L" /i " + Quoted(WorkPath(L"vtupdaterinfo.upi")));
  }
};

TEST_F(WholeSetup, FirstInstallationFromAnEmptyWorkFolder) { RunFirstInstallation(); }

TEST_F(WholeSetup, FirstInstallationThroughAProxyWithCredentials) {
  RouteThroughTheOfficeProxy(1);
  RunFirstInstallation();
  for (const auto& request : ReadRequestLog(TestServer::kUpdate)) {
    EXPECT_EQ(request.host, "updates.velto.example") << request.target;
  }

  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  const std::string package = Narrow(LocalDbPackageFile());
  const std::vector<std::string> events = {
      "ui     Velto Setup revision 4",
      "ui     Windows ",
      "ui     command line: ",
      "worker proxy: ProxyType 3 (the named proxy), ProtocolType 1 (https fetched as http), credentials sent",
      "worker download https://updates.velto.example/",
      "vtupdaterlist.upd: Range none, status 200, ",
      "worker update list at ",
      ": the section in effect was selected",
      "worker update information: version code 120, \"Velto 2026\", pieces: VeltoApp, VeltoData",
      "ndp461.upd: Range none, status 200, ",
      " bytes in ",
      "ui     starting the installer of step 1: ",
      "ui     started: process id ",
      "ui     installer of step 1 ended with exit code 0; the step is satisfied",
      "ui     starting the installer of step 2: ",
      "msiexec.exe /i \"",
      "ui     installer of step 2 ended with exit code 0; the step is satisfied",
      "ui     starting \"",
      "VeltoApp.upi\" /i \"",
      "ui     The setup has ended: the application installer was started.",
  };
  const auto found = FindInOrder(log, events);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_NE(found[i], std::string::npos) << "missing or out of order: " << events[i] << "\n" << log;
  }
  EXPECT_NE(log.find(package.substr(0, package.size() - 4) + ".upd: Range none, status 200"),
            std::string::npos);
  for (const std::wstring& secret : {ProxyUser(), ProxyPassword()}) {
    EXPECT_EQ(log.find(Narrow(secret)), std::string::npos) << "a proxy credential is in the log";
  }
}

TEST_F(WholeSetup, LocalMediaNeedNoServer) {
  PutInAssets(L"vtupdaterinfo.upi",
              std::string(kBom) + "0,140,0,x,20000101_0000,Velto Local\r\n1,VeltoApp\r\n");
  PutInAssets(L"VeltoApp.upi", ReadFileBytes(StandInAppInstaller()));
  PutInAssets(L"ndp461.exe", ReadFileBytes(StandInDotNetInstaller()));
  PutInAssets(LocalDbPackageFile(), ReadFileBytes(StandInLocalDbPackage(LocalDbPackageFile())));

  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  const auto preparation = TextsUntil(dialog, IDC_PRODUCT_STATUS,
                                      L"Velto Local インストーラーが利用可能です", kRefreshLimitMs);
  ASSERT_FALSE(preparation.empty());
  EXPECT_EQ(preparation.back(), L"Velto Local インストーラーが利用可能です");
  for (const auto& text : preparation) EXPECT_NE(text, L"更新情報の問合せ中です");

  InstallPrerequisites(dialog);
  EXPECT_TRUE(PathExists(AssetsPath(L"ndp461.exe"))) << "the media's installers stay";
  ClickButton(dialog, IDC_PRODUCT_INSTALL);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  EXPECT_EQ(LastRecorded(2),
            Quoted(AssetsPath(L"VeltoApp.upi")) + L" /m " + Quoted(AssetsPath(L"vtupdaterinfo.upi")));
  EXPECT_TRUE(AwaitRequests(TestServer::kUpdate, L"", 0).empty()) << "no request reaches the server";
}

TEST_F(WholeSetup, ANewerSetupProgramTakesOverWithTheSameMode) {
  PublishList("-1,5,0,x,20000101_0000,VeltoSetup5\r\n");
  PublishFile(L"VeltoSetup5.upd", VT_STANDIN_SETUP_EXE);
  // The stand-in takes the instance mutex as the real program does; it records its
  // start only when nobody holds it any more.
  SetEnvironmentVariableW(L"VELTO_SETUP_MUTEX", kInstanceMutex);
  // The newer program runs a while and ends with a code of its own: a dialog run ends at
  // once with 0, a quiet one only with that code, which it can know only by waiting.
  // (Held only in the last run: a running program's file cannot be fetched over.)
  ScopedEnvironment code(L"VELTO_STANDIN_EXIT_CODE", L"3010");
  const std::wstring newer = Quoted(WorkPath(L"VeltoSetup5.exe"));
  size_t starts = 0;
  // The log names the profile folder as %USERPROFILE%, never the user's own folder.
  std::wstring logged = newer;
  logged.replace(logged.find(ProfileFolder()), ProfileFolder().size(), L"%USERPROFILE%");
  for (const std::wstring arguments : {L"", L"-U", L"-U /Quiet"}) {
    const bool quiet = arguments == L"-U /Quiet";
    SetEnvironmentVariableW(L"VELTO_STANDIN_HOLD_MS", quiet ? L"1500" : nullptr);
    first_ = Launch(Quoted(program_) + (arguments.empty() ? L"" : L" " + arguments));
    ASSERT_TRUE(first_);
    EXPECT_EQ(first_.WaitForExit(kShowLimitMs), quiet ? 3010 : 0) << Utf8(arguments);
    const std::wstring expected = arguments.empty()         ? newer
                                  : arguments == L"-U"      ? newer + L" -U"
                                                            : newer + L" -U /quiet";
    EXPECT_EQ(LastRecorded(++starts), expected) << Utf8(arguments);
    // The log is closed before the newer program starts, so that it can keep it as the
    // previous run's and write its own.
    const auto found = FindInOrder(ReadFileBytes(WorkPath(L"VeltoSetup.log")),
                                   {"worker self-update: VeltoSetup5 fetched",
                                    "worker self-update: handing over to " + Narrow(logged),
                                    "worker The setup has ended: a newer setup program takes over.\r\n"});
    for (size_t at : found) EXPECT_NE(at, std::string::npos) << Utf8(arguments);
  }
  SetEnvironmentVariableW(L"VELTO_SETUP_MUTEX", nullptr);
  SetEnvironmentVariableW(L"VELTO_STANDIN_HOLD_MS", nullptr);
}

TEST_F(WholeSetup, AFailedFetchOfTheNewerSetupProgramIsReported) {
  PublishList("-1,5,0,x,20000101_0000,VeltoSetupGone\r\n");
  first_ = Launch(Quoted(program_));
  ASSERT_TRUE(first_);
  HWND box = WaitForDialog(first_.id(), kShowLimitMs, L"Velto Setup - Error");
  ASSERT_NE(box, nullptr);
  bool shown = false;
  std::vector<int> buttons;
  for (const ControlState& control : ReadDialog(box).controls) {
    shown |= control.text == L"更新セットアッププログラムの取得に失敗しました";
    if (control.visible && control.className == L"Button") buttons.push_back(control.id);
  }
  EXPECT_TRUE(shown) << DescribeDialog(ReadDialog(box));
  EXPECT_EQ(buttons, std::vector<int>{IDOK}) << DescribeDialog(ReadDialog(box));
  EXPECT_TRUE(ShownMessageBoxIcon(box, kShowLimitMs) == IDI_HAND) << "not the error icon";
  PressEscape(box);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(WholeSetup, ClosingDuringASlowDownloadEndsAtOnceAndTheNextRunResumes) {
  PublishList();
  const std::string installer = RandomBytes(3 << 20, 8);
  Publish(L"ndp461.upd", installer);
  Publish(L"ndp461.upd.fault", "trickle=32768:100\n");

  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  const std::wstring partial = WorkPath(L"ndp461.upd.FilePart");
  for (int i = 0; i < 400 && FileSizeOf(partial) < 100000; ++i) Sleep(50);
  ASSERT_GE(FileSizeOf(partial), 100000) << "the download did not start";
  // The bar of that step moves forward and its text changes while the bytes trickle in.
  std::vector<BarReading> readings;
  for (int i = 0; i < 6; ++i) {
    readings.push_back(ReadBar(dialog, IDC_DOTNET_PROGRESS, IDC_DOTNET_PROGRESS_TEXT));
    Sleep(300);
  }
  for (const BarReading& reading : readings) {
    EXPECT_TRUE(reading.shown && !reading.marquee) << Utf8(reading.text);
    EXPECT_NE(reading.text.find(L" / 3.0 MB"), std::wstring::npos) << Utf8(reading.text);
  }
  EXPECT_GT(readings.back().position, readings.front().position);
  EXPECT_NE(readings.back().text, readings.front().text);
  EXPECT_FALSE(ReadBar(dialog, IDC_LOCALDB_PROGRESS, IDC_LOCALDB_PROGRESS_TEXT).shown)
      << "a step that does not download shows no bar\n" << DescribeDialog(ReadDialog(dialog));
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(1500), 0) << "the process did not end within 1.5 s";
  first_.Kill();

  const size_t kept = size_t(FileSizeOf(partial));
  ASSERT_GT(kept, 0u);
  ASSERT_LT(kept, installer.size());
  // Fast enough to finish soon, slow enough to watch the resumed bar start.
  Publish(L"ndp461.upd.fault", "trickle=131072:100\n");
  // The server logs the broken-off answer once it notices; that line belongs to the
  // first run.
  AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 1);
  ClearRequestLog(TestServer::kUpdate);
  dialog = Start();
  ASSERT_TRUE(dialog);
  BarReading first{};
  for (int i = 0; i < 400 && !(first.shown && !first.marquee); ++i) {
    first = ReadBar(dialog, IDC_DOTNET_PROGRESS, IDC_DOTNET_PROGRESS_TEXT);
    if (!(first.shown && !first.marquee)) Sleep(20);
  }
  ASSERT_TRUE(first.shown && !first.marquee) << "the resumed download showed no bar";
  const int heldShare = int(uint64_t(kept) * kProgressBarRange / installer.size());
  EXPECT_GE(first.position, heldShare) << "the resumed bar starts at the share already held\n"
                                       << Utf8(first.text) << "\n" << DescribeDialog(ReadDialog(dialog));
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS, kDotNetName + L" インストーラーが利用可能です",
                                 kDownloadLimitMs));
  const ULONGLONG hidden = GetTickCount64() + kEndLimitMs;  // many progress ticks
  while (ReadBar(dialog, IDC_DOTNET_PROGRESS, IDC_DOTNET_PROGRESS_TEXT).shown &&
         GetTickCount64() < hidden) {
    Sleep(50);
  }
  EXPECT_FALSE(ReadBar(dialog, IDC_DOTNET_PROGRESS, IDC_DOTNET_PROGRESS_TEXT).shown)
      << "the bar is hidden once the download has ended";
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_DOTNET_PROGRESS_TEXT)));
  const auto requests = AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=" + std::to_string(kept) + "-");
  EXPECT_EQ(requests[0].bodyBytes, (long long)(installer.size() - kept));
  EXPECT_TRUE(ReadFileBytes(WorkPath(L"ndp461.exe")) == installer) << "not byte-identical";
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

// One 503 for the list at start-up is tried again after the first pause (the step says
// "querying" meanwhile), and the application is offered as usual.
TEST_F(WholeSetup, AListAnswered503OnceStillLeadsToTheApplicationOffered) {
  Publish(L"vtupdaterlist.upd", "0,120,0,x,20000101_0000,Velto 2026\r\n1,VeltoApp\r\n");
  Publish(L"VeltoApp.upd", "MZ application piece");
  Publish(L"vtupdaterlist.upd.fault", "status=503\ntimes=1\n");
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS, L"更新情報の問合せ中です", kRefreshLimitMs));
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS,
                                 L"Velto 2026 インストーラーが利用可能です", kShowLimitMs));
  const auto requests = AwaitRequests(TestServer::kUpdate, L"vtupdaterlist.upd", 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].status, 503);
  EXPECT_EQ(requests[1].status, 200);
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

TEST_F(WholeSetup, AnUnreachableListIsReportedAndDownloadsWaitForGood) {
  HWND dialog = Start();  // nothing published: the list answers 404
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS, L"更新情報の問合せに失敗しました",
                                 kRefreshLimitMs));
  Sleep(kSettleMs);
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), kDotNetName + L" インストーラーのダウンロード中です");
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS),
            LocalDbName() + L" インストーラーのダウンロード待機中です");
  EXPECT_EQ(AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 0).size(), 0u);
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

TEST_F(WholeSetup, ServerTestTwoAsksTheTestServer) {
  SetRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", 2, kView64);
  PublishList();
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  const auto requests = AwaitRequests(TestServer::kUpdate, L"vtupdaterlist.upd", 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].host, "updates-test.velto.example");
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_HEADING, L"3:Veltoシステムをインストールします",
                                 kRefreshLimitMs));
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

}  // namespace
