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

bool FetchFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force,
                           TransferProgress* progress) {
  TransferControl control;
  control.stopEvent = gSetup.stopEvent.get();
  if (progress) {
    control.observer = StoreTransferProgress;
    control.observerContext = progress;
    StoreTransferProgress(progress, 0, 0);
    progress->startTick.store(GetTickCount(), std::memory_order_relaxed);
    progress->active.store(true, std::memory_order_release);
  }
  const bool fetched = FetchByName(UpdateServerBaseUrl(), remoteName, localName, force, control);
  if (progress) progress->active.store(false, std::memory_order_release);
  return fetched;
}
