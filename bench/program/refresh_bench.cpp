// The cost of one refresh pass of the setup dialog: RefreshDialog on the real dialog
// (template 102 with the program's resources), in the state of a first start: nothing
// installed, no installer in the Assets or work folder, the update information loaded
// with two pieces that are not there yet. Every pass then reads the registry afresh
// (12 key lookups: the .NET release three times and its 4.0 fallback twice, the LocalDB
// versions three times, the application's registration four times), looks for 6 files
// and queries the token.
//
// Also the progress tick (every 250 ms while a download runs): RefreshDownloadProgress
// with one step downloading and its bytes moving on at every pass, at two rates; its
// goal is at most 0.5 ms.
//
// References measured in the same run, on the same dialog:
//   - 12 bare registry reads (open, query, close of a value that exists);
//   - a trivial update: the 6 texts, 3 icons and 3 buttons set to fixed values.
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "worker/setup_init.h"
#include "state/setup_state.h"
#include "ui/dialog_state.h"
#include "ui/download_progress.h"
#include "ui/resource.h"
#include "ui/setup_dialog.h"
#include "bench_clock.h"

namespace {

constexpr int kWarmUpPasses = 20;
constexpr int kPasses = 400;
constexpr int kRegistryReadsPerPass = 12;

double NowUs() { return SecondsNow() * 1e6; }

// Lets the dialog paint what the last pass changed, outside the measured time.
void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

struct Figures {
  double medianUs;
  double meanUs;
};

template <typename Pass>
Figures Measure(Pass pass) {
  for (int i = 0; i < kWarmUpPasses; ++i) {
    pass();
    Pump();
  }
  std::vector<double> samples;
  for (int i = 0; i < kPasses; ++i) {
    const double start = NowUs();
    pass();
    samples.push_back(NowUs() - start);
    Pump();
  }
  double sum = 0;
  for (double sample : samples) sum += sample;
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], sum / double(samples.size())};
}

void BareRegistryReads() {
  for (int i = 0; i < kRegistryReadsPerPass; ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
      continue;
    }
    wchar_t value[64] = {};
    DWORD size = sizeof(value);
    RegQueryValueExW(key, L"CurrentBuildNumber", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
  }
}

void TrivialUpdate(HWND dialog) {
  for (int id : {IDC_DOTNET_VERSION, IDC_DOTNET_STATUS, IDC_LOCALDB_VERSION, IDC_LOCALDB_STATUS,
                 IDC_PRODUCT_VERSION, IDC_PRODUCT_STATUS}) {
    SetDlgItemTextW(dialog, id, L"インストールされておりません");
  }
  for (int id : {IDC_DOTNET_ICON, IDC_LOCALDB_ICON, IDC_PRODUCT_ICON}) {
    SendDlgItemMessageW(dialog, id, STM_SETICON, reinterpret_cast<WPARAM>(gDialog.iconPending), 0);
  }
  for (int id : {IDC_DOTNET_INSTALL, IDC_LOCALDB_INSTALL, IDC_PRODUCT_INSTALL}) {
    EnableWindow(GetDlgItem(dialog, id), FALSE);
  }
}

void Print(const char* label, const Figures& figures) {
  std::printf("  %-36s median %8.1f us  mean %8.1f us\n", label, figures.medianUs,
              figures.meanUs);
}

}  // namespace

int wmain() {
  // A first start: run-bench empties the work folder first (no installer anywhere,
  // nothing downloaded yet).
  ULONG_PTR gdiplusToken = 0;
  const Gdiplus::GdiplusStartupInput gdiplusInput;
  Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
  FillSetupSlots();
  lstrcpynW(gSetup.componentFiles[0], L"BenchInstall", kComponentFileUnits);
  lstrcpynW(gSetup.componentFiles[1], L"BenchData", kComponentFileUnits);
  gSetup.productVersionCode.store(320, std::memory_order_relaxed);
  gSetup.phase.store(kPhaseReady, std::memory_order_release);

  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP), nullptr,
                                   SetupDialogProc, 0);
  if (!dialog) {
    std::printf("the setup dialog could not be created\n");
    return 1;
  }
  // Only the measured passes refresh.
  KillTimer(dialog, kRefreshTimerId);
  KillTimer(dialog, kProgressTimerId);
  ShowWindow(dialog, SW_SHOW);
  Pump();

  const Figures refresh = Measure([dialog] { RefreshDialog(dialog); });
  const Figures reads = Measure(BareRegistryReads);
  const Figures trivial = Measure([dialog] { TrivialUpdate(dialog); });
  // Two links downloading the 65 MiB .NET installer, one tick per pass: 2 MiB/s fills
  // about a pixel of the bar per tick and changes the text each time (the worst case);
  // 150 KiB/s changes the text on most ticks and the bar on every tenth or so.
  TransferProgress& progress = gSetup.slots[kDotNet].progress;
  const auto tickAt = [dialog, &progress](uint32_t bytesPerTick) {
    progress.startTick.store(GetTickCount() - 5000, std::memory_order_relaxed);
    progress.total.store(65 << 20, std::memory_order_relaxed);
    progress.received.store(0, std::memory_order_relaxed);
    progress.active.store(true, std::memory_order_release);
    uint32_t received = 0;
    return Measure([dialog, &progress, &received, bytesPerTick] {
      received = (received + bytesPerTick) % (65 << 20);
      progress.received.store(received, std::memory_order_relaxed);
      RefreshDownloadProgress(dialog);
    });
  };
  const Figures fastTick = tickAt(512 << 10);
  const Figures slowTick = tickAt(37 << 10);
  progress.active.store(false, std::memory_order_release);
  std::printf("refresh pass of the setup dialog (%d passes, first-start state):\n", kPasses);
  Print("RefreshDialog", refresh);
  Print("12 bare registry reads (reference)", reads);
  Print("trivial dialog update (reference)", trivial);
  std::printf("  RefreshDialog = %.1f x 12 bare registry reads, %.1f x a trivial update; "
              "at one pass a second it takes %.2f%% of the UI thread\n",
              refresh.medianUs / reads.medianUs, refresh.medianUs / trivial.medianUs,
              refresh.meanUs / 1e4);
  Print("progress tick at 2 MiB/s", fastTick);
  Print("progress tick at 150 KiB/s", slowTick);
  std::printf("  progress tick = %.2f x a trivial update at 2 MiB/s, %.2f x at 150 KiB/s; mean "
              "%.3f ms and %.3f ms of its 0.5 ms budget; at four ticks a second it takes "
              "%.2f%% of the UI thread\n",
              fastTick.medianUs / trivial.medianUs, slowTick.medianUs / trivial.medianUs,
              fastTick.meanUs / 1000, slowTick.meanUs / 1000, fastTick.meanUs * 4 / 1e4);

  DestroyWindow(dialog);
  Gdiplus::GdiplusShutdown(gdiplusToken);
  return 0;
}
