#include <gtest/gtest.h>

#include <string>

#include "app/setup_state.h"
#include "catalog/self_update.h"
#include "catalog_test_support.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\VeltoCatalogTestInstance";
constexpr DWORD kChildTimeoutMs = 30000;

TEST(SetupCommandLine, QuotesThePathAndAddsTheUpdateSwitch) {
  const struct {
    const wchar_t* path;
    bool updateMode;
    const wchar_t* commandLine;
  } cases[] = {
      {L"C:\\users\\u\\QRN\\VeltoUpdater\\s5.exe", false, L"\"C:\\users\\u\\QRN\\VeltoUpdater\\s5.exe\""},
      {L"C:\\users\\u\\QRN\\VeltoUpdater\\s5.exe", true, L"\"C:\\users\\u\\QRN\\VeltoUpdater\\s5.exe\" -U"},
      {L"C:\\users\\a b\\QRN\\VeltoUpdater\\s 5.exe", true, L"\"C:\\users\\a b\\QRN\\VeltoUpdater\\s 5.exe\" -U"},
      {L"", true, L"\"\" -U"},
  };
  for (const auto& c : cases) {
    HeapString commandLine = SetupCommandLine(c.path, c.updateMode);
    ASSERT_TRUE(commandLine);
    EXPECT_STREQ(commandLine.get(), c.commandLine);
  }
  EXPECT_FALSE(SetupCommandLine(nullptr, true));
}

// Runs the probe program; the recorder it may start writes record.txt in the folder.
class SelfUpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"VELTO_RECORD_FILE", Record().c_str());
    SetEnvironmentVariableW(L"VELTO_RECORD_MUTEX", kMutexName);
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"VELTO_RECORD_FILE", nullptr);
    SetEnvironmentVariableW(L"VELTO_RECORD_MUTEX", nullptr);
  }

  std::wstring Record() const { return folder_ / L"record.txt"; }

  int RunProbe(const std::wstring& arguments) {
    RemoveTree(Record());
    RemoveTree(Record() + L".closed");
    return RunChild(L"\"" + ProgramFolder() + L"\\self_update_probe.exe\" " + arguments,
                    kChildTimeoutMs);
  }

  // The recorder's two lines (command line, mutex state), or empty when it never ran.
  std::string WaitForRecord(DWORD timeoutMs = 10000) {
    for (DWORD waited = 0; waited < timeoutMs && !PathExists(Record()); waited += 50) Sleep(50);
    return ReadFileBytes(Record());
  }

  // A copy of the recorder under a path with blanks.
  std::wstring PlaceRecorder() {
    const std::wstring folder = folder_ / L"new setup";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\Velto Setup 5.exe";
    EXPECT_TRUE(CopyFileW((ProgramFolder() + L"\\record_command_line.exe").c_str(), path.c_str(), FALSE));
    return path;
  }

  TempFolder folder_;
};

TEST_F(SelfUpdateTest, HandsTheMutexOverBeforeStartingTheNewProgram) {
  const std::wstring program = PlaceRecorder();
  for (const bool updateMode : {false, true}) {
    SCOPED_TRACE(updateMode ? "update mode" : "first installation");
    // The dialog side answers late: a program started before its answer finds the mutex held.
    EXPECT_EQ(RunProbe(L"handover \"" + program + L"\" " + (updateMode ? L"u" : L"-") + L" 400"), 0);
    const std::string expected =
        "\"" + Narrow(program) + "\"" + (updateMode ? " -U" : "") + "\nfree\n";
    EXPECT_EQ(WaitForRecord(), expected);
    EXPECT_TRUE(PathExists(Record() + L".closed")) << "started before the dialog had let go";
  }
}

}  // namespace
