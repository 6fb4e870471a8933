// What the stand-in installers and the tests that run them agree on.
//
// Every stand-in first appends its raw command line (GetCommandLineW, UTF-8, one line
// ending in CR LF) to the file named by kStandInRecordVariable, when that variable is
// set; the application stand-in records beside itself ("<its path>.cmdline") otherwise.
// Then, while an event named kStandInHoldEvent exists and is not signalled, it waits
// (at most kStandInHoldLimitMs), so a test can watch an installer that is still running.
// Started processes inherit the environment, so a test sets the variables on itself.
#pragma once

inline constexpr wchar_t kStandInRecordVariable[] = L"VELTO_STANDIN_RECORD";
inline constexpr wchar_t kStandInHoldEvent[] = L"Local\\VeltoStandInHold";
inline constexpr unsigned kStandInHoldLimitMs = 60000;

// The release the .NET Framework stand-in registers (4.6.1), under HKLM
// kStandInDotNetKey "Release" in both views, as the real installer does on 64-bit Windows.
inline constexpr unsigned kStandInDotNetRelease = 394271;
inline constexpr wchar_t kStandInDotNetKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
// Exit code of the variant that fails (the real installer's codes are not consulted).
inline constexpr unsigned kStandInFailureExitCode = 1603;
// Exit code of the variant that installs and asks for a restart.
inline constexpr unsigned kStandInRestartExitCode = 3010;

// The application stand-in registers under HKCU kStandInProductKey: "Installed" 1,
// "Version" (kStandInVersionVariable, else kStandInDefaultVersion) and "VersionCode"
// (kStandInVersionCodeVariable, else the code of the last section header "0,<code>,..."
// of the update information named after its /i or /m switch, else 0).
inline constexpr wchar_t kStandInProductKey[] = L"Software\\Qirana\\Velto3rd";
inline constexpr wchar_t kStandInVersionVariable[] = L"VELTO_STANDIN_VERSION";
inline constexpr wchar_t kStandInVersionCodeVariable[] = L"VELTO_STANDIN_VERSION_CODE";
inline constexpr wchar_t kStandInDefaultVersion[] = L"3.1.0";
