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
//           (IsBareFileName) is refused: the entry is marked (componentRefused) and the
//           piece counts as missing. Field 2 (64 hex digits) pins the piece:
//           componentPins of the entry, replaced (absent when not a pin) with every
//           name stored.
//   -2      setting "SHA256:<name on the server>" pins that prerequisite's installer
//           (installerPins) with field 2.
// Every other type, and every other setting key, changes nothing. Each later header or
// setting overwrites what an earlier one set; no start stamp is looked at.
#pragma once

#include <cstdint>

#include "state/setup_state.h"
#include "util/owners.h"

// The update information applied line by line: records reach SetupState as they come,
// the names once, at Publish. Lets the scan of a verified list hand over what it wrote
// without the file being read again.
class UpdateInfoReader {
 public:
  // Starts from what SetupState holds: entries the lines do not name stay as they are.
  UpdateInfoReader();
  // Starts empty.
  enum Empty { kEmpty };
  explicit UpdateInfoReader(Empty) {}
  void Apply(const wchar_t* line);
  // Logs the information and stores all of it into SetupState.
  void Publish();
  // Stores only the prerequisites' pins into SetupState.
  void PublishInstallerPins() const;

 private:
  ComponentFileTable files_{};
  bool refused_[kComponentFileCount]{};
  FilePin piecePins_[kComponentFileCount]{};
  FilePin installerPins_[kComponentCount]{};
  bool headerSeen_ = false;
  int32_t versionCode_ = 0;
  HeapString displayName_;
  bool nameShortSeen_ = false;
  HeapString nameShort_;
};

// Reads the file at path into SetupState. False only when the file cannot be opened
// (SetupState is then unchanged); a file without any useful record gives true.
// productNameShort and productDisplayName are replaced, never freed.
bool ReadUpdateInfo(const wchar_t* path);

// Reads "vtupdaterinfo.upi" from the Assets folder in local assets mode (as
// PrepareUpdateInfo decided it; LoadMediumUpdateInfo), otherwise the information that the scan of this run's list
// handed over (HandOverScannedInfo), otherwise the work folder's file (creating its
// folders when missing). False when none exists or the one found cannot be opened.
bool LoadUpdateInfo();

// Local mode: the medium's information file, and with it the pins of whatever the
// program may fetch from the network (its "-2,SHA256:" settings). Logs where the pins
// came from. False when the file cannot be read.
bool LoadMediumUpdateInfo(const wchar_t* path);

// What the scan of this run's (verified) list applied (reader), whole when a section was
// in effect; without one only its settings, over the earlier information file. Taken
// by the next LoadUpdateInfo, so that the pins used at start are the verified ones and
// not a file's that may have changed since the scan.
void HandOverScannedInfo(UpdateInfoReader&& reader, bool wholeSection);
// Drops a hand-over that no LoadUpdateInfo took (a run that starts afresh).
void ForgetScannedInfo();
