#include "worker/fetch_retry.h"

#include "catalog/update_server.h"
#include "state/setup_state.h"
#include "util/setup_log.h"

namespace {

// A stop during the pause ends it at once; true when the pause ran its full length.
bool PauseUnlessStopped(DWORD ms) {
  HANDLE stop = gSetup.stopEvent.get();
  if (!stop) {
    Sleep(ms);
    return true;
  }
  return WaitForSingleObject(stop, ms) == WAIT_TIMEOUT;
}

}  // namespace

bool IsTransientFailure(const TransferOutcome& outcome) {
  switch (outcome.end) {
    case TransferEnd::kReadFailed:
    case TransferEnd::kEndedEarly:
      return true;
    case TransferEnd::kStatusRefused:
      return outcome.status >= 500 && outcome.status <= 599;
    case TransferEnd::kNoAnswer:
      // Certificate errors, unknown names and the like repeat themselves on every try.
      return outcome.error == ERROR_INTERNET_TIMEOUT ||
             outcome.error == ERROR_INTERNET_CANNOT_CONNECT ||
             outcome.error == ERROR_INTERNET_CONNECTION_ABORTED ||
             outcome.error == ERROR_INTERNET_CONNECTION_RESET ||
             outcome.error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
    default:
      return false;
  }
}

bool FetchWithRetries(const wchar_t* remoteName, const wchar_t* localName, bool force,
                      const DWORD* pausesMs, int32_t pauseCount, const FetchWatch& watch) {
  for (int32_t attempt = 0;; ++attempt) {
    TransferOutcome outcome;
    // Only the first try replaces an existing file: later ones go on from the partial
    // file the failed try left behind.
    if (FetchFromUpdateServer(remoteName, localName, force && attempt == 0, &outcome, watch)) {
      return true;
    }
    if (attempt >= pauseCount || !IsTransientFailure(outcome)) return false;
    LogEvent(L"download of %s failed (status %u, error %u); trying again in %u ms", remoteName,
             unsigned(outcome.status), unsigned(outcome.error), unsigned(pausesMs[attempt]));
    if (!PauseUnlessStopped(pausesMs[attempt])) return false;
  }
}

bool FetchWithRetries(const wchar_t* remoteName, const wchar_t* localName, bool force,
                      const FetchWatch& watch) {
  return FetchWithRetries(remoteName, localName, force, kRetryPausesMs,
                          int32_t(sizeof(kRetryPausesMs) / sizeof(kRetryPausesMs[0])), watch);
}
