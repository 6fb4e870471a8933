// Stand-in for the .NET Framework 4.6.1 offline installer: registers release 394271 the
// way the real installer does, where a 32-bit program reads it, and exits. Built with
// VELTO_STANDIN_FAILS it exits without registering, like an installation that fails;
// built with VELTO_STANDIN_ASKS_RESTART it registers and exits with 3010, like an
// installation that needs a restart to finish.
#include "standin.h"
#include "standin_protocol.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RecordCommandLine(std::wstring());
  HoldWhileAsked();
#ifdef VELTO_STANDIN_FAILS
  return int(kStandInFailureExitCode);
#else
  // This stand-in is a 64-bit program; the setup program reads the 32-bit view.
  const bool registered = StoreRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release",
                                       kStandInDotNetRelease, KEY_WOW64_32KEY);
  if (!registered) return int(kStandInFailureExitCode);
#ifdef VELTO_STANDIN_ASKS_RESTART
  return int(kStandInRestartExitCode);
#else
  return 0;
#endif
#endif
}
