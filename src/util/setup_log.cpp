#include "util/setup_log.h"

#include <shlwapi.h>

#include <cstdarg>
#include <utility>

#include "util/strings.h"

namespace {

constexpr wchar_t kLogSuffix[] = L".log";
constexpr wchar_t kPreviousSuffix[] = L".1.log";
// Time (23) + blank + thread (6) + blank, then the text; room to spare, as wnsprintfW
// reports a result that fills its buffer exactly as a failure.
constexpr int32_t kPrefixUnits = 40;
constexpr int32_t kUtf8Capacity = (kLogLineUnits + kPrefixUnits + 2) * 3;

// The lock exists for the whole process (a static initialised on first use would need a
// guard; a plain flag set once before the worker starts does not).
CRITICAL_SECTION gLogLock;
bool gLockReady = false;
UniqueFile gLogFile;
DWORD gUiThread = 0;
uint32_t gWritten = 0;
bool gFull = false;

bool EndsWithLog(const wchar_t* path, int32_t length) {
  const int32_t suffix = TextLength(kLogSuffix);
  return length >= suffix && lstrcmpiW(path + length - suffix, kLogSuffix) == 0;
}

// Appends bytes unless the log is full; the line that would pass the limit is replaced
// by one that says the log stops here. Called under the lock.
void AppendBytes(const char* bytes, uint32_t count) {
  if (!gLogFile || gFull) return;
  static const char kFullLine[] = "(the log has reached its size limit; later events are not logged)\r\n";
  if (gWritten + count > kLogLimitBytes - (sizeof(kFullLine) - 1)) {
    gFull = true;
    bytes = kFullLine;
    count = sizeof(kFullLine) - 1;
  }
  DWORD written = 0;
  if (WriteFile(gLogFile.get(), bytes, count, &written, nullptr)) gWritten += written;
}

void WriteLine(const wchar_t* text) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[kLogLineUnits + kPrefixUnits + 2];
  wnsprintfW(line, kPrefixUnits, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %-6s ",
                                    now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                    now.wSecond, now.wMilliseconds,
                                    GetCurrentThreadId() == gUiThread ? L"ui" : L"worker");
  const int32_t prefix = TextLength(line);
  CopyString(line + prefix, text, kLogLineUnits);
  const int32_t length = TextLength(line);
  line[length] = L'\r';
  line[length + 1] = L'\n';
  char utf8[kUtf8Capacity];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length + 2, utf8, kUtf8Capacity,
                                        nullptr, nullptr);
  if (bytes <= 0) return;
  EnterCriticalSection(&gLogLock);
  AppendBytes(utf8, uint32_t(bytes));
  LeaveCriticalSection(&gLogLock);
}

}  // namespace

HeapString PreviousLogPath(const wchar_t* path) {
  if (!path) return HeapString();
  const int32_t length = TextLength(path);
  if (!EndsWithLog(path, length)) return ConcatString(path, L".1");
  HeapString stem = DuplicateString(path);
  if (!stem) return stem;
  stem.get()[length - TextLength(kLogSuffix)] = L'\0';
  return ConcatString(stem.get(), kPreviousSuffix);
}

bool AppendToSetupLog(const wchar_t* path) {
  if (!gLockReady) {
    InitializeCriticalSection(&gLogLock);
    gLockReady = true;
  }
  if (!path || gLogFile) return false;
  // Append-only access: every write lands at the end, also when another setup program
  // has added a line meanwhile. Shared for reading (support may look at it live) and
  // for writing (a refused second program adds its line).
  UniqueFile file(CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  gUiThread = GetCurrentThreadId();
  gWritten = 0;
  gFull = false;
  EnterCriticalSection(&gLogLock);
  gLogFile = std::move(file);
  LeaveCriticalSection(&gLogLock);
  return true;
}

bool OpenSetupLog(const wchar_t* path) {
  if (!path || gLogFile) return false;
  HeapString previous = PreviousLogPath(path);
  if (previous && PathFileExistsW(path)) {
    MoveFileExW(path, previous.get(), MOVEFILE_REPLACE_EXISTING);
  }
  // Emptied first (should the old one not have moved), then written at its end only.
  UniqueFile empty(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!empty) return false;
  empty.reset();
  return AppendToSetupLog(path);
}

void CloseSetupLog(const wchar_t* closingLine) {
  if (!gLockReady || !gLogFile) return;
  if (closingLine) WriteLine(closingLine);
  EnterCriticalSection(&gLogLock);
  gLogFile.reset();
  LeaveCriticalSection(&gLogLock);
}

void LogEvent(const wchar_t* format, ...) {
  if (!gLockReady || !gLogFile || !format) return;
  wchar_t text[kLogLineUnits];
  va_list arguments;
  va_start(arguments, format);
  wvnsprintfW(text, kLogLineUnits, format, arguments);
  va_end(arguments);
  text[kLogLineUnits - 1] = L'\0';
  // Line ends inside an event (a server's text, say) would forge the next line's start.
  for (wchar_t* unit = text; *unit; ++unit) {
    if (*unit == L'\r' || *unit == L'\n') *unit = L' ';
  }
  WriteLine(text);
}
