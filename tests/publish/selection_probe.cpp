// The program's side of the agreement test with "velto-publish check": for every
// list_<n>.upd in a folder, the selection at a given stamp as the program makes it,
// written to sel_<n>.out: the update information written, or "NONE", "SELFUPDATE <name>"
// or "FAILED". Also writes oemcp.txt, the code page a list without the mark is read in,
// and read_<n>.out: what the program reads from the selected information (piece entries
// whose names it refuses, prerequisites pinned) and whether list_<n>.sig verifies with
// the key given.
//   selection_probe.exe <folder> <YYYYMMDD_HHMM> <public key, 128 hex digits>
#include <windows.h>

#include <cstdio>
#include <string>

#include "catalog/update_info.h"
#include "catalog/update_selection.h"
#include "state/setup_state.h"
#include "verify/hex.h"
#include "verify/list_signature.h"

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

// What the program reads from the information file at path, and the signature verdict.
std::string ProgramReading(const std::wstring& info, bool selected, const std::wstring& list,
                           const std::wstring& signature, const uint8_t* key) {
  for (auto& entry : gSetup.componentFiles) entry[0] = L'\0';
  for (bool& refused : gSetup.componentRefused) refused = false;
  for (FilePin& pin : gSetup.installerPins) pin = FilePin();
  std::string text = "refused";
  if (selected && ReadUpdateInfo(info.c_str())) {
    for (int i = 0; i < kComponentFileCount; ++i) {
      if (gSetup.componentRefused[i]) text += " " + std::to_string(i + 1);
    }
  }
  text += "\npinned";
  for (ComponentId id : {kDotNet, kLocalDb}) {
    if (gSetup.installerPins[id].present) text += " " + Utf8(gSetup.slots[id].remoteName);
  }
  UniqueFile listFile(CreateFileW(list.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  const bool verified = CheckListSignature(listFile.get(), signature.c_str(), key, 1) ==
                        ListSignature::kVerified;
  return text + "\nsignature " + (verified ? "1" : "0") + "\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  uint8_t key[kPublicKeyBytes];
  if (!ParseHexText(argv[3], key, kPublicKeyBytes)) return 2;
  // The prerequisites as this probe's PC names them.
  gSetup.slots[kDotNet].remoteName = kDotNetRemoteName;
  gSetup.slots[kLocalDb].remoteName = kLocalDb2017x64RemoteName;
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
    WriteText(folder + L"\\read_" + std::to_wstring(n) + L".out",
              ProgramReading(info, outcome == ScanOutcome::kSelected, list,
                             folder + L"\\list_" + std::to_wstring(n) + L".sig", key));
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
