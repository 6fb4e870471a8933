// The demo's application installer (the first piece of the demo release). The setup
// program starts it as "<piece>" /i "<update information>" (or /m for local media) and
// ends. It reads the release from the update information, registers the application per
// user as the real installer does (HKCU "Software\Qirana\Velto3rd": Installed 1, Version,
// VersionCode), and shows what it was given until the user closes its window.
//
// When VELTO_DEMO_REPORT names a file, it first writes "pid <id>" there, so that the demo
// script can find its window.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app_installer_ids.h"
#include "catalog/comma_field.h"
#include "catalog/line_file.h"
#include "standin.h"

namespace {

constexpr wchar_t kReportVariable[] = L"VELTO_DEMO_REPORT";
constexpr wchar_t kProductKey[] = L"Software\\Qirana\\Velto3rd";
constexpr int kPieceCount = 10;

// What the update information says about the release, read as the setup program reads
// it: the last section header counts; entries 1 to 10 name the pieces.
struct Release {
  bool read = false;
  int versionCode = 0;
  std::wstring versionText;  // field 3 of the section header
  std::wstring displayName;  // field 5
  std::wstring shortName;    // the ProductNameShort setting
  std::wstring pieces[kPieceCount];
};

struct Invocation {
  std::wstring commandLine;
  std::wstring mode;  // "/i" or "/m"; empty when the switch is missing
  std::wstring informationPath;
};

std::wstring FieldText(const wchar_t* line, int index) {
  HeapString field = CommaField(line, index);
  return field ? std::wstring(field.get()) : std::wstring();
}

Release ReadRelease(const std::wstring& path) {
  Release release;
  LineReader reader;
  if (path.empty() || !reader.Open(path.c_str())) return release;
  release.read = true;
  for (HeapString line = reader.ReadLine(); line; line = reader.ReadLine()) {
    if (IsCommentLine(line.get())) continue;
    const int32_t type = RecordType(line.get());
    if (type == 0) {
      release.versionCode = NumericField(line.get(), 1);
      release.versionText = FieldText(line.get(), 3);
      release.displayName = FieldText(line.get(), 5);
    } else if (type == -2 && FieldText(line.get(), 1) == L"ProductNameShort") {
      release.shortName = FieldText(line.get(), 2);
    } else if (type >= 1 && type <= kPieceCount) {
      release.pieces[type - 1] = FieldText(line.get(), 1);
    }
  }
  return release;
}

Invocation ReadInvocation() {
  Invocation invocation;
  invocation.commandLine = GetCommandLineW();
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; arguments && i + 1 < count && invocation.mode.empty(); ++i) {
    const std::wstring argument = arguments[i];
    if (argument == L"/i" || argument == L"/m") {
      invocation.mode = argument;
      invocation.informationPath = arguments[i + 1];
    }
  }
  LocalFree(arguments);
  return invocation;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// "1,234,567": sizes read better grouped.
std::wstring Grouped(unsigned long long value) {
  std::wstring digits = std::to_wstring(value);
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(size_t(at), L",");
  return digits;
}

std::wstring PieceLine(const std::wstring& folder, int number, const std::wstring& baseName) {
  const std::wstring name = baseName + L".upi";
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  std::wstring line = L"  " + std::to_wstring(number) + L": " + name + L"  ";
  if (!GetFileAttributesExW((folder + name).c_str(), GetFileExInfoStandard, &data)) {
    return line + L"(見つかりません)";
  }
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return line + Grouped(size) + L" バイト";
}

bool Register(const Release& release) {
  // HKCU\Software is shared between the views; the setup program asks for the 64-bit one.
  return StoreRegDword(HKEY_CURRENT_USER, kProductKey, L"Installed", 1, KEY_WOW64_64KEY) &&
         StoreRegString(HKEY_CURRENT_USER, kProductKey, L"Version", release.versionText,
                        KEY_WOW64_64KEY) &&
         StoreRegDword(HKEY_CURRENT_USER, kProductKey, L"VersionCode", DWORD(release.versionCode),
                       KEY_WOW64_64KEY);
}

struct Report {
  std::wstring caption;
  std::wstring headline;
  std::wstring details;
};

Report Describe(const Invocation& invocation, const Release& release, bool registered) {
  const std::wstring name = release.displayName.empty() ? L"Velto" : release.displayName;
  Report report;
  report.caption = name + L" セットアップ";
  if (!release.read) {
    report.headline = L"更新情報を読めないため、インストールしませんでした。";
  } else if (!registered) {
    report.headline = name + L" を登録できませんでした。";
  } else {
    report.headline = name + L" (" + release.versionText + L") をインストールしました。";
  }
  std::vector<std::wstring> lines = {L"起動したコマンドライン:", L"  " + invocation.commandLine};
  if (invocation.mode == L"/m") {
    lines.push_back(L"更新情報 (/m: メディアの Assets フォルダー):");
  } else if (invocation.mode == L"/i") {
    lines.push_back(L"更新情報 (/i: 作業フォルダーにダウンロードしたもの):");
  } else {
    lines.push_back(L"更新情報: /i も /m も指定されていません");
  }
  if (!invocation.informationPath.empty()) lines.push_back(L"  " + invocation.informationPath);
  if (release.read) {
    lines.push_back(L"製品: " + name + L" (短縮名 " + release.shortName + L")");
    lines.push_back(L"バージョン: " + release.versionText + L" (バージョンコード " +
                    std::to_wstring(release.versionCode) + L")");
    lines.push_back(L"インストーラーの構成ファイル:");
    const std::wstring folder = FolderOf(invocation.informationPath);
    for (int i = 0; i < kPieceCount; ++i) {
      if (!release.pieces[i].empty()) lines.push_back(PieceLine(folder, i + 1, release.pieces[i]));
    }
  }
  if (registered) {
    lines.push_back(L"登録: HKEY_CURRENT_USER\\" + std::wstring(kProductKey));
    lines.push_back(L"  Installed = 1, Version = " + release.versionText +
                    L", VersionCode = " + std::to_wstring(release.versionCode));
  }
  for (const std::wstring& line : lines) report.details += line + L"\r\n";
  return report;
}

void WriteReport() {
  const std::wstring path = EnvironmentValue(kReportVariable);
  if (path.empty()) return;
  const std::string text = "pid " + std::to_string(GetCurrentProcessId()) + "\r\n";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* report = reinterpret_cast<const Report*>(lParam);
      SetWindowTextW(dialog, report->caption.c_str());
      SetDlgItemTextW(dialog, IDC_DEMO_HEADLINE, report->headline.c_str());
      SetDlgItemTextW(dialog, IDC_DEMO_DETAILS, report->details.c_str());
      SetFocus(GetDlgItem(dialog, IDOK));
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WriteReport();
  const Invocation invocation = ReadInvocation();
  const Release release = ReadRelease(invocation.informationPath);
  const bool registered = release.read && Register(release);
  const Report report = Describe(invocation, release, registered);
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_DEMO_INSTALLER), nullptr, ReportProc,
                  reinterpret_cast<LPARAM>(&report));
  return registered ? 0 : 1;
}
