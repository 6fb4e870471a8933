#include "catalog/pinned_fetch.h"

#include <shlwapi.h>

#include "catalog/update_server.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "verify/pinned_file.h"

bool KeepIfPinned(const wchar_t* path, const wchar_t* name, const FilePin& pin) {
  if (!pin.present) return true;
  PinCheck check = PinCheck::kUnreadable;
  if (OpenPinnedFile(path, pin.digest, &check)) {
    LogEvent(L"SHA-256 of %s verified after its download", name ? name : L"?");
    return true;
  }
  LogEvent(L"%s does not match its SHA-256: deleted", name ? name : L"?");
  if (path) DeleteFileW(path);
  return false;
}

bool FetchOnceFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName, bool force,
                               TransferProgress* progress) {
  return FetchFromUpdateServer(remoteName, localName, force, nullptr, progress);
}

bool FetchPinnedFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName,
                                 const FilePin& pin, WorkFolderFetch fetch,
                                 TransferProgress* progress) {
  HeapString path = localName ? WorkPath(localName, true) : HeapString();
  const bool kept = path && PathFileExistsW(path.get());
  if (!fetch || !fetch(remoteName, localName, false, progress)) return false;
  if (KeepIfPinned(path.get(), localName, pin)) return true;
  // A file from an earlier run may stem from an older release: one fresh copy.
  return kept && fetch(remoteName, localName, true, progress) &&
         KeepIfPinned(path.get(), localName, pin);
}
