// VeltoSetup.exe run as a user runs it, watched and driven from outside through the
// dialog driver: what the dialog shows, how it is closed, the single-instance rule.
#include <string>
#include <vector>

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "e2e_fixture.h"
#include "support/installers/test_installers.h"
#include "ui/resource.h"

namespace {

TEST_F(SetupProgramTest, FirstDisplayShowsWhatIsInstalledWhileTheListIsQueried) {
  // The list's body is held until the end: the query stays visible however slow the
  // machine.
  Publish(L"vtupdaterlist.upd", "0,1\r\n");
  HoldAfter(L"vtupdaterlist.upd", 0);
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  const std::wstring first = ControlText(dialog, IDC_PRODUCT_STATUS);
  EXPECT_TRUE(first == L"更新情報の準備中です" || first == L"更新情報の問合せ中です") << Utf8(first);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS, L"更新情報の問合せ中です", kRefreshLimitMs));
  const DialogState state = ReadDialog(dialog);
  EXPECT_EQ(state.caption, kInstallCaption);
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_VERSION), L".NET Framework 4.xはインストールされておりません");
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_VERSION), L"SQL Server LocalDBはインストールされておりません");
  EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_VERSION), L"インストールされておりません");
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 インストーラーのダウンロード中です");
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS), LocalDbName() + L" インストーラーのダウンロード待機中です");
  EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_HEADING), L"3:Veltoシステムをインストールします");
  for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
    EXPECT_FALSE(IsControlEnabled(dialog, id)) << id;
  }
  EXPECT_TRUE(IsControlEnabled(dialog, IDC_EXIT));

  // Closed while the worker waits for the list: the process still ends at once.
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  Release(L"vtupdaterlist.upd");
}

TEST_F(SetupProgramTest, PrerequisiteInstalledBeforeTheStartHasNoStatusLine) {
  SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", 394254, kView32);
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_STATUS,
                                 LocalDbName() + L" インストーラーのダウンロード中です", kRefreshLimitMs));
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), L"");
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_VERSION), L".NET Framework 4.6.1(1511)がインストール済みです");
  EXPECT_FALSE(IsControlEnabled(dialog, IDC_DOTNET_INSTALL));
}

// The setup program is 32-bit: what it reads in the default view is the 32-bit view of
// the registry, and only the LocalDB instance's setup version, which the real package
// writes in the 64-bit view alone, is read there. Each row registers in the views named
// (the first as the real installers do on 64-bit Windows) and reads the dialog's lines.
TEST_F(SetupProgramTest, ReadsEachRegistrationInTheViewItsInstallerWrites) {
  const std::wstring api = folder_ / L"SqlUserInstance.dll";
  WriteFileBytes(api, "instance API");
  const std::wstring versions =
      L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB\\Installed Versions\\14.0";
  const std::wstring setup = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\MSSQL14E.LOCALDB\\Setup";
  const struct {
    std::vector<REGSAM> dotNet, localDb, setupVersion;
    const wchar_t* dotNetLine;
    const wchar_t* localDbLine;
  } rows[] = {
      {{kView32, kView64}, {kView32, kView64}, {kView64},
       L".NET Framework 4.6.1がインストール済みです", L"SQL Server 2017 RTM LocalDBがインストール済みです"},
      {{kView64}, {kView32}, {kView32},
       L".NET Framework 4.xはインストールされておりません",
       L"SQL Server 2017 LocalDBがインストール済みです(異常)"},
      {{kView32}, {kView64}, {kView64},
       L".NET Framework 4.6.1がインストール済みです", L"SQL Server LocalDBはインストールされておりません"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Utf8(row.localDbLine));
    UndoStandInInstallations();
    for (REGSAM view : row.dotNet) {
      SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", kStandInDotNetRelease, view);
    }
    for (REGSAM view : row.localDb) {
      SetRegString(HKEY_LOCAL_MACHINE, versions, L"InstanceAPIPath", api, view);
      SetRegString(HKEY_LOCAL_MACHINE, versions, L"ParentInstance", L"MSSQL14E.LOCALDB", view);
    }
    for (REGSAM view : row.setupVersion) {
      SetRegString(HKEY_LOCAL_MACHINE, setup, L"Version", L"14.0.1000.169", view);
    }
    HWND dialog = Start();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_VERSION, row.dotNetLine, kRefreshLimitMs))
        << Utf8(ControlText(dialog, IDC_DOTNET_VERSION));
    EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_VERSION, row.localDbLine, kRefreshLimitMs))
        << Utf8(ControlText(dialog, IDC_LOCALDB_VERSION));
    ClickButton(dialog, IDC_EXIT);
    EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  }
}

TEST_F(SetupProgramTest, InstallersInTheAssetsFolderAreOfferedButNotTheApplication) {
  PutInAssets(L"ndp461.exe");
  PutInAssets(LocalDbPackageFile());
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                 L".NET Framework 4.6.1 インストーラーが利用可能です", kRefreshLimitMs));
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS), LocalDbName() + L" インストーラーが利用可能です");
  EXPECT_TRUE(IsControlEnabled(dialog, IDC_DOTNET_INSTALL));
  EXPECT_TRUE(IsControlEnabled(dialog, IDC_LOCALDB_INSTALL));
  EXPECT_FALSE(IsControlEnabled(dialog, IDC_PRODUCT_INSTALL));

  PressCloseBox(dialog);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  // Only a worker that ended by itself lets the run close its log; one ended by force
  // after 1000 ms ends the process without it.
  EXPECT_NE(ReadFileBytes(WorkPath(L"VeltoSetup.log")).find("The setup has ended."),
            std::string::npos);
}

// From the keyboard: Tab goes through the offered buttons in the order of the steps, then
// to "終了"; the focus shows once a key is used; Enter presses the focused button, and the
// focus leaves a button that is disabled. The marks say what they show.
TEST_F(SetupProgramTest, KeyboardGoesThroughTheStepsAndEnterPressesTheFocusedButton) {
  PutInAssets(L"ndp461.exe", ReadFileBytes(StandInDotNetInstaller()));
  PutInAssets(LocalDbPackageFile());
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(WaitForEnabled(dialog, IDC_LOCALDB_INSTALL, true, kRefreshLimitMs));
  EXPECT_EQ(TabOrder(dialog), (std::vector<int>{IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_EXIT}));
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_ICON) + ControlText(dialog, IDC_LOCALDB_ICON) +
                ControlText(dialog, IDC_PRODUCT_ICON), L"現在の手順未着手未着手");

  EXPECT_EQ(FocusedControl(dialog), IDC_DOTNET_INSTALL);
  for (int next : {IDC_LOCALDB_INSTALL, IDC_EXIT, IDC_DOTNET_INSTALL}) {
    PressKey(dialog, VK_TAB);
    const ULONGLONG deadline = GetTickCount64() + kRefreshLimitMs;
    while (FocusedControl(dialog) != next && GetTickCount64() < deadline) Sleep(50);
    EXPECT_EQ(FocusedControl(dialog), next);
  }
  EXPECT_TRUE(ShowsFocus(dialog));

  PressKey(dialog, VK_RETURN);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                 L".NET Framework 4.6.1 のインストールが完了しました", kShowLimitMs));
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_ICON, L"完了", kRefreshLimitMs));
  EXPECT_FALSE(IsControlEnabled(dialog, IDC_DOTNET_INSTALL));
  EXPECT_NE(FocusedControl(dialog), IDC_DOTNET_INSTALL);
  EXPECT_NE(FocusedControl(dialog), 0);
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

// A transfer that waits on a silent server is left to itself when the dialog ends: the
// worker ends by itself at once (not by force), and the partial file it leaves is where
// the next start goes on.
TEST_F(SetupProgramTest, ClosedWhileADownloadHangsTheProgramEndsAtOnceAndTheNextStartResumes) {
  const std::string piece = RandomBytes(300000, 50);
  Publish(L"vtupdaterlist.upd", "0,7,0,x,20000101_0000,Velto Test\r\n1,hangingPiece\r\n");
  Publish(L"hangingPiece.upd", piece);
  // A read that asked for more than came before the hold never reaches the file: what is
  // kept is what the reads before it wrote.
  HoldAfter(L"hangingPiece.upd", 100000);
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  const std::wstring partial = WorkPath(L"hangingPiece.upd.FilePart");
  const ULONGLONG deadline = GetTickCount64() + kShowLimitMs;
  while (FileSizeOf(partial) <= 0 && GetTickCount64() < deadline) Sleep(50);
  ASSERT_GT(FileSizeOf(partial), 0);

  // The hold lasts far beyond the end limit: a close that waited for the transfer would
  // miss it, and one that ended the worker by force leaves no end line in the log.
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
  EXPECT_NE(ReadFileBytes(WorkPath(L"VeltoSetup.log")).find("The setup has ended."),
            std::string::npos) << "the worker was ended by force";
  const long long kept = FileSizeOf(partial);
  ASSERT_GT(kept, 0);
  EXPECT_EQ(ReadFileBytes(partial), piece.substr(0, size_t(kept)));
  Release(L"hangingPiece.upd");

  dialog = Start();
  ASSERT_TRUE(dialog);
  const ULONGLONG again = GetTickCount64() + kShowLimitMs;
  while (!PathExists(WorkPath(L"hangingPiece.upi")) && GetTickCount64() < again) Sleep(50);
  EXPECT_EQ(ReadFileBytes(WorkPath(L"hangingPiece.upi")), piece);
  // The held answer is logged once the server finds its connection gone.
  bool resumed = false;
  for (const auto& request : AwaitRequests(TestServer::kUpdate, L"hangingPiece.upd", 2)) {
    resumed = resumed || request.range == "bytes=" + std::to_string(kept) + "-";
  }
  EXPECT_TRUE(resumed);
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

// Which command lines mean update mode is the unit test's table; one start shows that
// the dialog follows it, and that a log place that cannot be written changes nothing.
TEST_F(SetupProgramTest, UpdateModeWithDashUAsTheFirstArgument) {
  HWND dialog = Start(L"-U /log \"Z:\\no such folder\\x.log\"");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(WindowText(dialog), L"Velto 更新確認");
  EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_HEADING), L"3:Veltoシステムを更新します");
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

// Esc dismisses a message box, never the setup dialog: neither the refusal's Esc nor the
// dialog's own ends the first program.
TEST_F(SetupProgramTest, SecondStartIsRefusedAndEscapeEndsOnlyTheRefusal) {
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  // A /passive run ends its refusal with the code a deployment tool reads.
  for (const auto& [arguments, exitCode] : {std::pair{L"", 0L}, std::pair{L" /passive", 1618L}}) {
    SCOPED_TRACE(Narrow(arguments));
    second_ = Launch(L"\"" + program_ + L"\"" + arguments);
    ASSERT_TRUE(second_);
    HWND refusal = WaitForDialog(second_.id(), kShowLimitMs, L"Velto Setup - Error");
    ASSERT_NE(refusal, nullptr);
    bool messageShown = false;
    for (const ControlState& control : ReadDialog(refusal).controls) {
      messageShown |= control.text == L"セットアッププログラムは既に起動しています";
    }
    EXPECT_TRUE(messageShown) << DescribeDialog(ReadDialog(refusal));
    EXPECT_TRUE(ShownMessageBoxIcon(refusal, kShowLimitMs) == IDI_HAND) << "not the error icon";
    PressEscape(refusal);
    EXPECT_EQ(second_.WaitForExit(kEndLimitMs), exitCode);
  }
  // Into the running program's log, without emptying it.
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  EXPECT_NE(log.find("Velto Setup revision"), std::string::npos) << log;
  EXPECT_NE(log.find("a second setup program was refused"), std::string::npos) << log;

  PressEscape(dialog);
  EXPECT_EQ(first_.WaitForExit(kSettleMs), -1);
  EXPECT_TRUE(IsShown(dialog));
  // And it keeps working: an installer that turns up is offered at the next refresh.
  PutInAssets(L"ndp461.exe");
  EXPECT_TRUE(WaitForControlText(dialog, IDC_DOTNET_STATUS,
                                 L".NET Framework 4.6.1 インストーラーが利用可能です", kRefreshLimitMs));

  // Without a window nobody could dismiss the message: the refusal is the exit code.
  second_ = Launch(L"\"" + program_ + L"\" /quiet");
  ASSERT_TRUE(second_);
  EXPECT_EQ(second_.WaitForExit(kEndLimitMs), 1618);
  EXPECT_EQ(first_.WaitForExit(0), -1);

  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

}  // namespace
