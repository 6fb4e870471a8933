#include "worker/component_status.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "catalog/file_pins.h"
#include "catalog/update_list.h"
#include "detect/product.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "util/strings.h"

namespace {

// The application counts as done only at the version code that the update information
// offers.
bool IsSatisfied(ComponentId id) {
  return IsComponentSatisfied(id, gSetup.productVersionCode.load(std::memory_order_relaxed));
}

constexpr wchar_t kAllPiecesPresent[] = L"OK";
constexpr wchar_t kMsiexec[] = L"msiexec.exe";
// Room for the system folder's path.
constexpr int32_t kSystemFolderUnits = MAX_PATH;
constexpr wchar_t kMsiexecParameterFormat[] = L"/i \"%s\" /qn IACCEPTSQLLOCALDBLICENSETERMS=YES";
// Room for the parameter text around the path (it needs 43 units and the terminator).
constexpr int32_t kMsiexecParameterSlack = 64;

bool IsPrerequisite(ComponentId id) { return id == kDotNet || id == kLocalDb; }

bool IsKnownComponent(ComponentId id) { return id >= 0 && id < kComponentCount; }

bool Exists(const HeapString& path) { return path && PathFileExistsW(path.get()); }

// The medium's copy first, unless it failed its check in this run; *onMedium says which.
HeapString FindPrerequisiteInstaller(const ComponentSlot& slot, bool* onMedium = nullptr) {
  if (!slot.localName) return HeapString();
  if (onMedium) *onMedium = true;
  if (!slot.mediumCopyRefused) {
    HeapString assets = AssetsPath(slot.localName);
    if (Exists(assets)) return assets;
  }
  if (onMedium) *onMedium = false;
  HeapString work = WorkPath(slot.localName, false);
  if (Exists(work)) return work;
  return HeapString();
}

// Piece names come from the update information, that is from the server. A name that
// is not a bare file name could point outside the folder and make some other file pass
// for a piece (the first piece is started as the application installer), so it counts
// as missing.
bool IsPiecePresent(const wchar_t* baseName, bool localAssets) {
  HeapString piece = PieceLocalName(baseName);
  if (!piece || !IsBareFileName(piece.get())) return false;
  HeapString path = localAssets ? AssetsPath(piece.get()) : WorkPath(piece.get(), false);
  return Exists(path);
}

HeapString FindProductPieces() {
  const bool localAssets = gSetup.localAssetsMode.load(std::memory_order_relaxed);
  bool complete = true;
  // Every entry is examined, also after a missing one; an empty entry names no piece.
  for (int i = 0; i < kComponentFileCount; ++i) {
    const wchar_t* entry = gSetup.componentFiles[i];
    if (entry[0] == L'\0') continue;
    if (gSetup.componentRefused[i] || !IsPiecePresent(entry, localAssets)) complete = false;
  }
  return complete ? DuplicateString(kAllPiecesPresent) : HeapString();
}

// Reaps the installer once its process has ended. An installing slot without a process,
// or a handle the wait refuses, counts as ended: the step must not stay "installing"
// for the rest of the run.
void WatchInstaller(ComponentId id, ComponentSlot& slot) {
  if (slot.process && WaitForSingleObject(slot.process.get(), 0) == WAIT_TIMEOUT) return;
  // Success is judged from the registry alone; the code tells only of a restart asked for.
  DWORD exitCode = 0;
  const bool known = slot.process && GetExitCodeProcess(slot.process.get(), &exitCode);
  if (known) slot.installerExitCode = exitCode;
  slot.process.reset();
  // Only now may the installer file change (and the work copy be deleted below).
  slot.heldInstaller.reset();
  const bool satisfied = IsSatisfied(id);
  wchar_t code[16] = L"unknown";
  if (known) wnsprintfW(code, 16, L"%u", exitCode);
  LogEvent(L"installer of step %d ended with exit code %s; the step is %s", id + 1, code,
           satisfied ? L"satisfied" : L"not satisfied");
  slot.installing = false;
  slot.installFailed = !satisfied;
  if (satisfied) DeleteInstaller(id);
}

// Posts id as the worker's next download unless another request is pending: downloading
// when this call posted it, waiting when another is pending. The worker stores a failure
// before it ends the request under the lock, so a fetch of id that failed since the
// caller last looked shows here, and is not requested a second time.
ComponentStatus PostDownloadRequest(ComponentId id) {
  const LockGuard hold(gSetup.stateLock);
  ComponentStatus status = kStatusWaitingForDownload;
  if (gSetup.slots[id].downloadFailed.load(std::memory_order_relaxed)) {
    status = kStatusDownloadFailed;
  } else if (gSetup.requestedDownload.load(std::memory_order_relaxed) == kNoRequest) {
    gSetup.requestedDownload.store(id, std::memory_order_relaxed);
    status = kStatusDownloading;
  }
  return status;
}

}  // namespace

ComponentStatus ComponentStatusOf(ComponentId id) {
  if (!IsKnownComponent(id)) return 0;
  if (id == kProduct) {
    const UpdatePhase phase = gSetup.phase.load(std::memory_order_acquire);
    if (phase != kPhaseReady) return phase;
    // With /prerequisites the application is left alone: none of its pieces is fetched.
    if (gSetup.prerequisitesOnly) {
      return IsSatisfied(kProduct) ? kStatusAlreadyInstalled : kStatusWaitingForDownload;
    }
  }
  ComponentSlot& slot = gSetup.slots[id];
  if (slot.installFailed) return kStatusInstallFailed;
  if (slot.installing) {
    WatchInstaller(id, slot);
    return kStatusInstalling;
  }
  if (IsSatisfied(id)) {
    return slot.installedAtStart.load(std::memory_order_relaxed) ? kStatusAlreadyInstalled
                                                                 : kStatusInstallCompleted;
  }
  if (FindInstaller(id)) return kStatusInstallerAvailable;
  if (slot.downloadFailed.load(std::memory_order_relaxed)) return kStatusDownloadFailed;
  // The unlocked read only saves taking the lock; a stale value costs one refresh.
  if (gSetup.requestedDownload.load(std::memory_order_relaxed) == id) return kStatusDownloading;
  return PostDownloadRequest(id);
}

HeapString FindInstaller(ComponentId id) {
  if (IsPrerequisite(id)) return FindPrerequisiteInstaller(gSetup.slots[id]);
  if (id == kProduct) return FindProductPieces();
  return HeapString();
}

void DeleteInstaller(ComponentId id) {
  if (!IsPrerequisite(id) || !gSetup.slots[id].localName) return;
  HeapString path = WorkPath(gSetup.slots[id].localName, true);
  if (Exists(path)) DeleteFileW(path.get());
}

bool FetchAgainIfGone(ComponentId id) {
  if (!IsKnownComponent(id) || !gSetup.slots[id].installFailed || FindInstaller(id)) return false;
  LogEvent(L"the installer of step %d has gone since its start failed: it is fetched again",
           id + 1);
  gSetup.slots[id].installFailed = false;
  return true;
}

void StartInstaller(ComponentId id, bool elevate) {
  if (!IsPrerequisite(id)) return;
  ComponentSlot& slot = gSetup.slots[id];
  if (slot.process || slot.installing || FetchAgainIfGone(id)) return;
  bool onMedium = false;
  HeapString path = FindPrerequisiteInstaller(slot, &onMedium);
  if (!path) return;
  slot.installing = true;
  slot.installFailed = false;
  // Checked on a handle held until the process has been reaped: no swap between check
  // and start, nor while msiexec has yet to read the package.
  UniqueFile held;
  const HeldStart check =
      CheckBeforeStart(path.get(), InstallerPin(id), PinsRequiredFor(onMedium), &held);
  if (check == HeldStart::kMismatch && onMedium) {
    // The medium is not ours to delete; the work folder's copy, or a download, is next.
    LogEvent(L"the medium's copy of %s is not used in this run", slot.localName);
    slot.mediumCopyRefused = true;
    slot.installing = false;
    StartInstaller(id, elevate);
    return;
  }
  // The file that failed is the work folder's copy, the one that was checked.
  if (check == HeldStart::kMismatch) DeleteInstaller(id);
  if (check == HeldStart::kGo) {
    // Started by the path of the held handle, never by looking the name up again.
    HeapString start = held ? HeldFilePath(held.get()) : static_cast<HeapString&&>(path);
    if (!start) LogEvent(L"not started: the path of the checked %s cannot be read", slot.localName);
    if (start) slot.process = LaunchInstaller(id, start.get(), elevate);
  }
  if (slot.process) {
    slot.heldInstaller = static_cast<UniqueFile&&>(held);
    return;
  }
  slot.installing = false;
  slot.installFailed = true;
}

// msiexec.exe in the system folder. Started elevated by a bare name, the shell would
// search the program's folder and the current folder first, where any download could
// have left a program of that name. Null when the folder cannot be read.
namespace {

HeapString MsiexecPath() {
  wchar_t folder[kSystemFolderUnits] = {};
  const UINT length = GetSystemDirectoryW(folder, kSystemFolderUnits);
  if (length == 0 || length >= UINT(kSystemFolderUnits)) return HeapString();
  return JoinPath(folder, kMsiexec);
}

}  // namespace

HeapString MsiexecParameters(const wchar_t* packagePath) {
  if (!packagePath) return HeapString();
  const int64_t units = int64_t(TextLength(packagePath)) + kMsiexecParameterSlack;
  if (units > INT32_MAX) return HeapString();
  HeapString parameters = NewString(int32_t(units));
  if (parameters) {
    wnsprintfW(parameters.get(), int(units), kMsiexecParameterFormat, packagePath);
  }
  return parameters;
}

const wchar_t* DotNetInstallerSwitches(RunMode mode) {
  switch (mode) {
    case RunMode::kPassive:
      return L"/passive /norestart";
    case RunMode::kQuiet:
      return L"/q /norestart";
    default:
      return nullptr;
  }
}

UniqueHandle LaunchInstaller(ComponentId id, const wchar_t* path, bool elevate) {
  if (!path) return UniqueHandle();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NO_CONSOLE;
  // Unattended, nobody would answer the shell's error box or a zone prompt for an
  // installer on a share: a failed start shows as an installer that failed instead.
  if (gSetup.runMode != RunMode::kInteractive) {
    info.fMask |= SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  }
  info.lpVerb = elevate ? L"RunAs" : nullptr;
  info.nShow = SW_SHOWNORMAL;
  HeapString parameters;
  HeapString msiexec;
  if (id == kLocalDb) {
    parameters = MsiexecParameters(path);
    msiexec = MsiexecPath();
    // Without its parameter text msiexec would be started half-formed: start nothing.
    if (!parameters || !msiexec) return UniqueHandle();
    info.lpFile = msiexec.get();
    info.lpParameters = parameters.get();
  } else {
    info.lpFile = path;
    info.lpParameters = DotNetInstallerSwitches(gSetup.runMode);
  }
  // The answer of the call is not consulted: a start counts only when it left a process
  // handle (none when elevation is refused or the program cannot be run).
  // The file name alone: the path holds the user's profile folder.
  const bool msi = id == kLocalDb;
  LogEvent(L"starting the installer of step %d: %s%s%s%s %s%s", id + 1, msi ? info.lpFile : L"",
           msi ? L" /i \"" : L"", PathFindFileNameW(path), msi ? L"\"" : L"",
           msi ? L"/qn" : (info.lpParameters ? info.lpParameters : L""),
           elevate ? L" (elevated)" : L"");
  ShellExecuteExW(&info);
  if (info.hProcess) {
    LogEvent(L"started: process id %u", GetProcessId(info.hProcess));
  } else {
    LogEvent(L"the start failed (error %u)", GetLastError());
  }
  return UniqueHandle(info.hProcess);
}
