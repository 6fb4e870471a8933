#include "ui/download_progress.h"

#include <commctrl.h>
#include <shobjidl.h>

#include "state/setup_state.h"
#include "ui/progress_text.h"
#include "ui/resource.h"
#include "util/strings.h"

namespace {

constexpr UINT kMarqueeStepMs = 30;

struct StepControls {
  int bar;
  int text;
};

constexpr StepControls kControls[kComponentCount] = {
    {IDC_DOTNET_PROGRESS, IDC_DOTNET_PROGRESS_TEXT},
    {IDC_LOCALDB_PROGRESS, IDC_LOCALDB_PROGRESS_TEXT},
    {IDC_PRODUCT_PROGRESS, IDC_PRODUCT_PROGRESS_TEXT},
};

// What each step's controls show now (UI thread only), so a tick sends only changes.
// The handles are looked up once: each lookup is a round trip to the window server.
struct StepView {
  HWND barWindow = nullptr;
  HWND textWindow = nullptr;
  bool shown = false;
  bool marquee = false;
  bool paused = false;
  int pixel = -1;
  DWORD startTick = 0;
  RateWindow rate;
  wchar_t text[kProgressTextUnits] = {};
};

struct TaskbarView {
  Owner<ComTraits<ITaskbarList3>> list;
  TBPFLAG state = TBPF_NOPROGRESS;
  int position = -1;
};

StepView gSteps[kComponentCount];
TaskbarView gTaskbar;

int BarPosition(uint32_t received, uint32_t total) {
  if (!total) return 0;
  if (received >= total) return kProgressBarRange;
  return int(uint64_t(received) * kProgressBarRange / total);
}

// The filled width the bar would show for position, in pixels of its client width. The
// control repaints itself in full on every new position (about half a millisecond under
// Wine), so it is given a new position only when the fill grows or shrinks by a pixel.
int BarPixel(HWND bar, int position) {
  RECT client = {};
  GetClientRect(bar, &client);
  return MulDiv(position, client.right - client.left, kProgressBarRange);
}

void ShowStep(StepView& view, bool show) {
  if (view.shown == show) return;
  view.shown = show;
  const int command = show ? SW_SHOWNA : SW_HIDE;
  ShowWindow(view.barWindow, command);
  ShowWindow(view.textWindow, command);
}

// An unknown size shows a marquee: the bar moves without claiming a share.
void SetMarquee(HWND bar, StepView& view, bool marquee) {
  if (view.marquee == marquee) return;
  view.marquee = marquee;
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  SetWindowLongPtrW(bar, GWL_STYLE, marquee ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
  SendMessageW(bar, PBM_SETMARQUEE, marquee, kMarqueeStepMs);
  view.pixel = -1;
}

// Returns whether the step downloads now (or waits to try again, *waiting); received
// and total are what it published.
bool RefreshStep(ComponentId id, DWORD now, uint32_t* received, uint32_t* total, bool* waiting) {
  const TransferProgress& progress = gSetup.slots[id].progress;
  StepView& view = gSteps[id];
  if (!progress.active.load(std::memory_order_acquire)) {
    ShowStep(view, false);
    return false;
  }
  const DWORD startTick = progress.startTick.load(std::memory_order_relaxed);
  *total = progress.total.load(std::memory_order_relaxed);
  *received = progress.received.load(std::memory_order_relaxed);
  *waiting = progress.waiting.load(std::memory_order_acquire);
  if (startTick != view.startTick || *waiting) {
    view.startTick = startTick;
    view.rate = RateWindow();
  }
  if (!*waiting) AddTrySample(view.rate, now, *received, *total);

  // A wait shows the bytes held, paused, not a marquee that looks like work.
  SetMarquee(view.barWindow, view, *total == 0 && !*waiting);
  if (view.paused != *waiting) {
    view.paused = *waiting;
    SendMessageW(view.barWindow, PBM_SETSTATE, *waiting ? PBST_PAUSED : PBST_NORMAL, 0);
  }
  const int position = BarPosition(*received, *total);
  const int pixel = view.marquee ? view.pixel : BarPixel(view.barWindow, position);
  if (pixel != view.pixel) {
    view.pixel = pixel;
    SendMessageW(view.barWindow, PBM_SETPOS, position, 0);
  }
  wchar_t text[kProgressTextUnits];
  if (*waiting) {
    // Signed: the try may start a moment after its time.
    const auto left = LONG(progress.retryAtTick.load(std::memory_order_relaxed) - now);
    FormatRetryWaitText(left > 0 ? DWORD(left) : 0, text);
  } else {
    FormatProgressText(*received, *total, AverageRate(view.rate),
                       now - startTick >= kRateSettleMs, text);
  }
  if (lstrcmpW(text, view.text) != 0) {
    CopyString(view.text, text, kProgressTextUnits);
    SetWindowTextW(view.textWindow, text);
  }
  ShowStep(view, true);
  return true;
}

void SetTaskbar(HWND dialog, TBPFLAG state, int position) {
  if (!gTaskbar.list) return;
  if (state != gTaskbar.state) {
    gTaskbar.state = state;
    gTaskbar.position = -1;
    gTaskbar.list.get()->SetProgressState(dialog, state);
  }
  if (state != TBPF_NOPROGRESS && state != TBPF_INDETERMINATE && position != gTaskbar.position) {
    gTaskbar.position = position;
    gTaskbar.list.get()->SetProgressValue(dialog, ULONGLONG(position), kProgressBarRange);
  }
}

bool AnyDownloadFailed() {
  for (const ComponentSlot& slot : gSetup.slots) {
    if (slot.downloadFailed.load(std::memory_order_relaxed)) return true;
  }
  return false;
}

void CALLBACK ProgressTimerProc(HWND dialog, UINT, UINT_PTR, DWORD) {
  RefreshDownloadProgress(dialog);
}

}  // namespace

void RefreshDownloadProgress(HWND dialog) {
  const DWORD now = GetTickCount();
  bool downloading = false;
  bool waiting = false;
  uint32_t received = 0;
  uint32_t total = 0;
  for (ComponentId id = 0; id < kComponentCount; ++id) {
    uint32_t stepReceived = 0;
    uint32_t stepTotal = 0;
    bool stepWaiting = false;
    if (RefreshStep(id, now, &stepReceived, &stepTotal, &stepWaiting) && !downloading) {
      downloading = true;
      waiting = stepWaiting;
      received = stepReceived;
      total = stepTotal;
    }
  }
  if (downloading) {
    const TBPFLAG state = waiting ? TBPF_PAUSED : total ? TBPF_NORMAL : TBPF_INDETERMINATE;
    SetTaskbar(dialog, state, BarPosition(received, total));
  } else {
    // A failed download leaves the button red (full) until the next download starts.
    SetTaskbar(dialog, AnyDownloadFailed() ? TBPF_ERROR : TBPF_NOPROGRESS, kProgressBarRange);
  }
}

void StartDownloadProgress(HWND dialog) {
  for (ComponentId id = 0; id < kComponentCount; ++id) {
    gSteps[id].barWindow = GetDlgItem(dialog, kControls[id].bar);
    gSteps[id].textWindow = GetDlgItem(dialog, kControls[id].text);
    SendMessageW(gSteps[id].barWindow, PBM_SETRANGE32, 0, kProgressBarRange);
  }
  // Only Windows 7 and later know this interface; elsewhere the taskbar stays as it is.
  void* list = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, &list))) {
    gTaskbar.list.reset(static_cast<ITaskbarList3*>(list));
    if (FAILED(gTaskbar.list.get()->HrInit())) gTaskbar.list.reset();
  }
  RefreshDownloadProgress(dialog);
  SetTimer(dialog, kProgressTimerId, kProgressPeriodMs, ProgressTimerProc);
}

void StopDownloadProgress(HWND dialog) {
  KillTimer(dialog, kProgressTimerId);
  gTaskbar.list.reset();
}
