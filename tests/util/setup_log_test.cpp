#include "util/setup_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

TEST(SetupLog, PreviousRunsNameKeepsTheExtension) {
  const struct {
    const wchar_t* path;
    const wchar_t* previous;
  } rows[] = {
      {L"C:\\w\\VeltoSetup.log", L"C:\\w\\VeltoSetup.1.log"},
      {L"C:\\w\\Setup.LOG", L"C:\\w\\Setup.1.log"},
      {L"C:\\w\\setup.txt", L"C:\\w\\setup.txt.1"},
      {L".log", L".1.log"},
  };
  for (const auto& row : rows) EXPECT_EQ(Text(PreviousLogPath(row.path)), row.previous);
  EXPECT_FALSE(PreviousLogPath(nullptr));
}

struct Writer {
  int id;
};

DWORD WINAPI WriteLines(void* context) {
  const int id = static_cast<Writer*>(context)->id;
  for (int i = 0; i < 500; ++i) LogEvent(L"writer %d line %d %s", id, i, L"abcdefghijklmnopqrstuvwxyz");
  return 0;
}

TEST(SetupLog, KeepsThePreviousRunAndNeverTearsALine) {
  TempFolder temp;
  const std::wstring path = temp / L"VeltoSetup.log";
  const std::string previous = "2026-12-07 09:00:00.000 ui     previous run\r\n";
  WriteFileBytes(path, previous);
  ASSERT_TRUE(OpenSetupLog(path.c_str()));
  EXPECT_EQ(ReadFileBytes(temp / L"VeltoSetup.1.log"), previous);
  LogEvent(L"text with\r\nan injected line: %s", L"日本語");
  {
    // A refused second setup program adds its line while this log is open; the running
    // program's later lines must land after it, not over it.
    UniqueFile other(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other) << GetLastError();
    const char line[] = "2026-12-08 14:03:07.125 ui     second program refused\r\n";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(other.get(), line, sizeof(line) - 1, &written, nullptr));
  }
  Writer writers[] = {{1}, {2}};
  UniqueHandle threads[2];
  for (int i = 0; i < 2; ++i) threads[i].reset(CreateThread(nullptr, 0, WriteLines, &writers[i], 0, nullptr));
  for (auto& thread : threads) ASSERT_EQ(WaitForSingleObject(thread.get(), 20000), WAIT_OBJECT_0);
  CloseSetupLog(L"closing");
  LogEvent(L"after the close");

  const std::string log = ReadFileBytes(path);
  size_t lines = 0;
  size_t start = 0;
  while (start < log.size()) {
    const size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "the last line ends with CR LF";
    const std::string line = log.substr(start, end - start);
    // "2026-12-08 14:03:07.125 worker text"
    ASSERT_GT(line.size(), 31u) << line;
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[19], '.');
    const std::string rest = line.substr(24);
    EXPECT_TRUE(rest.rfind("ui     ", 0) == 0 || rest.rfind("worker ", 0) == 0) << line;
    if (rest.rfind("worker ", 0) == 0) {
      EXPECT_NE(rest.find("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << line;
    }
    ++lines;
    start = end + 2;
  }
  EXPECT_EQ(lines, 1u + 1u + 1000u + 1u);
  EXPECT_NE(log.find("ui     second program refused\r\n"), std::string::npos);
  EXPECT_NE(log.find("ui     text with  an injected line: \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), std::string::npos);
  EXPECT_EQ(log.find("after the close"), std::string::npos);
}

TEST(SetupLog, StopsAtItsLimitWithALineThatSaysSoAndKeepsRoomForTheEnd) {
  // Long events stop well short of the events' limit, short ones right at it.
  for (const size_t length : {900, 20}) {
    SCOPED_TRACE(length);
    TempFolder temp;
    const std::wstring path = temp / L"big.log";
    ASSERT_TRUE(OpenSetupLog(path.c_str()));
    const std::wstring filler(length, L'x');
    for (size_t i = 0; i < kLogLimitBytes / length + 200; ++i) LogEvent(L"%s", filler.c_str());
    LogEndEvent(L"The unattended setup ends with exit code %d.", 1603);
    CloseSetupLog(L"closing");
    const std::string log = ReadFileBytes(path);
    EXPECT_LE(log.size(), size_t(kLogLimitBytes));
    EXPECT_GT(log.size(), size_t(kLogLimitBytes - kLogEndReserveBytes) - 1000);
    const size_t full = log.find("size limit");
    ASSERT_NE(full, std::string::npos);
    EXPECT_EQ(log.find("size limit", full + 1), std::string::npos) << "said more than once";
    const size_t end = log.find("exit code 1603.");
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end, full);
    EXPECT_EQ(log.substr(log.size() - 9), "closing\r\n");
  }
}

TEST(SetupLog, AFileAnotherRunWritesOrAnotherProgramWroteIsLeftAsItIs) {
  const std::string ours = "2026-12-08 14:03:07.125 worker an earlier run\r\n";
  const std::string theirs = "2026-12-08 14:03:07 report of another tool\r\n";
  const struct {
    const std::string* before;  // null: no file there
    bool inUse;
    bool beside;  // this run's log goes to "x.<pid>.log"
    bool rotated;  // the file there becomes "x.1.log"
  } rows[] = {
      {nullptr, false, false, false},
      {&ours, false, false, true},
      {&ours, true, true, false},
      {&theirs, false, true, false},
  };
  for (const auto& row : rows) {
    TempFolder temp;
    const std::wstring path = temp / L"x.log";
    if (row.before) WriteFileBytes(path, *row.before);
    UniqueFile live;
    if (row.inUse) {
      live.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(live);
    }
    ASSERT_TRUE(OpenSetupLog(path.c_str()));
    LogEvent(L"this run");
    const std::wstring expected =
        row.beside ? temp / (L"x." + std::to_wstring(GetCurrentProcessId()) + L".log") : path;
    ASSERT_NE(SetupLogPath(), nullptr);
    EXPECT_EQ(std::wstring(SetupLogPath()), expected);
    CloseSetupLog(nullptr);
    EXPECT_NE(ReadFileBytes(expected).find("this run"), std::string::npos);
    if (row.beside) {
      EXPECT_EQ(ReadFileBytes(path), *row.before);
    }
    EXPECT_EQ(ReadFileBytes(temp / L"x.1.log"), row.rotated ? *row.before : "");
  }
  EXPECT_EQ(Text(BesideLogPath(L"C:\\l\\setup.txt", 7)), L"C:\\l\\setup.txt.7");
}

TEST(SetupLog, APlaceThatCannotBeWrittenLogsNothing) {
  TempFolder temp;
  const std::wstring path = temp / L"missing folder\\x.log";
  EXPECT_FALSE(OpenSetupLog(path.c_str()));
  LogEvent(L"nothing");
  CloseSetupLog(L"closing");
  EXPECT_FALSE(PathExists(path));
}

}  // namespace
