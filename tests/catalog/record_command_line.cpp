// Stand-in for a newer setup program: records the command line it was started with, and
// whether the single-instance mutex named in VELTO_RECORD_MUTEX was still held by
// someone when it started, into the file named in VELTO_RECORD_FILE (UTF-8, two lines).
#include <windows.h>

#include <string>

int wmain() {
  wchar_t recordPath[MAX_PATH] = {};
  wchar_t mutexName[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"VELTO_RECORD_FILE", recordPath, MAX_PATH)) return 2;
  bool held = false;
  if (GetEnvironmentVariableW(L"VELTO_RECORD_MUTEX", mutexName, MAX_PATH)) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName);
    held = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
    if (mutex) CloseHandle(mutex);
  }
  const std::wstring record = std::wstring(GetCommandLineW()) + L"\n" + (held ? L"held" : L"free") + L"\n";
  char bytes[4096];
  const int length = WideCharToMultiByte(CP_UTF8, 0, record.c_str(), int(record.size()), bytes,
                                         sizeof(bytes), nullptr, nullptr);
  // Written under a temporary name and moved into place, so a reader never sees half.
  const std::wstring partial = std::wstring(recordPath) + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, bytes, DWORD(length), &written, nullptr);
  CloseHandle(file);
  return MoveFileExW(partial.c_str(), recordPath, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
