#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/setup_state.h"
#include "catalog/self_update.h"
#include "catalog_test_support.h"
#include "dialog_driver.h"
#include "support/installers/test_installers.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_signing.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\VeltoCatalogTestInstance";
constexpr DWORD kChildTimeoutMs = 30000;
const std::string kMark = "\xEF\xBB\xBF";

// Runs the probe program, whose stand-in setup program records its command line. The
// update server is reached through a proxy settings file, as the fetch tests do.
class SelfUpdateTest : public CatalogServerTest {
 protected:
  std::wstring ProbeCommand(const std::wstring& arguments) {
    RemoveTree(Record());
    RemoveTree(Record() + L".closed");
    return L"\"" + ProgramFolder() + L"\\self_update_probe.exe\" " + arguments;
  }
  int RunProbe(const std::wstring& arguments) {
    return int(RunAndWait(ProbeCommand(arguments), kChildTimeoutMs));
  }

  std::wstring Record() const { return folder_ / L"record.txt"; }

  // The command lines the stand-in recorded, once it has recorded one (bounded wait:
  // the stand-in may still be starting when the probe has ended, and it creates the
  // record before it writes the line).
  std::vector<std::wstring> WaitForRecord() {
    std::vector<std::wstring> lines = RecordedCommandLines(Record());
    for (int i = 0; i < 200 && lines.empty(); ++i) {
      Sleep(50);
      lines = RecordedCommandLines(Record());
    }
    return lines;
  }

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
    // The dialog side answers late: a program started before its answer finds the mutex
    // held and records nothing.
    EXPECT_EQ(RunProbe(L"handover \"" + program + L"\" " + (updateMode ? L"u" : L"-") + L" 400"), 0);
    const std::wstring expected = L"\"" + program + L"\"" + (updateMode ? L" -U" : L"");
    EXPECT_EQ(WaitForRecord(), std::vector<std::wstring>{expected});
    EXPECT_TRUE(PathExists(Record() + L".closed")) << "started before the dialog had let go";
  }
}

TEST_F(SelfUpdateTest, AFailedFetchShowsTheErrorAndEndsTheProgram) {
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"newsetup.upd"),
                 ReadFileBytes(ProgramFolder() + L"\\standin_setup.exe"));
  const std::wstring otherPin = Widen(Sha256Hex("another program"));
  // Missing on the server; absent; a name that would leave the work folder; a program
  // that differs from its pin (deleted, never started).
  for (const std::wstring& name :
       std::vector<std::wstring>{L"missingsetup", L"-", L"..\\evil", L"newsetup " + otherPin}) {
    SCOPED_TRACE(Narrow(name));
    LaunchedProcess probe = Launch(ProbeCommand(L"selfupdate " + name.substr(0, name.find(L' ')) +
                                                L" u" + (name.find(L' ') != name.npos ? name.substr(name.find(L' ')) : L"")));
    ASSERT_TRUE(probe);
    const HWND box = WaitForDialog(probe.id(), kChildTimeoutMs, L"Velto Setup - Error");
    if (!box) probe.Kill();
    ASSERT_TRUE(box) << "no error message box";
    const DialogState state = ReadDialog(box);
    std::vector<int> buttons;
    bool text = false;
    for (const ControlState& control : state.controls) {
      if (!control.visible) continue;
      if (control.className == L"Button") buttons.push_back(control.id);
      text = text || control.text == L"更新セットアッププログラムの取得に失敗しました";
    }
    EXPECT_TRUE(text) << DescribeDialog(state);
    EXPECT_TRUE(ShownMessageBoxIcon(box, kChildTimeoutMs) == IDI_HAND) << "not the error icon";
    EXPECT_EQ(buttons, std::vector<int>{IDOK}) << DescribeDialog(state);
    ClickButton(box, IDOK);
    EXPECT_EQ(probe.WaitForExit(kChildTimeoutMs), 0);
    probe.Kill();
    EXPECT_FALSE(PathExists(Record() + L".closed")) << "the dialog side was asked to let go";
    EXPECT_FALSE(PathExists(Record())) << "a program was started";
    EXPECT_FALSE(PathExists(QrnFolderPath() + L"\\evil.exe"));
    EXPECT_FALSE(PathExists(Work(L"newsetup.exe")));
  }
  // Only the names that are bare file names were asked for.
  std::vector<std::string> asked;
  for (const LoggedRequest& request : ReadRequestLog(TestServer::kUpdate)) asked.push_back(request.target);
  ASSERT_EQ(asked.size(), 2u);
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

    EXPECT_EQ(RunProbe(std::wstring(L"prepare ") + (updateMode ? L"u" : L"-")), 0)
        << "PrepareUpdateInfo returned instead of ending the process";
    const std::wstring expected = L"\"" + Work(L"newsetup.exe") + L"\"" + (updateMode ? L" -U" : L"");
    EXPECT_EQ(WaitForRecord(), std::vector<std::wstring>{expected});
    EXPECT_TRUE(PathExists(Record() + L".closed"));
    const auto asked = AwaitRequests(TestServer::kUpdate, L"newsetup.upd", updateMode ? 2 : 1);
    ASSERT_EQ(asked.size(), updateMode ? 2u : 1u);
    EXPECT_EQ(asked[0].status, updateMode ? 503 : 200);
    // The scan stopped at the record: the information stays, the temporary file is left.
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.upi")), "earlier");
    EXPECT_EQ(ReadFileBytes(Work(L"vtupdaterinfo.tmp")), list.substr(0, list.find("\r\n") + 2));
  }
}

}  // namespace
