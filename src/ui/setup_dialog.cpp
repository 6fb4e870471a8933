#include "ui/setup_dialog.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <utility>

#include "state/setup_state.h"
#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/product.h"
#include "ui/banner.h"
#include "ui/dialog_rules.h"
#include "ui/dialog_scale.h"
#include "ui/dialog_state.h"
#include "ui/download_progress.h"
#include "ui/passive_run.h"
#include "ui/product_launch.h"
#include "ui/resource.h"
#include "ui/step_inputs.h"
#include "catalog/self_update.h"
#include "util/platform_sizes.h"
#include "util/process.h"
#include "util/strings.h"

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

SetupDialogState gDialog;

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
      return gDialog.iconDone;
    case StepMark::kCurrent:
      return gDialog.iconCurrent;
    default:
      return gDialog.iconPending;
  }
}

// What a screen reader says for a step's mark: the marks are pictures, drawn by the
// dialog, and their controls' texts name them.
const wchar_t* MarkName(StepMark mark) {
  switch (mark) {
    case StepMark::kDone:
      return L"完了";
    case StepMark::kCurrent:
      return L"現在の手順";
    default:
      return L"未着手";
  }
}

// The marks shown now (UI thread only), so a refresh renames and redraws only changes.
StepMark gShownMarks[kComponentCount];
bool gMarksShown = false;

void ShowMarks(HWND dialog, const StepMarks& marks) {
  for (int i = 0; i < kComponentCount; ++i) {
    if (gMarksShown && gShownMarks[i] == marks.step[i]) continue;
    gShownMarks[i] = marks.step[i];
    // A static repaints itself when its text changes.
    SetDlgItemTextW(dialog, kStepControls[i].icon, MarkName(marks.step[i]));
  }
  gMarksShown = true;
}

// The marks' size in pixels at the dialog's scale.
int gMarkPixels = 32;

void DrawMark(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  for (int i = 0; i < kComponentCount; ++i) {
    if (int(item.CtlID) != kStepControls[i].icon || !gMarksShown) continue;
    const RECT& box = item.rcItem;
    DrawIconEx(item.hDC, box.left + (box.right - box.left - gMarkPixels) / 2,
               box.top + (box.bottom - box.top - gMarkPixels) / 2, MarkIcon(gShownMarks[i]),
               gMarkPixels, gMarkPixels, 0, nullptr, DI_NORMAL);
  }
}

// A passive run waits for the newer setup program, whose own dialog takes this one's
// place: this one goes before the instance mutex is let go of.
void HandOverInstanceMutex(HWND dialog) {
  if (gSetup.runMode == RunMode::kPassive &&
      gSetup.phase.load(std::memory_order_acquire) == kPhaseAwaitingMutex) {
    ShowWindow(dialog, SW_HIDE);
  }
  ::HandOverInstanceMutex();
}

// A timer tick that arrives while a refresh still runs is dropped, not queued.
void GuardedRefresh(HWND dialog) {
  if (gDialog.refreshBusy) return;
  gDialog.refreshBusy = true;
  RefreshDialog(dialog);
  gDialog.refreshBusy = false;
}

void CALLBACK RefreshTimerProc(HWND dialog, UINT, UINT_PTR, DWORD) { GuardedRefresh(dialog); }

// An icon of the executable at size x size pixels, owned by the caller (DestroyIcon).
HICON LoadSizedIcon(int id, int size) {
  return static_cast<HICON>(
      LoadImageW(ExecutableModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

void ReplaceIcon(HICON& slot, HICON icon) {
  if (slot) DestroyIcon(slot);
  slot = icon;
}

// The banner drawn for the size its control has now. The control hands back the image it
// had, and keeps a copy of one with alpha instead of the one it was given: what it does
// not hold is ours to delete.
void SetBannerImage(HWND dialog, HBITMAP image) {
  HWND control = GetDlgItem(dialog, IDC_BANNER);
  auto old = reinterpret_cast<HGDIOBJ>(
      SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
  if (old && old != image) DeleteObject(old);
  if (image &&
      reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0)) != image) {
    DeleteObject(image);
  }
}

// Everything that does not follow the dialog units by itself, made for dpi: the window's
// icons, the step marks and the banner.
void ApplyScale(HWND dialog, UINT dpi) {
  const HICON small = LoadSizedIcon(IDI_SETUP, ScaledPixels(16, dpi));
  const HICON large = LoadSizedIcon(IDI_SETUP, ScaledPixels(32, dpi));
  for (const auto& [which, icon] : {std::pair{ICON_SMALL, small}, std::pair{ICON_BIG, large}}) {
    auto old = reinterpret_cast<HICON>(
        SendMessageW(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon)));
    if (old && old != icon) DestroyIcon(old);
  }

  // As large as the scale asks for, but never larger than the marks' place.
  RECT place = {};
  GetClientRect(GetDlgItem(dialog, IDC_DOTNET_ICON), &place);
  gMarkPixels = ScaledPixels(32, dpi);
  if (place.right > 0 && place.bottom > 0) {
    gMarkPixels = std::min(gMarkPixels, int(std::min(place.right, place.bottom)));
  }
  ReplaceIcon(gDialog.iconPending, LoadSizedIcon(IDI_PENDING, gMarkPixels));
  ReplaceIcon(gDialog.iconCurrent, LoadSizedIcon(IDI_CURRENT, gMarkPixels));
  ReplaceIcon(gDialog.iconDone, LoadSizedIcon(IDI_DONE, gMarkPixels));
  for (const StepControls& step : kStepControls) {
    InvalidateRect(GetDlgItem(dialog, step.icon), nullptr, FALSE);
  }

  RECT banner = {};
  GetClientRect(GetDlgItem(dialog, IDC_BANNER), &banner);
  UniqueGdiObject image = DrawBanner(banner.right, banner.bottom);
  SetBannerImage(dialog, static_cast<HBITMAP>(image.release()));
}

// Lays the dialog out for dpi and makes what depends on it.
void Rescale(HWND dialog, UINT dpi, const RECT* suggested) {
  LayOutForDpi(dialog, IDD_SETUP, dpi, suggested);
  ApplyScale(dialog, dpi);
}

// Windows 10 1703 and later lay a per-monitor dialog out again by themselves when its
// scale changes; this dialog does it itself, the same way on every version.
void TakeOverScaleChanges(HWND dialog) {
  using Function = BOOL(WINAPI*)(HWND, int, int);
  constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
  auto disable = reinterpret_cast<Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
  if (disable) disable(dialog, kDisableAll, kDisableAll);
}

void ReleaseScaledImages(HWND dialog) {
  SetBannerImage(dialog, nullptr);
  ReplaceIcon(gDialog.iconPending, nullptr);
  ReplaceIcon(gDialog.iconCurrent, nullptr);
  ReplaceIcon(gDialog.iconDone, nullptr);
  gMarksShown = false;
}

void InitDialog(HWND dialog) {
  TakeOverScaleChanges(dialog);
  SetTitles(dialog);
  Rescale(dialog, WindowDpi(dialog), nullptr);
  RefreshDialog(dialog);
  SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, RefreshTimerProc);
  StartDownloadProgress(dialog);
  gDialog.firstShow = TRUE;
}

// Brings the dialog to the front once: a program started from a browser's download
// list would otherwise open behind it.
void BringToFrontOnce(HWND dialog) {
  if (!gDialog.firstShow) return;
  gDialog.firstShow = FALSE;
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
      // Once the installer runs, the refresh ends the dialog (and the process ends).
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

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
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
      ReleaseScaledImages(dialog);
      return FALSE;
    case WM_DPICHANGED:
      Rescale(dialog, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_GETDPISCALEDSIZE: {
      auto* size = reinterpret_cast<SIZE*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, WindowSizeForDpi(dialog, IDD_SETUP, UINT(wParam), size));
      return TRUE;
    }
    case WM_DRAWITEM:
      DrawMark(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, wParam);
      return FALSE;
    default:
      return FALSE;
  }
}

void RefreshDialog(HWND dialog) {
  // The worker has ended the run (a self-update): the process entry ends the process.
  if (gSetup.runEnded.load(std::memory_order_acquire)) {
    EndDialog(dialog, kDialogClosed);
    return;
  }
  SetTitles(dialog);

  const ButtonInputs inputs = GatherStepInputs();
  SetTextIfAny(dialog, IDC_DOTNET_VERSION, DescribeDotNet(inputs.dotNetRelease));
  SetStatusText(dialog, IDC_DOTNET_STATUS, kDotNetStepName, inputs.s0);

  SetTextIfAny(dialog, IDC_LOCALDB_VERSION, DescribeLocalDb(inputs.localDbMajor));
  HeapString localDbName = LocalDbPackageName(LocalDbPackageKind());
  SetStatusText(dialog, IDC_LOCALDB_STATUS, localDbName.get(), inputs.s1);

  SetTextIfAny(dialog, IDC_PRODUCT_VERSION, DescribeProduct());
  HeapString productName = ProductStepName();
  SetStatusText(dialog, IDC_PRODUCT_STATUS, productName.get(), inputs.s2);

  ShowMarks(dialog, StepMarksFor(inputs.s0, inputs.s1, inputs.s2));

  const InstallButtons buttons = InstallButtonsFor(inputs);
  const bool enabled[kComponentCount] = {buttons.dotNet, buttons.localDb, buttons.product};
  for (int i = 0; i < kComponentCount; ++i) {
    HWND button = GetDlgItem(dialog, kStepControls[i].button);
    // The keyboard would be lost with the focus on a disabled button: it moves on first.
    if (!enabled[i] && GetFocus() == button) SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(button, enabled[i]);
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

void ShowSelfUpdateFailure() {
  if (gSetup.runMode == RunMode::kQuiet) return;
  MessageBoxW(nullptr, L"更新セットアッププログラムの取得に失敗しました", kErrorTitle,
              MB_OK | MB_ICONERROR);
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

