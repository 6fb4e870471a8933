#include "detect/registry.h"

#include "util/strings.h"

namespace {

constexpr DWORD kInitialStringBytes = 64;
constexpr DWORD kInitialNameUnits = 32;
// Registry key names are at most 255 characters; the bound only guards the growth loop.
constexpr DWORD kMaxNameUnits = 32768;

UniqueRegKey OpenKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, subkey, 0, access, key.put()) != ERROR_SUCCESS) key.release();
  return key;
}

}  // namespace

// The shipped program is 32-bit and runs on 64-bit Windows; the x86_64 test build stands
// in for it under 64-bit Wine. So that tests exercise the shipped behaviour, that build
// answers as the 32-bit program does under WOW64: IsWow64 is true, a read in the default
// view sees the 32-bit view (KEY_WOW64_32KEY), a read in the 64-bit view passes
// KEY_WOW64_64KEY. This is the only place that knows the difference.
REGSAM RegistryViewFlag(bool build64Bit, bool wow64, bool want64BitView) {
  if (build64Bit) return want64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  return want64BitView && wow64 ? KEY_WOW64_64KEY : 0;
}

#if defined(_WIN64)
bool IsWow64() { return true; }
#else
bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Looked up at every call: the lookup is cheap, and a function-local static would pull
  // the C++ runtime's guard and exception support into the program.
  const IsWow64ProcessFn isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
  if (!isWow64Process) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}
#endif

REGSAM RegistryAccess(REGSAM rights, bool want64BitView) {
  return rights | RegistryViewFlag(sizeof(void*) == 8, IsWow64(), want64BitView);
}

int32_t ReadRegDword(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                     int32_t defaultValue, bool want64BitView) {
  UniqueRegKey key = OpenKey(root, subkey, RegistryAccess(KEY_QUERY_VALUE, want64BitView));
  if (!key) return defaultValue;
  uint32_t value = 0;
  DWORD size = sizeof(value);
  if (RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS) {
    return defaultValue;
  }
  return int32_t(value);
}

HeapString ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                         bool want64BitView) {
  UniqueRegKey key = OpenKey(root, subkey, RegistryAccess(KEY_QUERY_VALUE, want64BitView));
  if (!key) return HeapString();
  DWORD bytes = kInitialStringBytes;
  // One spare zero unit beyond the size passed keeps a value stored without its NUL
  // terminated.
  HeapString buffer = NewString(int32_t(bytes / sizeof(wchar_t)) + 1);
  while (buffer) {
    const LSTATUS status = RegQueryValueExW(key.get(), valueName, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(buffer.get()), &bytes);
    if (status == ERROR_SUCCESS) return buffer;
    if (status != ERROR_MORE_DATA) return HeapString();
    const int64_t units = (int64_t(bytes) + 1) / 2;
    if (units == 0 || units >= INT32_MAX) return HeapString();
    buffer = NewString(int32_t(units) + 1);
  }
  return buffer;
}

HeapString EnumLocalDbVersion(uint32_t index) {
  UniqueRegKey key =
      OpenKey(HKEY_LOCAL_MACHINE, kLocalDbInstalledVersionsKey, RegistryAccess(KEY_ENUMERATE_SUB_KEYS, false));
  if (!key) return HeapString();
  DWORD capacity = kInitialNameUnits;
  HeapString name = NewString(int32_t(capacity));
  while (name) {
    DWORD count = capacity;
    const LSTATUS status =
        RegEnumKeyExW(key.get(), index, name.get(), &count, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) return name;
    if (status != ERROR_MORE_DATA) return HeapString();
    // Some systems report the needed length, others (Wine) leave the capacity as it was;
    // the buffer grows in both cases so that the loop always makes progress.
    const DWORD next = count > capacity ? count + 1 : capacity * 2;
    if (next > kMaxNameUnits) return HeapString();
    capacity = next;
    name = NewString(int32_t(capacity));
  }
  return name;
}
