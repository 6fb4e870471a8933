#include "util/paths.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "util/strings.h"

namespace {

constexpr int32_t kInitialModulePathUnits = MAX_PATH;

// Joins folder and name and, when asked, creates the result as a folder if missing.
HeapString WorkFolderLevel(const wchar_t* folder, const wchar_t* name, bool createFolders) {
  HeapString level = JoinPath(folder, name);
  if (level && createFolders && !PathFileExistsW(level.get())) {
    CreateDirectoryW(level.get(), nullptr);
  }
  return level;
}

}  // namespace

HeapString ModulePath(HMODULE module) {
  for (int32_t size = kInitialModulePathUnits;;) {
    HeapString buffer = NewString(size);
    if (!buffer) return buffer;
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(module, buffer.get(), DWORD(size));
    // A zero length (failure) is retried with a larger buffer like a truncation.
    if (length != 0 && length != DWORD(size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return buffer;
    }
    if (size >= INT32_MAX / 2) return HeapString();
    size *= 2;
  }
}

HeapString AssetsPath(const wchar_t* name) {
  HeapString module = ModulePath(nullptr);
  HeapString folder = ParentFolder(module.get());
  HeapString assets = JoinPath(folder.get(), L"Assets");
  return JoinPath(assets.get(), name);
}

HeapString WorkPath(const wchar_t* name, bool createFolders) {
  HeapString profile = NewString(MAX_PATH);
  if (!profile) return profile;
  // An unknown profile leaves the text empty; JoinPath then starts the work folder at the
  // root of the current drive.
  SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile.get());
  HeapString qrn = WorkFolderLevel(profile.get(), L"QRN\\", createFolders);
  HeapString work = WorkFolderLevel(qrn.get(), L"VeltoUpdater\\", createFolders);
  return JoinPath(work.get(), name);
}

HeapString WithoutProfileFolder(const wchar_t* text) {
  if (!text) return HeapString();
  wchar_t profile[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile);
  const int32_t profileUnits = TextLength(profile);
  constexpr wchar_t kMask[] = L"%USERPROFILE%";
  constexpr int32_t kMaskUnits = ARRAYSIZE(kMask) - 1;
  // The mask may be longer than the folder it replaces ("C:\u"): room for the worst case.
  const int32_t units = TextLength(text) + 1;
  HeapString masked = NewString(profileUnits > 0 ? units + (units / profileUnits + 1) * kMaskUnits
                                                 : units);
  if (!masked) return masked;
  wchar_t* out = masked.get();
  for (const wchar_t* p = text; *p;) {
    if (profileUnits > 2 && StrCmpNIW(p, profile, profileUnits) == 0) {
      CopyString(out, kMask, kMaskUnits + 1);
      out += kMaskUnits;
      p += profileUnits;
    } else {
      *out++ = *p++;
    }
  }
  *out = L'\0';
  return masked;
}

HeapString HeldFilePath(HANDLE file) {
  if (!file || file == INVALID_HANDLE_VALUE) return HeapString();
  const DWORD units = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  if (units == 0 || units >= DWORD(INT32_MAX / 2)) return HeapString();
  HeapString path = NewString(int32_t(units) + 1);
  if (!path) return path;
  const DWORD written =
      GetFinalPathNameByHandleW(file, path.get(), units + 1, FILE_NAME_NORMALIZED);
  if (written == 0 || written > units) return HeapString();
  // Installers and msiexec do not all take "\\?\" paths; a UNC path keeps its "\\". A
  // path too long for the plain form keeps the prefix.
  const wchar_t* text = path.get();
  if (TextLength(text) >= MAX_PATH) return path;
  if (StrCmpNW(text, L"\\\\?\\UNC\\", 8) == 0) return ConcatString(L"\\\\", text + 8);
  if (StrCmpNW(text, L"\\\\?\\", 4) == 0) return DuplicateString(text + 4);
  return path;
}
