// Helpers of the catalogue tests: start stamps relative to a given minute, and a test
// base for the tests that fetch from the update server.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

// The update server is reached through the built-in base URL and a proxy settings file;
// the work and Assets folders, the served list and setup program, the request log and
// the shared state start (and end) empty.
class CatalogServerTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  static void Clean();
  static std::wstring Work(const std::wstring& name);
};

// The stamp ("%04d%02d%02d_%02d%02d") of now moved by the given number of minutes.
std::string StampAt(const SYSTEMTIME& now, int minutes);

// Replaces every "{N}" (N a signed number of minutes, "{0}" the current minute) by the
// stamp of now moved by N minutes.
std::string ExpandStamps(const std::string& text, const SYSTEMTIME& now);

// Runs step with the local time it starts at, again while the minute turned during the
// run (at most three runs: one takes far less than a minute), and returns the start of
// the last run: stamps made from it name the minute in which the code under test made
// its own.
SYSTEMTIME InOneMinute(const std::function<void(const SYSTEMTIME& now)>& step);

// The local time now.
SYSTEMTIME LocalNow();

// A named pipe whose writing end sends bytes and then breaks off, so that the reader's
// read after them fails, as on a failing disk or a share that went away.
class BrokenOffPipe {
 public:
  BrokenOffPipe(const wchar_t* name, std::string bytes);
  ~BrokenOffPipe();  // waits (bounded) for the writing end to have sent and closed
  bool ok() const { return writer_ != nullptr; }

 private:
  static DWORD WINAPI Send(void* self);
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE writer_ = nullptr;
  std::string bytes_;
};
