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
CriticalSection gLogLock;
UniqueFile gLogFile;
DWORD gUiThread = 0;
uint32_t gWritten = 0;
bool gFull = false;

bool EndsWithLog(const wchar_t* path, int32_t length) {
  const int32_t suffix = TextLength(kLogSuffix);
  return length >= suffix && lstrcmpiW(path + length - suffix, kLogSuffix) == 0;
}

// Appends bytes unless the log is full; the line that would pass the events' limit is
// replaced by one that says the log stops here. Lines of the run's end go on into the
// room kept for them. Called under the lock.
void AppendBytes(const char* bytes, uint32_t count, bool end) {
  if (!gLogFile) return;
  static const char kFullLine[] = "(the log has reached its size limit; later events are not logged)\r\n";
  constexpr uint32_t kEventLimit = kLogLimitBytes - kLogEndReserveBytes;
  if (end) {
    if (gWritten + count > kLogLimitBytes) return;
  } else if (gFull) {
    return;
  } else if (gWritten + count > kEventLimit - (sizeof(kFullLine) - 1)) {
    gFull = true;
    bytes = kFullLine;
    count = sizeof(kFullLine) - 1;
  }
  DWORD written = 0;
  if (WriteFile(gLogFile.get(), bytes, count, &written, nullptr)) gWritten += written;
}

// What lies at a log place before this run writes there.
enum class Occupant { kNone, kOurs, kBusy, kForeign };

// A line this program wrote starts "2026-12-08 14:03:07.125 ui     " or "... worker ".
bool IsOurLogStart(const char* bytes, DWORD count) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd ";
  constexpr DWORD kShapeBytes = sizeof(kShape) - 1;
  if (count < kShapeBytes + 7) return false;
  for (DWORD i = 0; i < kShapeBytes; ++i) {
    const bool digit = bytes[i] >= '0' && bytes[i] <= '9';
    if (kShape[i] == 'd' ? !digit : bytes[i] != kShape[i]) return false;
  }
  return StrCmpNA(bytes + kShapeBytes, "ui     ", 7) == 0 ||
         StrCmpNA(bytes + kShapeBytes, "worker ", 7) == 0;
}

Occupant OccupantOf(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Occupant::kNone;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return Occupant::kForeign;
  }
  // Shared for reading only: the open fails while anybody holds the file for writing,
  // as the run that logs there does.
  UniqueFile probe(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? Occupant::kBusy : Occupant::kForeign;
  }
  char start[32];
  DWORD read = 0;
  if (!ReadFile(probe.get(), start, sizeof(start), &read, nullptr)) return Occupant::kForeign;
  // An empty file holds nothing to lose (an administrator may make one beforehand).
  return read == 0 || IsOurLogStart(start, read) ? Occupant::kOurs : Occupant::kForeign;
}

// Append-only access: every write lands at the end, also when another setup program
// has added a line meanwhile. Shared for reading (support may look at it live) and for
// writing (a refused second program adds its line).
UniqueFile OpenForAppending(const wchar_t* path, DWORD disposition) {
  return UniqueFile(CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

HeapString gLogPath;

bool Adopt(UniqueFile file, HeapString path) {
  if (!file) return false;
  gUiThread = GetCurrentThreadId();
  gWritten = 0;
  gFull = false;
  gLogPath = std::move(path);
  const LockGuard hold(gLogLock);
  gLogFile = std::move(file);
  return true;
}

void WriteLine(const wchar_t* text, bool end) {
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
  const LockGuard hold(gLogLock);
  AppendBytes(utf8, uint32_t(bytes), end);
}

}  // namespace

const wchar_t* LogFileName(const wchar_t* path) { return path ? PathFindFileNameW(path) : L"?"; }

HeapString PreviousLogPath(const wchar_t* path) {
  if (!path) return HeapString();
  const int32_t length = TextLength(path);
  if (!EndsWithLog(path, length)) return ConcatString(path, L".1");
  HeapString stem = DuplicateString(path);
  if (!stem) return stem;
  stem.get()[length - TextLength(kLogSuffix)] = L'\0';
  return ConcatString(stem.get(), kPreviousSuffix);
}

HeapString BesideLogPath(const wchar_t* path, uint32_t processId) {
  if (!path) return HeapString();
  wchar_t id[16];
  wnsprintfW(id, 16, L".%u", processId);
  const int32_t length = TextLength(path);
  if (!EndsWithLog(path, length)) return ConcatString(path, id);
  HeapString stem = DuplicateString(path);
  if (!stem) return stem;
  stem.get()[length - TextLength(kLogSuffix)] = L'\0';
  HeapString named = ConcatString(stem.get(), id);
  if (!named) return named;
  return ConcatString(named.get(), kLogSuffix);
}

bool AppendToSetupLog(const wchar_t* path) {
  if (!path || gLogFile) return false;
  return Adopt(OpenForAppending(path, OPEN_ALWAYS), DuplicateString(path));
}

bool OpenSetupLog(const wchar_t* path) {
  if (!path || gLogFile) return false;
  const Occupant occupant = OccupantOf(path);
  if (occupant == Occupant::kOurs) {
    HeapString previous = PreviousLogPath(path);
    if (previous) MoveFileExW(path, previous.get(), MOVEFILE_REPLACE_EXISTING);
  }
  if (occupant == Occupant::kNone || occupant == Occupant::kOurs) {
    // Made new: a file that appeared meanwhile, or one that did not move, stays as it is.
    if (Adopt(OpenForAppending(path, CREATE_NEW), DuplicateString(path))) return true;
  }
  HeapString beside = BesideLogPath(path, GetCurrentProcessId());
  if (!beside) return false;
  UniqueFile file = OpenForAppending(beside.get(), CREATE_ALWAYS);
  return Adopt(std::move(file), std::move(beside));
}

const wchar_t* SetupLogPath() { return gLogFile ? gLogPath.get() : nullptr; }

void CloseSetupLog(const wchar_t* closingLine) {
  if (!gLogFile) return;
  if (closingLine) WriteLine(closingLine, true);
  const LockGuard hold(gLogLock);
  gLogFile.reset();
}

namespace {

void LogFormatted(bool end, const wchar_t* format, va_list arguments) {
  if (!gLogFile || !format) return;
  wchar_t text[kLogLineUnits];
  wvnsprintfW(text, kLogLineUnits, format, arguments);
  text[kLogLineUnits - 1] = L'\0';
  // Line ends inside an event (a server's text, say) would forge the next line's start.
  for (wchar_t* unit = text; *unit; ++unit) {
    if (*unit == L'\r' || *unit == L'\n') *unit = L' ';
  }
  WriteLine(text, end);
}

}  // namespace

void LogEvent(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogFormatted(false, format, arguments);
  va_end(arguments);
}

void LogEndEvent(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogFormatted(true, format, arguments);
  va_end(arguments);
}
