// A signed update list that is older than one already accepted, or past its expiry, is
// refused: a replayed list would offer an old release on a PC that has a newer one, and
// hide every newer setup revision.
//
// Settings in the list (older programs skip unknown -2 keys):
//   -2,ListSerial,<decimal>          rises with every list the publisher signs
//   -2,ListExpires,<YYYYMMDD_HHMM>   UTC; the list is refused from that minute on
// The last of each in the list counts. A program with keys stores the highest serial it
// accepted under the application's key in HKEY_CURRENT_USER.
#pragma once

#include <cstdint>

struct ListFreshness {
  bool serialPresent = false;
  bool serialValid = false;  // decimal digits only, at most 19
  uint64_t serial = 0;
  bool expiryPresent = false;
  bool expiryValid = false;  // of the shape YYYYMMDD_HHMM
  wchar_t expires[16] = {};
};

// The two settings of the list at path. False when the list cannot be read to its end.
bool ReadListFreshness(const wchar_t* path, ListFreshness* freshness);

// The settings from one line of the list (other lines change nothing).
void ApplyFreshnessLine(const wchar_t* line, ListFreshness* freshness);

enum class FreshnessVerdict {
  kAccepted,
  kSerialBelowStored,  // lower than the highest serial accepted before
  kSerialMissing,      // none, while a serial was accepted before
  kSerialUnreadable,   // present but not a decimal number
  kExpired,            // the expiry is now or past
  kExpiryUnreadable,   // present but not of the shape YYYYMMDD_HHMM
};

// The decision for a list, given whether the program has keys (without keys every list
// is accepted), the highest serial stored (storedPresent false: none yet) and the
// current UTC time as YYYYMMDD_HHMM.
FreshnessVerdict JudgeListFreshness(const ListFreshness& list, bool keyed, bool storedPresent,
                                    uint64_t stored, const wchar_t* nowUtc);

// The highest serial accepted before; false when none is stored.
bool ReadAcceptedListSerial(uint64_t* serial);
// Stores serial as the highest accepted. False when it cannot be written.
bool StoreAcceptedListSerial(uint64_t serial);

// For a program with keys: judges the (verified) list at path, logs the verdict with
// the values it compared, and stores a higher serial. True when the list may be used.
bool AcceptFreshList(const wchar_t* path);
