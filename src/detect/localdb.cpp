#include "detect/localdb.h"

#include <shlwapi.h>

#include "detect/registry.h"
#include "util/platform_sizes.h"
#include "util/strings.h"

namespace {

constexpr int kDescriptionUnits = 200;
constexpr int kKeyUnits = 128;

struct SetupVersionRow {
  const wchar_t* version;
  const wchar_t* name;
};

constexpr SetupVersionRow kSetupVersions[] = {
    {L"11.0.2100.60", L"SQL Server 2012 RTM LocalDB"},
    {L"11.1.3000.0", L"SQL Server 2012 SP1 LocalDB"},
    {L"11.2.5058.0", L"SQL Server 2012 SP2 LocalDB"},
    {L"11.3.6020.0", L"SQL Server 2012 SP3 LocalDB"},
    {L"11.4.7001.0", L"SQL Server 2012 SP4 LocalDB"},
    {L"12.0.2000.8", L"SQL Server 2014 RTM LocalDB"},
    {L"12.1.4100.1", L"SQL Server 2014 SP1 LocalDB"},
    {L"12.2.5000.0", L"SQL Server 2014 SP2 LocalDB"},
    {L"12.3.6024.0", L"SQL Server 2014 SP3 LocalDB"},
    {L"13.0.1601.5", L"SQL Server 2016 RTM LocalDB"},
    {L"13.1.4001.0", L"SQL Server 2016 SP1 LocalDB"},
    {L"13.2.5026.0", L"SQL Server 2016 SP2 LocalDB"},
    {L"14.0.1000.169", L"SQL Server 2017 RTM LocalDB"},
};

const wchar_t* MajorVersionName(int32_t major) {
  if (major < 12) return L"SQL Server 2012 LocalDB以前";
  if (major == 12) return L"SQL Server 2014 LocalDB";
  if (major == 13) return L"SQL Server 2016 LocalDB";
  if (major == 14) return L"SQL Server 2017 LocalDB";
  return L"SQL Server 2019 LocalDB以降";
}

// The value of the leading decimal digits; 0 when the name does not begin with one.
int32_t LeadingNumber(const wchar_t* name) {
  int64_t value = 0;
  for (const wchar_t* p = name; *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + (*p - L'0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return int32_t(value);
}

bool Equal(const wchar_t* a, const wchar_t* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// The instance's setup "Version" (64-bit view), or null when the instance name is missing.
HeapString ReadInstanceSetupVersion(const wchar_t* instance, wchar_t* keyBuffer) {
  if (!instance) return HeapString();
  // A cut key path would name another key; such an instance counts as unreadable.
  if (wnsprintfW(keyBuffer, kKeyUnits, L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\%s\\Setup",
                 instance) < 0) {
    return HeapString();
  }
  return ReadRegString(HKEY_LOCAL_MACHINE, keyBuffer, L"Version", true);
}

}  // namespace

int32_t MaxLocalDbMajorVersion() {
  int32_t best = 0;
  for (uint32_t index = 0;; ++index) {
    HeapString name = EnumLocalDbVersion(index);
    if (!name) return best;
    const int32_t major = LeadingNumber(name.get());
    if (major > best) best = major;
  }
}

int LocalDbPackageKindFor(bool wow64, bool versionKnown, uint32_t major, uint32_t minor) {
  if (!wow64) return kLocalDbKind2014x86;
  if (!versionKnown) return kLocalDbKind2014x64;
  if (major > 6 || (major == 6 && minor > 1)) return kLocalDbKind2017x64;
  return kLocalDbKind2014x64;
}

int LocalDbPackageKind() {
  if (!IsWow64()) return kLocalDbKind2014x86;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  const bool known = GetVersionExW(&version) != FALSE;
  return LocalDbPackageKindFor(true, known, version.dwMajorVersion, version.dwMinorVersion);
}

bool IsLocalDbMajorAccepted(int kind, int32_t major) {
  switch (kind) {
    case kLocalDbKind2014x86:
    case kLocalDbKind2014x64:
      return major == 12 || major == 14;
    case kLocalDbKind2017x64:
      return major == 14;
    default:
      return false;
  }
}

HeapString LocalDbPackageName(int kind) {
  switch (kind) {
    case kLocalDbKind2014x64:
      return DuplicateString(L"SQL Server 2014 SP3 LocalDB(x64)");
    case kLocalDbKind2017x64:
      return DuplicateString(L"SQL Server 2017 RTM LocalDB(x64)");
    default:
      return DuplicateString(L"SQL Server 2014 SP3 LocalDB(x86)");
  }
}

HeapString DescribeLocalDbVersion(int32_t major, const wchar_t* setupVersion) {
  HeapString text = NewString(kDescriptionUnits);
  if (!text) return text;
  if (!setupVersion) {
    CopyString(text.get(), MajorVersionName(major), kDescriptionUnits);
    return text;
  }
  for (const SetupVersionRow& row : kSetupVersions) {
    if (Equal(row.version, setupVersion)) {
      CopyString(text.get(), row.name, kDescriptionUnits);
      return text;
    }
  }
  wnsprintfW(text.get(), kDescriptionUnits, L"不明なバージョンのSQL Server LocalDB(%s)", setupVersion);
  return text;
}

HeapString DescribeLocalDb(int32_t major) {
  HeapString line = NewString(kDescriptionUnits);
  if (!line) return line;
  if (major == 0) {
    CopyString(line.get(), L"SQL Server LocalDBはインストールされておりません", kDescriptionUnits);
    return line;
  }
  HeapString key = NewString(kKeyUnits);
  if (!key) return HeapString();
  wnsprintfW(key.get(), kKeyUnits, L"%s\\%d.0", kLocalDbInstalledVersionsKey, major);

  HeapString apiPath = ReadRegString(HKEY_LOCAL_MACHINE, key.get(), L"InstanceAPIPath", false);
  bool healthy = apiPath && PathFileExistsW(apiPath.get());
  HeapString instance = ReadRegString(HKEY_LOCAL_MACHINE, key.get(), L"ParentInstance", false);
  HeapString version = ReadInstanceSetupVersion(instance.get(), key.get());
  if (!version) healthy = false;

  HeapString name = DescribeLocalDbVersion(major, version.get());
  if (!name) return HeapString();
  wnsprintfW(line.get(), kDescriptionUnits,
             healthy ? L"%sがインストール済みです" : L"%sがインストール済みです(異常)", name.get());
  return line;
}

bool IsLocalDbSatisfied() {
  const int32_t major = MaxLocalDbMajorVersion();
  return IsLocalDbMajorAccepted(LocalDbPackageKind(), major);
}
