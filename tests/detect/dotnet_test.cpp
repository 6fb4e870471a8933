#include <gtest/gtest.h>

#include <string>

#include "detect/dotnet.h"
#include "support/test_support.h"

namespace {

const std::wstring kNdp = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";
const std::wstring kFull = kNdp + L"\\v4\\Full";
constexpr wchar_t kSuffix[] = L"がインストール済みです";

// Around every named release r: r - 1, r and r + 1, as the dialog shows them.
TEST(DotNetReleaseTable, NamesEveryReleaseAndTheNumbersBetween) {
  const struct {
    uint32_t release;
    const wchar_t* name;
  } rows[] = {
      {1, L"4.5pre?(1)"},
      {378388, L"4.5pre?(378388)"},      {378389, L"4.5"},          {378390, L"4.5(378390)"},
      {378674, L"4.5(378674)"},          {378675, L"4.5.1(8.1/2012R2)"},
      {378676, L"4.5.1?(378676)"},       {378757, L"4.5.1?(378757)"},
      {378758, L"4.5.1"},                {378759, L"4.5.1?(378759)"},
      {379892, L"4.5.1?(379892)"},       {379893, L"4.5.2"},        {379894, L"4.5.2?(379894)"},
      {393294, L"4.5.2?(393294)"},       {393295, L"4.6(1507)"},    {393296, L"4.6?(393296)"},
      {393297, L"4.6"},                  {393298, L"4.6?(393298)"},
      {394253, L"4.6?(394253)"},         {394254, L"4.6.1(1511)"},  {394255, L"4.6.1?(394255)"},
      {394270, L"4.6.1?(394270)"},       {394271, L"4.6.1"},        {394272, L"4.6.1?(394272)"},
      {394801, L"4.6.1?(394801)"},       {394802, L"4.6.2(1607)"},  {394803, L"4.6.2?(394803)"},
      {394805, L"4.6.2?(394805)"},       {394806, L"4.6.2"},        {394807, L"4.6.2?(394807)"},
      {460797, L"4.6.2?(460797)"},       {460798, L"4.7(1703)"},    {460799, L"4.7?(460799)"},
      {460804, L"4.7?(460804)"},         {460805, L"4.7"},          {460806, L"4.7?(460806)"},
      {461307, L"4.7?(461307)"},         {461308, L"4.7.1(1709)"},  {461309, L"4.7.1(461309)"},
      {461310, L"4.7.1"},                {461311, L"4.7.1(461311)"},
      {461807, L"4.7.1(461807)"},        {461808, L"4.7.2(1803)"},  {461809, L"4.7.2?(461809)"},
      {461813, L"4.7.2?(461813)"},       {461814, L"4.7.2"},        {461815, L"4.7.2?(461815)"},
      {528039, L"4.7.2?(528039)"},       {528040, L"4.8(1903)"},    {528041, L"4.8?(528041)"},
      {528048, L"4.8?(528048)"},         {528049, L"4.8"},          {528050, L"4.8?(528050)"},
      {0xFFFFFFFFu, L"4.8?(4294967295)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Text(DescribeDotNet(row.release)),
              std::wstring(L".NET Framework ") + row.name + kSuffix)
        << row.release;
  }
}

class DotNet : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteRegTree(HKEY_LOCAL_MACHINE, kNdp, kView32);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kNdp, kView64);
  }
};

TEST_F(DotNet, TheReleaseIsReadFromThe32BitViewAndJudgedAgainst394254) {
  EXPECT_EQ(ReadDotNetRelease(), 0u);
  EXPECT_FALSE(IsDotNetSatisfied());

  // Only the 64-bit view holds it: the 32-bit program does not see it.
  SetRegDword(HKEY_LOCAL_MACHINE, kFull, L"Release", 528049, kView64);
  EXPECT_EQ(ReadDotNetRelease(), 0u);

  const struct {
    uint32_t release;
    bool satisfied;
  } cases[] = {{394253, false}, {394254, true}, {394271, true}, {528049, true}, {1, false}};
  for (const auto& c : cases) {
    SetRegDword(HKEY_LOCAL_MACHINE, kFull, L"Release", c.release, kView32);
    EXPECT_EQ(ReadDotNetRelease(), c.release);
    EXPECT_EQ(IsDotNetSatisfied(), c.satisfied) << c.release;
  }
}

TEST_F(DotNet, WithoutAReleaseThe40ProfilesAreDescribed) {
  EXPECT_EQ(Text(DescribeDotNet(0)), L".NET Framework 4.xはインストールされておりません");

  SetRegString(HKEY_LOCAL_MACHINE, kNdp + L"\\v4.0\\Client", L"Version", L"4.0.30319", kView32);
  EXPECT_EQ(Text(DescribeDotNet(0)),
            std::wstring(L".NET Framework 4.0 Client Profile(4.0.30319)") + kSuffix);

  SetRegString(HKEY_LOCAL_MACHINE, kNdp + L"\\v4.0\\Full", L"Version", L"4.0.30320", kView32);
  EXPECT_EQ(Text(DescribeDotNet(0)),
            std::wstring(L".NET Framework 4.0 Full Profile(4.0.30320)") + kSuffix);

  // A stored release of 0 counts as none; the 4.0 profile does not satisfy step 1.
  SetRegDword(HKEY_LOCAL_MACHINE, kFull, L"Release", 0, kView32);
  EXPECT_EQ(Text(DescribeDotNet(ReadDotNetRelease())),
            std::wstring(L".NET Framework 4.0 Full Profile(4.0.30320)") + kSuffix);
  EXPECT_FALSE(IsDotNetSatisfied());
}

TEST_F(DotNet, AnOverlongProfileVersionIsCutToTheLine) {
  SetRegString(HKEY_LOCAL_MACHINE, kNdp + L"\\v4.0\\Full", L"Version", std::wstring(400, L'9'),
               kView32);
  const std::wstring line = Text(DescribeDotNet(0));
  // 199 units of formatted text, then the suffix.
  EXPECT_EQ(line.size(), 199u + std::wstring(kSuffix).size());
  EXPECT_EQ(line.substr(0, 33), L".NET Framework 4.0 Full Profile(9");
}

}  // namespace
