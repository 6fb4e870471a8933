#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "state/setup_state.h"
#include "catalog/self_update.h"
#include "catalog/update_list.h"
#include "catalog_test_support.h"
#include "support/installers/test_installers.h"
#include "support/servers/test_servers.h"
#include "support/test_signing.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\VeltoCatalogTestInstance";
const std::string kMark = "\xEF\xBB\xBF";

// Plays the dialog's side of the hand-over on a thread of its own, as the UI thread
// does: once the worker asks, it waits answerDelayMs and lets the instance mutex go.
class DialogSide {
 public:
  explicit DialogSide(DWORD answerDelayMs)
      : thread_([this, answerDelayMs] {
          for (int i = 0; i < 1500 && !stop_.load(); ++i) {  // 30 s at most
            if (gSetup.phase.load(std::memory_order_acquire) == kPhaseAwaitingMutex) {
              Sleep(answerDelayMs);
              asked_.store(true);
              HandOverInstanceMutex();
              return;
            }
            Sleep(20);
          }
        }) {}
  ~DialogSide() {
    stop_.store(true);
    thread_.join();
  }
  bool asked() const { return asked_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> asked_{false};
  std::thread thread_;
};

// The self-update runs in this process, as on the worker thread of a running setup
// program that holds the instance mutex; the program it starts is a stand-in that
// records its command line and, like the real one, gives up while the mutex is held.
class SelfUpdateTest : public CatalogServerTest {
 protected:
  void StartLikeTheSetupProgram(bool updateMode, RunMode mode = RunMode::kInteractive) {
    ResetSetupState();
    RemoveTree(Record());
    gSetup.updateMode.store(updateMode);
    gSetup.runMode = mode;
    gSetup.instanceMutex.reset(CreateMutexW(nullptr, TRUE, kMutexName));
    ASSERT_TRUE(gSetup.instanceMutex);
  }

  std::wstring Record() const { return folder_ / L"record.txt"; }

  // A copy of the stand-in under a path with blanks.
  std::wstring PlaceStandIn() {
    const std::wstring folder = folder_ / L"new setup";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\Velto Setup 5.exe";
    EXPECT_TRUE(CopyFileW((ProgramFolder() + L"\\standin_setup.exe").c_str(), path.c_str(), FALSE));
    return path;
  }

  TempFolder folder_;
  ScopedEnvironment record_{kStandInRecordVariable, Record()};
  ScopedEnvironment mutex_{L"VELTO_SETUP_MUTEX", kMutexName};
};

TEST_F(SelfUpdateTest, HandsTheMutexOverBeforeStartingTheNewProgram) {
  const std::wstring program = PlaceStandIn();
  for (const bool updateMode : {false, true}) {
    SCOPED_TRACE(updateMode ? "update mode" : "first installation");
    StartLikeTheSetupProgram(updateMode);
    // The dialog side answers late: a program started before its answer finds the mutex
    // held and records nothing.
    {
      DialogSide dialog(400);
      EXPECT_EQ(HandOverAndStart(SetupCommandLine(program.c_str(), updateMode)), 0);
      EXPECT_TRUE(dialog.asked());
    }
    const std::wstring expected = L"\"" + program + L"\"" + (updateMode ? L" -U" : L"");
    EXPECT_EQ(RecordedCommandLines(Record(), 1), std::vector<std::wstring>{expected});
    EXPECT_FALSE(gSetup.instanceMutex);
  }
}

TEST_F(SelfUpdateTest, AFailedFetchEndsTheRunWithoutStartingAnything) {
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"newsetup.upd"),
                 ReadFileBytes(ProgramFolder() + L"\\standin_setup.exe"));
  const std::string otherPin = Sha256Hex("another program");
  struct Row {
    const wchar_t* name;  // null: the record names none
    const char* pin;
    RunMode mode;
    int32_t exitCode;
  } rows[] = {
      {L"missingsetup", nullptr, RunMode::kInteractive, 0},
      {nullptr, nullptr, RunMode::kInteractive, 0},
      {L"..\\evil", nullptr, RunMode::kInteractive, 0},
      // Differs from its pin: deleted, never started.
      {L"newsetup", otherPin.c_str(), RunMode::kInteractive, 0},
      // A deployment tool reads the failure.
      {L"missingsetup", nullptr, RunMode::kQuiet, 1603},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name ? Narrow(row.name) : "no name");
    StartLikeTheSetupProgram(true, row.mode);
    DialogSide dialog(0);
    const std::wstring pin = row.pin ? Widen(row.pin) : L"";
    const SelfUpdateEnd end = SelfUpdate(row.name, row.pin ? pin.c_str() : nullptr);
    EXPECT_TRUE(end.fetchFailed);
    EXPECT_EQ(end.exitCode, row.exitCode);
    EXPECT_FALSE(dialog.asked()) << "the dialog side was asked to let go";
    EXPECT_TRUE(gSetup.instanceMutex) << "let go although nothing takes over";
    EXPECT_FALSE(PathExists(QrnFolderPath() + L"\\evil.exe"));
    EXPECT_FALSE(PathExists(Work(L"newsetup.exe")));
  }
  // Only the names that are bare file names were asked for.
  std::vector<std::string> asked;
  for (const LoggedRequest& request : ReadRequestLog(TestServer::kUpdate)) asked.push_back(request.target);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_NE(asked[0].find("/updater/missingsetup.upd"), std::string::npos) << asked[0];
  EXPECT_NE(asked[1].find("/updater/newsetup.upd"), std::string::npos) << asked[1];
}

TEST_F(SelfUpdateTest, ARevisionInEffectFetchesAfreshAndStartsTheNewProgram) {
  // Both stamps stay in the past when the minute turns during the test. Pinned: the
  // program that matches its SHA-256 is started.
  const std::string list = ExpandStamps(
      kMark + "0,1,,,{-2},H\r\n-1,5,,,{-1},newsetup," +
          Sha256Hex(ReadFileBytes(ProgramFolder() + L"\\standin_setup.exe")) + "\r\n1,p\r\n",
      LocalNow());
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"vtupdaterlist.upd"), list);
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"newsetup.upd"),
                 ReadFileBytes(ProgramFolder() + L"\\standin_setup.exe"));
  for (const bool updateMode : {false, true}) {
    SCOPED_TRACE(updateMode ? "update mode" : "first installation");
    StartLikeTheSetupProgram(updateMode);
    CreateDirectoryW(QrnFolderPath().c_str(), nullptr);
    CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
    WriteFileBytes(Work(L"vtupdaterinfo.upi"), "earlier");
    // An older program under the local name is never reused (it would not even start).
    WriteFileBytes(Work(L"newsetup.exe"), "an older download");
    // A server busy for a moment is tried again (after the program's first pause).
    ClearRequestLog(TestServer::kUpdate);
    if (updateMode) {
      WriteFileBytes(ServedPath(TestServer::kUpdate, L"newsetup.upd.fault"), "status=503\ntimes=1\n");
    }

    {
      DialogSide dialog(0);
      EXPECT_FALSE(PrepareUpdateInfo());
      EXPECT_TRUE(dialog.asked());
    }
    EXPECT_TRUE(gSetup.runEnded.load()) << "the run goes on after handing over";
    EXPECT_EQ(gSetup.runEndCode, 0);
    EXPECT_FALSE(gSetup.selfUpdateFailed);
    const std::wstring expected = L"\"" + Work(L"newsetup.exe") + L"\"" + (updateMode ? L" -U" : L"");
    EXPECT_EQ(RecordedCommandLines(Record(), 1), std::vector<std::wstring>{expected});
    const auto asked = AwaitRequests(TestServer::kUpdate, L"newsetup.upd", updateMode ? 2 : 1);
    ASSERT_EQ(asked.size(), updateMode ? 2u : 1u);
    EXPECT_EQ(asked[0].status, updateMode ? 503 : 200);
    // The scan stopped at the record: the information stays, the temporary file is left.
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.upi")), "earlier");
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.tmp")), list.substr(0, list.find("\r\n") + 2));
  }
}

}  // namespace
