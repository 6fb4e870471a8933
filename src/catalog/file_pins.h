// Which file must match which SHA-256 before the setup uses it, and the check itself.
//
// Pins come from the update information: field 2 of a piece record, field 6 of the setup
// revision record, and settings "-2,SHA256:<name on the server>,<64 hex>" for the
// prerequisites' installers. A field that is not 64 hex digits pins nothing, so every
// file valid before pins existed means what it meant.
#pragma once

#include "state/setup_state.h"
#include "util/owners.h"

// The text as a pin: present when it is exactly 64 hex digits (either case).
FilePin ParsePin(const wchar_t* text);

// The name on the server that a setting key "SHA256:<name>" pins; null for other keys.
const wchar_t* PinSettingName(const wchar_t* key);

// The prerequisite (kDotNet, kLocalDb) whose installer is remoteName on the server
// (compared without regard to case), or -1.
ComponentId PrerequisiteNamed(const wchar_t* remoteName);

// True when a file must carry a pin before its start: the program has keys, unless the
// file is on the local medium in local mode (the medium is used as it stands). Whatever
// came from the network is never "on the medium".
bool PinsRequiredFor(bool onMedium);

// Whether the worker may fetch remoteName from the update server: a program with keys
// fetches only pinned files (in local mode the pins come from the medium's information
// file). A refusal is logged with the reason; false then.
bool MayFetch(const wchar_t* remoteName, const FilePin& pin);

// The pin of a prerequisite's installer or of piece entry, once the update information
// is published (phase ready); null before, or for an unknown id.
const FilePin* InstallerPin(ComponentId id);
const FilePin* PiecePin(int entry);

enum class StartCheck {
  kUnchecked,  // no pin, none required: started as it is
  kCheck,      // compared with its pin first
  kRefuse,     // a pin is required and there is none: never started
};
StartCheck StartCheckFor(bool pinsRequired, const FilePin* pin);

enum class HeldStart {
  kGo,        // start it; *held (when the file was checked) must stay open until the
              // process exists
  kNoPin,     // refused: no pin where one is required; the file may be fine
  kMismatch,  // refused: the file differs from its pin (or cannot be read)
};

// The check right before a start of the file at path. Logs refusals, and a start
// without a pin.
HeldStart CheckBeforeStart(const wchar_t* path, const FilePin* pin, bool pinsRequired,
                           UniqueFile* held);
