// Process entry of VeltoSetup.exe. The process ends with exit code 0 on every path of the
// interactive mode; the unattended modes end with the code their run computed.
#include <windows.h>

#include "app/run_log.h"
#include "app/setup_run.h"
#include "state/command_line.h"
#include "state/setup_state.h"
#include "ui/banner.h"
#include "ui/next_step.h"

namespace {

// The running instance's log gets one line appended; it is neither rotated nor replaced.
[[noreturn]] void RefuseSecondInstance() {
  LogSecondInstanceRefusal();
  const RunMode mode = ParseCommandLine(GetCommandLineW()).mode;
  // Without a window nobody would dismiss the box.
  if (mode == RunMode::kQuiet) ExitProcess(kExitAlreadyRunning);
  MessageBoxW(nullptr, L"セットアッププログラムは既に起動しています", kErrorTitle,
              MB_ICONERROR | MB_OK);
  ExitProcess(mode == RunMode::kInteractive ? 0 : kExitAlreadyRunning);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  gSetup.instanceMutex.reset(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) gSetup.instanceMutex.reset();
  // Refused as well when the mutex could not be made at all.
  if (!gSetup.instanceMutex) RefuseSecondInstance();

  int32_t exitCode = 0;
  {
    const ComApartment apartment;
    const GdiplusSession gdiplus;
    // Once signalled the event stays set: whichever wait sees it first (the download loop
    // or the worker's request loop), the others see it too and the worker ends promptly.
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    exitCode = RunSetup();
    gSetup.stopEvent.reset();
  }
  // Already closed when a newer setup program took over.
  gSetup.instanceMutex.reset();
  ExitProcess(UINT(exitCode));
}
