#include "support/test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <random>
#include <vector>

#include "catalog/update_info.h"
#include "state/setup_state.h"
#include "ui/dialog_state.h"

namespace {

HKEY CreateKey(HKEY root, const std::wstring& subkey, REGSAM view) {
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << "creating " << Narrow(subkey);
  return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

void SetRegBytes(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type,
                 const void* data, DWORD size, REGSAM view) {
  HKEY key = CreateKey(root, subkey, view);
  if (!key) return;
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetRegDword(HKEY root, const std::wstring& subkey, const wchar_t* name, uint32_t value,
                 REGSAM view) {
  SetRegBytes(root, subkey, name, REG_DWORD, &value, sizeof(value), view);
}

void SetRegString(HKEY root, const std::wstring& subkey, const wchar_t* name,
                  const std::wstring& value, REGSAM view) {
  SetRegBytes(root, subkey, name, REG_SZ, value.c_str(),
              DWORD((value.size() + 1) * sizeof(wchar_t)), view);
}

void DeleteRegValue(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name);
  RegCloseKey(key);
}

void DeleteRegTree(HKEY root, const std::wstring& subkey, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  RegDeleteKeyExW(root, subkey.c_str(), view, 0);
}

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::wstring candidate = std::wstring(base) + L"vt" + std::to_wstring(GetCurrentProcessId()) +
                             L"_" + std::to_wstring(++counter);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  ADD_FAILURE() << "no temporary folder could be created";
}

TempFolder::~TempFolder() {
  if (!path_.empty()) RemoveTree(path_);
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "creating " << Narrow(path);
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok && written == bytes.size()) << "writing " << Narrow(path);
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  std::vector<char> chunk(1 << 16);
  DWORD got = 0;
  while (ReadFile(file, chunk.data(), DWORD(chunk.size()), &got, nullptr) && got > 0) {
    bytes.append(chunk.data(), got);
  }
  CloseHandle(file);
  return bytes;
}

long long FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = char(random() & 0xFF);
  return bytes;
}

std::wstring Text(const HeapString& text) { return text ? std::wstring(text.get()) : L"<null>"; }

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring text(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), units);
  return text;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring AssetsFolderPath() { return ProgramFolder() + L"\\Assets"; }

std::wstring ProfileFolder() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::wstring QrnFolderPath() { return ProfileFolder() + L"\\QRN"; }

std::wstring WorkFolderPath() { return QrnFolderPath() + L"\\VeltoUpdater"; }

void ResetSetupState() {
  // A worker thread left by the test ends first: it writes the state being reset.
  if (gSetup.workerThread) {
    if (gSetup.stopEvent) SetEvent(gSetup.stopEvent.get());
    if (WaitForSingleObject(gSetup.workerThread.get(), 30000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the worker thread did not end within 30 s";
      TerminateThread(gSetup.workerThread.get(), 0);
    }
  }
  gSetup.phase.store(kPhasePreparing);
  gSetup.productVersionCode.store(-1);
  gSetup.requestedDownload.store(kNoRequest);
  gSetup.productNameShort.store(kBuiltInShortName);
  gSetup.productDisplayName.store(nullptr);
  gSetup.updateMode.store(false);
  gSetup.localAssetsMode.store(false);
  gSetup.runEnded.store(false);
  gSetup.runEndCode = 0;
  gSetup.selfUpdateFailed = false;
  gSetup.runMode = RunMode::kInteractive;
  gDialog.refreshBusy = false;
  gDialog.firstShow = FALSE;
  gDialog.iconDone = gDialog.iconCurrent = gDialog.iconPending = nullptr;
  gSetup.instanceMutex.reset();
  gSetup.stopEvent.reset();
  gSetup.workerThread.reset();
  for (ComponentSlot& slot : gSetup.slots) {
    slot.process.reset();
    slot.heldInstaller.reset();
    slot.mediumCopyRefused = false;
    slot.installedAtStart.store(false);
    slot.installing = false;
    slot.installFailed = false;
    slot.installerExitCode = 0;
    slot.downloadFailed.store(false);
    slot.remoteName = nullptr;
    slot.localName = nullptr;
  }
  for (auto& entry : gSetup.componentFiles) entry[0] = L'\0';
  for (bool& refused : gSetup.componentRefused) refused = false;
  ForgetScannedInfo();
  for (FilePin& pin : gSetup.componentPins) pin = FilePin();
  for (FilePin& pin : gSetup.installerPins) pin = FilePin();
  gSetup.updateKeys = nullptr;
  gSetup.updateKeyCount = 0;
  gSetup.updateKeysPresent = false;
}
