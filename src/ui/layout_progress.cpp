#include "ui/layout_progress.h"

#include <commctrl.h>
#include <shlwapi.h>

#include "ui/progress_text.h"
#include "util/strings.h"

namespace {

constexpr int kBarRange = 1000;

struct Window {
  LayoutProgress* progress;
  HANDLE done;
  bool finished = false;
  RateWindow rate;
};

void Refresh(HWND window, Window& state) {
  wchar_t file[MAX_PATH];
  AcquireSRWLockShared(&state.progress->lock);
  CopyString(file, state.progress->file, MAX_PATH);
  ReleaseSRWLockShared(&state.progress->lock);
  const TransferProgress& transfer = state.progress->transfer;
  const uint32_t received = transfer.received.load(std::memory_order_relaxed);
  const uint32_t total = transfer.total.load(std::memory_order_relaxed);
  const DWORD now = GetTickCount();
  AddTrySample(state.rate, now, received, total);
  const bool settled = now - transfer.startTick.load(std::memory_order_relaxed) >= kRateSettleMs;
  wchar_t bytes[kProgressTextUnits];
  FormatProgressText(received, total, AverageRate(state.rate), settled, bytes);
  // Until the first file is asked for, the update information is being fetched.
  wchar_t text[MAX_PATH + kProgressTextUnits + 4];
  if (file[0]) {
    wnsprintfW(text, ARRAYSIZE(text), L"%s\n%s", file, bytes);
  } else {
    CopyString(text, L"更新情報の問合せ中です", ARRAYSIZE(text));
  }
  SendMessageW(window, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, LPARAM(text));
  const int position = total ? int(uint64_t(received) * kBarRange / total) : 0;
  SendMessageW(window, TDM_SET_PROGRESS_BAR_POS, WPARAM(position), 0);
}

HRESULT CALLBACK Notify(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  Window& state = *reinterpret_cast<Window*>(data);
  switch (notification) {
    case TDN_CREATED:
      SendMessageW(window, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, kBarRange));
      Refresh(window, state);
      return S_OK;
    case TDN_TIMER:  // about five times a second
      if (WaitForSingleObject(state.done, 0) == WAIT_OBJECT_0) {
        state.finished = true;
        SendMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
      } else {
        Refresh(window, state);
      }
      return S_OK;
    default:
      return S_OK;
  }
}

}  // namespace

void SetLayoutFile(LayoutProgress& progress, const wchar_t* name) {
  AcquireSRWLockExclusive(&progress.lock);
  CopyString(progress.file, name ? name : L"", MAX_PATH);
  ReleaseSRWLockExclusive(&progress.lock);
}

bool ShowLayoutProgress(LayoutProgress& progress, HANDLE done) {
  Window state{&progress, done, false, {}};
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof(config);
  config.hInstance = GetModuleHandleW(nullptr);
  config.dwFlags = TDF_SHOW_PROGRESS_BAR | TDF_CALLBACK_TIMER | TDF_ALLOW_DIALOG_CANCELLATION |
                   TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = L"Velto インストール";
  config.pszMainInstruction = L"オフラインメディアを作成しています";
  config.pszContent = L" ";
  config.pfCallback = Notify;
  config.lpCallbackData = LONG_PTR(&state);
  int button = 0;
  // A window that cannot be shown leaves the layout to end by itself, as in a quiet run.
  if (FAILED(TaskDialogIndirect(&config, &button, nullptr, nullptr))) {
    WaitForSingleObject(done, INFINITE);
    return false;
  }
  return !state.finished;
}
