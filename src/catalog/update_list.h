// The update information of this run, prepared from the update list on the server
// unless the Assets folder carries a ready one. Runs once, on the worker thread.
#pragma once

#include "util/owners.h"

// File names of the update catalogue.
inline constexpr wchar_t kUpdateListRemoteName[] = L"vtupdaterlist.upd";
inline constexpr wchar_t kUpdateListLocalName[] = L"vtupdaterlist.upi";
inline constexpr wchar_t kUpdateInfoName[] = L"vtupdaterinfo.upi";
inline constexpr wchar_t kUpdateInfoTempName[] = L"vtupdaterinfo.tmp";

// A piece of the application's installer, which the update information names by its base
// name: base + ".upd" on the update server, base + ".upi" in the work folder and on a
// medium. Null when baseName is null or memory runs out.
HeapString PieceRemoteName(const wchar_t* baseName);
HeapString PieceLocalName(const wchar_t* baseName);

// Local mode: when the Assets folder holds the information file, sets localAssetsMode
// and returns true without touching phase or the network. Otherwise sets phase to
// querying, fetches the list afresh into the work folder and stores the settings and the
// section in effect as the work folder's information file (ScanUpdateList). A setup
// revision in effect above this program's own runs SelfUpdate, which ends the run: its
// outcome goes to runEndCode and selfUpdateFailed, runEnded is set, and false returned.
// A program with keys uses only a list that is signed (OpenSignedList) and neither older
// than one accepted before nor expired (AcceptFreshList); the scan hands what it wrote to
// LoadUpdateInfo in memory (HandOverScannedInfo).
// True when local mode was found or the list was scanned (also when no section was in
// effect: the earlier information file then stays). False when the list cannot be
// fetched or read, is refused, or the information cannot be written whole.
bool PrepareUpdateInfo();
