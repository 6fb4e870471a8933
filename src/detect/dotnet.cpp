#include "detect/dotnet.h"

#include <shlwapi.h>

#include "detect/registry.h"
#include "util/strings.h"

namespace {

constexpr int kDescriptionUnits = 200;
constexpr wchar_t kInstalledSuffix[] = L"がインストール済みです";
constexpr wchar_t kNdpFullKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr wchar_t kNdp40FullKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4.0\\Full";
constexpr wchar_t kNdp40ClientKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4.0\\Client";

// Rows are tried from the top; the first that holds names the release. A "below" row
// covers every number between the named releases around it.
enum class Test { kBelow, kEqual };
struct ReleaseRow {
  Test test;
  uint32_t release;
  const wchar_t* text;
};

constexpr ReleaseRow kReleaseTable[] = {
    {Test::kBelow, 378389, L".NET Framework 4.5pre?(%u)"},
    {Test::kEqual, 378389, L".NET Framework 4.5"},
    {Test::kBelow, 378675, L".NET Framework 4.5(%u)"},
    {Test::kEqual, 378675, L".NET Framework 4.5.1(8.1/2012R2)"},
    {Test::kEqual, 378758, L".NET Framework 4.5.1"},
    {Test::kBelow, 379893, L".NET Framework 4.5.1?(%u)"},
    {Test::kEqual, 379893, L".NET Framework 4.5.2"},
    {Test::kBelow, 393295, L".NET Framework 4.5.2?(%u)"},
    {Test::kEqual, 393295, L".NET Framework 4.6(1507)"},
    {Test::kEqual, 393297, L".NET Framework 4.6"},
    {Test::kBelow, 394254, L".NET Framework 4.6?(%u)"},
    {Test::kEqual, 394254, L".NET Framework 4.6.1(1511)"},
    {Test::kEqual, 394271, L".NET Framework 4.6.1"},
    {Test::kBelow, 394802, L".NET Framework 4.6.1?(%u)"},
    {Test::kEqual, 394802, L".NET Framework 4.6.2(1607)"},
    {Test::kEqual, 394806, L".NET Framework 4.6.2"},
    {Test::kBelow, 460798, L".NET Framework 4.6.2?(%u)"},
    {Test::kEqual, 460798, L".NET Framework 4.7(1703)"},
    {Test::kEqual, 460805, L".NET Framework 4.7"},
    {Test::kBelow, 461308, L".NET Framework 4.7?(%u)"},
    {Test::kEqual, 461308, L".NET Framework 4.7.1(1709)"},
    {Test::kEqual, 461310, L".NET Framework 4.7.1"},
    {Test::kBelow, 461808, L".NET Framework 4.7.1(%u)"},
    {Test::kEqual, 461808, L".NET Framework 4.7.2(1803)"},
    {Test::kEqual, 461814, L".NET Framework 4.7.2"},
    {Test::kBelow, 528040, L".NET Framework 4.7.2?(%u)"},
    {Test::kEqual, 528040, L".NET Framework 4.8(1903)"},
    {Test::kEqual, 528049, L".NET Framework 4.8"},
};
constexpr wchar_t kNewerRelease[] = L".NET Framework 4.8?(%u)";

const wchar_t* ReleaseTemplate(uint32_t release) {
  for (const ReleaseRow& row : kReleaseTable) {
    if (row.test == Test::kBelow ? release < row.release : release == row.release) return row.text;
  }
  return kNewerRelease;
}

// Formats the 4.0 profile line into buffer; false when neither profile is registered.
bool DescribeDotNet40(wchar_t* buffer) {
  HeapString version = ReadRegString(HKEY_LOCAL_MACHINE, kNdp40FullKey, L"Version", false);
  if (version) {
    wnsprintfW(buffer, kDescriptionUnits, L".NET Framework 4.0 Full Profile(%s)", version.get());
    return true;
  }
  version = ReadRegString(HKEY_LOCAL_MACHINE, kNdp40ClientKey, L"Version", false);
  if (version) {
    wnsprintfW(buffer, kDescriptionUnits, L".NET Framework 4.0 Client Profile(%s)", version.get());
    return true;
  }
  return false;
}

}  // namespace

uint32_t ReadDotNetRelease() {
  return uint32_t(ReadRegDword(HKEY_LOCAL_MACHINE, kNdpFullKey, L"Release", 0, false));
}

bool IsDotNetSatisfied() { return ReadDotNetRelease() >= kDotNetRequiredRelease; }

void DotNetReleaseName(uint32_t release, wchar_t* buffer, int capacity) {
  // The release is shown unsigned; the templates without a placeholder ignore it.
  wnsprintfW(buffer, capacity, ReleaseTemplate(release), release);
}

HeapString DescribeDotNet(uint32_t release) {
  HeapString buffer = NewString(kDescriptionUnits);
  if (!buffer) return buffer;
  if (release == 0) {
    if (!DescribeDotNet40(buffer.get())) {
      // The one line without the installed suffix.
      CopyString(buffer.get(), L".NET Framework 4.xはインストールされておりません", kDescriptionUnits);
      return buffer;
    }
  } else {
    DotNetReleaseName(release, buffer.get(), kDescriptionUnits);
  }
  return ConcatString(buffer.get(), kInstalledSuffix);
}
