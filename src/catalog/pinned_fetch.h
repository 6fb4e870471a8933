// A download from the update server that is kept only when it matches its pin.
#pragma once

#include "catalog/update_server.h"
#include "state/setup_state.h"

// A fetch into the work folder as FetchFromUpdateServer makes it (a caller may hand one
// that retries), watched by watch.
using WorkFolderFetch = bool (*)(const wchar_t* remoteName, const wchar_t* localName, bool force,
                                 const FetchWatch& watch);

// FetchFromUpdateServer, tried once.
bool FetchOnceFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force,
                               const FetchWatch& watch);

// fetch(remoteName, localName, force = false), then, when pin is present, the check of
// the file in the work folder. A file that differs is deleted. A file kept from an
// earlier run, or completed from an earlier run's partial file, that differs is fetched
// afresh once (force) and checked again. True only
// when the file is there and matches its pin (or has none). A file that this call
// downloaded whole is checked by the digest taken while it arrived; any other is read.
bool FetchPinnedFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName,
                                 const FilePin& pin,
                                 WorkFolderFetch fetch = FetchOnceFromUpdateServer,
                                 TransferProgress* progress = nullptr);

// True when the file at path matches pin (or pin is absent); a file that differs is
// deleted and logged under name.
bool KeepIfPinned(const wchar_t* path, const wchar_t* name, const FilePin& pin);
