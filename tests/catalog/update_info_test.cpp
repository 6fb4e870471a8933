#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/setup_state.h"
#include "catalog/update_info.h"
#include "catalog_test_support.h"
#include "support/test_support.h"

namespace {

const std::string kMark = "\xEF\xBB\xBF";

std::wstring Text(const wchar_t* text) { return text ? text : L"<absent>"; }

std::vector<std::wstring> Entries() {
  std::vector<std::wstring> entries;
  for (const auto& entry : gSetup.componentFiles) entries.push_back(entry);
  return entries;
}

TEST(ReadUpdateInfo, LoadsTheExampleFile) {
  ResetSetupState();
  TempFolder temp;
  WriteFileBytes(temp / L"vtupdaterinfo.upi", kMark +
                     "0,120,1,x,20200101_0000,Velto 2020\r\n"
                     "-2,ProductNameShort,Velto\r\n"
                     "1,setupA\r\n"
                     "2,dataB\r\n");
  ASSERT_TRUE(ReadUpdateInfo((temp / L"vtupdaterinfo.upi").c_str()));
  EXPECT_EQ(gSetup.productVersionCode.load(), 120);
  EXPECT_EQ(Text(gSetup.productDisplayName.load()), L"Velto 2020");
  EXPECT_EQ(Text(gSetup.productNameShort.load()), L"Velto");
  EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"setupA", L"dataB", L"", L"", L"", L"", L"", L"",
                                                  L"", L""}));
}

TEST(ReadUpdateInfo, AReadThatBreaksOffFailsAndAppliesNothing) {
  ResetSetupState();
  const wchar_t pipeName[] = L"\\\\.\\pipe\\velto_update_info_read";
  {
    BrokenOffPipe pipe(pipeName, kMark + "0,12");  // of "0,120,..."
    ASSERT_TRUE(pipe.ok());
    EXPECT_FALSE(ReadUpdateInfo(pipeName));
  }
  EXPECT_EQ(gSetup.productVersionCode.load(), -1) << "a cut-off header is not applied";
}

struct InfoCase {
  const char* name;
  std::string lines;  // UTF-8, written after the mark
  int32_t versionCode;
  const wchar_t* displayName;
  const wchar_t* nameShort;
  // Entries that differ from the starting table, where entry 2 holds "prior".
  std::vector<std::pair<int, std::wstring>> entries;
  // Entries whose names are refused: they count as missing pieces.
  std::vector<int> refused = {};
};

TEST(ReadUpdateInfo, AppliesEachRecordTypeAsItsTableSays) {
  const std::string name300(300, 'n');
  const InfoCase cases[] = {
      {"header with two fields", "0,120\r\n", 120, nullptr, L"Velto", {}},
      {"bare header without commas", "0\r\n", 0, nullptr, L"Velto", {}},
      {"empty line is a header", "0,7,,,,A\r\n\r\n", 0, nullptr, L"Velto", {}},
      {"later header wins", "0,1,,,,A\r\n0,2,,,,B\r\n", 2, L"B", L"Velto", {}},
      {"later header without a name", "0,3,,,,C\r\n0,4\r\n", 4, nullptr, L"Velto", {}},
      {"no stamp is compared", "0,5,,,99991231_2359,Z\r\n", 5, L"Z", L"Velto", {}},
      {"Japanese display name", "0,9,,,,\xE6\x9B\xB4\xE6\x96\xB0\r\n", 9, L"更新", L"Velto", {}},
      {"text in field 0 reads as a header", "abc,12\r\n", 12, nullptr, L"Velto", {}},
      {"type 11 changes nothing", "11,x\r\n", -1, nullptr, L"Velto", {}},
      {"types -1 and -3 change nothing", "-1,9,,,,setupX\r\n-3,y\r\n", -1, nullptr, L"Velto", {}},
      {"comments are skipped", "--0,5,,,,C\r\n--,1\r\n", -1, nullptr, L"Velto", {}},
      {"present empty name empties the entry", "3,\r\n", -1, nullptr, L"Velto", {{2, L""}}},
      {"a piece number without a comma is a header", "3\r\n", 0, nullptr, L"Velto", {}},
      {"pieces 1 and 10", "1,a\r\n10,last\r\n1,b\r\n", -1, nullptr, L"Velto", {{0, L"b"}, {9, L"last"}}},
      {"blanks belong to the name", "1, a b.x\r\n", -1, nullptr, L"Velto", {{0, L" a b.x"}}},
      {"a trailing blank is no file name", "1,a \r\n", -1, nullptr, L"Velto", {{0, L"a "}}, {0}},
      {"a device name is no file name", "1,NUL\r\n", -1, nullptr, L"Velto", {{0, L"NUL"}}, {0}},
      {"a later good name replaces a refused one", "1,a?b\r\n1,a\r\n", -1, nullptr, L"Velto",
       {{0, L"a"}}},
      {"long name is cut to 259", "1," + name300 + "\r\n", -1, nullptr, L"Velto",
       {{0, std::wstring(259, L'n')}}},
      {"short name", "-2,ProductNameShort,Vx\r\n", -1, nullptr, L"Vx", {}},
      {"setting key is case-sensitive", "-2,productnameshort,x\r\n", -1, nullptr, L"Velto", {}},
      {"other setting keys", "-2,ProductNameShort2,x\r\n-2, ProductNameShort,y\r\n", -1, nullptr,
       L"Velto", {}},
      {"short name without value is absent", "-2,ProductNameShort\r\n", -1, nullptr, nullptr, {}},
      {"short name with empty value", "-2,ProductNameShort,\r\n", -1, nullptr, L"", {}},
      {"names leaving the folder are refused",
       "3,..\\evil\r\n3,a/b\r\n3,C:x\r\n3,.\r\n3,..\r\n4,\\\\srv\\s\r\n", -1, nullptr, L"Velto",
       {{2, L".."}, {3, L"\\\\srv\\s"}}, {2, 3}},
      {"dots inside a name are fine", "3,..x\r\n4,a.b\r\n", -1, nullptr, L"Velto",
       {{2, L"..x"}, {3, L"a.b"}}},
  };
  TempFolder temp;
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupState();
    wcscpy(gSetup.componentFiles[2], L"prior");
    std::vector<std::wstring> expected = Entries();
    for (const auto& [index, name] : c.entries) expected[index] = name;

    WriteFileBytes(temp / L"vtupdaterinfo.upi", kMark + c.lines);
    ASSERT_TRUE(ReadUpdateInfo((temp / L"vtupdaterinfo.upi").c_str()));
    EXPECT_EQ(gSetup.productVersionCode.load(), c.versionCode);
    EXPECT_EQ(Text(gSetup.productDisplayName.load()), Text(c.displayName));
    EXPECT_EQ(Text(gSetup.productNameShort.load()), Text(c.nameShort));
    EXPECT_EQ(Entries(), expected);
    std::vector<int> refused;
    for (int i = 0; i < kComponentFileCount; ++i) {
      if (gSetup.componentRefused[i]) refused.push_back(i);
    }
    EXPECT_EQ(refused, c.refused);
  }
}

TEST(ReadUpdateInfo, EmptyFilesChangeNothingAndMissingFilesFail) {
  TempFolder temp;
  for (const std::string& bytes : {std::string(), kMark}) {
    ResetSetupState();
    WriteFileBytes(temp / L"vtupdaterinfo.upi", bytes);
    EXPECT_TRUE(ReadUpdateInfo((temp / L"vtupdaterinfo.upi").c_str()));
    EXPECT_EQ(gSetup.productVersionCode.load(), -1);
    EXPECT_EQ(Text(gSetup.productNameShort.load()), L"Velto");
    EXPECT_EQ(gSetup.productDisplayName.load(), nullptr);
  }
  ResetSetupState();
  EXPECT_FALSE(ReadUpdateInfo((temp / L"missing.upi").c_str()));
  EXPECT_FALSE(ReadUpdateInfo(nullptr));
  EXPECT_EQ(gSetup.productVersionCode.load(), -1);
}

class LoadUpdateInfoTest : public testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    RemoveTree(AssetsFolderPath());
    RemoveTree(QrnFolderPath());
    ResetSetupState();
  }
};

// The folder is the one the local-mode decision named, whichever files exist when the
// information is read: a medium's file that appears later is not mixed in.
TEST_F(LoadUpdateInfoTest, TheLocalModeDecisionNamesTheFolder) {
  CreateDirectoryW(AssetsFolderPath().c_str(), nullptr);
  WriteFileBytes(AssetsFolderPath() + L"\\vtupdaterinfo.upi", "0,11,,,,Assets\r\n");
  CreateDirectoryW(QrnFolderPath().c_str(), nullptr);
  CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
  WriteFileBytes(WorkFolderPath() + L"\\vtupdaterinfo.upi", "0,22,,,,Work\r\n");
  for (const bool local : {true, false}) {
    ResetSetupState();
    gSetup.localAssetsMode.store(local);
    EXPECT_TRUE(LoadUpdateInfo());
    EXPECT_EQ(gSetup.productVersionCode.load(), local ? 11 : 22);
  }
  ResetSetupState();
  gSetup.localAssetsMode.store(true);
  RemoveTree(AssetsFolderPath());
  EXPECT_FALSE(LoadUpdateInfo()) << "the work folder's file was read in local mode";
}

TEST_F(LoadUpdateInfoTest, FailsWithoutAnyInformationFileAndCreatesTheWorkFolder) {
  EXPECT_FALSE(LoadUpdateInfo());
  EXPECT_TRUE(IsDirectory(WorkFolderPath()));
  EXPECT_EQ(gSetup.productVersionCode.load(), -1);
}

}  // namespace

namespace {

// Pins: field 2 of a piece goes with its name; "SHA256:<server name>" settings pin the
// prerequisites' installers. Anything that is not 64 hex digits pins nothing.
TEST(ReadUpdateInfo, PinsGoWithTheirNames) {
  const std::string hex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
  const struct {
    const char* lines;
    bool piecePinned;
    bool dotNetPinned;
  } cases[] = {
      {"1,a,{}\r\n", true, false},
      {"1,a,{}\r\n1,b\r\n", false, false},
      {"1,a,{}x\r\n", false, false},
      {"1,a,0{}\r\n", false, false},
      {"1,a,{},more\r\n", true, false},
      {"1,..\\a,{}\r\n", false, false},
      {"-2,SHA256:NDP461.UPD,{}\r\n", false, true},
      {"-2,sha256:ndp461.upd,{}\r\n", false, false},
      {"-2,SHA256:ndp462.upd,{}\r\n", false, false},
      {"-2,SHA256:ndp461.upd,{}\r\n-2,SHA256:ndp461.upd,\r\n", false, false},
  };
  for (const auto& c : cases) {
    std::string lines = c.lines;
    for (size_t at; (at = lines.find("{}")) != std::string::npos;) lines.replace(at, 2, hex);
    SCOPED_TRACE(lines);
    ResetSetupState();
    gSetup.slots[kDotNet].remoteName = kDotNetRemoteName;
    TempFolder temp;
    WriteFileBytes(temp / L"vtupdaterinfo.upi", kMark + lines);
    ASSERT_TRUE(ReadUpdateInfo((temp / L"vtupdaterinfo.upi").c_str()));
    EXPECT_EQ(gSetup.componentPins[0].present, c.piecePinned);
    EXPECT_EQ(gSetup.installerPins[kDotNet].present, c.dotNetPinned);
    const FilePin& pin = c.piecePinned ? gSetup.componentPins[0] : gSetup.installerPins[kDotNet];
    if (c.piecePinned || c.dotNetPinned) {
      EXPECT_EQ(pin.digest[0], 0x00);
      EXPECT_EQ(pin.digest[9], 0x99);
      EXPECT_EQ(pin.digest[31], 0xFF);
    }
  }
}

}  // namespace
