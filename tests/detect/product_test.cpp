#include <gtest/gtest.h>

#include <string>

#include "detect/dotnet.h"
#include "detect/product.h"
#include "support/test_support.h"

namespace {

const std::wstring kProductKey = kProductRegistryKey;
constexpr uint32_t kAbsent = 0xDEADBEEF;  // marks a value the row leaves out

class Product : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ResetSetupState();
  }
  void TearDown() override {
    DeleteRegTree(HKEY_CURRENT_USER, kProductKey, kView64);
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup", kView32);
  }
  void Registration(uint32_t installed, const wchar_t* version, uint32_t code) {
    DeleteRegTree(HKEY_CURRENT_USER, kProductKey, kView64);
    if (installed != kAbsent) SetRegDword(HKEY_CURRENT_USER, kProductKey, L"Installed", installed, kView64);
    if (version) SetRegString(HKEY_CURRENT_USER, kProductKey, L"Version", version, kView64);
    if (code != kAbsent) SetRegDword(HKEY_CURRENT_USER, kProductKey, L"VersionCode", code, kView64);
  }
};

TEST_F(Product, TheLineShowsTheVersionOnlyWhenInstalledWithOne) {
  EXPECT_EQ(Text(DescribeProduct()), L"インストールされておりません") << "no key at all";
  const struct {
    uint32_t installed;
    const wchar_t* version;
    const wchar_t* line;
  } rows[] = {
      {1, L"3.1.0", L"3.1.0がインストール済みです"},
      {1, L"", L"インストールされておりません"},
      {1, nullptr, L"インストールされておりません"},
      {2, L"3.1.0", L"インストールされておりません"},
      {0, L"3.1.0", L"インストールされておりません"},
      {kAbsent, L"3.1.0", L"インストールされておりません"},
  };
  for (const auto& r : rows) {
    Registration(r.installed, r.version, kAbsent);
    EXPECT_EQ(Text(DescribeProduct()), r.line) << r.installed << " " << (r.version ? r.version : L"-");
  }
  Registration(1, std::wstring(300, L'9').c_str(), kAbsent);
  EXPECT_EQ(Text(DescribeProduct()), std::wstring(199, L'9'));
}

TEST_F(Product, CurrentMeansInstalledWithExactlyTheOfferedCode) {
  const struct {
    int32_t offered;
    uint32_t installed;
    uint32_t code;
    bool current;
  } rows[] = {
      {120, 1, 120, true},        {120, 1, 121, false},  {120, 1, 119, false},
      {120, 0, 120, false},       {120, 2, 120, false},  {120, kAbsent, 120, false},
      {120, 1, kAbsent, false},   {-1, 1, kAbsent, false}, {-1, 1, 0xFFFFFFFF, false},
      {0, 1, 0, true},
  };
  for (const auto& r : rows) {
    Registration(r.installed, L"1.0", r.code);
    EXPECT_EQ(IsProductCurrent(r.offered), r.current)
        << "offered " << r.offered << " installed " << r.installed << " code " << int32_t(r.code);
    EXPECT_EQ(IsComponentSatisfied(kProduct, r.offered), r.current);
  }
}

TEST_F(Product, OnlyTheThreeStepsCanBeSatisfied) {
  Registration(1, L"1.0", 5);
  SetRegDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
              L"Release", kDotNetRequiredRelease, kView32);
  EXPECT_TRUE(IsComponentSatisfied(kDotNet, 5));
  EXPECT_TRUE(IsComponentSatisfied(kProduct, 5));
  EXPECT_FALSE(IsComponentSatisfied(3, 5));
  EXPECT_FALSE(IsComponentSatisfied(-1, 5));
}

}  // namespace
