// The setup dialog in this process, created from the same template as in the program,
// against Wine's registry and real files and installers. Needs a display.
#include "ui/setup_dialog.h"

#include <objbase.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "worker/setup_init.h"
#include "detect/localdb.h"
#include "support/installers/test_installers.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "ui/product_launch.h"
#include "ui/resource.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kLocalDbVersionsKey[] =
    L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB\\Installed Versions";
constexpr wchar_t kPiece[] = L"VeltoApp";
constexpr DWORD kInstallerLimitMs = 30000;

std::wstring Text(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

std::wstring Caption(HWND dialog) {
  wchar_t text[512] = {};
  GetWindowTextW(dialog, text, 512);
  return text;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

HICON Mark(HWND dialog, int id) {
  return reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, id, STM_GETICON, 0, 0));
}

std::wstring LocalDbName() {
  HeapString name = LocalDbPackageName(LocalDbPackageKind());
  return name.get();
}

void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class SetupDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(gdiplusToken_); }

  void SetUp() override { Clean(); }
  void TearDown() override {
    if (dialog_) DestroyWindow(dialog_);
    Clean();
  }
  static void Clean() {
    UndoStandInInstallations();
    RemoveTree(WorkFolderPath());
    RemoveTree(AssetsFolderPath());
    ResetSetupState();
  }

  // The state as the program has it when the dialog opens (with the update information
  // loaded when OfferApplication was called), then the dialog.
  HWND Open() {
    FillSetupSlots();
    if (offerApplication_) {
      CopyString(gSetup.componentFiles[0], kPiece, kComponentFileUnits);
      gSetup.phase.store(kPhaseReady);
    }
    dialog_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP), nullptr,
                                 SetupDialogProc, 0);
    EXPECT_NE(dialog_, nullptr);
    return dialog_;
  }

  // Update information that names one piece.
  void OfferApplication() { offerApplication_ = true; }

  static void SatisfyPrerequisites() {
    SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", 394254, kView32);
    SetRegString(HKEY_LOCAL_MACHINE, std::wstring(kLocalDbVersionsKey) + L"\\12.0",
                 L"InstanceAPIPath", L"C:\\none.dll", kView32);
  }

  static std::wstring PiecePath(bool inAssets) {
    return (inAssets ? AssetsFolderPath() : WorkFolderPath()) + L"\\" + kPiece + L".upi";
  }

  static void PutFile(const std::wstring& path, const std::string& bytes) {
    CreateDirectoryW(QrnFolderPath().c_str(), nullptr);
    CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
    CreateDirectoryW(AssetsFolderPath().c_str(), nullptr);
    WriteFileBytes(path, bytes);
  }

  HWND dialog_ = nullptr;
  bool offerApplication_ = false;
  static ULONG_PTR gdiplusToken_;
};

ULONG_PTR SetupDialogTest::gdiplusToken_ = 0;

TEST_F(SetupDialogTest, FirstDisplayBeforeTheUpdateInformationIsPrepared) {
  HWND dialog = Open();
  // The template: its controls in tab order, its texts read as UTF-8, its font.
  // (Wine makes the font with the default character set; the template asks for Shift-JIS.)
  std::vector<int> ids;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ids.push_back(short(GetDlgCtrlID(child)));
  }
  EXPECT_EQ(ids, (std::vector<int>{1003, 1005, 1002, 1004, -1, 1007, 1009, 1008, -1, 1006, 1010,
                                   1011, 1013, 1012, 1015, 1014, 1016,
                                   // The progress bars and texts, hidden until a download.
                                   1031, 1032, 1033, 1034, 1035, 1036}));
  for (int id = IDC_DOTNET_PROGRESS; id <= IDC_PRODUCT_PROGRESS_TEXT; ++id) {
    EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE, 0) << id;
  }
  EXPECT_EQ(Text(dialog, IDC_EXIT), L"終了");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_INSTALL), L"インストール");
  HWND heading = GetWindow(GetDlgItem(dialog, IDC_DOTNET_ICON), GW_HWNDNEXT);
  wchar_t headingText[64] = {};
  GetWindowTextW(heading, headingText, 64);
  EXPECT_STREQ(headingText, L"1:.NET Framework 4.6.1以降が必要です");
  LOGFONTW font = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");

  EXPECT_EQ(Caption(dialog), L"Velto インストール");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_HEADING), L"3:Veltoシステムをインストールします");
  EXPECT_EQ(Text(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 インストーラーのダウンロード中です");
  EXPECT_EQ(Text(dialog, IDC_LOCALDB_STATUS), LocalDbName() + L" インストーラーのダウンロード待機中です");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"更新情報の準備中です");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_VERSION), L"インストールされておりません");
  // The lowest step with a missing installer is asked for first.
  EXPECT_EQ(gSetup.requestedDownload.load(), kDotNet);
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), gSetup.iconCurrent);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), gSetup.iconPending);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), gSetup.iconPending);
  EXPECT_NE(gSetup.iconCurrent, gSetup.iconPending);
  for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
    EXPECT_FALSE(Enabled(dialog, id)) << id;
  }
  HBITMAP banner =
      reinterpret_cast<HBITMAP>(SendDlgItemMessageW(dialog, IDC_BANNER, STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP size = {};
  ASSERT_NE(banner, nullptr);
  ASSERT_TRUE(GetObjectW(banner, sizeof(size), &size));
  EXPECT_EQ(size.bmWidth, 570);
  EXPECT_EQ(size.bmHeight, 97);
}

TEST_F(SetupDialogTest, TitlesFollowUpdateModeAndTheShortNameOnOffer) {
  gSetup.updateMode.store(true);
  HWND dialog = Open();
  EXPECT_EQ(Caption(dialog), L"Velto 更新確認");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_HEADING), L"3:Veltoシステムを更新します");
  gSetup.productNameShort.store(L"Zeta");
  RefreshDialog(dialog);
  EXPECT_EQ(Caption(dialog), L"Zeta 更新確認");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_HEADING), L"3:Zetaシステムを更新します");
  // A short-name setting without a value leaves the name absent: nothing is inserted.
  gSetup.productNameShort.store(nullptr);
  RefreshDialog(dialog);
  EXPECT_EQ(Caption(dialog), L" 更新確認");
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_HEADING), L"3:システムを更新します");
}

TEST_F(SetupDialogTest, ApplicationStepNamesTheOfferedApplicationCutToTheLineCapacity) {
  OfferApplication();
  gSetup.productDisplayName.store(L"Velto 販売管理");
  HWND dialog = Open();
  // Step 1 holds the worker, so the application's pieces wait.
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"Velto 販売管理 インストーラーのダウンロード待機中です");

  const std::wstring longName(300, L'名');
  gSetup.productDisplayName.store(longName.c_str());
  RefreshDialog(dialog);
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), longName.substr(0, kStatusTextUnits - 1));
  gSetup.productDisplayName.store(nullptr);
}

TEST_F(SetupDialogTest, RunningPrerequisiteInstallerDisablesEveryButtonUntilItHasEnded) {
  PutFile(AssetsFolderPath() + L"\\ndp461.exe", ReadFileBytes(StandInDotNetInstaller()));
  HWND dialog = Open();
  PutFile(AssetsFolderPath() + L"\\" + gSetup.slots[kLocalDb].localName, "package");
  RefreshDialog(dialog);
  EXPECT_EQ(Text(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 インストーラーが利用可能です");
  EXPECT_TRUE(Enabled(dialog, IDC_DOTNET_INSTALL));
  EXPECT_TRUE(Enabled(dialog, IDC_LOCALDB_INSTALL));

  {
    StandInHold hold;
    Click(dialog, IDC_DOTNET_INSTALL);
    // At once, not a refresh period later: a second click must find nothing to press.
    EXPECT_EQ(Text(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 をインストール中です");
    for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
      EXPECT_FALSE(Enabled(dialog, id)) << id;
    }
  }
  const ULONGLONG deadline = GetTickCount64() + kInstallerLimitMs;
  while (Text(dialog, IDC_DOTNET_STATUS) == L".NET Framework 4.6.1 をインストール中です" &&
         GetTickCount64() < deadline) {
    Sleep(100);
    RefreshDialog(dialog);
  }
  EXPECT_EQ(Text(dialog, IDC_DOTNET_STATUS), L".NET Framework 4.6.1 のインストールが完了しました");
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), gSetup.iconDone);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), gSetup.iconCurrent);
  EXPECT_FALSE(Enabled(dialog, IDC_DOTNET_INSTALL));
  EXPECT_TRUE(Enabled(dialog, IDC_LOCALDB_INSTALL));
}

TEST_F(SetupDialogTest, ApplicationButtonNeedsBothPrerequisitesAsTheRegistryTellsNow) {
  SatisfyPrerequisites();
  OfferApplication();
  PutFile(PiecePath(false), "piece");
  HWND dialog = Open();
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"Velto インストーラーが利用可能です");
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), gSetup.iconDone);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), gSetup.iconDone);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), gSetup.iconCurrent);
  EXPECT_TRUE(Enabled(dialog, IDC_PRODUCT_INSTALL));

  // LocalDB removed meanwhile, its package at hand: offered again, the application not.
  DeleteRegTree(HKEY_LOCAL_MACHINE, std::wstring(kLocalDbVersionsKey) + L"\\12.0", kView32);
  PutFile(AssetsFolderPath() + L"\\" + gSetup.slots[kLocalDb].localName, "package");
  RefreshDialog(dialog);
  EXPECT_TRUE(Enabled(dialog, IDC_LOCALDB_INSTALL));
  EXPECT_FALSE(Enabled(dialog, IDC_PRODUCT_INSTALL));
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), gSetup.iconCurrent);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), gSetup.iconPending);
}

TEST_F(SetupDialogTest, ApplicationInstallerThatCannotStartLeavesTheDialogShowingTheFailure) {
  const struct {
    const char* what;
    bool removeBeforeClick;
  } rows[] = {{"not a program", false}, {"gone before the click", true}};
  for (const auto& row : rows) {
    Clean();
    SatisfyPrerequisites();
    OfferApplication();
    PutFile(PiecePath(false), "this is not a program");
    HWND dialog = Open();
    ASSERT_TRUE(Enabled(dialog, IDC_PRODUCT_INSTALL)) << row.what;
    if (row.removeBeforeClick) RemoveTree(PiecePath(false));

    Click(dialog, IDC_PRODUCT_INSTALL);  // would end this test program if it "succeeded"

    EXPECT_TRUE(gSetup.slots[kProduct].installFailed) << row.what;
    EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"Velto のインストールに失敗しました") << row.what;
    EXPECT_TRUE(Enabled(dialog, IDC_PRODUCT_INSTALL)) << row.what;
    DestroyWindow(dialog);
    dialog_ = nullptr;
  }
}

// Started with the update information of its folder, when its pins allow: a program with
// keys starts only a pinned installer (the local medium's is used as it stands), and a
// piece off its pin is deleted and nothing is started.
TEST_F(SetupDialogTest, ApplicationInstallerGetsTheUpdateInformationOfItsFolder) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  enum Pin { kNone, kRight, kWrong };
  const struct {
    bool localAssets;
    const wchar_t* switchText;
    RunMode mode;
    const wchar_t* tail;
    bool withKeys;
    Pin installerPin;
    Pin dataPin;
    bool started;
  } rows[] = {
      {false, L"/i", RunMode::kInteractive, L"", false, kNone, kNone, true},
      {true, L"/m", RunMode::kPassive, L"", false, kNone, kNone, true},
      {true, L"/m", RunMode::kQuiet, L" /quiet", true, kNone, kNone, true},
      {false, L"/i", RunMode::kInteractive, L"", true, kRight, kRight, true},
      {false, L"/i", RunMode::kInteractive, L"", true, kRight, kNone, false},
      {false, L"/i", RunMode::kInteractive, L"", true, kNone, kNone, false},
      {false, L"/i", RunMode::kInteractive, L"", false, kWrong, kNone, false},
      {false, L"/i", RunMode::kInteractive, L"", false, kRight, kWrong, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    ReleaseProductPieces();  // the last row's installer has ended
    Clean();
    gSetup.runMode = row.mode;
    CopyString(gSetup.componentFiles[0], kPiece, kComponentFileUnits);
    CopyString(gSetup.componentFiles[1], L"data", kComponentFileUnits);
    gSetup.phase.store(kPhaseReady);
    gSetup.localAssetsMode.store(row.localAssets);
    if (row.withKeys) SetProgramKeys(keys);
    const std::wstring installer = PiecePath(row.localAssets);
    const std::wstring data = installer.substr(0, installer.rfind(L'\\')) + L"\\data.upi";
    const std::string bytes = ReadFileBytes(StandInAppInstaller());
    PutFile(installer, bytes);
    PutFile(data, "data");
    const auto setPin = [](FilePin& pin, Pin kind, const std::string& content) {
      pin.present = kind != kNone;
      const std::string hex = Sha256Hex(kind == kWrong ? content + "!" : content);
      for (int i = 0; i < kPinBytes; ++i) pin.digest[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    };
    setPin(gSetup.componentPins[0], row.installerPin, bytes);
    setPin(gSetup.componentPins[1], row.dataPin, "data");
    const std::wstring record = installer + L".cmdline";

    ASSERT_EQ(StartProductInstaller(), row.started);
    if (!row.started) {
      Sleep(500);
      EXPECT_TRUE(RecordedCommandLines(record).empty());
      EXPECT_EQ(PathExists(installer), row.installerPin != kWrong);
      EXPECT_EQ(PathExists(data), row.dataPin != kWrong);
      continue;
    }
    const ULONGLONG deadline = GetTickCount64() + kInstallerLimitMs;
    while (RecordedCommandLines(record).empty() && GetTickCount64() < deadline) Sleep(50);
    const std::wstring folder = row.localAssets ? AssetsFolderPath() : WorkFolderPath();
    const std::vector<std::wstring> lines = RecordedCommandLines(record);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"\"" + installer + L"\" " + row.switchText + L" \"" + folder +
                            L"\\vtupdaterinfo.upi\"" + row.tail);
    // The stand-in registers after recording: the next round cleans up only after that.
    const ULONGLONG registered = GetTickCount64() + kInstallerLimitMs;
    while (RegGetValueW(HKEY_CURRENT_USER, kStandInProductKey, L"VersionCode", RRF_RT_REG_DWORD,
                        nullptr, nullptr, nullptr) != ERROR_SUCCESS &&
           GetTickCount64() < registered) {
      Sleep(20);
    }
  }
}

TEST_F(SetupDialogTest, SelfUpdateHandOverGivesUpTheInstanceMutex) {
  constexpr wchar_t kName[] = L"Local\\VeltoDialogTestMutex";
  gSetup.instanceMutex.reset(CreateMutexW(nullptr, TRUE, kName));
  ASSERT_TRUE(gSetup.instanceMutex);
  gSetup.phase.store(kPhaseAwaitingMutex);
  HWND dialog = Open();
  EXPECT_FALSE(gSetup.instanceMutex);
  EXPECT_EQ(gSetup.phase.load(), kPhaseHandedOver);
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"更新セットアッププログラムの起動中です");
  // The new setup program would now create the mutex afresh, not find it taken.
  UniqueHandle again(CreateMutexW(nullptr, TRUE, kName));
  EXPECT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
}

}  // namespace
