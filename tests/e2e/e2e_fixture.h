// What every end-to-end test shares: a copy of VeltoSetup.exe in a folder of its own
// (with its own Assets folder), an empty work folder and a clean registry, the update
// server reached through the built-in base URL and a proxy settings file, and the
// programs started from here watched and driven through the dialog driver. The lane's
// prefix hands no window to a window manager, so a dialog that ends is gone at once.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_driver.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_support.h"

inline constexpr DWORD kShowLimitMs = 20000;
inline constexpr DWORD kRefreshLimitMs = 5000;
inline constexpr DWORD kEndLimitMs = 5000;
// Long enough for several refreshes: what has not happened by then does not happen.
inline constexpr DWORD kSettleMs = 2500;
inline constexpr wchar_t kInstallCaption[] = L"Velto インストール";

// The setup program every end-to-end test starts (a copy of it): the program named by
// VELTO_SETUP_UNDER_TEST (tests/e2e/CMakeLists.txt sets it to the shipped i686 program for
// the parts that run it), else the test build's own.
const std::wstring& ProgramUnderTest();
// The build a program is, read from its PE header as its log names it: "i686" or "x86_64"
// (empty when the file is no Windows program).
std::wstring BuildOf(const std::wstring& program);

// The name of the LocalDB package this prefix is offered and its file name.
std::wstring LocalDbName();
std::wstring LocalDbPackageFile();

class SetupProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A file on the update server, or another test server (removed again at the end of the
  // test).
  void Publish(const std::wstring& name, const std::string& bytes,
               TestServer server = TestServer::kUpdate);
  void PublishFile(const std::wstring& name, const std::wstring& source);
  // The server holds a published file's body after the given number of bytes until
  // Release (at most a minute; "hold" in update_server.py).
  void HoldAfter(const std::wstring& name, long long bytes);
  void Release(const std::wstring& name);
  // A file in the Assets folder beside the program under test.
  void PutInAssets(const std::wstring& name, const std::string& bytes = "installer");
  std::wstring AssetsPath(const std::wstring& name) const;
  static std::wstring WorkPath(const std::wstring& name);

  // Starts the program with arguments and waits for its dialog.
  HWND Start(const std::wstring& arguments = L"");
  // The command lines recorded by stand-ins started (directly or not) from this test, once
  // there are atLeast (a stand-in started by a program that has ended may still be writing).
  std::vector<std::wstring> Recorded(size_t atLeast = 0) const;

  TempFolder folder_;
  std::wstring program_;
  std::wstring record_;
  LaunchedProcess first_;
  LaunchedProcess second_;

 private:
  std::vector<std::pair<TestServer, std::wstring>> published_;
};

// Polls (every 50 ms, at most timeoutMs) until the control's enabled state is enabled.
bool WaitForEnabled(HWND dialog, int id, bool enabled, DWORD timeoutMs);
