// The stand-in installers for tests that start installers (see standin_protocol.h for
// what each one does), and the means to undo what they install between tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_paths.h"
#include "support/installers/standin_protocol.h"

// Full paths of the built stand-ins.
std::wstring StandInDotNetInstaller();         // registers release 394271, exits 0
std::wstring StandInDotNetInstallerFailing();  // registers nothing, exits 1603
std::wstring StandInDotNetInstallerRestart();  // registers release 394271, exits 3010
std::wstring StandInAppInstaller();            // records its command line, registers Velto
// A stand-in LocalDB package by its file name: ldb2014sp3x86.msi, ldb2014sp3x64.msi or
// ldb2017rtmx64.msi.
std::wstring StandInLocalDbPackage(const std::wstring& fileName);

// Undoes every stand-in installation: uninstalls the LocalDB packages that Windows
// Installer knows as installed (msiexec /x, waited for), then deletes what is left of
// LocalDB, the .NET Framework release and the application's registration in both views.
// Call it before and after a test that installs.
void UndoStandInInstallations();

// Runs a command line and waits for it (at most timeoutMs); its exit code, or -1 when it
// could not be started or did not end in time.
long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs);

// The command lines a record file holds, one per start, trailing blanks cut; once there
// are atLeast of them (a stand-in may still be starting: at most 10 s), or at once.
std::vector<std::wstring> RecordedCommandLines(const std::wstring& recordPath,
                                               size_t atLeast = 0);

// While it lives, stand-ins started meanwhile wait before they install; Release() (or
// the end of the scope) lets them go on.
class StandInHold {
 public:
  StandInHold();
  ~StandInHold();
  StandInHold(const StandInHold&) = delete;
  StandInHold& operator=(const StandInHold&) = delete;
  void Release();

 private:
  HANDLE event_;
};

// Sets an environment variable of this process (inherited by what it starts) for the
// life of the scope; the earlier value comes back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::wstring old_;
  bool hadOld_;
};

// Wine runs everything elevated and starts "RunAs" like the default verb, so an
// elevation prompt cannot be refused. While this lives, Wine refuses to run the named
// program (an empty HKCU "Software\Wine\DllOverrides" entry), which gives what a
// refusal gives: ShellExecuteExW starts nothing. (The WINEDLLOVERRIDES variable works
// only when set before Wine starts, not from inside a Windows process.)
class RefusedProgram {
 public:
  explicit RefusedProgram(const wchar_t* program);  // a file name such as L"msiexec.exe"
  ~RefusedProgram();
  RefusedProgram(const RefusedProgram&) = delete;
  RefusedProgram& operator=(const RefusedProgram&) = delete;
  // Lets the program run again (also what a crashed test left refused).
  static void Allow(const wchar_t* program);

 private:
  std::wstring program_;
};

// The shell reports a start that fails (missing or damaged program) in a message box of
// its own, which Wine shows too when it has a display and which would block a test.
// While this lives, such boxes of this process are closed as soon as they show.
class ShellErrorBoxCloser {
 public:
  ShellErrorBoxCloser();
  ~ShellErrorBoxCloser();
  ShellErrorBoxCloser(const ShellErrorBoxCloser&) = delete;
  ShellErrorBoxCloser& operator=(const ShellErrorBoxCloser&) = delete;

 private:
  HANDLE stop_;
  HANDLE thread_;
};
