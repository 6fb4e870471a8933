// The update server of this run, as the setup's downloads reach it.
#pragma once

#include "net/download.h"
#include "state/transfer_progress.h"

// The base URL of the update server in effect: the test server's when "ServerTest"
// (HKEY_CURRENT_USER, 64-bit view) has bit 2 set, else the production server's.
// Static text; read afresh from the registry at every call.
const wchar_t* UpdateServerBaseUrl();

// Who watches a fetch's transfer besides its caller: the step's progress and a sink of
// the bytes written (each when not null).
struct FetchWatch {
  TransferProgress* progress = nullptr;
  TransferSink sink = nullptr;
  void* sinkContext = nullptr;
  // The caller tries again after a failure: the progress stays active then, and the
  // caller ends it.
  bool retrying = false;
};

// FetchByName from the update server in effect, stopped by the setup's stop event, with
// the program's timeouts and low-speed limit. outcome (when not null) receives how the transfer ended. A
// download's progress goes into watch.progress, which is active while it runs; its bytes
// go to watch.sink.
bool FetchFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force,
                           TransferOutcome* outcome = nullptr, const FetchWatch& watch = {});
