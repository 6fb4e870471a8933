#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/installers/test_installers.h"
#include "support/test_support.h"
#include "util/paths.h"
#include "util/process.h"
#include "util/strings.h"

namespace {

TEST(Paths, ModulePathNamesTheRunningProgramAndLoadedModules) {
  wchar_t expected[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, expected, MAX_PATH);
  EXPECT_EQ(Text(ModulePath(nullptr)), expected);

  HeapString kernel = ModulePath(GetModuleHandleW(L"kernel32.dll"));
  ASSERT_TRUE(kernel);
  EXPECT_NE(std::wstring(kernel.get()).find(L"kernel32.dll"), std::wstring::npos);
}

TEST(Paths, AssetsPathIsBesideTheProgram) {
  EXPECT_EQ(Text(AssetsPath(L"x")), ProgramFolder() + L"\\Assets\\x");
  EXPECT_EQ(Text(AssetsPath(L"vtupdaterinfo.upi")), AssetsFolderPath() + L"\\vtupdaterinfo.upi");
  EXPECT_FALSE(AssetsPath(nullptr));
}

TEST(Paths, WorkPathCreatesBothFolderLevelsOnlyWhenAsked) {
  RemoveTree(QrnFolderPath());

  EXPECT_EQ(Text(WorkPath(L"a.upi", false)), WorkFolderPath() + L"\\a.upi");
  EXPECT_FALSE(PathExists(QrnFolderPath()));

  EXPECT_EQ(Text(WorkPath(L"a.upi", true)), WorkFolderPath() + L"\\a.upi");
  EXPECT_TRUE(IsDirectory(WorkFolderPath()));
  EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\a.upi"));

  // Only QRN present: the second level is created as well.
  RemoveTree(WorkFolderPath());
  ASSERT_TRUE(IsDirectory(QrnFolderPath()));
  WorkPath(L"b", true);
  EXPECT_TRUE(IsDirectory(WorkFolderPath()));

  RemoveTree(QrnFolderPath());
}

TEST(Paths, WorkPathReturnsThePathEvenWhenTheFolderCannotBeCreated) {
  RemoveTree(QrnFolderPath());
  // A file named QRN blocks the folder; the path comes back and its use fails later.
  WriteFileBytes(QrnFolderPath(), "x");
  EXPECT_EQ(Text(WorkPath(L"c", true)), WorkFolderPath() + L"\\c");
  EXPECT_FALSE(IsDirectory(QrnFolderPath()));
  RemoveTree(QrnFolderPath());
}

TEST(Paths, TheProfileFolderIsMaskedWhereverItStandsInAnyCase) {
  const std::wstring profile = ProfileFolder();
  std::wstring upper = profile;
  CharUpperBuffW(upper.data(), DWORD(upper.size()));
  const struct {
    std::wstring text, masked;
  } rows[] = {
      {L"\"" + profile + L"\\Downloads\\VeltoSetup.exe\" /log x", L"\"%USERPROFILE%\\Downloads\\VeltoSetup.exe\" /log x"},
      {upper + L"\\a " + profile + L"\\b", L"%USERPROFILE%\\a %USERPROFILE%\\b"},
      {L"Z:\\share\\VeltoSetup.exe /quiet", L"Z:\\share\\VeltoSetup.exe /quiet"},
      {L"", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(Text(WithoutProfileFolder(row.text.c_str())), row.masked);
  EXPECT_FALSE(WithoutProfileFolder(nullptr));
}

TEST(Paths, RunCommandLineStartsTheProgramWithoutWaiting) {
  TempFolder temp;
  const std::wstring record = temp / L"record.txt";
  SetEnvironmentVariableW(kStandInRecordVariable, record.c_str());
  {
    // The stand-in records its start and then waits for the hold: a start that waited
    // for the program would not come back while the hold lasts.
    StandInHold hold;
    struct Start {
      HeapString commandLine;
      bool started = false;
    } start{DuplicateString((L"\"" + StandInAppInstaller() + L"\" /x").c_str())};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
          auto* s = static_cast<Start*>(parameter);
          s->started = RunCommandLine(s->commandLine.get());
          return 0;
        },
        &start, 0, nullptr);
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0) << "the start waited";
    CloseHandle(thread);
    EXPECT_TRUE(start.started);
    EXPECT_EQ(RecordedCommandLines(record, 1).size(), 1u);
  }
  SetEnvironmentVariableW(kStandInRecordVariable, nullptr);
  // Released, the stand-in registers the application; undo it only once it has.
  DWORD installed = 0, size = sizeof(installed);
  for (int i = 0; i < 200 && RegGetValueW(HKEY_CURRENT_USER, kStandInProductKey, L"Installed",
                                          RRF_RT_REG_DWORD, nullptr, &installed,
                                          &size) != ERROR_SUCCESS;
       ++i) {
    Sleep(50);
  }
  UndoStandInInstallations();

  HeapString missing = DuplicateString((L"\"" + (temp / L"missing.exe") + L"\" /x").c_str());
  EXPECT_FALSE(RunCommandLine(missing.get()));
}

// Wine starts a host program given by its Z: path (the links below are the host's, which
// is how Wine keeps a junction); its handle cannot be waited for, so the caller polls
// (bounded) until done says the program has done its work.
bool OnHost(std::wstring commandLine, const std::function<bool()>& done) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 200 && !done(); ++i) Sleep(25);
  return done();
}

// A checked file is started by the path of its held handle: a link on the way to its
// name, re-pointed after the check, does not change which file that path names.
TEST(Paths, TheHeldFilesPathOutlivesALinkRepointedAfterTheCheck) {
  const std::wstring id = std::to_wstring(GetCurrentProcessId());
  const std::wstring root = L"Z:\\tmp\\velto-held-" + id, host = L"/tmp/velto-held-" + id;
  for (const wchar_t* folder : {L"", L"\\a", L"\\b"}) CreateDirectoryW((root + folder).c_str(), nullptr);
  WriteFileBytes(root + L"\\a\\x.exe", "checked");
  WriteFileBytes(root + L"\\b\\x.exe", "planted");
  const std::wstring link = root + L"\\link\\x.exe";
  ASSERT_TRUE(OnHost(L"Z:\\bin\\ln -sfn a " + host + L"/link", [&] { return PathExists(link); }));
  UniqueFile held(CreateFileW(link.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_TRUE(OnHost(L"Z:\\bin\\ln -sfn b " + host + L"/link",
                     [&] { return ReadFileBytes(link) == "planted"; }));
  const HeapString path = HeldFilePath(held.get());
  EXPECT_EQ(Text(path), root + L"\\a\\x.exe");
  held.reset();
  OnHost(L"Z:\\bin\\rm -rf " + host, [&] { return !PathExists(root); });
}

}  // namespace
