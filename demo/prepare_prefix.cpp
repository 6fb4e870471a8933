// demo_prepare: puts the demo's Wine prefix into the state of a machine that has never
// seen Velto, and points the setup program at the demo's update server.
//
//   demo_prepare        (VELTO_TEST_SERVERS names the folder that holds update/port)
//   demo_prepare keys <program.exe> <public key, 128 hex digits>
//                       gives a copy of the setup program the key its update list must
//                       be signed with (resource VELTOKEYS), as a vendor would
//
// It undoes what earlier demo runs installed (the LocalDB package through msiexec /x,
// the .NET release, the application's registration), empties the work folder, and
// writes Proxy.ini so that the built-in https:// base URLs reach the update server over
// plain HTTP (ProxyType 3, ProtocolType 1). It prints, in UTF-8, the LocalDB package
// that the setup program asks for on this prefix's Windows version:
//   localdb-remote <file name on the server>
//   localdb-name <name the dialog shows>
#include <windows.h>

#include <string>

#include "worker/setup_init.h"
#include "detect/localdb.h"
#include "support/installers/test_installers.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_support.h"

namespace {

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}

bool SetProgramKey(const wchar_t* program, const wchar_t* hex) {
  std::string key;
  for (int i = 0; hex[i] && hex[i + 1]; i += 2) {
    key += char(std::stoi(std::wstring(hex + i, 2), nullptr, 16));
  }
  if (key.size() != 64) return false;
  HANDLE update = BeginUpdateResourceW(program, FALSE);
  return update &&
         UpdateResourceW(update, MAKEINTRESOURCEW(10), L"VELTOKEYS",
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), key.data(), DWORD(key.size())) &&
         EndUpdateResourceW(update, FALSE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"keys") return SetProgramKey(argv[2], argv[3]) ? 0 : 1;
  if (!TestServersAvailable()) {
    Print("VELTO_TEST_SERVERS is not set\n");
    return 2;
  }
  UndoStandInInstallations();
  RemoveTree(WorkFolderPath());
  RouteThroughUpdateServer();

  const wchar_t* remoteName = nullptr;
  const wchar_t* localName = nullptr;
  LocalDbInstallerNames(LocalDbPackageKind(), &remoteName, &localName);
  HeapString packageName = LocalDbPackageName(LocalDbPackageKind());
  Print("localdb-remote " + Narrow(remoteName) + "\n");
  Print("localdb-name " + Narrow(packageName ? packageName.get() : L"") + "\n");
  return 0;
}
