// The one entry point through which the program downloads: a file named as it lies on
// the update server, fetched into the work folder under its local name.
#pragma once

#include "net/download.h"

// Fetches remoteName from below baseUrl (which ends with "/") into the work folder and
// gives it localName. With force false an existing localName counts as success without
// any network access; with force true it is deleted first. True when the work folder now
// holds localName (complete); false otherwise, also when a name is null or not a bare
// file name. control.outcome (when set) receives how the transfer ended (complete for a
// file that was there, this side's failure when no transfer was made). Runs on the
// worker thread.
bool FetchByName(const wchar_t* baseUrl, const wchar_t* remoteName, const wchar_t* localName,
                 bool force, const TransferControl& control);
