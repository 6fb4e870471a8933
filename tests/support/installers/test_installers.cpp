#include "support/installers/test_installers.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <vector>

#include "support/test_support.h"

namespace {

// Wine's first msiexec in a fresh prefix brings its services up and takes about 10 s.
constexpr DWORD kMsiexecLimitMs = 120000;

constexpr wchar_t kWineDllOverrides[] = L"Software\\Wine\\DllOverrides";

std::wstring InFolder(const wchar_t* name) { return std::wstring(kStandInFolder) + L"\\" + name; }

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// The system's msiexec. By its bare name, the program's own folder and the current folder
// come first, and a test plants decoys there to catch anyone who starts it that way.
std::wstring SystemMsiexec() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return L"\"" + std::wstring(folder) + L"\\msiexec.exe\"";
}

BOOL CALLBACK CloseIfOurDialog(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (process == GetCurrentProcessId() && std::wstring(className) == L"#32770") {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

DWORD WINAPI CloseShellErrorBoxes(void* stop) {
  while (WaitForSingleObject(stop, 50) == WAIT_TIMEOUT) EnumWindows(&CloseIfOurDialog, 0);
  return 0;
}

}  // namespace

std::wstring StandInDotNetInstaller() { return InFolder(L"standin_dotnet_installer.exe"); }
std::wstring StandInDotNetInstallerFailing() {
  return InFolder(L"standin_dotnet_installer_fails.exe");
}
std::wstring StandInDotNetInstallerRestart() {
  return InFolder(L"standin_dotnet_installer_restart.exe");
}
std::wstring StandInAppInstaller() { return InFolder(L"standin_app_installer.exe"); }
std::wstring StandInLocalDbPackage(const std::wstring& fileName) {
  return InFolder(fileName.c_str());
}

long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  CloseHandle(info.hThread);
  DWORD code = DWORD(-1);
  if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(info.hProcess, &code);
  } else {
    TerminateProcess(info.hProcess, 1);
  }
  CloseHandle(info.hProcess);
  return long(code);
}

void UndoStandInInstallations() {
  // Deleting the registry alone would leave Windows Installer believing a package is
  // installed, and the next msiexec /i of it would do nothing.
  for (const wchar_t* code : kStandInLocalDbProductCodes) {
    if (MsiQueryProductStateW(code) != INSTALLSTATE_DEFAULT) continue;
    const std::wstring uninstall = SystemMsiexec() + L" /x " + code + L" /qn";
    EXPECT_EQ(RunAndWait(uninstall, kMsiexecLimitMs), 0) << "uninstalling " << Narrow(code);
  }
  for (REGSAM view : {kView32, kView64}) {
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB", view);
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Microsoft SQL Server", view);
    DeleteRegValue(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", view);
  }
  DeleteRegTree(HKEY_CURRENT_USER, kStandInProductKey, kView64);
  // Wine's msiexec leaves the emptied folders of an uninstalled package behind.
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
    RemoveTree(KnownFolder(csidl) + L"\\Microsoft SQL Server");
  }
}

StandInHold::StandInHold() : event_(CreateEventW(nullptr, TRUE, FALSE, kStandInHoldEvent)) {
  EXPECT_NE(event_, nullptr) << "creating the hold event";
}

StandInHold::~StandInHold() {
  Release();
  if (event_) CloseHandle(event_);
}

void StandInHold::Release() {
  if (event_) SetEvent(event_);
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const std::wstring& value)
    : name_(name), hadOld_(false) {
  const DWORD units = GetEnvironmentVariableW(name, nullptr, 0);
  if (units > 0) {
    std::vector<wchar_t> old(units);
    hadOld_ = GetEnvironmentVariableW(name, old.data(), units) < units;
    if (hadOld_) old_ = old.data();
  }
  SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

namespace {

std::vector<std::wstring> ReadRecord(const std::wstring& recordPath) {
  const std::wstring text = Widen(ReadFileBytes(recordPath));
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
    std::wstring line = text.substr(start, end - start);
    line.erase(line.find_last_not_of(L' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::vector<std::wstring> RecordedCommandLines(const std::wstring& recordPath, size_t atLeast) {
  std::vector<std::wstring> lines = ReadRecord(recordPath);
  for (int i = 0; i < 200 && lines.size() < atLeast; ++i) {
    Sleep(50);
    lines = ReadRecord(recordPath);
  }
  return lines;
}

RefusedProgram::RefusedProgram(const wchar_t* program) : program_(program) {
  SetRegString(HKEY_CURRENT_USER, kWineDllOverrides, program, L"", 0);
}

RefusedProgram::~RefusedProgram() { Allow(program_.c_str()); }

void RefusedProgram::Allow(const wchar_t* program) {
  DeleteRegValue(HKEY_CURRENT_USER, kWineDllOverrides, program, 0);
}

ShellErrorBoxCloser::ShellErrorBoxCloser()
    : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, &CloseShellErrorBoxes, stop_, 0, nullptr)) {}

ShellErrorBoxCloser::~ShellErrorBoxCloser() {
  SetEvent(stop_);
  WaitForSingleObject(thread_, 5000);
  CloseHandle(thread_);
  CloseHandle(stop_);
}
