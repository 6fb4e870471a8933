// Stand-in for the .NET Framework 4.6.1 offline installer: registers release 394271 the
// way the real installer does (in both registry views), and exits. Built with
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
  // On 64-bit Windows the real installer registers the release in both registry views; the
  // 32-bit setup program reads its own (the 32-bit one).
  for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
    if (!StoreRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", kStandInDotNetRelease,
                       view)) {
      return int(kStandInFailureExitCode);
    }
  }
#ifdef VELTO_STANDIN_ASKS_RESTART
  return int(kStandInRestartExitCode);
#else
  return 0;
#endif
#endif
}
