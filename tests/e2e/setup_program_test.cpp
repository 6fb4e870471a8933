// VeltoSetup.exe run as a user runs it, watched and driven from outside through the
// dialog driver: what the dialog shows, how it is closed, the single-instance rule.
#include <gtest/gtest.h>

#include <string>

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "dialog_driver.h"
#include "support/installers/test_installers.h"
#include "support/test_support.h"
#include "ui/resource.h"

namespace {

constexpr DWORD kShowLimitMs = 20000;
constexpr DWORD kRefreshLimitMs = 5000;
constexpr DWORD kEndLimitMs = 5000;
// Long enough for several refreshes: what has not happened by then does not happen.
constexpr DWORD kSettleMs = 2500;
constexpr wchar_t kInstallCaption[] = L"Velto インストール";

std::wstring LocalDbName() {
  HeapString name = LocalDbPackageName(LocalDbPackageKind());
  return name.get();
}

std::wstring LocalDbPackageFile() {
  switch (LocalDbPackageKind()) {
    case kLocalDbKind2014x64:
      return L"ldb2014sp3x64.msi";
    case kLocalDbKind2017x64:
      return L"ldb2017rtmx64.msi";
    default:
      return L"ldb2014sp3x86.msi";
  }
}

constexpr wchar_t kWineX11Key[] = L"Software\\Wine\\X11 Driver";

// Each test runs its own copy of the program, with its own Assets folder beside it.
class SetupProgramTest : public ::testing::Test {
 protected:
  // Without a window manager, Wine waits 2 s for one to confirm that a closed dialog's
  // window is gone. Windows that Wine manages itself close at once; the programs started
  // from here read the setting when they start.
  static void SetUpTestSuite() {
    SetRegString(HKEY_CURRENT_USER, kWineX11Key, L"Managed", L"N", 0);
  }
  static void TearDownTestSuite() { DeleteRegValue(HKEY_CURRENT_USER, kWineX11Key, L"Managed", 0); }

  void SetUp() override {
    UndoStandInInstallations();
    RemoveTree(WorkFolderPath());
    program_ = folder_ / L"VeltoSetup.exe";
    ASSERT_TRUE(CopyFileW(VT_SETUP_EXE, program_.c_str(), FALSE));
  }
  void TearDown() override {
    for (LaunchedProcess* process : {&first_, &second_}) process->Kill();
    UndoStandInInstallations();
    RemoveTree(WorkFolderPath());
  }

  void PutInAssets(const std::wstring& name) {
    CreateDirectoryW((folder_ / L"Assets").c_str(), nullptr);
    WriteFileBytes(folder_ / L"Assets" + L"\\" + name, "installer");
  }

  // Starts the program with arguments and waits for its dialog.
  HWND Start(const std::wstring& arguments = L"") {
    first_ = Launch(L"\"" + program_ + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
    EXPECT_TRUE(first_);
    HWND dialog = WaitForDialog(first_.id(), kShowLimitMs);
    EXPECT_NE(dialog, nullptr) << "no dialog";
    return dialog;
  }

  TempFolder folder_;
  std::wstring program_;
  LaunchedProcess first_;
  LaunchedProcess second_;
};

TEST_F(SetupProgramTest, FirstDisplayShowsWhatIsInstalledAndPreparesTheUpdateInformation) {
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PRODUCT_STATUS, L"更新情報の準備中です", kRefreshLimitMs));
  const DialogState state = ReadDialog(dialog);
  EXPECT_EQ(state.caption, kInstallCaption);
  HeapString dotNet = DescribeDotNet(0);
  HeapString localDb = DescribeLocalDb(0);
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_VERSION), dotNet.get());
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_VERSION), localDb.get());
  EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_VERSION), L"インストールされておりません");
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 インストーラーのダウンロード中です");
  EXPECT_EQ(ControlText(dialog, IDC_LOCALDB_STATUS), LocalDbName() + L" インストーラーのダウンロード待機中です");
  EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_HEADING), L"3:Veltoシステムをインストールします");
  for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
    EXPECT_FALSE(IsControlEnabled(dialog, id)) << id;
  }
  EXPECT_TRUE(IsControlEnabled(dialog, IDC_EXIT));

  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

TEST_F(SetupProgramTest, PrerequisiteInstalledBeforeTheStartHasNoStatusLine) {
  SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", 394254, kView32);
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitForControlText(dialog, IDC_LOCALDB_STATUS,
                                 LocalDbName() + L" インストーラーのダウンロード中です", kRefreshLimitMs));
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_STATUS), L"");
  HeapString dotNet = DescribeDotNet(394254);
  EXPECT_EQ(ControlText(dialog, IDC_DOTNET_VERSION), dotNet.get());
  EXPECT_FALSE(IsControlEnabled(dialog, IDC_DOTNET_INSTALL));
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
}

TEST_F(SetupProgramTest, UpdateModeOnlyWithDashUAsTheFirstArgument) {
  const struct {
    const wchar_t* arguments;
    const wchar_t* caption;
    const wchar_t* heading;
  } rows[] = {
      {L"-U", L"Velto 更新確認", L"3:Veltoシステムを更新します"},
      {L"-U extra", L"Velto 更新確認", L"3:Veltoシステムを更新します"},
      {L"-u", kInstallCaption, L"3:Veltoシステムをインストールします"},
      {L"extra -U", kInstallCaption, L"3:Veltoシステムをインストールします"},
  };
  for (const auto& row : rows) {
    HWND dialog = Start(row.arguments);
    ASSERT_TRUE(dialog) << Utf8(row.arguments);
    EXPECT_EQ(WindowText(dialog), row.caption) << Utf8(row.arguments);
    EXPECT_EQ(ControlText(dialog, IDC_PRODUCT_HEADING), row.heading) << Utf8(row.arguments);
    ClickButton(dialog, IDC_EXIT);
    EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0) << Utf8(row.arguments);
  }
}

TEST_F(SetupProgramTest, SecondStartIsRefusedWhileTheFirstDialogStays) {
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  second_ = Launch(L"\"" + program_ + L"\"");
  ASSERT_TRUE(second_);
  HWND refusal = WaitForDialog(second_.id(), kShowLimitMs, L"Velto Setup - Error");
  ASSERT_NE(refusal, nullptr);
  bool messageShown = false;
  for (const ControlState& control : ReadDialog(refusal).controls) {
    messageShown |= control.text == L"セットアッププログラムは既に起動しています";
  }
  EXPECT_TRUE(messageShown) << DescribeDialog(ReadDialog(refusal));
  // Esc dismisses a message box; the same key must not end the setup dialog below.
  PressEscape(refusal);
  EXPECT_EQ(second_.WaitForExit(kEndLimitMs), 0);

  EXPECT_TRUE(IsShown(dialog));
  EXPECT_EQ(first_.WaitForExit(0), -1);
  ClickButton(dialog, IDC_EXIT);
  EXPECT_EQ(first_.WaitForExit(kEndLimitMs), 0);
}

TEST_F(SetupProgramTest, EscapeDoesNotCloseTheDialog) {
  HWND dialog = Start();
  ASSERT_TRUE(dialog);
  PressEscape(dialog);
  EXPECT_EQ(first_.WaitForExit(kSettleMs), -1);
  EXPECT_TRUE(IsShown(dialog));
}

}  // namespace
