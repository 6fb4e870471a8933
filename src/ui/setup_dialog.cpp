#include "ui/setup_dialog.h"

#include <commctrl.h>
#include <shlwapi.h>

#include "state/setup_state.h"
#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/product.h"
#include "ui/banner.h"
#include "ui/dialog_rules.h"
#include "ui/download_progress.h"
#include "ui/passive_run.h"
#include "ui/product_launch.h"
#include "ui/resource.h"
#include "util/platform_sizes.h"
#include "util/strings.h"

namespace {

constexpr wchar_t kDotNetStepName[] = L".NET Framework 4.6.1";

struct StepControls {
  int version;
  int status;
  int icon;
  int button;
};

constexpr StepControls kStepControls[kComponentCount] = {
    {IDC_DOTNET_VERSION, IDC_DOTNET_STATUS, IDC_DOTNET_ICON, IDC_DOTNET_INSTALL},
    {IDC_LOCALDB_VERSION, IDC_LOCALDB_STATUS, IDC_LOCALDB_ICON, IDC_LOCALDB_INSTALL},
    {IDC_PRODUCT_VERSION, IDC_PRODUCT_STATUS, IDC_PRODUCT_ICON, IDC_PRODUCT_INSTALL},
};

HMODULE ExecutableModule() { return GetModuleHandleW(nullptr); }

void SetTextIfAny(HWND dialog, int controlId, const HeapString& text) {
  if (text) SetDlgItemTextW(dialog, controlId, text.get());
}

HICON MarkIcon(StepMark mark) {
  switch (mark) {
    case StepMark::kDone:
      return gSetup.iconDone;
    case StepMark::kCurrent:
      return gSetup.iconCurrent;
    default:
      return gSetup.iconPending;
  }
}

// Reading componentFiles is only sound once the worker has published it with phase -1.
bool IsFirstPieceNamed() {
  return gSetup.phase.load(std::memory_order_acquire) == kPhaseReady &&
         gSetup.componentFiles[0][0] != L'\0';
}

// The UI thread's half of the self-update: the new setup program may start only once
// this one no longer holds the single-instance mutex. A passive run waits for the newer
// program, whose own dialog takes this one's place.
void HandOverInstanceMutex(HWND dialog) {
  if (gSetup.phase.load(std::memory_order_acquire) != kPhaseAwaitingMutex) return;
  if (gSetup.runMode == RunMode::kPassive) ShowWindow(dialog, SW_HIDE);
  gSetup.instanceMutex.reset();
  gSetup.phase.store(kPhaseHandedOver, std::memory_order_release);
}

// A timer tick that arrives while a refresh still runs is dropped, not queued.
void GuardedRefresh(HWND dialog) {
  if (gSetup.refreshBusy) return;
  gSetup.refreshBusy = true;
  RefreshDialog(dialog);
  gSetup.refreshBusy = false;
}

void CALLBACK RefreshTimerProc(HWND dialog, UINT, UINT_PTR, DWORD) { GuardedRefresh(dialog); }

void ShowBanner(HWND dialog) {
  UniqueGdiObject banner = BannerHandle(ExecutableModule());
  if (!banner) return;
  SendDlgItemMessageW(dialog, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(banner.get()));
  // The control draws from the handle for the rest of the process.
  banner.release();
}

void InitDialog(HWND dialog) {
  const HMODULE module = ExecutableModule();
  // The caption wants the 16-pixel image, the task switcher the large one; both come
  // from the one icon group.
  HANDLE small = LoadImageW(module, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON,
                            GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                            LR_SHARED);
  HANDLE large = LoadImageW(module, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, 0, 0,
                            LR_SHARED | LR_DEFAULTSIZE);
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  SetTitles(dialog);
  gSetup.iconPending = LoadIconW(module, MAKEINTRESOURCEW(IDI_PENDING));
  gSetup.iconCurrent = LoadIconW(module, MAKEINTRESOURCEW(IDI_CURRENT));
  gSetup.iconDone = LoadIconW(module, MAKEINTRESOURCEW(IDI_DONE));
  RefreshDialog(dialog);
  SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, RefreshTimerProc);
  StartDownloadProgress(dialog);
  ShowBanner(dialog);
  gSetup.firstShow = TRUE;
}

// Brings the dialog to the front once: a program started from a browser's download
// list would otherwise open behind it.
void BringToFrontOnce(HWND dialog) {
  if (!gSetup.firstShow) return;
  gSetup.firstShow = FALSE;
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void OnCommand(HWND dialog, WPARAM command) {
  switch (command) {
    case IDC_EXIT:
      EndDialog(dialog, kDialogClosed);
      return;
    case IDC_DOTNET_INSTALL:
    case IDC_LOCALDB_INSTALL:
      StartInstaller(command == IDC_DOTNET_INSTALL ? kDotNet : kLocalDb, !IsProcessElevated());
      // Show "installing" and disable the other buttons at once: a second click within
      // the refresh period would otherwise start both prerequisite installers together.
      GuardedRefresh(dialog);
      return;
    case IDC_PRODUCT_INSTALL:
      // Returns only when the installer could not be started.
      LaunchProductInstaller();
      GuardedRefresh(dialog);
      return;
    default:
      // Esc (IDCANCEL) and notifications other than a click do nothing, except that Esc
      // ends a run that goes on by itself.
      if (command == IDCANCEL && gSetup.runMode == RunMode::kPassive) {
        EndDialog(dialog, kDialogClosed);
      }
      return;
  }
}

}  // namespace

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(dialog);
      return TRUE;
    case WM_SHOWWINDOW:
      BringToFrontOnce(dialog);
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, kDialogClosed);
      return FALSE;
    case WM_DESTROY:
      StopDownloadProgress(dialog);
      return FALSE;
    case WM_COMMAND:
      OnCommand(dialog, wParam);
      return FALSE;
    default:
      return FALSE;
  }
}

void RefreshDialog(HWND dialog) {
  SetTitles(dialog);

  SetTextIfAny(dialog, IDC_DOTNET_VERSION, DescribeDotNet(ReadDotNetRelease()));
  const ComponentStatus s0 = ComponentStatusOf(kDotNet);
  SetStatusText(dialog, IDC_DOTNET_STATUS, kDotNetStepName, s0);

  SetTextIfAny(dialog, IDC_LOCALDB_VERSION, DescribeLocalDb(MaxLocalDbMajorVersion()));
  const ComponentStatus s1 = ComponentStatusOf(kLocalDb);
  HeapString localDbName = LocalDbPackageName(LocalDbPackageKind());
  SetStatusText(dialog, IDC_LOCALDB_STATUS, localDbName.get(), s1);

  SetTextIfAny(dialog, IDC_PRODUCT_VERSION, DescribeProduct());
  const ComponentStatus s2 = ComponentStatusOf(kProduct);
  HeapString productName = ProductStepName();
  SetStatusText(dialog, IDC_PRODUCT_STATUS, productName.get(), s2);

  const StepMarks marks = StepMarksFor(s0, s1, s2);
  for (int i = 0; i < kComponentCount; ++i) {
    SendDlgItemMessageW(dialog, kStepControls[i].icon, STM_SETICON,
                        reinterpret_cast<WPARAM>(MarkIcon(marks.step[i])), 0);
  }

  ButtonInputs inputs{};
  inputs.s0 = s0;
  inputs.s1 = s1;
  inputs.s2 = s2;
  inputs.dotNetRelease = ReadDotNetRelease();
  inputs.localDbMajor = MaxLocalDbMajorVersion();
  inputs.firstPieceNamed = IsFirstPieceNamed();
  const InstallButtons buttons = InstallButtonsFor(inputs);
  const bool enabled[kComponentCount] = {buttons.dotNet, buttons.localDb, buttons.product};
  for (int i = 0; i < kComponentCount; ++i) {
    EnableWindow(GetDlgItem(dialog, kStepControls[i].button), enabled[i]);
  }

  // The prerequisite installers ask for elevation; the application's installer runs as
  // the user and never shows a shield.
  if (!IsProcessElevated()) {
    SendDlgItemMessageW(dialog, IDC_DOTNET_INSTALL, BCM_SETSHIELD, 0, TRUE);
    SendDlgItemMessageW(dialog, IDC_LOCALDB_INSTALL, BCM_SETSHIELD, 0, TRUE);
  }

  HandOverInstanceMutex(dialog);
  if (gSetup.runMode == RunMode::kPassive) PressOnByItself(dialog, inputs);
}

void SetStatusText(HWND dialog, int controlId, const wchar_t* stepName, ComponentStatus status) {
  HeapString text = NewString(kStatusTextUnits);
  if (!text) return;
  wnsprintfW(text.get(), kStatusTextUnits, StatusFormat(status), stepName ? stepName : L"");
  SetDlgItemTextW(dialog, controlId, text.get());
}

void SetTitles(HWND dialog) {
  HeapString text = NewString(kTitleUnits);
  if (!text) return;
  const bool updateMode = gSetup.updateMode.load(std::memory_order_relaxed);
  // A "ProductNameShort" setting without a value leaves the short name absent.
  const wchar_t* shortName = gSetup.productNameShort.load(std::memory_order_acquire);
  if (!shortName) shortName = L"";
  wnsprintfW(text.get(), kTitleUnits, CaptionFormat(updateMode), shortName);
  SetWindowTextW(dialog, text.get());
  wnsprintfW(text.get(), kTitleUnits, ProductHeadingFormat(updateMode), shortName);
  SetDlgItemTextW(dialog, IDC_PRODUCT_HEADING, text.get());
}

HeapString ProductStepName() {
  const wchar_t* displayName = gSetup.productDisplayName.load(std::memory_order_acquire);
  return DuplicateString(displayName ? displayName
                                     : gSetup.productNameShort.load(std::memory_order_acquire));
}

bool IsProcessElevated() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return false;
  }
  return elevation.TokenIsElevated != 0;
}
