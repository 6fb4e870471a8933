#include "catalog/update_server.h"

#include "build_config.h"
#include "detect/registry.h"
#include "net/fetch.h"
#include "state/setup_state.h"

namespace {

constexpr int32_t kTestServerBit = 2;

}  // namespace

const wchar_t* UpdateServerBaseUrl() {
  const int32_t serverTest =
      ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", 0, true);
  return (serverTest & kTestServerBit) != 0 ? kTestBaseUrl : kProductionBaseUrl;
}

bool FetchFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force) {
  TransferControl control;
  control.stopEvent = gSetup.stopEvent.get();
  return FetchByName(UpdateServerBaseUrl(), remoteName, localName, force, control);
}
