// Benchmarks of the running setup program, each against the minimal dialog program
// (minimal_dialog.cpp) measured the same way in the same run under the same Wine:
//   - start to first refresh: from CreateProcess to the shown dialog whose installed
//     .NET line has been written (the first refresh runs before the dialog shows);
//   - closing during a download: the update server trickles the .NET installer; the
//     "終了" button is clicked while the partial file grows, until the process is gone.
//
//   program_bench serve     the update server offers an update list and a .NET
//                           installer, and Proxy.ini routes the program to it
//   program_bench run <VeltoSetup.exe> <minimal_dialog.exe>
//   program_bench clean     removes Proxy.ini and the work folder
// VELTO_TEST_SERVERS names the folder of the update server (update/port, update/root).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_support.h"
#include "ui/resource.h"

namespace {

constexpr int kStartRuns = 10;
constexpr int kCloseRuns = 5;
constexpr DWORD kShowLimitMs = 20000;
constexpr DWORD kEndLimitMs = 10000;
constexpr DWORD kSettleMs = 3000;
constexpr DWORD kDownloadLimitMs = 20000;
// The .NET installer on the server: far more than a run can fetch at the trickle.
constexpr size_t kInstallerBytes = 16u << 20;
constexpr char kTrickle[] = "trickle=4096:100";
constexpr wchar_t kTemplateText[] = L"インストール済みの.NET Framework 4.Xのバージョン";
constexpr wchar_t kMinimalTemplateText[] = L"template text";

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return double(value.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) * 1e3 / frequency;
}

struct Program {
  std::wstring path;
  std::wstring templateText;  // text of control 1003 before the first refresh
};

struct Found {
  DWORD processId;
  HWND dialog;
};

BOOL CALLBACK FindShownDialog(HWND window, LPARAM context) {
  auto* found = reinterpret_cast<Found*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (owner != found->processId || !IsWindowVisible(window) || lstrcmpW(className, L"#32770")) {
    return TRUE;
  }
  found->dialog = window;
  return FALSE;
}

// Polls every millisecond (the driver's 50 ms would blur the figure) for the shown
// dialog whose control 1003 no longer holds its template text.
HWND WaitForFirstRefresh(const LaunchedProcess& process, const Program& program) {
  const double deadline = NowMs() + kShowLimitMs;
  while (NowMs() < deadline) {
    Found found{process.id(), nullptr};
    EnumWindows(FindShownDialog, reinterpret_cast<LPARAM>(&found));
    if (found.dialog && ControlText(found.dialog, IDC_DOTNET_VERSION) != program.templateText) {
      return found.dialog;
    }
    if (process.WaitForExit(0) != -1) return nullptr;
    Sleep(1);
  }
  return nullptr;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

bool Close(LaunchedProcess& process, HWND dialog) {
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  if (process.WaitForExit(kEndLimitMs) != -1) return true;
  process.Kill();
  return false;
}

// Milliseconds from CreateProcess to the first refresh; negative on failure.
double StartToFirstRefresh(const Program& program) {
  const double start = NowMs();
  LaunchedProcess process = Launch(L"\"" + program.path + L"\"");
  HWND dialog = process ? WaitForFirstRefresh(process, program) : nullptr;
  const double elapsed = NowMs() - start;
  if (!dialog) {
    process.Kill();
    return -1;
  }
  return Close(process, dialog) ? elapsed : -1;
}

unsigned long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Milliseconds from the click on "終了" to the end of the process while the .NET installer
// trickles in; negative when no download got going or the process did not end.
double CloseDuringDownload(const Program& setup) {
  RemoveTree(WorkFolderPath());
  const std::wstring partial = WorkFolderPath() + L"\\ndp461.upd.FilePart";
  LaunchedProcess process = Launch(L"\"" + setup.path + L"\"");
  HWND dialog = process ? WaitForFirstRefresh(process, setup) : nullptr;
  const double deadline = NowMs() + kDownloadLimitMs;
  while (dialog && FileSize(partial) == 0 && NowMs() < deadline) Sleep(20);
  if (!dialog || FileSize(partial) == 0) {
    process.Kill();
    return -1;
  }
  // Well inside the transfer: reads are now waiting on the trickle.
  Sleep(300);
  const double start = NowMs();
  ClickButton(dialog, IDC_EXIT);
  const bool ended = process.WaitForExit(kEndLimitMs) != -1;
  const double elapsed = NowMs() - start;
  if (!ended) process.Kill();
  return ended ? elapsed : -1;
}

double CloseMinimal(const Program& minimal) {
  LaunchedProcess process = Launch(L"\"" + minimal.path + L"\"");
  HWND dialog = process ? WaitForFirstRefresh(process, minimal) : nullptr;
  if (!dialog) {
    process.Kill();
    return -1;
  }
  Sleep(300);
  const double start = NowMs();
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  const bool ended = process.WaitForExit(kEndLimitMs) != -1;
  return ended ? NowMs() - start : -1;
}

template <typename Run>
std::vector<double> Repeat(int count, Run run, bool* failed) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) {
    const double value = run();
    if (value < 0) *failed = true;
    else values.push_back(value);
  }
  return values;
}

void ServeUpdateList() {
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"vtupdaterlist.upd"),
                 "\xEF\xBB\xBF" "0,100,1,1.0.0,20200101_0000,Bench\r\n1,BenchInstall\r\n");
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"ndp461.upd"), std::string(kInstallerBytes, 'x'));
  ClearFault(L"ndp461.upd");
}

int Run(const std::wstring& setupPath, const std::wstring& minimalPath) {
  const Program setup{setupPath, kTemplateText};
  const Program minimal{minimalPath, kMinimalTemplateText};
  // Without a window manager Wine waits 2 s for one when a framed window closes; Windows
  // does not, so the programs started here do without it.
  SetRegString(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed", L"N", 0);
  RemoveTree(WorkFolderPath());
  bool failed = false;

  // Alternating, so that both see the same machine load.
  std::vector<double> setupStarts;
  std::vector<double> minimalStarts;
  for (int i = 0; i < kStartRuns; ++i) {
    for (auto [program, samples] : {std::pair{&setup, &setupStarts}, {&minimal, &minimalStarts}}) {
      const double value = StartToFirstRefresh(*program);
      if (value < 0) failed = true;
      else samples->push_back(value);
    }
  }
  const double setupStart = Median(setupStarts);
  const double minimalStart = Median(minimalStarts);
  std::printf("start to first refresh (median of %d): VeltoSetup %.1f ms, minimal dialog "
              "%.1f ms: %.2f x\n",
              kStartRuns, setupStart, minimalStart, setupStart / minimalStart);

  SetFault(L"ndp461.upd", kTrickle);
  const std::vector<double> closes =
      Repeat(kCloseRuns, [&] { return CloseDuringDownload(setup); }, &failed);
  const std::vector<double> minimalCloses =
      Repeat(kCloseRuns, [&] { return CloseMinimal(minimal); }, &failed);
  ClearFault(L"ndp461.upd");
  const double close = Median(closes);
  const double minimalClose = Median(minimalCloses);
  const double longest = closes.empty() ? 0 : *std::max_element(closes.begin(), closes.end());
  std::printf("close during a download (%s) to the end of the process (median of %d, "
              "longest %.1f ms): VeltoSetup %.1f ms, minimal dialog %.1f ms: %.2f x\n",
              kTrickle, kCloseRuns, longest, close, minimalClose, close / minimalClose);
  if (failed) std::printf("some runs failed: their figures are left out\n");
  return failed ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!TestServersAvailable()) {
    std::printf("VELTO_TEST_SERVERS is not set\n");
    return 2;
  }
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"serve" && argc == 2) {
    RouteThroughUpdateServer();
    ServeUpdateList();
    RemoveTree(WorkFolderPath());
    return 0;
  }
  if (mode == L"run" && argc == 4) return Run(argv[2], argv[3]);
  if (mode == L"clean" && argc == 2) {
    RemoveTree(WorkFolderPath());
    RemoveProxyIni();
    return 0;
  }
  std::printf("usage: program_bench serve | run <VeltoSetup.exe> <minimal_dialog.exe> | clean\n");
  return 2;
}
