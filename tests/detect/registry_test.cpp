#include <gtest/gtest.h>

#include <string>

#include "detect/registry.h"
#include "support/test_support.h"

namespace {

const std::wstring kScratch = L"SOFTWARE\\VeltoTests\\Registry";

class Registry : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VeltoTests", kView32);
    DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VeltoTests", kView64);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kLocalDbInstalledVersionsKey, kView32);
  }
};

TEST_F(Registry, TheTestBuildAnswersAsThe32BitProgramOn64BitWindows) {
  struct Row { bool build64Bit; bool wow64; bool want64; REGSAM flag; };
  const Row rows[] = {
      {false, true, false, 0},  // shipped, on 64-bit Windows
      {false, true, true, KEY_WOW64_64KEY},
      {false, false, false, 0},  // shipped, on 32-bit Windows: one view only
      {false, false, true, 0},
      {true, true, false, KEY_WOW64_32KEY},  // the test build, standing in for the first
      {true, true, true, KEY_WOW64_64KEY},
      {true, false, false, KEY_WOW64_32KEY},
      {true, false, true, KEY_WOW64_64KEY},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RegistryViewFlag(row.build64Bit, row.wow64, row.want64), row.flag)
        << row.build64Bit << row.wow64 << row.want64;
  }
  EXPECT_TRUE(IsWow64());
  EXPECT_EQ(RegistryAccess(KEY_QUERY_VALUE, false), REGSAM(KEY_QUERY_VALUE | KEY_WOW64_32KEY));
  EXPECT_EQ(RegistryAccess(KEY_QUERY_VALUE, true), REGSAM(KEY_QUERY_VALUE | KEY_WOW64_64KEY));
}

TEST_F(Registry, NumbersAreReadInTheRequestedView) {
  SetRegDword(HKEY_LOCAL_MACHINE, kScratch, L"Only32", 0x12345678, kView32);
  SetRegDword(HKEY_LOCAL_MACHINE, kScratch, L"Only64", 0xFFFFFFFF, kView64);

  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kScratch.c_str(), L"Only32", 7, false), 0x12345678);
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kScratch.c_str(), L"Only32", 7, true), 7);
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kScratch.c_str(), L"Only64", 7, true), -1);
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kScratch.c_str(), L"Only64", 7, false), 7);
}

TEST_F(Registry, NumbersTakeTheBytesOfShortValuesAndTheDefaultOtherwise) {
  const unsigned char two[] = {0x34, 0x12};
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"Two", REG_BINARY, two, sizeof(two), kView32);
  const unsigned char five[] = {1, 2, 3, 4, 5};
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"Five", REG_BINARY, five, sizeof(five), kView32);
  SetRegString(HKEY_LOCAL_MACHINE, kScratch, L"Text", L"12345", kView32);
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"Empty", REG_BINARY, nullptr, 0, kView32);

  const struct {
    const wchar_t* key;
    const wchar_t* value;
    int32_t expected;
  } cases[] = {
      {kScratch.c_str(), L"Two", 0x1234},
      {kScratch.c_str(), L"Five", -9},
      {kScratch.c_str(), L"Text", -9},  // twelve bytes of text do not fit four
      {kScratch.c_str(), L"Empty", 0},  // nothing stored: the preset zero
      {kScratch.c_str(), L"Missing", -9},
      {L"SOFTWARE\\VeltoTests\\NoSuchKey", L"Two", -9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, c.key, c.value, -9, false), c.expected) << c.value;
  }
}

TEST_F(Registry, TextsOfAnyLengthComeBackWholeAndTerminated) {
  const std::wstring longText(200, L'p');
  SetRegString(HKEY_LOCAL_MACHINE, kScratch, L"Long", longText, kView32);
  SetRegString(HKEY_LOCAL_MACHINE, kScratch, L"Short", L"12.3.6024.0", kView32);
  SetRegString(HKEY_LOCAL_MACHINE, kScratch, L"Empty", L"", kView32);
  // Stored without the terminating NUL: 32 units (the first buffer exactly) and 40 units.
  const std::wstring exact(32, L'x');
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"NoNul32", REG_SZ, exact.data(),
              DWORD(exact.size() * 2), kView32);
  const std::wstring longer(40, L'y');
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"NoNul40", REG_SZ, longer.data(),
              DWORD(longer.size() * 2), kView32);
  // An odd byte count rounds up to whole units.
  const char odd[] = {'a', 0, 'b'};
  SetRegBytes(HKEY_LOCAL_MACHINE, kScratch, L"Odd", REG_BINARY, odd, 3, kView32);
  SetRegString(HKEY_LOCAL_MACHINE, kScratch, L"In64", L"sixty-four", kView64);

  const struct {
    const wchar_t* value;
    bool want64;
    std::wstring expected;
  } cases[] = {
      {L"Long", false, longText},     {L"Short", false, L"12.3.6024.0"},
      {L"Empty", false, L""},         {L"NoNul32", false, exact},
      {L"NoNul40", false, longer},    {L"Odd", false, L"ab"},
      {L"In64", true, L"sixty-four"}, {L"In64", false, L"<null>"},
      {L"Missing", false, L"<null>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(ReadRegString(HKEY_LOCAL_MACHINE, kScratch.c_str(), c.value, c.want64)),
              c.expected)
        << c.value;
  }
  EXPECT_FALSE(ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VeltoTests\\None", L"x", false));
}

TEST_F(Registry, LocalDbVersionsAreEnumeratedWithNamesOfAnyLength) {
  EXPECT_FALSE(EnumLocalDbVersion(0)) << "no key at all";

  SetRegDword(HKEY_LOCAL_MACHINE, kLocalDbInstalledVersionsKey, L"Marker", 1, kView32);
  EXPECT_FALSE(EnumLocalDbVersion(0)) << "a key without subkeys";

  const std::wstring longName = L"12.0-" + std::wstring(40, L'n');
  for (const std::wstring& name : {std::wstring(L"11.0"), longName}) {
    SetRegDword(HKEY_LOCAL_MACHINE, std::wstring(kLocalDbInstalledVersionsKey) + L"\\" + name,
                L"Marker", 1, kView32);
  }
  // Subkeys written in the 64-bit view are not where the 32-bit program looks.
  SetRegDword(HKEY_LOCAL_MACHINE, std::wstring(kLocalDbInstalledVersionsKey) + L"\\15.0",
              L"Marker", 1, kView64);

  std::wstring names;
  uint32_t index = 0;
  for (HeapString name; index < 10 && (name = EnumLocalDbVersion(index)); ++index) {
    names += std::wstring(name.get()) + L";";
  }
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(names, L"11.0;" + longName + L";");
  EXPECT_FALSE(EnumLocalDbVersion(2));
  DeleteRegTree(HKEY_LOCAL_MACHINE, kLocalDbInstalledVersionsKey, kView64);
}

}  // namespace
