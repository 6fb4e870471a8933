// Helpers for tests that run against the real Win32 calls under Wine: registry fixture
// values in a chosen view, temporary folders, whole-file reads and writes, and the
// shared setup state put back to its initial values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "util/owners.h"

// Views for fixture values, as the 32-bit program sees them on 64-bit Windows.
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// Fixture writers; each fails the running test when the registry refuses.
void SetRegDword(HKEY root, const std::wstring& subkey, const wchar_t* name, uint32_t value,
                 REGSAM view);
void SetRegString(HKEY root, const std::wstring& subkey, const wchar_t* name,
                  const std::wstring& value, REGSAM view);
// Stores raw bytes under the given type (for values without NUL, odd sizes, and so on).
void SetRegBytes(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type,
                 const void* data, DWORD size, REGSAM view);
void DeleteRegValue(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view);
// Deletes the key with everything below it; a missing key is fine.
void DeleteRegTree(HKEY root, const std::wstring& subkey, REGSAM view);

// A fresh empty folder under the temporary folder, deleted with its contents on scope exit.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Deletes a file or a folder tree; missing is fine.
void RemoveTree(const std::wstring& path);
bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The whole file; an empty string when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// Size of a file without opening it (a download holds its partial file unshared); -1
// when absent.
long long FileSizeOf(const std::wstring& path);
// count bytes of a repeatable pseudo-random sequence chosen by seed.
std::string RandomBytes(size_t count, unsigned seed);

// The text of a HeapString, or "<null>" for a null one (for comparisons in tests).
std::wstring Text(const HeapString& text);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// The folder of the running test program and its Assets folder.
std::wstring ProgramFolder();
std::wstring AssetsFolderPath();
// The profile's work folder (profile\QRN\VeltoUpdater) and its parent QRN folder.
std::wstring ProfileFolder();
std::wstring QrnFolderPath();
std::wstring WorkFolderPath();

// Puts the shared setup state back to its initial values (a fresh process would see),
// closing any handles it holds, with stateLock initialised. A running worker thread is
// stopped first (stop event set, bounded wait).
void ResetSetupState();
