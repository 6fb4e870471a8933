// Stand-in for a newer setup program. Like the real one it takes the single-instance
// mutex first (named by VELTO_SETUP_MUTEX here) and gives up at once when another
// process still holds it; otherwise it records its command line (standin_protocol.h),
// runs for VELTO_STANDIN_HOLD_MS and ends with VELTO_STANDIN_EXIT_CODE (0 when unset).
#include <windows.h>

#include <cstdlib>

#include "support/installers/standin.h"

int wmain() {
  const std::wstring mutexName = EnvironmentValue(L"VELTO_SETUP_MUTEX");
  HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.empty() ? nullptr : mutexName.c_str());
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
  RecordCommandLine(std::wstring());
  CloseHandle(mutex);
  // A program that runs a while: one that started it and must wait for it cannot end
  // with this code unless it did wait.
  const std::wstring hold = EnvironmentValue(L"VELTO_STANDIN_HOLD_MS");
  if (!hold.empty()) Sleep(DWORD(_wtoi(hold.c_str())));
  // The code the setup program that started it must pass on.
  const std::wstring code = EnvironmentValue(L"VELTO_STANDIN_EXIT_CODE");
  return code.empty() ? 0 : _wtoi(code.c_str());
}
