// The stand-in installers behave as the tests of the whole program rely on.
#include <gtest/gtest.h>

#include <string>

#include "detect/localdb.h"
#include "detect/product.h"
#include "support/installers/test_installers.h"
#include "support/test_support.h"

namespace {

class StandIns : public testing::Test {
 protected:
  void SetUp() override { UndoStandInInstallations(); }
  void TearDown() override { UndoStandInInstallations(); }
};

TEST_F(StandIns, TheApplicationInstallerRecordsItsCommandLineAndRegistersTheOfferedRelease) {
  TempFolder temp;
  // Started the way the setup program starts the first piece: under its ".upi" name.
  const std::wstring piece = temp / L"setupA.upi";
  const std::wstring information = temp / L"vtupdaterinfo.upi";
  ASSERT_TRUE(CopyFileW(StandInAppInstaller().c_str(), piece.c_str(), FALSE));
  WriteFileBytes(information, "\xEF\xBB\xBF-2,ProductNameShort,Velto\r\n0,99,1,x,20200101_0000,Old\r\n"
                              "0,120,1,x,20200101_0000,Velto 2020\r\n1,setupA\r\n");
  const std::wstring commandLine = L"\"" + piece + L"\" /i \"" + information + L"\"";
  ASSERT_EQ(RunAndWait(commandLine, 30000), 0);

  EXPECT_EQ(Widen(ReadFileBytes(piece + L".cmdline")), commandLine + L"\r\n");
  ResetSetupState();
  EXPECT_TRUE(IsProductCurrent(120));
  HeapString line = DescribeProduct();
  EXPECT_EQ(std::wstring(line ? line.get() : L"<null>"), L"3.1.0がインストール済みです");
}

TEST_F(StandIns, ALocalDbPackageRefusesToInstallWithoutTheLicenceTerms) {
  const std::wstring package = StandInLocalDbPackage(L"ldb2017rtmx64.msi");
  EXPECT_NE(RunAndWait(L"msiexec.exe /i \"" + package + L"\" /qn", 120000), 0);
  EXPECT_EQ(MaxLocalDbMajorVersion(), 0);
}

}  // namespace
