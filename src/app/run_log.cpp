#include "app/run_log.h"

#include <windows.h>

#include "detect/registry.h"
#include "state/setup_state.h"
#include "ui/setup_dialog.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

#if defined(_WIN64)
constexpr wchar_t kBuild[] = L"x86_64";
#else
constexpr wchar_t kBuild[] = L"i686";
#endif

// The version Windows really has: GetVersionExW answers what the manifest names at most.
RTL_OSVERSIONINFOW WindowsVersion() {
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "RtlGetVersion")));
  if (rtlGetVersion) rtlGetVersion(&version);
  return version;
}

HeapString LogPathFor(const CommandLineOptions& options) {
  return options.logPath ? DuplicateString(options.logPath.get())
                         : WorkPath(kSetupLogName, true);
}

}  // namespace

void OpenRunLog(const CommandLineOptions& options) {
  HeapString path = LogPathFor(options);
  OpenSetupLog(path.get());
  const RTL_OSVERSIONINFOW windows = WindowsVersion();
  LogEvent(L"Velto Setup revision %d (%s build)", kSetupRevision, kBuild);
  LogEvent(L"Windows %u.%u build %u, WOW64 %s, elevated %s", windows.dwMajorVersion,
           windows.dwMinorVersion, windows.dwBuildNumber, IsWow64() ? L"yes" : L"no",
           IsProcessElevated() ? L"yes" : L"no");
  LogEvent(L"command line: %s", GetCommandLineW());
}

void LogSecondInstanceRefusal() {
  const CommandLineOptions options = ParseCommandLine(GetCommandLineW());
  HeapString path = LogPathFor(options);
  if (!AppendToSetupLog(path.get())) return;
  LogEvent(L"a second setup program was refused (another one runs): %s", GetCommandLineW());
  CloseSetupLog(nullptr);
}
