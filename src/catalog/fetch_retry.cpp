#include "catalog/fetch_retry.h"

#include "catalog/update_server.h"
#include "state/setup_state.h"
#include "util/setup_log.h"
#include "util/stop_event.h"

namespace {

constexpr uint32_t kRequestTimeout = 408;
constexpr uint32_t kTooManyRequests = 429;

// A stop during the pause ends it at once; true when the pause ran its full length.
bool PauseUnlessStopped(DWORD ms) { return !StopRequested(gSetup.stopEvent.get(), ms); }

// The step keeps its bar at the bytes held and tells when the next try starts.
void ShowWaiting(TransferProgress* progress, DWORD ms) {
  if (!progress) return;
  progress->retryAtTick.store(GetTickCount() + ms, std::memory_order_relaxed);
  progress->waiting.store(true, std::memory_order_release);
}

void EndProgress(TransferProgress* progress) {
  if (!progress) return;
  progress->waiting.store(false, std::memory_order_relaxed);
  progress->active.store(false, std::memory_order_release);
}

}  // namespace

bool IsTransientFailure(const TransferOutcome& outcome) {
  switch (outcome.end) {
    case TransferEnd::kReadFailed:
    case TransferEnd::kEndedEarly:
    case TransferEnd::kTooSlow:
    case TransferEnd::kContradictory:
      return true;
    case TransferEnd::kStatusRefused:
      return (outcome.status >= 500 && outcome.status <= 599) ||
             outcome.status == kRequestTimeout || outcome.status == kTooManyRequests;
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
  FetchWatch tried = watch;
  tried.retrying = true;
  bool freshTried = false;
  for (int32_t attempt = 0, pause = 0;; ++attempt) {
    TransferOutcome outcome;
    // Only the first try replaces an existing file: later ones go on from the partial
    // file the failed try left behind.
    if (FetchFromUpdateServer(remoteName, localName, force && attempt == 0, &outcome, tried)) {
      return true;
    }
    // The partial file is gone with the answer that could not continue it; a download
    // from the first byte is another question, asked once.
    if (outcome.end == TransferEnd::kCannotContinue && !freshTried) {
      freshTried = true;
      LogEvent(L"download of %s could not be continued; downloading it afresh", remoteName);
      continue;
    }
    if (pause >= pauseCount || !IsTransientFailure(outcome)) break;
    LogEvent(L"download of %s failed (status %u, error %u); trying again in %u ms", remoteName,
             unsigned(outcome.status), unsigned(outcome.error), unsigned(pausesMs[pause]));
    ShowWaiting(watch.progress, pausesMs[pause]);
    if (!PauseUnlessStopped(pausesMs[pause++])) break;
  }
  EndProgress(watch.progress);
  return false;
}

bool FetchWithRetries(const wchar_t* remoteName, const wchar_t* localName, bool force,
                      const FetchWatch& watch) {
  return FetchWithRetries(remoteName, localName, force, kRetryPausesMs,
                          int32_t(sizeof(kRetryPausesMs) / sizeof(kRetryPausesMs[0])), watch);
}
