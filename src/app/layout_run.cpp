#include "app/layout_run.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/quiet_run.h"
#include "catalog/self_update.h"
#include "catalog/comma_field.h"
#include "catalog/file_pins.h"
#include "catalog/line_file.h"
#include "catalog/pinned_fetch.h"
#include "catalog/update_list.h"
#include "state/exit_codes.h"
#include "ui/layout_progress.h"
#include "state/setup_state.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "util/stop_event.h"
#include "util/strings.h"
#include "catalog/fetch_retry.h"

namespace {

constexpr wchar_t kAssetsFolder[] = L"Assets";
constexpr wchar_t kProgramName[] = L"VeltoSetup.exe";
constexpr wchar_t kTempSuffix[] = L".tmp";
constexpr DWORD kPhasePollMs = 100;

// Every installer the medium carries: the program run from it chooses among them.
constexpr struct {
  const wchar_t* remote;
  const wchar_t* local;
} kInstallers[] = {
    {kDotNetRemoteName, kDotNetLocalName},
    {kLocalDb2014x86RemoteName, kLocalDb2014x86LocalName},
    {kLocalDb2014x64RemoteName, kLocalDb2014x64LocalName},
    {kLocalDb2017x64RemoteName, kLocalDb2017x64LocalName},
};

// The window's record in a passive layout; null without a window.
LayoutProgress* gLayoutProgress = nullptr;

int32_t End(int32_t exitCode, const wchar_t* reason) {
  LogEndEvent(L"The layout ends with exit code %d (%s).", exitCode, reason);
  return exitCode;
}

// A step that failed because the user cancelled the window ends the run as cancelled.
int32_t Failed(const wchar_t* reason) {
  if (StopRequested(gSetup.stopEvent.get())) {
    return End(kExitCancelled, L"the layout was cancelled");
  }
  return End(kExitFailed, reason);
}

// The pin that the information file at path gives the server's file remoteName (setting
// "-2,SHA256:<name>,<hex>"; the last one counts). The run's own pins cover only the
// LocalDB package this PC is offered.
FilePin InstallerPinIn(const wchar_t* path, const wchar_t* remoteName) {
  FilePin pin;
  LineReader reader;
  if (!reader.Open(path)) return pin;
  for (HeapString line = reader.ReadLine(); line; line = reader.ReadLine()) {
    if (IsCommentLine(line.get()) || RecordType(line.get()) != -2) continue;
    HeapString key = CommaField(line.get(), 1);
    const wchar_t* name = PinSettingName(key.get());
    if (!name || lstrcmpiW(name, remoteName) != 0) continue;
    HeapString value = CommaField(line.get(), 2);
    pin = ParsePin(value.get());
  }
  return pin;
}

// Copied (or moved) beside target first and renamed over it, so that a copy cut short
// never stands under the final name.
bool PlaceFile(const wchar_t* source, const wchar_t* target, bool move) {
  HeapString temp = ConcatString(target, kTempSuffix);
  if (!temp) return false;
  const bool copied = move ? MoveFileExW(source, temp.get(),
                                         MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)
                           : CopyFileW(source, temp.get(), FALSE);
  if (copied && MoveFileExW(temp.get(), target, MOVEFILE_REPLACE_EXISTING)) return true;
  LogEvent(L"layout: %s could not be written (error %u)", target, GetLastError());
  DeleteFileW(temp.get());
  return false;
}

// One file of the medium: kept when it is there and matches its pin, else fetched into
// the work folder (resuming an earlier partial file), checked and moved in.
bool LayOut(const wchar_t* assets, const wchar_t* remote, const wchar_t* local,
            const FilePin& pin) {
  if (!pin.present && gSetup.updateKeysPresent) {
    LogEvent(L"layout: %s has no SHA-256 in the signed update list", remote);
    return false;
  }
  HeapString target = JoinPath(assets, local);
  if (!target) return false;
  if (PathFileExistsW(target.get()) && KeepIfPinned(target.get(), local, pin)) {
    LogEvent(L"layout: %s is there already%s", local, pin.present ? L" and verified" : L"");
    return true;
  }
  if (gLayoutProgress) SetLayoutFile(*gLayoutProgress, local);
  if (!FetchPinnedFromUpdateServer(remote, local, pin, FetchWithRetries,
                                   gLayoutProgress ? &gLayoutProgress->transfer : nullptr)) {
    LogEvent(L"layout: %s could not be fetched", remote);
    return false;
  }
  HeapString fetched = WorkPath(local, false);
  return fetched && PlaceFile(fetched.get(), target.get(), true);
}

// The pieces of the section in effect, each as base + ".upd" on the server and base +
// ".upi" on the medium, as the program run from it looks for them.
bool LayOutPieces(const wchar_t* assets) {
  for (int i = 0; i < kComponentFileCount; ++i) {
    const wchar_t* entry = gSetup.componentFiles[i];
    if (entry[0] == L'\0') continue;
    // Joined to the folders, such a name would fetch and write outside them; the program
    // run from the medium would count the piece as missing anyway.
    if (gSetup.componentRefused[i]) {
      LogEvent(L"layout: piece %d: the name \"%s\" is refused", i + 1, entry);
      return false;
    }
    HeapString remote = PieceRemoteName(entry);
    HeapString local = PieceLocalName(entry);
    if (!remote || !local || !LayOut(assets, remote.get(), local.get(), gSetup.componentPins[i])) {
      return false;
    }
  }
  return true;
}

bool CopyProgram(const wchar_t* folder) {
  HeapString self = ModulePath(nullptr);
  HeapString target = JoinPath(folder, kProgramName);
  if (!self || !target) return false;
  // Made again from the medium it runs from: it is there, and in use.
  if (lstrcmpiW(self.get(), target.get()) == 0) return true;
  return PlaceFile(self.get(), target.get(), false);
}

// The update information of this run, once the worker has it; 0 when it is ready.
int32_t AwaitUpdateInfo() {
  for (;;) {
    HandOverInstanceMutex();
    // A self-update ended the run: the newer program makes the medium, or nothing does.
    if (gSetup.runEnded.load(std::memory_order_acquire)) return gSetup.runEndCode;
    const UpdatePhase phase = gSetup.phase.load(std::memory_order_acquire);
    if (phase == kPhaseReady) break;
    if (phase == kPhaseFailed) return End(kExitFailed, L"no update information");
    if (!gSetup.workerThread) return End(kExitFailed, L"the worker thread could not be started");
    Sleep(kPhasePollMs);
  }
  if (gSetup.localAssetsMode.load(std::memory_order_relaxed)) {
    return End(kExitFailed, L"this program runs from a medium; a layout is made from the server");
  }
  return kExitSuccess;
}

}  // namespace

int32_t RunLayout(const wchar_t* folder) {
  LogEvent(L"layout: making an offline medium in %s", folder);
  const int32_t ready = AwaitUpdateInfo();
  if (ready != kExitSuccess || gSetup.runEnded.load(std::memory_order_acquire)) return ready;
  HeapString assets = JoinPath(folder, kAssetsFolder);
  if (!assets) return End(kExitFailed, L"out of memory");
  const int created = SHCreateDirectoryExW(nullptr, assets.get(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) {
    LogEvent(L"layout: %s cannot be made (error %d)", assets.get(), created);
    return End(kExitFailed, L"the folder cannot be made");
  }
  HeapString information = WorkPath(kUpdateInfoName, false);
  for (const auto& installer : kInstallers) {
    const FilePin pin = InstallerPinIn(information.get(), installer.remote);
    if (!LayOut(assets.get(), installer.remote, installer.local, pin)) {
      return Failed(L"an installer could not be laid out");
    }
  }
  if (!LayOutPieces(assets.get())) return Failed(L"a piece could not be laid out");
  HeapString target = JoinPath(assets.get(), kUpdateInfoName);
  if (!information || !target || !CopyProgram(folder) ||
      !PlaceFile(information.get(), target.get(), false)) {
    return End(kExitFailed, L"the program or the update information could not be written");
  }
  return End(kExitSuccess, L"the medium is complete");
}

namespace {

struct LayoutJob {
  const wchar_t* folder;
  int32_t exitCode = kExitFailed;
};

DWORD WINAPI LayoutThread(void* parameter) {
  auto* job = static_cast<LayoutJob*>(parameter);
  job->exitCode = RunLayout(job->folder);
  return 0;
}

}  // namespace

int32_t RunLayoutWithWindow(const wchar_t* folder) {
  static LayoutProgress progress;
  gLayoutProgress = &progress;
  LayoutJob job{folder};
  UniqueHandle thread(CreateThread(nullptr, 0, LayoutThread, &job, 0, nullptr));
  if (!thread) {
    gLayoutProgress = nullptr;
    return RunLayout(folder);
  }
  if (ShowLayoutProgress(progress, thread.get())) {
    LogEvent(L"layout: cancelled in its window");
    if (gSetup.stopEvent) SetEvent(gSetup.stopEvent.get());
  }
  // A cancelled transfer returns within a second; its retries' pauses end at the stop.
  WaitForSingleObject(thread.get(), INFINITE);
  gLayoutProgress = nullptr;
  return job.exitCode;
}
