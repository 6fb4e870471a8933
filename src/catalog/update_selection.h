// Selection of the section in effect from the update list: the decisions for each
// record and the scan that writes the chosen section as the update information.
//
// List records (field 0 read as a number; a line without any comma is a section
// header whose fields are all absent):
//   0  section header   field 4 start stamp; opens the section in effect or ends it
//   -1 setup revision   field 1 revision, 4 start stamp, 5 setup base name
//   -2 setting          copied wherever it stands
//   1+ section entry    copied while the section in effect is being copied
//   -3 and below, and comment lines ("--"), are skipped.
#pragma once

#include "catalog/update_info.h"
#include "util/owners.h"

// The current local time as "%04d%02d%02d_%02d%02d" (year, month, day, hour, minute) in
// a zero-filled string of 16 units; null on heap exhaustion.
HeapString NowStamp();

// A header or revision record is in effect when its start stamp is absent (null) or
// compares (lstrcmpW) lower than or equal to the current stamp.
bool IsStampInEffect(const wchar_t* startStamp, const wchar_t* nowStamp);

enum class ListAction {
  kSkip,          // not copied, nothing changes
  kCopy,          // written to the update information as it stands
  kOpenSection,   // the section in effect begins: written, and entries are copied from now on
  kEndScan,       // the section in effect has ended; the rest of the list is not read
  kSelfUpdate,    // a newer setup program is in effect: replace this one
};

struct ListDecision {
  ListAction action = ListAction::kSkip;
  // For kSelfUpdate: field 5 of the record (null when absent) and field 6, the SHA-256
  // of the new setup program (null when absent).
  HeapString setupBaseName;
  HeapString setupPin;
};

// What the scan does with one line of the list, given the current stamp and whether the
// section in effect is being copied.
ListDecision DecideListLine(const wchar_t* line, const wchar_t* nowStamp, bool copying);

enum class ScanOutcome {
  kFailed,      // the list could not be read or the information not written; nothing replaced
  kNoSection,   // no section in effect; the earlier information file stays as it was
  kSelected,    // the information file now holds the section in effect
  kSelfUpdate,  // stopped at a setup revision record in effect; nothing replaced
};

// Scans the list at listPath and writes the settings and the section in effect into
// tempPath, which then replaces infoPath in one step (either the old or the new
// information stands). On kSelfUpdate, *setupBaseName receives the record's base name
// and *setupPin (when given) its SHA-256 field (each null when absent), and tempPath
// stays behind, partly written. A line that cannot be
// written (also one that outgrows the line size in UTF-8), or a list that cannot be read
// to its end, fails the whole selection: the temporary file is deleted and infoPath is
// left as it was.
// Every line written is also applied to applied (when given).
ScanOutcome ScanUpdateList(const wchar_t* listPath, const wchar_t* nowStamp,
                           const wchar_t* tempPath, const wchar_t* infoPath,
                           HeapString* setupBaseName, HeapString* setupPin = nullptr,
                           UpdateInfoReader* applied = nullptr);
