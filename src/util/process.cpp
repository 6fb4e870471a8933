#include "util/process.h"

#include "util/platform_sizes.h"

UniqueHandle StartCommandLine(wchar_t* commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return UniqueHandle();
  }
  UniqueHandle thread(info.hThread);
  return UniqueHandle(info.hProcess);
}

bool RunCommandLine(wchar_t* commandLine) { return bool(StartCommandLine(commandLine)); }
