#include "util/process.h"

#include <shlwapi.h>

#include "util/platform_sizes.h"
#include "util/setup_log.h"
#include "util/strings.h"

bool IsProcessElevated() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return false;
  }
  return elevation.TokenIsElevated != 0;
}

namespace {

// The command line with every quoted path cut to its file name: the paths hold the
// user's profile folder, which the log (sent to support) should not carry.
HeapString CommandLineForLog(const wchar_t* commandLine) {
  if (!commandLine) return HeapString();
  const int32_t units = TextLength(commandLine) + 1;
  HeapString text = NewString(units);
  if (!text) return text;
  wchar_t* out = text.get();
  for (const wchar_t* p = commandLine; *p;) {
    const wchar_t* close = *p == L'"' ? StrChrW(p + 1, L'"') : nullptr;
    if (!close) {
      *out++ = *p++;
      continue;
    }
    const wchar_t* name = close;
    while (name > p + 1 && name[-1] != L'\\' && name[-1] != L'/') --name;
    *out++ = L'"';
    for (const wchar_t* q = name; q < close; ++q) *out++ = *q;
    *out++ = L'"';
    p = close + 1;
  }
  *out = L'\0';
  return text;
}

}  // namespace

UniqueHandle StartCommandLine(wchar_t* commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Logged before the call, which may change the text.
  HeapString logged = CommandLineForLog(commandLine);
  LogEvent(L"starting %s", logged ? logged.get() : L"a program");
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
