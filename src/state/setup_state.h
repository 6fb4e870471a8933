// The one record that the UI thread and the worker thread share for the whole process.
//
// Threading rules:
// - stateLock guards requestedDownload only, and is never held across a call into
//   another subsystem. The UI thread may read requestedDownload without the lock (it
//   only saves taking it), so the field is an atomic too.
// - Every other field has one writing thread at a time; fields the other thread reads
//   are whole-value atomics. The worker stores the update information (version code,
//   names, componentFiles) before it stores kPhaseReady into phase with release order;
//   the UI thread loads phase with acquire order and looks at componentFiles for the
//   application step only once phase reads kPhaseReady.
// - productNameShort and productDisplayName are replaced, never freed, so a reader on
//   the other thread never sees freed text.
#pragma once

#include <atomic>
#include <cstdint>

#include "state/command_line.h"
#include "state/program_constants.h"
#include "state/transfer_progress.h"
#include "util/owners.h"

using ComponentId = int32_t;
inline constexpr ComponentId kDotNet = 0;
inline constexpr ComponentId kLocalDb = 1;
inline constexpr ComponentId kProduct = 2;
inline constexpr ComponentId kComponentCount = 3;
// requestedDownload when nothing is asked of the worker.
inline constexpr int32_t kNoRequest = -1;

// State of the application step while its update information is prepared.
using UpdatePhase = int32_t;
inline constexpr UpdatePhase kPhaseReady = -1;
inline constexpr UpdatePhase kPhaseFailed = -2;
inline constexpr UpdatePhase kPhaseQuerying = -3;
inline constexpr UpdatePhase kPhasePreparing = -4;
inline constexpr UpdatePhase kPhaseHandedOver = -5;
inline constexpr UpdatePhase kPhaseAwaitingMutex = -6;

// Base names of the application's installer pieces: entry i is piece i + 1 of the update
// information; an entry whose first unit is NUL is empty.
inline constexpr int kComponentFileCount = 10;
inline constexpr int kComponentFileUnits = 260;
using ComponentFileTable = wchar_t[kComponentFileCount][kComponentFileUnits];

// A SHA-256 that a file must match before it is used; absent when nothing names one.
inline constexpr int kPinBytes = 32;
struct FilePin {
  bool present = false;
  uint8_t digest[kPinBytes] = {};
};

struct ComponentSlot {
  // The installer process started for this component (UI thread only).
  UniqueHandle process;
  // Judged installed when the process started: 8 rather than 7 once satisfied.
  std::atomic<bool> installedAtStart{false};
  // An installer has been started and is watched (UI thread only).
  bool installing = false;
  // The last run failed to start, or ended with the component not satisfied (UI only).
  bool installFailed = false;
  // The installer file as checked, held so that nobody can change it until the process
  // started from it has been reaped (UI thread only).
  UniqueFile heldInstaller;
  // The local medium's copy of the installer failed its check: the work folder's copy or
  // a download is used for the rest of the run (UI thread only).
  bool mediumCopyRefused = false;
  // Exit code of the last installer run that has ended; 0 before any (UI thread only).
  uint32_t installerExitCode = 0;
  // The last fetch failed; written by the worker, never cleared.
  std::atomic<bool> downloadFailed{false};
  // The running download of this component's installer (its pieces, for the application).
  TransferProgress progress;
  // Installer file name on the update server and in the work/Assets folder; null for
  // the application. Set before the worker thread exists.
  const wchar_t* remoteName = nullptr;
  const wchar_t* localName = nullptr;
};

struct SetupState {
  std::atomic<UpdatePhase> phase{kPhasePreparing};
  // Version code of the application that the update information offers.
  std::atomic<int32_t> productVersionCode{-1};
  // The component whose installer the worker is asked to fetch, or kNoRequest.
  // Changed only under stateLock.
  std::atomic<int32_t> requestedDownload{kNoRequest};
  std::atomic<const wchar_t*> productNameShort{kBuiltInShortName};
  std::atomic<const wchar_t*> productDisplayName{nullptr};
  std::atomic<bool> updateMode{false};
  // Set from the command line before the worker thread exists; read-only afterwards.
  RunMode runMode = RunMode::kInteractive;
  // "/prerequisites": steps 1 and 2 only; the application step fetches and starts nothing.
  bool prerequisitesOnly = false;
  std::atomic<bool> localAssetsMode{false};
  // Set once when the run has ended by handing over (the worker's self-update: a newer
  // program took over, or could not be fetched; or the application's installer started
  // from the dialog); the two fields below are written before it. The UI thread then ends
  // its run, and the process entry ends the process with runEndCode.
  std::atomic<bool> runEnded{false};
  int32_t runEndCode = 0;
  bool selfUpdateFailed = false;
  // The single-instance mutex; closed early by the dialog during a self-update.
  UniqueHandle instanceMutex;
  // Signalled once, when the dialog has ended. Created before the worker exists and
  // closed after it has ended.
  UniqueHandle stopEvent;
  UniqueHandle workerThread;
  CriticalSection stateLock;
  ComponentSlot slots[kComponentCount];
  ComponentFileTable componentFiles{};
  // Entry i names a piece whose name the program refuses (not a bare file name): the
  // piece counts as missing. Stored and published with componentFiles.
  bool componentRefused[kComponentFileCount]{};
  // SHA-256 pins from the update information, stored and published with componentFiles:
  // entry i pins piece i; installerPins pins a prerequisite's installer (by ComponentId).
  FilePin componentPins[kComponentFileCount]{};
  FilePin installerPins[kComponentCount]{};
  // The update list's public keys (64 bytes each, in the program's resource), set before
  // the worker exists. With keys present, only a signed list is used and every file that
  // is started must be pinned by it.
  const uint8_t* updateKeys = nullptr;
  int32_t updateKeyCount = 0;
  bool updateKeysPresent = false;
};

// The process-wide instance.
extern SetupState gSetup;
