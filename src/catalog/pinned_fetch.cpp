#include "catalog/pinned_fetch.h"

#include <shlwapi.h>

#include <cstring>

#include "catalog/update_server.h"
#include "util/paths.h"
#include "util/strings.h"
#include "util/setup_log.h"
#include "verify/pinned_file.h"
#include "verify/streamed_sha256.h"

namespace {

// The size of the file at path; false when it cannot be read.
bool SizeOfFile(const wchar_t* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  *size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// KeepIfPinned, taking the digest that streamed holds when it covers the whole file at
// path (a download of this call that began at its first byte) instead of reading it.
bool KeepIfStreamedMatches(const wchar_t* path, const wchar_t* name, const FilePin& pin,
                           StreamedSha256& streamed) {
  uint8_t digest[kSha256Bytes];
  uint32_t hashed = 0;
  uint64_t size = 0;
  if (!pin.present || !streamed.Finish(digest, &hashed) || !SizeOfFile(path, &size) ||
      size != hashed) {
    return KeepIfPinned(path, name, pin);
  }
  if (memcmp(digest, pin.digest, kSha256Bytes) == 0) {
    LogEvent(L"SHA-256 of %s verified while it arrived", name ? name : L"?");
    return true;
  }
  LogEvent(L"%s does not match its SHA-256: deleted", name ? name : L"?");
  DeleteFileW(path);
  return false;
}

}  // namespace

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
                               const FetchWatch& watch) {
  return FetchFromUpdateServer(remoteName, localName, force, nullptr, watch);
}

bool FetchPinnedFromUpdateServer(const wchar_t* remoteName, const wchar_t* localName,
                                 const FilePin& pin, WorkFolderFetch fetch,
                                 TransferProgress* progress) {
  HeapString path = localName ? WorkPath(localName, true) : HeapString();
  const bool kept = path && PathFileExistsW(path.get());
  // A partial file of an earlier run may have been begun from an older release: what
  // its resume completes is as doubtful as a file kept from then.
  HeapString download = remoteName ? WorkPath(remoteName, true) : HeapString();
  HeapString partial = download ? ConcatString(download.get(), L".FilePart") : HeapString();
  const bool resumed = partial && PathFileExistsW(partial.get());
  StreamedSha256 streamed;
  FetchWatch watch;
  watch.progress = progress;
  if (pin.present) {
    watch.sink = StreamedSha256::Add;
    watch.sinkContext = &streamed;
  }
  if (!fetch || !fetch(remoteName, localName, false, watch)) return false;
  if (KeepIfStreamedMatches(path.get(), localName, pin, streamed)) return true;
  // A file from an earlier run may stem from an older release: one fresh copy.
  return (kept || resumed) && fetch(remoteName, localName, true, watch) &&
         KeepIfStreamedMatches(path.get(), localName, pin, streamed);
}
