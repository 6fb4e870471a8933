#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/setup_state.h"
#include "catalog/update_info.h"
#include "catalog/update_list.h"
#include "catalog/update_selection.h"
#include "catalog_test_support.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_support.h"

namespace {

const std::string kMark = "\xEF\xBB\xBF";
const std::string kPriorInfo = kMark + "0,1,,,,Prior\r\n1,prior\r\n";

struct SelectionCase {
  const char* name;
  std::string list;     // stamps as {N}: the current minute moved by N minutes
  const char* written;  // the information file after the mark; null: the earlier one stays
};

// The OEM code page's reading of one byte, as UTF-8.
std::string OemByteAsUtf8(char byte) {
  wchar_t unit = 0;
  MultiByteToWideChar(CP_OEMCP, 0, &byte, 1, &unit, 1);
  return Narrow(std::wstring(1, unit));
}

std::vector<SelectionCase> SelectionCases() {
  static const std::string oemWritten = "0,1,,,{-1},H\r\n1," + OemByteAsUtf8('\x8E') + "\r\n";
  return {
      {"newest first with one in the future",
       kMark + "0,300,0,x,{10},Future\r\n1,future\r\n0,200,0,x,{-5},A\r\n1,a1\r\n2,a2\r\n"
               "0,100,0,x,{-20},B\r\n1,b1\r\n",
       "0,200,0,x,{-5},A\r\n1,a1\r\n2,a2\r\n"},
      {"the current minute is in effect, the next one is not",
       kMark + "0,2,,,{1},Later\r\n1,later\r\n0,1,,,{0},Now\r\n1,now\r\n",
       "0,1,,,{0},Now\r\n1,now\r\n"},
      {"no header in effect", kMark + "-2,K,v\r\n0,1,,,{1},X\r\n1,x\r\n", nullptr},
      {"settings wherever they stand until the scan stops",
       kMark + "-2,ProductNameShort,V\r\n0,1,,,{-1},H\r\n1,p\r\n-2,K,after\r\n0,0,,,{-2},Old\r\n"
               "-2,K,never\r\n",
       "-2,ProductNameShort,V\r\n0,1,,,{-1},H\r\n1,p\r\n-2,K,after\r\n"},
      {"entries before the header are dropped", kMark + "1,early\r\n0,1,,,{-1},H\r\n1,p\r\n",
       "0,1,,,{-1},H\r\n1,p\r\n"},
      {"a revision after the ending header is never seen",
       kMark + "0,2,,,{-1},H\r\n1,p\r\n0,1,,,{-2},Old\r\n-1,5,,,{-10},never\r\n",
       "0,2,,,{-1},H\r\n1,p\r\n"},
      {"an empty line ends the section being copied",
       kMark + "0,1,,,{-1},H\r\n1,p\r\n\r\n1,q\r\n", "0,1,,,{-1},H\r\n1,p\r\n"},
      {"an empty line opens a section of its own", kMark + "1,x\r\n\r\n1,p\r\n0,1,,,{-1},H\r\n",
       "\r\n1,p\r\n"},
      {"a bare line opens a section of its own", kMark + "0,1,,,{5},F\r\nheader\r\n1,p\r\n",
       "header\r\n1,p\r\n"},
      {"a header without a stamp is in effect", kMark + "0,1\r\n1,p\r\n", "0,1\r\n1,p\r\n"},
      {"comments inside the section are not copied",
       kMark + "0,1,,,{-1},H\r\n--1,c\r\n--,x\r\n1,p\r\n", "0,1,,,{-1},H\r\n1,p\r\n"},
      {"type -3 is skipped, type 11 copied", kMark + "0,1,,,{-1},H\r\n-3,x\r\n11,y\r\n",
       "0,1,,,{-1},H\r\n11,y\r\n"},
      {"a later header not in effect does not end the section",
       kMark + "0,1,,,{-1},H\r\n1,p\r\n0,9,,,{1},F\r\n2,q\r\n", "0,1,,,{-1},H\r\n1,p\r\n2,q\r\n"},
      {"lines are copied as they stand, with CR LF",
       kMark + "0,1, a ,,{-1},\xE6\x9B\xB4\xE6\x96\xB0\n1,p,extra\r2,",
       "0,1, a ,,{-1},\xE6\x9B\xB4\xE6\x96\xB0\r\n1,p,extra\r\n2,\r\n"},
      {"a list without the mark is OEM text", "0,1,,,{-1},H\r\n1,\x8E\r\n", oemWritten.c_str()},
  };
}

// PrepareUpdateInfo against the update server: the program's built-in base URL reaches
// it through a proxy settings file. The work and Assets folders start empty.
class PrepareUpdateInfoTest : public CatalogServerTest {
 protected:
  // Publishes the list with its stamps made from now, and gives the work folder an
  // information file and a list copy from an earlier run. Returns the published bytes.
  static std::string PublishList(const std::string& list, const SYSTEMTIME& now) {
    const std::string bytes = ExpandStamps(list, now);
    WriteFileBytes(ServedPath(TestServer::kUpdate, L"vtupdaterlist.upd"), bytes);
    CreateDirectoryW(QrnFolderPath().c_str(), nullptr);
    CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
    WriteFileBytes(Work(L"vtupdaterinfo.upi"), kPriorInfo);
    WriteFileBytes(Work(L"vtupdaterlist.upi"), "stale list");
    return bytes;
  }
  // The list requests in the server's log once the expected number is there (bounded):
  // the server logs a request when its answer has ended, which may be after the client
  // has gone on.
  static size_t ListRequests(size_t expected) {
    return AwaitRequests(TestServer::kUpdate, L"vtupdaterlist.upd", expected).size();
  }
};

TEST_F(PrepareUpdateInfoTest, StoresTheSectionInEffectNow) {
  for (const SelectionCase& c : SelectionCases()) {
    SCOPED_TRACE(c.name);
    std::string list;
    bool prepared = false;
    const SYSTEMTIME now = InOneMinute([&](const SYSTEMTIME& start) {
      list = PublishList(c.list, start);
      ResetSetupState();
      prepared = PrepareUpdateInfo();
    });
    EXPECT_TRUE(prepared);
    EXPECT_EQ(gSetup.phase.load(), kPhaseQuerying);
    EXPECT_FALSE(gSetup.localAssetsMode.load());
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterlist.upi")), list) << "the list is fetched afresh";
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.upi")),
              c.written ? kMark + ExpandStamps(c.written, now) : kPriorInfo);
    EXPECT_FALSE(PathExists(Work(L"vtupdaterinfo.tmp")));
  }
}

// The information of this run is what the scan of the fetched list wrote, kept in memory:
// a file changed between the scan and its use changes neither names nor pins.
TEST_F(PrepareUpdateInfoTest, TheInformationUsedIsTheScannedOneNotTheFileReadAgain) {
  gSetup.slots[kDotNet].remoteName = kDotNetRemoteName;
  const std::string pin(64, 'a');
  PublishList("-2,SHA256:ndp461.upd," + pin + "\r\n0,3,0,x,20000101_0000,Scanned\r\n1,p," + pin +
                  "\r\n",
              LocalNow());
  ASSERT_TRUE(PrepareUpdateInfo());
  WriteFileBytes(Work(L"vtupdaterinfo.upi"), kMark + "-2,SHA256:ndp461.upd," + std::string(64, 'b') +
                                                 "\r\n0,4,0,x,20000101_0000,Changed\r\n1,q\r\n");
  ASSERT_TRUE(LoadUpdateInfo());
  EXPECT_EQ(gSetup.productVersionCode.load(), 3);
  EXPECT_EQ(std::wstring(gSetup.componentFiles[0]), L"p");
  EXPECT_TRUE(gSetup.componentPins[0].present);
  EXPECT_EQ(gSetup.installerPins[kDotNet].digest[0], 0xAA);

  // No section in effect yet: the earlier file stands, but in a program with keys its
  // pins were not verified in this run; the list's prerequisite pins are used.
  PublishList("-2,SHA256:ndp461.upd," + pin + "\r\n0,5,0,x," + StampAt(LocalNow(), 60) +
                  ",Later\r\n1,r," + pin + "\r\n",
              LocalNow());
  WriteFileBytes(Work(L"vtupdaterinfo.upi"), kMark + "-2,SHA256:ndp461.upd," + std::string(64, 'b') +
                                                 "\r\n0,4,0,x,20000101_0000,Earlier\r\n1,q," +
                                                 std::string(64, 'b') + "\r\n");
  ResetSetupState();
  gSetup.slots[kDotNet].remoteName = kDotNetRemoteName;
  ASSERT_TRUE(PrepareUpdateInfo());
  gSetup.updateKeysPresent = true;
  ASSERT_TRUE(LoadUpdateInfo());
  EXPECT_EQ(gSetup.productVersionCode.load(), 4);
  EXPECT_FALSE(gSetup.componentPins[0].present) << "the earlier file's piece pin was used";
  EXPECT_EQ(gSetup.installerPins[kDotNet].digest[0], 0xAA);
}

TEST_F(PrepareUpdateInfoTest, FailsWhenTheListCannotBeFetched) {
  PublishList("0,1\r\n", LocalNow());
  RemoveTree(ServedPath(TestServer::kUpdate, L"vtupdaterlist.upd"));
  EXPECT_FALSE(PrepareUpdateInfo());
  EXPECT_EQ(gSetup.phase.load(), kPhaseQuerying);
  EXPECT_EQ(ListRequests(1), 1u);
  EXPECT_FALSE(PathExists(Work(L"vtupdaterlist.upi"))) << "an earlier list is never reused";
  EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.upi")), kPriorInfo);
}

TEST_F(PrepareUpdateInfoTest, LocalModeNeedsNoServer) {
  CreateDirectoryW(AssetsFolderPath().c_str(), nullptr);
  WriteFileBytes(AssetsFolderPath() + L"\\vtupdaterinfo.upi", "0,5\r\n");
  PublishList("0,1\r\n1,p\r\n", LocalNow());
  EXPECT_TRUE(PrepareUpdateInfo());
  EXPECT_TRUE(gSetup.localAssetsMode.load());
  EXPECT_EQ(gSetup.phase.load(), kPhasePreparing);
  EXPECT_EQ(ListRequests(0), 0u);
  EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.upi")), kPriorInfo);
}

TEST(ScanUpdateList, FailsWithoutTouchingTheInformationWhenFilesCannotBeUsed) {
  TempFolder folder;
  const std::wstring list = folder / L"vtupdaterlist.upi";
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  WriteFileBytes(info, kPriorInfo);
  EXPECT_EQ(ScanUpdateList(list.c_str(), L"20270101_0000", temp.c_str(), info.c_str(), nullptr),
            ScanOutcome::kFailed)
      << "no list";

  WriteFileBytes(list, "0,1\r\n1,p\r\n");
  const std::wstring noFolder = folder / L"missing\\vtupdaterinfo.tmp";
  EXPECT_EQ(ScanUpdateList(list.c_str(), L"20270101_0000", noFolder.c_str(), info.c_str(), nullptr),
            ScanOutcome::kFailed)
      << "temporary file cannot be created";
  EXPECT_EQ(ReadFileBytes(info), kPriorInfo);
}

TEST(ScanUpdateList, KeepsTheEarlierInformationWhenItCannotBeReplaced) {
  TempFolder folder;
  const std::wstring list = folder / L"vtupdaterlist.upi";
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  WriteFileBytes(list, "0,1\r\n1,p\r\n");
  WriteFileBytes(info, kPriorInfo);
  // Held open with delete sharing, as a scanner or indexer holds files: deleting it
  // would succeed while a rename onto its name fails, so a delete-then-rename loses it.
  HANDLE held = CreateFileW(info.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ScanOutcome outcome =
      ScanUpdateList(list.c_str(), L"20270101_0000", temp.c_str(), info.c_str(), nullptr);
  CloseHandle(held);
  EXPECT_EQ(outcome, ScanOutcome::kFailed);
  EXPECT_EQ(ReadFileBytes(info), kPriorInfo);
  EXPECT_FALSE(PathExists(temp));

  // Once free, the same list replaces it.
  EXPECT_EQ(ScanUpdateList(list.c_str(), L"20270101_0000", temp.c_str(), info.c_str(), nullptr),
            ScanOutcome::kSelected);
  EXPECT_EQ(ReadFileBytes(info), kMark + "0,1\r\n1,p\r\n");
}

// Run only by catalog.full-disk, under a file size limit: every write past it fails as
// on a full disk, while creating, renaming and deleting files still work.
TEST(FullDisk, AScanThatCannotWriteALineFailsAsAWhole) {
  wchar_t limit[16] = {};
  ASSERT_NE(GetEnvironmentVariableW(L"VELTO_FILE_SIZE_LIMIT_KIB", limit, 16), 0u)
      << "run by the test catalog.full-disk only";
  const size_t limitBytes = size_t(_wtoi(limit)) * 1024;
  TempFolder folder;
  const std::wstring list = folder / L"vtupdaterlist.upi";
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  // Each OEM byte 0x8E takes two in UTF-8: the list fits below the limit, the information
  // outgrows it many lines after its first.
  std::string lines = "0,1\r\n";
  for (int i = 0; lines.size() < limitBytes * 3 / 4; ++i) {
    lines += "-2,Key" + std::to_string(i) + "," + std::string(50, '\x8E') + "\r\n";
  }
  WriteFileBytes(list, lines);
  WriteFileBytes(info, kPriorInfo);
  EXPECT_EQ(ScanUpdateList(list.c_str(), L"20270101_0000", temp.c_str(), info.c_str(), nullptr),
            ScanOutcome::kFailed);
  EXPECT_TRUE(ReadFileBytes(info) == kPriorInfo) << "a cut-off information replaced the last one";
  EXPECT_FALSE(PathExists(temp));
}

// Decided line by line, so that a revision wrongly taken for newer fails here at once
// rather than starting a self-update that waits for a dialog no test shows.
TEST(DecideListLine, OnlyARevisionAboveThisProgramsInEffectNowUpdatesTheProgram) {
  const struct {
    const char* line;
    ListAction action;
    const wchar_t* name;
    const wchar_t* pin;
  } rows[] = {
      {"-1,3,,,20000101_0000,older", ListAction::kSkip, nullptr, nullptr},
      {"-1,4,,,20000101_0000,same", ListAction::kSkip, nullptr, nullptr},
      {"-1,5,,,20270101_0001,future", ListAction::kSkip, nullptr, nullptr},
      {"-1,5,,,20270101_0000,newer,ab12", ListAction::kSelfUpdate, L"newer", L"ab12"},
      {"-1,5", ListAction::kSelfUpdate, nullptr, nullptr},
  };
  static_assert(kSetupRevision == 4, "the rows name revisions around this program's");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    for (const bool copying : {false, true}) {
      const ListDecision decision = DecideListLine(Widen(row.line).c_str(), L"20270101_0000", copying);
      EXPECT_EQ(decision.action, row.action);
      EXPECT_EQ(Narrow(decision.setupBaseName ? decision.setupBaseName.get() : L"<absent>"),
                Narrow(row.name ? row.name : L"<absent>"));
      EXPECT_EQ(Narrow(decision.setupPin ? decision.setupPin.get() : L"<absent>"),
                Narrow(row.pin ? row.pin : L"<absent>"));
    }
  }
}

TEST(ScanUpdateList, AListWhoseReadBreaksOffPartWayFailsAsAWhole) {
  TempFolder folder;
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  WriteFileBytes(info, kPriorInfo);
  const wchar_t pipeName[] = L"\\\\.\\pipe\\velto_update_list_read";
  // Whole lines arrive, the rest of the list never does: of the section in effect, or
  // before any section (a break there is no list without one).
  for (const char* arrived : {"0,1,,,,H\r\n1,p\r\n", "-2,Key,v\r\n"}) {
    SCOPED_TRACE(arrived);
    {
      BrokenOffPipe pipe(pipeName, kMark + arrived);
      ASSERT_TRUE(pipe.ok());
      EXPECT_EQ(ScanUpdateList(pipeName, L"20270101_0000", temp.c_str(), info.c_str(), nullptr),
                ScanOutcome::kFailed);
    }
    EXPECT_EQ(ReadFileBytes(info), kPriorInfo) << "a cut-off list replaced the information";
    EXPECT_FALSE(PathExists(temp));
  }
}

TEST(ScanUpdateList, FailsWhenALineOutgrowsTheLineSizeInUtf8) {
  TempFolder folder;
  const std::wstring list = folder / L"vtupdaterlist.upi";
  const std::wstring temp = folder / L"vtupdaterinfo.tmp";
  const std::wstring info = folder / L"vtupdaterinfo.upi";
  // 300 OEM bytes that each take two bytes in UTF-8: read whole, but not writable whole.
  WriteFileBytes(list, "0,1,,,," + std::string(300, '\x8E') + "\r\n1,p\r\n");
  WriteFileBytes(info, kPriorInfo);
  EXPECT_EQ(ScanUpdateList(list.c_str(), L"20270101_0000", temp.c_str(), info.c_str(), nullptr),
            ScanOutcome::kFailed);
  EXPECT_EQ(ReadFileBytes(info), kPriorInfo);
  EXPECT_FALSE(PathExists(temp));
}

TEST(NowStamp, NamesTheCurrentMinute) {
  const SYSTEMTIME before = LocalNow();
  HeapString stamp = NowStamp();
  const SYSTEMTIME after = LocalNow();
  ASSERT_TRUE(stamp);
  // The minute may turn between the readings.
  EXPECT_TRUE(Narrow(stamp.get()) == StampAt(before, 0) || Narrow(stamp.get()) == StampAt(after, 0))
      << Narrow(stamp.get());
  EXPECT_EQ(wcslen(stamp.get()), 13u);
}

}  // namespace
