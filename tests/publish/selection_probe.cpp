// The program's side of the agreement test with "velto-publish check": for every
// list_<n>.upd in a folder, the selection at a given stamp as the program makes it,
// written to sel_<n>.out: the update information written, or "NONE", "SELFUPDATE <name>"
// or "FAILED". Also writes oemcp.txt, the code page a list without the mark is read in.
//   selection_probe.exe <folder> <YYYYMMDD_HHMM>
#include <windows.h>

#include <cstdio>
#include <string>

#include "catalog/update_selection.h"

namespace {

void WriteText(const std::wstring& path, const std::string& text) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
}

std::string Utf8(const wchar_t* text) {
  if (!text) return "<absent>";
  char out[2048] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out) - 1, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring folder = argv[1];
  WriteText(folder + L"\\oemcp.txt", std::to_string(GetOEMCP()));
  for (int n = 0; n < 100000; ++n) {
    const std::wstring list = folder + L"\\list_" + std::to_wstring(n) + L".upd";
    if (GetFileAttributesW(list.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    const std::wstring temp = folder + L"\\info.tmp";
    const std::wstring info = folder + L"\\info_" + std::to_wstring(n) + L".upi";
    const std::wstring out = folder + L"\\sel_" + std::to_wstring(n) + L".out";
    HeapString setupName;
    const ScanOutcome outcome =
        ScanUpdateList(list.c_str(), argv[2], temp.c_str(), info.c_str(), &setupName);
    switch (outcome) {
      case ScanOutcome::kSelected:
        MoveFileExW(info.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
        break;
      case ScanOutcome::kNoSection:
        WriteText(out, "NONE\n");
        break;
      case ScanOutcome::kSelfUpdate:
        WriteText(out, "SELFUPDATE " + Utf8(setupName.get()) + "\n");
        DeleteFileW(temp.c_str());
        break;
      case ScanOutcome::kFailed:
        WriteText(out, "FAILED\n");
        break;
    }
  }
  return 0;
}
