#include "app/run_log.h"

#include <windows.h>

#include <shlwapi.h>

#include "detect/dotnet.h"
#include "detect/product.h"
#include "detect/registry.h"
#include "state/setup_state.h"
#include "util/process.h"
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

// "/log C:\Logs" names a folder (or a place ending in '\' that is to be one): the log
// goes into it under its usual name, and the folder is never moved aside.
HeapString LogPathFor(const CommandLineOptions& options) {
  if (!options.logPath) return WorkPath(kSetupLogName, true);
  const wchar_t* path = options.logPath.get();
  const int32_t length = TextLength(path);
  const bool folderNamed = length > 0 && path[length - 1] == L'\\';
  if (folderNamed) CreateDirectoryW(path, nullptr);
  if (!folderNamed && !PathIsDirectoryW(path)) return DuplicateString(path);
  return JoinPath(path, kSetupLogName);
}

void LogIgnoredArgument(const wchar_t* argument) {
  LogEvent(L"ignored (not a switch of this program): %s", argument);
}

// "+09:00": the log's times are local, and a shared log folder gathers PCs of many zones.
void LogUtcOffset() {
  TIME_ZONE_INFORMATION zone;
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  const LONG east = -bias;
  const LONG minutes = east < 0 ? -east : east;
  LogEvent(L"local time is UTC%s%02d:%02d", east < 0 ? L"-" : L"+", int(minutes / 60),
           int(minutes % 60));
}

// What this PC has at the start, so that a log alone tells why a step was or was not done.
void LogDetected() {
  wchar_t versions[128] = L"";
  for (uint32_t i = 0; i < 8; ++i) {
    HeapString version = EnumLocalDbVersion(i);
    if (!version) break;
    const int32_t used = TextLength(versions);
    wnsprintfW(versions + used, int(ARRAYSIZE(versions)) - used, used ? L", %s" : L"%s",
               version.get());
  }
  HeapString product = ReadRegString(HKEY_CURRENT_USER, kProductRegistryKey, L"Version", true);
  LogEvent(L"detected: .NET Framework release %u; LocalDB versions: %s; application %s",
           ReadDotNetRelease(), versions[0] ? versions : L"none",
           IsProductInstalled() && product ? product.get() : L"not installed");
}

}  // namespace

void OpenRunLog(const CommandLineOptions& options) {
  HeapString path = LogPathFor(options);
  OpenSetupLog(path.get());
  const RTL_OSVERSIONINFOW windows = WindowsVersion();
  LogEvent(L"Velto Setup revision %d (%s build)", kSetupRevision, kBuild);
  HeapString module = ModulePath(nullptr);
  HeapString program = WithoutProfileFolder(module.get());
  LogEvent(L"program: %s", program ? program.get() : L"(unknown)");
  LogUtcOffset();
  LogEvent(L"Windows %u.%u build %u, WOW64 %s, elevated %s", windows.dwMajorVersion,
           windows.dwMinorVersion, windows.dwBuildNumber, IsWow64() ? L"yes" : L"no",
           IsProcessElevated() ? L"yes" : L"no");
  HeapString commandLine = WithoutProfileFolder(GetCommandLineW());
  LogEvent(L"command line: %s", commandLine ? commandLine.get() : L"(unknown)");
  ParseCommandLine(GetCommandLineW(), LogIgnoredArgument);
  LogDetected();
}

void LogSecondInstanceRefusal() {
  const CommandLineOptions options = ParseCommandLine(GetCommandLineW());
  HeapString path = LogPathFor(options);
  if (!AppendToSetupLog(path.get())) return;
  HeapString commandLine = WithoutProfileFolder(GetCommandLineW());
  LogEvent(L"a second setup program was refused (another one runs): %s",
           commandLine ? commandLine.get() : L"(unknown)");
  CloseSetupLog(nullptr);
}
