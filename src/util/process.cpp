#include "util/process.h"

#include "util/platform_sizes.h"
#include "util/setup_log.h"

UniqueHandle StartCommandLine(wchar_t* commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Logged before the call, which may change the text.
  LogEvent(L"starting %s", commandLine);
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    LogEvent(L"the start failed (error %u)", GetLastError());
    return UniqueHandle();
  }
  UniqueHandle thread(info.hThread);
  LogEvent(L"started: process id %u", info.dwProcessId);
  return UniqueHandle(info.hProcess);
}

bool RunCommandLine(wchar_t* commandLine) { return bool(StartCommandLine(commandLine)); }
