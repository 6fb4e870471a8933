#include "catalog/update_server.h"

#include "build_config.h"
#include "detect/registry.h"
#include "net/fetch.h"
#include "state/setup_state.h"

namespace {

constexpr int32_t kTestServerBit = 2;

// A server or proxy that takes the connection and then goes silent would otherwise hold
// the worker, and the step at "downloading", for good (WinINet's own receive timeout is
// an hour). 30 s is far beyond the gap between two packets on a slow but working line;
// three silent reads in a row end the call, and the worker tries again later.
constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
// A server that drips a byte now and then never trips the receive timeout; below 1 KiB
// a minute no installer would arrive in any useful time.
constexpr uint32_t kLowSpeedBytes = 1024;
constexpr DWORD kLowSpeedWindowMs = 60000;

}  // namespace

const wchar_t* UpdateServerBaseUrl() {
  const int32_t serverTest =
      ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"ServerTest", 0, true);
  return (serverTest & kTestServerBit) != 0 ? kTestBaseUrl : kProductionBaseUrl;
}

bool FetchFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force,
                           TransferOutcome* outcome, const FetchWatch& watch) {
  TransferProgress* progress = watch.progress;
  TransferControl control;
  control.stopEvent = gSetup.stopEvent.get();
  control.connectTimeoutMs = kConnectTimeoutMs;
  control.sendTimeoutMs = kSendTimeoutMs;
  control.receiveTimeoutMs = kReceiveTimeoutMs;
  control.lowSpeedBytes = kLowSpeedBytes;
  control.lowSpeedWindowMs = kLowSpeedWindowMs;
  control.outcome = outcome;
  control.sink = watch.sink;
  control.sinkContext = watch.sinkContext;
  if (progress) {
    control.observer = StoreTransferProgress;
    control.observerContext = progress;
    // A try that follows a pause starts from the bytes the last one left, which the
    // bar keeps showing until this try's first report.
    if (!progress->waiting.load(std::memory_order_relaxed)) StoreTransferProgress(progress, 0, 0);
    progress->startTick.store(GetTickCount(), std::memory_order_relaxed);
    progress->waiting.store(false, std::memory_order_relaxed);
    progress->active.store(true, std::memory_order_release);
  }
  const bool fetched = FetchByName(UpdateServerBaseUrl(), remoteName, localName, force, control);
  if (progress && (fetched || !watch.retrying)) {
    progress->active.store(false, std::memory_order_release);
  }
  return fetched;
}
