// The update information of this run: the application's version code, display name,
// short name and installer pieces, read into SetupState. Runs once, on the worker
// thread, before phase becomes ready.
//
// Records (field 0 read as a number; a line without any comma is a header whose fields
// are all absent; comment lines are skipped):
//   0       header: field 1 productVersionCode (absent: 0), field 5 productDisplayName
//   -2      setting: key "ProductNameShort" sets productNameShort to field 2
//   1 to 10 piece: field 1 into entry (type - 1) of componentFiles, cut to 259 units;
//           present and empty empties the entry. A name that is not a bare file name
//           (it holds '\', '/' or ':', or is "." or "..") counts as absent: the entry is
//           left as it was. Field 2 (64 hex digits) pins the piece: componentPins of
//           the entry, replaced (absent when not a pin) with every name stored.
//   -2      setting "SHA256:<name on the server>" pins that prerequisite's installer
//           (installerPins) with field 2.
// Every other type, and every other setting key, changes nothing. Each later header or
// setting overwrites what an earlier one set; no start stamp is looked at.
#pragma once

// Reads the file at path into SetupState. False only when the file cannot be opened
// (SetupState is then unchanged); a file without any useful record gives true.
// productNameShort and productDisplayName are replaced, never freed.
bool ReadUpdateInfo(const wchar_t* path);

// Reads "vtupdaterinfo.upi" from the Assets folder when it is there, otherwise from
// the work folder (creating its folders when missing). False when neither exists or
// the one found cannot be opened.
bool LoadUpdateInfo();
