// The setup dialog in this process, created from the same template as in the program,
// against Wine's registry and real files and installers. Needs a display.
#include "ui/setup_dialog.h"

#include <objbase.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "worker/setup_init.h"
#include "detect/registry.h"
#include "dialog_driver.h"
#include "detect/localdb.h"
#include "support/installers/test_installers.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "ui/dialog_scale.h"
#include "ui/dialog_state.h"
#include "ui/download_progress.h"
#include "ui/product_launch.h"
#include "ui/progress_text.h"
#include "ui/resource.h"
#include "util/strings.h"

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

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

// A step's mark, by the name a screen reader reads for it.
std::wstring Mark(HWND dialog, int id) { return Text(dialog, id); }
constexpr wchar_t kDone[] = L"完了";
constexpr wchar_t kCurrent[] = L"現在の手順";
constexpr wchar_t kPending[] = L"未着手";

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
  // Per step its mark, heading, button, version, status, and the progress bar and text
  // (hidden until a download), so that a screen reader reads the steps in order.
  EXPECT_EQ(ids, (std::vector<int>{1016, 1004, -1, 1005, 1003, 1006, 1031, 1032,
                                   1008, -1, 1009, 1007, 1010, 1033, 1034,
                                   1012, 1015, 1013, 1011, 1014, 1035, 1036, 1002}));
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
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), kCurrent);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), kPending);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), kPending);
  for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
    EXPECT_FALSE(Enabled(dialog, id)) << id;
  }
  // The banner is drawn for its place at the dialog's scale (the scale table checks it).
  EXPECT_NE(SendDlgItemMessageW(dialog, IDC_BANNER, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
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
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), kDone);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), kCurrent);
  EXPECT_FALSE(Enabled(dialog, IDC_DOTNET_INSTALL));
  EXPECT_TRUE(Enabled(dialog, IDC_LOCALDB_INSTALL));
}

TEST_F(SetupDialogTest, ApplicationButtonNeedsBothPrerequisitesAsTheRegistryTellsNow) {
  SatisfyPrerequisites();
  OfferApplication();
  PutFile(PiecePath(false), "piece");
  HWND dialog = Open();
  EXPECT_EQ(Text(dialog, IDC_PRODUCT_STATUS), L"Velto インストーラーが利用可能です");
  EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON), kDone);
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), kDone);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), kCurrent);
  EXPECT_TRUE(Enabled(dialog, IDC_PRODUCT_INSTALL));

  // LocalDB removed meanwhile, its package at hand: offered again, the application not.
  DeleteRegTree(HKEY_LOCAL_MACHINE, std::wstring(kLocalDbVersionsKey) + L"\\12.0", kView32);
  PutFile(AssetsFolderPath() + L"\\" + gSetup.slots[kLocalDb].localName, "package");
  RefreshDialog(dialog);
  EXPECT_TRUE(Enabled(dialog, IDC_LOCALDB_INSTALL));
  EXPECT_FALSE(Enabled(dialog, IDC_PRODUCT_INSTALL));
  EXPECT_EQ(Mark(dialog, IDC_LOCALDB_ICON), kCurrent);
  EXPECT_EQ(Mark(dialog, IDC_PRODUCT_ICON), kPending);
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
    // Clicked again: a piece that has gone is fetched afresh, one still there fails again.
    Click(dialog, IDC_PRODUCT_INSTALL);
    EXPECT_EQ(gSetup.slots[kProduct].installFailed, !row.removeBeforeClick) << row.what;
    EXPECT_EQ(gSetup.requestedDownload.load() == kProduct, row.removeBeforeClick) << row.what;
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
  // Every process that this one starts from here on is counted, so that "never started"
  // is read at once rather than after a wait for a stand-in that may be on its way.
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job && AssignProcessToJobObject(job.get(), GetCurrentProcess()));
  const auto processesStarted = [&job] {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &info, sizeof(info),
                              nullptr);
    return info.TotalProcesses;
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

    const DWORD before = processesStarted();
    ASSERT_EQ(StartProductInstaller(), row.started);
    if (!row.started) {
      EXPECT_EQ(processesStarted(), before) << "an installer was started";
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

// --- The dialog at 100, 125, 150 and 200 % -----------------------------------------
// A process takes its DPI from the prefix's LogPixels when it starts: the last test runs
// the one before it in a process of its own per scale, telling it the DPI to expect.

constexpr wchar_t kExpectedDpiVariable[] = L"VELTO_TEST_DPI";
struct Scale {
  UINT dpi;
  int markPixels, smallIconPixels;
};
constexpr Scale kScales[] = {{96, 32, 16}, {120, 40, 20}, {144, 48, 24}, {192, 64, 32}};

int IconPixels(HICON icon) {
  ICONINFO info = {};
  BITMAP image = {};
  if (!icon || !GetIconInfo(icon, &info)) return 0;
  GetObjectW(info.hbmColor, sizeof(image), &image);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return image.bmWidth;
}

// Every visible control within the dialog and clear of the others, every static text
// within its control, the banner's bitmap its control's size, the icons at the scale's.
void ExpectWhole(HWND dialog, const Scale& scale, const std::string& where) {
  RECT client = {}, banner = {}, both = {};
  GetClientRect(dialog, &client);
  const std::vector<ControlPlace> places = ReadPlaces(dialog);
  for (size_t i = 0; i < places.size(); ++i) {
    const RECT& place = places[i].rect;
    const std::string what = where + ", control " + std::to_string(places[i].id);
    EXPECT_TRUE(IntersectRect(&both, &place, &client) && EqualRect(&both, &place)) << what;
    EXPECT_LE(places[i].textExtent.cx, place.right - place.left) << what;
    EXPECT_LE(places[i].textExtent.cy, place.bottom - place.top) << what;
    for (size_t j = i + 1; j < places.size(); ++j) {
      EXPECT_FALSE(IntersectRect(&both, &place, &places[j].rect)) << what << " and " << places[j].id;
    }
  }
  GetClientRect(GetDlgItem(dialog, IDC_BANNER), &banner);
  BITMAP image = {};
  GetObjectW(reinterpret_cast<HGDIOBJ>(
                 SendDlgItemMessageW(dialog, IDC_BANNER, STM_GETIMAGE, IMAGE_BITMAP, 0)),
             sizeof(image), &image);
  EXPECT_EQ(image.bmWidth, banner.right) << where;
  EXPECT_EQ(image.bmHeight, banner.bottom) << where;
  EXPECT_GT(banner.bottom, MulDiv(90, int(scale.dpi), 96)) << where;
  for (HICON mark : {gDialog.iconDone, gDialog.iconCurrent, gDialog.iconPending}) {
    EXPECT_EQ(IconPixels(mark), scale.markPixels) << where;
  }
  EXPECT_EQ(IconPixels(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0))),
            scale.smallIconPixels) << where;
}

// The rate of a download's first moments swings widely: no time left is worked out from
// it until the download has run a while.
TEST_F(SetupDialogTest, TimeLeftShowsOnlyOnceTheRateHasSettled) {
  HWND dialog = Open();
  TransferProgress& progress = gSetup.slots[kDotNet].progress;
  const struct {
    DWORD startedAgoMs;
    bool timeLeft;
  } rows[] = {{0, false}, {60000, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.startedAgoMs);
    progress.startTick.store(GetTickCount() - row.startedAgoMs);
    progress.total.store(72 << 20);
    progress.active.store(true);
    for (const uint32_t received : {1u << 20, 2u << 20}) {
      Sleep(200);  // two samples apart in time give a rate
      progress.received.store(received);
      RefreshDownloadProgress(dialog);
    }
    const std::wstring text = Text(dialog, IDC_DOTNET_PROGRESS_TEXT);
    EXPECT_NE(text.find(L"/秒"), std::wstring::npos) << Narrow(text);
    EXPECT_EQ(text.find(L"残り") != std::wstring::npos, row.timeLeft) << Narrow(text);
  }
  progress.active.store(false);
}

TEST_F(SetupDialogTest, WholeAndSharpInEveryStateAtThisScale) {
  wchar_t expected[16] = L"96";
  GetEnvironmentVariableW(kExpectedDpiVariable, expected, 16);
  const UINT dpi = UINT(_wtoi(expected));
  const Scale* scale = std::find_if(std::begin(kScales), std::end(kScales),
                                    [dpi](const Scale& row) { return row.dpi == dpi; });
  ASSERT_NE(scale, std::end(kScales)) << dpi;
  const struct {
    const char* name;
    const wchar_t* marks[kComponentCount];
  } states[] = {{"first display", {kCurrent, kPending, kPending}},
                {"downloading", {kCurrent, kPending, kPending}},
                {"all installed", {kDone, kDone, kDone}},
                {"failed", {kCurrent, kPending, kPending}}};
  for (int state = 0; state < 4; ++state) {
    const std::string where = std::to_string(dpi) + " DPI, " + states[state].name;
    Clean();
    gSetup.productDisplayName.store(L"Velto 3.2");
    offerApplication_ = state != 0;
    HWND dialog = Open();
    ASSERT_EQ(WindowDpi(dialog), dpi) << where;
    ShowWindow(dialog, SW_SHOWNA);  // a hidden dialog's controls count as hidden
    TransferProgress& progress = gSetup.slots[kDotNet].progress;
    if (state == 1) {
      progress.total.store(72 << 20);
      progress.received.store(30 << 20);
      progress.active.store(true);
      RefreshDownloadProgress(dialog);
      // The longest text the line can show (the failed state shows the longest status).
      wchar_t longest[kProgressTextUnits] = {};
      FormatProgressText(0x1FFFFFFFu, 0x3FFFFFFFu, 1023u, true, longest);
      SetDlgItemTextW(dialog, IDC_DOTNET_PROGRESS_TEXT, longest);
    } else if (state == 2) {
      SatisfyPrerequisites();
      SetRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"Installed", 1, kView64);
      SetRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"VersionCode", 7, kView64);
      gSetup.productVersionCode.store(7);
    } else if (state == 3) {
      for (ComponentSlot& slot : gSetup.slots) slot.downloadFailed.store(true);
    }
    RefreshDialog(dialog);
    for (int i = 0; i < kComponentCount; ++i) {
      EXPECT_EQ(Mark(dialog, IDC_DOTNET_ICON + 4 * i), states[state].marks[i]) << where << i;
    }
    EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, IDC_DOTNET_PROGRESS_TEXT)) != FALSE, state == 1);
    ExpectWhole(dialog, *scale, where);

    progress.active.store(false);
    DestroyWindow(dialog);
    dialog_ = nullptr;
  }

  // Moved to a monitor with another scale: laid out again for it, font and all.
  const Scale& other = dpi == 192 ? kScales[0] : kScales[3];
  Clean();
  HWND dialog = Open();
  ShowWindow(dialog, SW_SHOWNA);
  // Windows asks for the size first, and then suggests where to put it.
  SIZE asked = {};
  EXPECT_TRUE(SendMessageW(dialog, WM_GETDPISCALEDSIZE, other.dpi, reinterpret_cast<LPARAM>(&asked)));
  RECT suggested = {200, 100, 200 + asked.cx, 100 + asked.cy}, moved = {};
  SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(other.dpi, other.dpi),
               reinterpret_cast<LPARAM>(&suggested));
  ExpectWhole(dialog, other, "moved to " + std::to_string(other.dpi));
  GetWindowRect(dialog, &moved);
  EXPECT_TRUE(EqualRect(&moved, &suggested));
}

// The prefix's LogPixels is put back afterwards, for the other tests of the lane.
TEST(DialogScales, WholeAndSharpInEveryStateAtEveryScale) {
  constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  DWORD before = 0;
  DWORD size = sizeof(before);
  const bool had = RegGetValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", RRF_RT_REG_DWORD,
                                nullptr, &before, &size) == ERROR_SUCCESS;
  for (const Scale& scale : kScales) {
    SetRegDword(HKEY_CURRENT_USER, kDesktop, L"LogPixels", scale.dpi, kView64);
    SetEnvironmentVariableW(kExpectedDpiVariable, std::to_wstring(scale.dpi).c_str());
    EXPECT_EQ(RunAndWait(L"\"" + std::wstring(program) +
                             L"\" --gtest_filter=*.WholeAndSharpInEveryStateAtThisScale", 60000),
              0) << scale.dpi << " DPI";
  }
  SetEnvironmentVariableW(kExpectedDpiVariable, nullptr);
  if (had) SetRegDword(HKEY_CURRENT_USER, kDesktop, L"LogPixels", before, kView64);
  if (!had) DeleteRegValue(HKEY_CURRENT_USER, kDesktop, L"LogPixels", kView64);
}

}  // namespace
