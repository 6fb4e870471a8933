#include "detect/product.h"

#include <shlwapi.h>

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/registry.h"
#include "util/strings.h"

namespace {

constexpr int kDescriptionUnits = 200;

int32_t ReadProductNumber(const wchar_t* name, int32_t defaultValue) {
  return ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, name, defaultValue, true);
}

}  // namespace

bool IsProductInstalled() { return ReadProductNumber(L"Installed", 0) == 1; }

HeapString DescribeProduct() {
  const bool installed = IsProductInstalled();
  HeapString version = ReadRegString(HKEY_CURRENT_USER, kProductRegistryKey, L"Version", true);
  if (!installed || !version || version.get()[0] == L'\0') {
    return DuplicateString(L"インストールされておりません");
  }
  HeapString line = NewString(kDescriptionUnits);
  if (line) wnsprintfW(line.get(), kDescriptionUnits, L"%sがインストール済みです", version.get());
  return line;
}

bool IsProductCurrent(int32_t offeredVersionCode) {
  const bool installed = IsProductInstalled();
  const int32_t code = ReadProductNumber(L"VersionCode", -1);
  return installed && code >= 0 && code == offeredVersionCode;
}

bool IsComponentSatisfied(ComponentId id, int32_t offeredVersionCode) {
  switch (id) {
    case kDotNet:
      return IsDotNetSatisfied();
    case kLocalDb:
      return IsLocalDbSatisfied();
    case kProduct:
      return IsProductCurrent(offeredVersionCode);
    default:
      return false;
  }
}
