#include <gtest/gtest.h>

#include <string>

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

TEST(Paths, RunCommandLineStartsTheProgramWithoutWaiting) {
  TempFolder temp;
  const std::wstring marker = temp / L"started";
  std::wstring command = L"\"cmd.exe\" /c mkdir \"" + marker + L"\"";
  HeapString writable = DuplicateString(command.c_str());
  ASSERT_TRUE(RunCommandLine(writable.get()));
  for (int i = 0; i < 100 && !PathExists(marker); ++i) Sleep(50);
  EXPECT_TRUE(IsDirectory(marker));

  HeapString missing = DuplicateString((L"\"" + (temp / L"missing.exe") + L"\" /x").c_str());
  EXPECT_FALSE(RunCommandLine(missing.get()));
}

}  // namespace
