#include "net/fetch.h"

#include <shlwapi.h>

#include "net/download.h"
#include "util/paths.h"
#include "util/strings.h"

bool FetchByName(const wchar_t* baseUrl, const wchar_t* remoteName, const wchar_t* localName,
                 bool force, const TransferControl& control) {
  // Whatever ends the fetch before or after the transfer is this side's.
  if (control.outcome) *control.outcome = TransferOutcome{};
  // Both names come from update files; a name with a folder part would reach outside
  // the work folder (and the server's folder).
  if (!IsBareFileName(remoteName) || !IsBareFileName(localName)) return false;
  HeapString url = ConcatString(baseUrl, remoteName);
  HeapString downloadPath = WorkPath(remoteName, true);
  HeapString finalPath = WorkPath(localName, true);
  if (!url || !downloadPath || !finalPath) return false;

  if (PathFileExistsW(finalPath.get())) {
    if (!force) {
      if (control.outcome) control.outcome->end = TransferEnd::kComplete;
      return true;
    }
    DeleteFileW(finalPath.get());
  }
  if (!DownloadFile(url.get(), downloadPath.get(), control)) {
    DeleteFileW(downloadPath.get());
    return false;
  }
  if (lstrcmpiW(downloadPath.get(), finalPath.get()) == 0) return true;
  // Only a move that happened puts the new file under the local name; a local file that
  // could not be deleted must not pass for the fresh download. The remote name lives only
  // between the two moves.
  if (MoveFileW(downloadPath.get(), finalPath.get())) return true;
  if (control.outcome) control.outcome->end = TransferEnd::kLocalFailure;
  DeleteFileW(downloadPath.get());
  return false;
}
