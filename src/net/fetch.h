// The one entry point through which the program downloads: a file named as it lies on
// the update server, fetched into the work folder under its local name.
#pragma once

// Fetches remoteName from the update server (production, or test when "ServerTest" has
// bit 2 set) into the work folder and gives it localName. With force false an existing
// localName counts as success without any network access; with force true it is deleted
// first. True when the work folder now holds localName (complete); false otherwise, also
// when either name is null. Runs on the worker thread.
bool FetchByName(const wchar_t* remoteName, const wchar_t* localName, bool force);

// The base URL of the update server in effect: the test server's when "ServerTest"
// (HKEY_CURRENT_USER, 64-bit view) has bit 2 set, else the production server's.
// Static text; read afresh from the registry at every call.
const wchar_t* UpdateServerBaseUrl();
