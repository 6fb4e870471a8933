#include "catalog/list_verification.h"

#include "catalog/fetch_retry.h"
#include "catalog/update_server.h"
#include "state/setup_state.h"
#include "util/paths.h"
#include "util/setup_log.h"
#include "verify/list_signature.h"

UniqueFile OpenSignedList(const wchar_t* listPath) {
  if (!listPath) return UniqueFile();
  HeapString signaturePath;
  if (FetchWithRetries(kListSignatureName, kListSignatureName, true)) {
    signaturePath = WorkPath(kListSignatureName, true);
  }
  UniqueFile list(CreateFileW(listPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  const ListSignature verdict = CheckListSignature(list.get(), signaturePath.get(),
                                                   gSetup.updateKeys, gSetup.updateKeyCount);
  LogEvent(L"update list signature: %s", ListSignatureText(verdict));
  if (verdict == ListSignature::kVerified) return list;
  // Nothing of an unsigned list may be used, not even by a later look at the folder.
  list.reset();
  DeleteFileW(listPath);
  return UniqueFile();
}
