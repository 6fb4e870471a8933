#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "net/download.h"
#include "net/net_fixture.h"
#include "util/setup_log.h"
#include "support/servers/trusted_authority.h"

namespace {

enum class PartialAfter { kMoved, kKept, kDeleted, kUntouched };

class Download : public ServerTest {
 protected:
  std::wstring Destination() { return temp_ / NameFor(); }
  std::wstring Partial() { return Destination() + L".FilePart"; }
  std::wstring Validator() { return Destination() + L".FileValidator"; }
  std::wstring Url() { return ServedUrl(TestServer::kUpdate, NameFor()); }
  bool Run() {
    reports_.clear();
    control_.observer = [](void* context, uint32_t received, uint32_t total) {
      static_cast<Download*>(context)->reports_.push_back({received, total});
    };
    control_.observerContext = this;
    return DownloadFile(Url().c_str(), Destination().c_str(), control_);
  }
  // What the observer was told by the last Run: received, total.
  std::vector<std::pair<uint32_t, uint32_t>> reports_;
  // What the program passes: its stop event (manual-reset, made by the stop test).
  TransferControl control_;
  UniqueHandle stopEvent_;
  std::vector<LoggedRequest> Requests(size_t count) {
    return AwaitRequests(TestServer::kUpdate, NameFor(), count);
  }
};

std::string RangeFrom(long long offset) { return "bytes=" + std::to_string(offset) + "-"; }

TEST_F(Download, FreshDownloadReplacesTheDestinationAndLeavesNothingBehind) {
  const std::string body = RandomBytes(300000, 1);
  Publish(TestServer::kUpdate, NameFor(), body);
  WriteFileBytes(Destination(), "an older copy");
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
  EXPECT_FALSE(PathExists(Partial()));
  EXPECT_FALSE(PathExists(Validator()));
  const auto requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "");
  EXPECT_EQ(requests[0].status, 200);
}

TEST_F(Download, EmptyFileGivesAnEmptyDestination) {
  Publish(TestServer::kUpdate, NameFor(), "");
  ASSERT_TRUE(Run());
  EXPECT_EQ(FileSizeOf(Destination()), 0);
  EXPECT_FALSE(PathExists(Partial()));
}

TEST_F(Download, EveryAnswerToAResumeOrAFreshRequest) {
  const std::string body = RandomBytes(50000, 2);
  const std::string prefix = body.substr(0, 20000);
  const std::string overlapSpoiled = prefix.substr(0, 19500) + std::string(500, 'x');
  const std::string junk = RandomBytes(20000, 99);
  struct Row {
    const char* name;
    const char* fault;
    std::string partial;  // empty: fresh mode
    bool result;
    PartialAfter after;
    int status;
  };
  const Row rows[] = {
      {"206 from the partial size", "", prefix, true, PartialAfter::kMoved, 206},
      {"206 before the partial end overwrites the overlap", "start-beyond=-500", overlapSpoiled,
       true, PartialAfter::kMoved, 206},
      {"Range ignored: 200 rewrites from 0", "ignore-range", junk, true, PartialAfter::kMoved, 200},
      {"416 with the partial size completes without a body", "", body, true, PartialAfter::kMoved, 416},
      {"206 beyond the partial size", "start-beyond=10", prefix, false, PartialAfter::kDeleted, 206},
      {"416 with another total", "unsatisfiable=49999", prefix, false, PartialAfter::kDeleted, 416},
      {"416 without Content-Range", "unsatisfiable=none", prefix, false, PartialAfter::kDeleted, 416},
      {"partial longer than the file", "", RandomBytes(60000, 5), false, PartialAfter::kDeleted, 416},
      {"206 without Content-Range", "partial-without-range", prefix, false, PartialAfter::kDeleted, 206},
      {"206 whose total is *", "range-total=*", prefix, false, PartialAfter::kDeleted, 206},
      {"206 whose total is 0", "range-total=0", prefix, false, PartialAfter::kDeleted, 206},
      {"206 whose total is unreadable", "range-total=x1", prefix, false, PartialAfter::kDeleted, 206},
      {"206 whose total is its start", "range-total=20000", prefix, false, PartialAfter::kDeleted, 206},
      {"206 whose total is below the partial size", "start-beyond=-500\nrange-total=19999",
       prefix, false, PartialAfter::kDeleted, 206},
      {"206 from 0 rewrites the partial file", "start-beyond=-20000", junk, true,
       PartialAfter::kMoved, 206},
      {"500", "status=500", prefix, false, PartialAfter::kUntouched, 500},
      {"404", "status=404", prefix, false, PartialAfter::kUntouched, 404},
      {"301 is not followed", "redirect=301", prefix, false, PartialAfter::kUntouched, 301},
      {"302 is not followed", "redirect=302", prefix, false, PartialAfter::kUntouched, 302},
      {"chunked without Content-Length", "chunked", prefix, false, PartialAfter::kUntouched, 206},
      {"no Content-Length", "no-length", prefix, false, PartialAfter::kUntouched, 206},
      {"body ends early", "close-after=1000", prefix, false, PartialAfter::kKept, 206},
      {"fresh: 206", "status=206", "", false, PartialAfter::kUntouched, 206},
      {"fresh: 416", "status=416", "", false, PartialAfter::kUntouched, 416},
      {"fresh: chunked", "chunked", "", false, PartialAfter::kUntouched, 200},
      {"fresh: 302", "redirect=302", "", false, PartialAfter::kUntouched, 302},
      {"fresh: body ends early", "close-after=1000", "", false, PartialAfter::kKept, 200},
      {"200 with a Content-Range is the whole file", "ignore-range\ncontent-range=bytes 20000-49999/50000",
       junk, true, PartialAfter::kMoved, 200},
      {"206 whose start is unreadable", "content-range=bytes x-49999/50000", prefix, false,
       PartialAfter::kDeleted, 206},
      {"416 whose total wraps to the partial size", "unsatisfiable=4294987296", prefix, false,
       PartialAfter::kDeleted, 416},
      {"fresh: 200 of 4 GiB", "length=4294967296", "", false, PartialAfter::kUntouched, 200},
  };
  Publish(TestServer::kUpdate, NameFor(), body);
  const std::wstring logPath = temp_ / L"download.log";
  ASSERT_TRUE(OpenSetupLog(logPath.c_str()));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(Destination());
    RemoveTree(Partial());
    if (!row.partial.empty()) WriteFileBytes(Partial(), row.partial);
    SetFault(NameFor(), row.fault);
    ClearRequestLog(TestServer::kUpdate);

    EXPECT_EQ(Run(), row.result);
    // The observer hears first of the bytes held, before the size is known; a finished
    // download ends at the whole size, a broken one at what it kept.
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.front(), std::make_pair(uint32_t(row.partial.size()), 0u));
    if (row.after == PartialAfter::kMoved) {
      EXPECT_EQ(reports_.back(), std::make_pair(50000u, 50000u));
    } else if (row.after == PartialAfter::kKept) {
      EXPECT_EQ(reports_.back(), std::make_pair(uint32_t(row.partial.size() + 1000), 50000u));
    }
    // Its line in the setup log: the Range asked, the status and the outcome.
    const std::string log = ReadFileBytes(logPath);
    const std::string line = log.substr(log.rfind("download ", log.size() - 2));
    const std::string range =
        row.partial.empty() ? "Range none" : "Range bytes=" + std::to_string(row.partial.size()) + "-";
    EXPECT_NE(line.find(range + ", status " + std::to_string(row.status) + ", "), std::string::npos)
        << line;
    EXPECT_NE(line.find(row.result ? ": done\r\n" : ": failed"), std::string::npos) << line;
    const auto requests = Requests(1);
    ASSERT_EQ(requests.size(), 1u) << "one request, no redirect followed";
    EXPECT_EQ(requests[0].range, row.partial.empty() ? "" : RangeFrom(row.partial.size()));
    EXPECT_EQ(requests[0].ifRange, "");
    EXPECT_EQ(requests[0].status, row.status);
    switch (row.after) {
      case PartialAfter::kMoved:
        EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
        EXPECT_FALSE(PathExists(Partial()));
        break;
      case PartialAfter::kKept:
        EXPECT_EQ(ReadFileBytes(Partial()), body.substr(0, row.partial.size() + 1000));
        break;
      case PartialAfter::kDeleted:
        EXPECT_FALSE(PathExists(Partial()));
        break;
      case PartialAfter::kUntouched:
        EXPECT_EQ(PathExists(Partial()), !row.partial.empty());
        if (!row.partial.empty()) {
          EXPECT_EQ(ReadFileBytes(Partial()), row.partial);
        }
        break;
    }
    if (row.after != PartialAfter::kMoved) {
      EXPECT_FALSE(PathExists(Destination()));
      // The call after that goes on (or starts afresh) and completes.
      ClearFault(NameFor());
      EXPECT_TRUE(Run());
      EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
      Requests(2);  // its log line, before the next row empties the log
    }
  }
  CloseSetupLog(nullptr);
}

TEST_F(Download, ReplacedFileIsFetchedWholeThroughIfRange) {
  const std::wstring name = NameFor();
  const std::string first = RandomBytes(200000, 3);
  const std::string second = RandomBytes(200000, 4);  // same size, other bytes
  Publish(TestServer::kUpdate, name, first);
  SetFault(name, "close-after=70000\ntimes=1");
  EXPECT_FALSE(Run());
  EXPECT_EQ(FileSizeOf(Partial()), 70000);
  const std::string validator = ReadFileBytes(Validator());
  ASSERT_FALSE(validator.empty()) << "the validator of the answer that began the partial file";

  Publish(TestServer::kUpdate, name, second);
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(second));
  EXPECT_FALSE(PathExists(Validator()));
  auto requests = Requests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, RangeFrom(70000));
  EXPECT_EQ(requests[1].ifRange, validator);
  EXPECT_EQ(requests[1].status, 200);

  // Unchanged on the server: the same validator gets the rest only.
  RemoveTree(Destination());
  ClearRequestLog(TestServer::kUpdate);
  SetFault(name, "close-after=50000\ntimes=1");
  EXPECT_FALSE(Run());
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(second));
  requests = Requests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].ifRange, "");
  EXPECT_EQ(requests[1].status, 206);
  EXPECT_EQ(requests[1].bodyBytes, 150000);

  // A validator file that could smuggle a header line is not sent.
  RemoveTree(Destination());
  ClearRequestLog(TestServer::kUpdate);
  WriteFileBytes(Partial(), second.substr(0, 1000));
  WriteFileBytes(Validator(), "\"x\"\r\nX-Injected: 1");
  ASSERT_TRUE(Run());
  requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ifRange, "");
  EXPECT_EQ(requests[0].status, 206);
  EXPECT_FALSE(PathExists(Validator()));
}

// Some servers and proxies answer a Range 206 whatever If-Range says: the answer's own
// validator shows the other version, and its bytes never continue the old ones.
TEST_F(Download, AReplacedFileBehindAServerIgnoringIfRangeIsNeverSpliced) {
  const std::string first = RandomBytes(200000, 16);
  const std::string second = RandomBytes(200000, 17);
  Publish(TestServer::kUpdate, NameFor(), first);
  SetFault(NameFor(), "close-after=70000\ntimes=1");
  EXPECT_FALSE(Run());
  Publish(TestServer::kUpdate, NameFor(), second);
  SetFault(NameFor(), "ignore-if-range");
  TransferOutcome outcome;
  control_.outcome = &outcome;
  EXPECT_FALSE(Run());
  EXPECT_EQ(outcome.end, TransferEnd::kCannotContinue);
  EXPECT_FALSE(PathExists(Partial()));
  EXPECT_FALSE(PathExists(Validator()));
  EXPECT_FALSE(PathExists(Destination()));
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(second));
  const auto requests = Requests(3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].range, RangeFrom(70000));
  EXPECT_NE(requests[1].ifRange, "");
  EXPECT_EQ(requests[1].status, 206);
  EXPECT_EQ(requests[2].range, "");
}

TEST_F(Download, ValidatorLeavesWithTheDiscardedPartialFile) {
  Publish(TestServer::kUpdate, NameFor(), RandomBytes(30000, 10));
  SetFault(NameFor(), "close-after=5000\ntimes=1");
  EXPECT_FALSE(Run());
  ASSERT_TRUE(PathExists(Validator()));
  SetFault(NameFor(), "unsatisfiable=none\ntimes=1");
  EXPECT_FALSE(Run());
  EXPECT_FALSE(PathExists(Partial()));
  EXPECT_FALSE(PathExists(Validator()));
}

TEST_F(Download, FailedFinalMoveIsAFailureAndTheNextCallFinishes) {
  const std::string body = RandomBytes(40000, 11);
  Publish(TestServer::kUpdate, NameFor(), body);
  // A folder in the destination's place: the move cannot replace it.
  ASSERT_TRUE(CreateDirectoryW(Destination().c_str(), nullptr));
  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFileBytes(Partial()), body);
  EXPECT_FALSE(Run()) << "416 completion with the folder still there";
  EXPECT_EQ(ReadFileBytes(Partial()), body);

  RemoveDirectoryW(Destination().c_str());
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
  const auto requests = Requests(3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].status, 416);
  EXPECT_EQ(requests[2].bodyBytes, 0);
}

TEST_F(Download, PartialFileOf2GiBIsAskedForFromAnUnsignedOffset) {
  Publish(TestServer::kUpdate, NameFor(), RandomBytes(1000, 12));
  MakeSparseFile(Partial(), 0x80000000LL + 5);
  EXPECT_EQ(PartialFileSize(Partial().c_str()), 0x80000005u);
  EXPECT_FALSE(Run());
  const auto requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=2147483653-");
  EXPECT_EQ(requests[0].status, 416);
  EXPECT_FALSE(PathExists(Partial()));
}

TEST_F(Download, PartialFileSizeIsTheLow32Bits) {
  EXPECT_EQ(PartialFileSize(Partial().c_str()), 0u);
  WriteFileBytes(Partial(), "12345");
  EXPECT_EQ(PartialFileSize(Partial().c_str()), 5u);
  MakeSparseFile(Partial(), 0x100000007LL);
  EXPECT_EQ(PartialFileSize(Partial().c_str()), 7u);
  RemoveTree(Partial());
}

TEST_F(Download, DropsAtRandomOffsetsResumeWithOnlyTheMissingBytes) {
  const size_t size = 1 << 20;
  const std::string body = RandomBytes(size, 6);
  Publish(TestServer::kUpdate, NameFor(), body);
  std::mt19937 random(7);
  int drops = 0;
  bool done = false;
  for (int attempt = 0; attempt < 80 && !done; ++attempt) {
    const long long before = std::max(0LL, FileSizeOf(Partial()));
    if (drops < 24) {
      // At most 1/32 of the file per round, so that 24 drops fit before its end.
      std::uniform_int_distribution<long long> cut(1, size / 32);
      // Half of them end the connection cleanly, half reset it.
      SetFault(NameFor(), std::string(attempt % 2 ? "reset-after=" : "close-after=") +
                              std::to_string(cut(random)) + "\ntimes=1");
    }
    ClearRequestLog(TestServer::kUpdate);
    done = Run();
    const auto requests = Requests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, before ? RangeFrom(before) : "") << "attempt " << attempt;
    EXPECT_LE(requests[0].bodyBytes, (long long)size - before);
    if (!done) {
      ++drops;
      const std::string kept = ReadFileBytes(Partial());
      ASSERT_GE((long long)kept.size(), before);
      ASSERT_EQ(kept, body.substr(0, kept.size())) << "attempt " << attempt;
    }
  }
  ASSERT_TRUE(done);
  EXPECT_GE(drops, 20);
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
}

struct BackgroundDownload {
  std::wstring url;
  std::wstring destination;
  TransferControl control;
  bool result = true;
};

DWORD WINAPI RunDownload(void* context) {
  auto* download = static_cast<BackgroundDownload*>(context);
  download->result = DownloadFile(download->url.c_str(), download->destination.c_str(),
                                  download->control);
  return 0;
}

TEST_F(Download, StopDuringABlockedReadKeepsEveryByteAndTheNextCallResumes) {
  const std::string body = RandomBytes(400000, 8);
  Publish(TestServer::kUpdate, NameFor(), body);
  // The server sends 1000 bytes and then nothing while the hold file exists: the
  // transfer waits on the network until the stop.
  const std::wstring hold = ServedPath(TestServer::kUpdate, NameFor() + L".hold");
  WriteFileBytes(hold, "");
  SetFault(NameFor(), "hold=1000");
  // Manual-reset, as the program creates it.
  stopEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  control_.stopEvent = stopEvent_.get();
  BackgroundDownload download{Url(), Destination(), control_};
  UniqueHandle thread(CreateThread(nullptr, 0, RunDownload, &download, 0, nullptr));
  ASSERT_TRUE(thread);
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (FileSizeOf(Partial()) < 1000 && GetTickCount64() < deadline) Sleep(20);
  ASSERT_EQ(FileSizeOf(Partial()), 1000);
  const ULONGLONG stopped = GetTickCount64();
  SetEvent(stopEvent_.get());
  ASSERT_EQ(WaitForSingleObject(thread.get(), 20000), WAIT_OBJECT_0);
  EXPECT_LT(GetTickCount64() - stopped, 1000u) << "the stop must end a blocked read";
  EXPECT_FALSE(download.result);
  // The transfer left waiting ends (and lets go of the partial file) once data comes.
  RemoveTree(hold);
  std::string kept;
  for (const ULONGLONG until = GetTickCount64() + 5000; kept.empty() && GetTickCount64() < until;) {
    Sleep(20);
    kept = ReadFileBytes(Partial());
  }
  EXPECT_EQ(kept.size(), 1000u);
  EXPECT_EQ(kept, body.substr(0, kept.size()));
  EXPECT_TRUE(StopRequested(stopEvent_.get())) << "the signal stays for the worker's own test";
  Requests(1);  // the stopped answer's line, logged once the server notices

  // Still set: the next call stops before it asks the server and changes nothing.
  ClearRequestLog(TestServer::kUpdate);
  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFileBytes(Partial()), kept);
  EXPECT_TRUE(AwaitRequests(TestServer::kUpdate, NameFor(), 0).empty());

  ResetEvent(stopEvent_.get());
  EXPECT_FALSE(StopRequested(stopEvent_.get()));
  ClearFault(NameFor());
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sha256Hex(ReadFileBytes(Destination())), Sha256Hex(body));
  const auto requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, RangeFrom(kept.size()));
}

// A server that drips a byte at a time never trips the receive timeout: the low-speed
// limit ends the transfer, and every byte that arrived before is kept, as each read
// takes what has arrived instead of waiting for a full buffer.
TEST_F(Download, ADripEndsWithinTheLowSpeedWindowKeepingWhatArrived) {
  // 200 bytes: dripped whole in 10 s, so that a limit that never cuts shows at once.
  const std::string body = RandomBytes(200, 15);
  Publish(TestServer::kUpdate, NameFor(), body);
  SetFault(NameFor(), "trickle=1:50");
  TransferOutcome outcome;
  control_.outcome = &outcome;
  control_.lowSpeedBytes = 1024;
  control_.lowSpeedWindowMs = 1500;
  const ULONGLONG started = GetTickCount64();
  EXPECT_FALSE(Run());
  const ULONGLONG elapsed = GetTickCount64() - started;
  EXPECT_GE(elapsed, 1400u);
  EXPECT_LT(elapsed, 3000u);
  EXPECT_EQ(outcome.end, TransferEnd::kTooSlow);
  const std::string kept = ReadFileBytes(Partial());
  EXPECT_GE(kept.size(), 10u);
  EXPECT_EQ(kept, body.substr(0, kept.size()));
  EXPECT_GE(reports_.size(), kept.size() / 2) << "progress is told as the bytes arrive";
  RemoveTree(Partial());
  ClearFault(NameFor());
  Requests(1);
}

// What ended a failed transfer is what the worker's retry decision reads; a server that
// goes silent ends it through the receive timeout instead of holding it for good.
TEST_F(Download, EachFailureTellsWhatEndedItAndASilentServerTimesOut) {
  const std::string body = RandomBytes(50000, 14);
  Publish(TestServer::kUpdate, NameFor(), body);
  struct Row {
    const char* name;
    const char* fault;
    TransferEnd end;
    uint32_t status;
    long long partialAfter;  // -1: none
  };
  const Row rows[] = {
      // Wine's WinINet ends a read that timed out as if the body had ended (both count
      // as transient for the worker); without the timeout the row would take 5 s. It
      // also keeps that connection for reuse: the reset ends it for later tests.
      {"silent before the body", "stall=0:5000\nreset-after=1", TransferEnd::kReadFailed, 200, 0},
      {"closed before any status line", "no-answer", TransferEnd::kNoAnswer, 0, -1},
      {"body ends early", "close-after=3000", TransferEnd::kEndedEarly, 200, 3000},
      {"503", "status=503", TransferEnd::kStatusRefused, 503, -1},
      {"404", "status=404", TransferEnd::kStatusRefused, 404, -1},
      {"no length", "chunked", TransferEnd::kStatusRefused, 200, -1},
      {"complete", "", TransferEnd::kComplete, 200, -1},
  };
  TransferOutcome outcome;
  control_.outcome = &outcome;
  control_.receiveTimeoutMs = 1000;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(Partial());
    SetFault(NameFor(), row.fault);
    outcome = TransferOutcome{};
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(Run(), row.end == TransferEnd::kComplete);
    // One failed read ends the try: reading on would wait out the timeout again.
    EXPECT_LT(GetTickCount64() - started, row.end == TransferEnd::kReadFailed ? 1900u : 3000u);
    EXPECT_EQ(outcome.end, row.end);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(FileSizeOf(Partial()), row.partialAfter);
    if (row.end == TransferEnd::kNoAnswer) {
      EXPECT_EQ(outcome.error, DWORD(ERROR_HTTP_INVALID_SERVER_RESPONSE));
    }
  }
  // Nothing listens: the connection is refused at once.
  const std::wstring refused = L"http://127.0.0.1:1/updater/" + NameFor();
  EXPECT_FALSE(DownloadFile(refused.c_str(), Destination().c_str(), control_));
  EXPECT_EQ(outcome.end, TransferEnd::kNoAnswer);
  EXPECT_EQ(outcome.error, DWORD(ERROR_INTERNET_CANNOT_CONNECT));
  Requests(std::size(rows));  // the stalled answer's line comes late: not into another test's log
}

// An event that resets itself when a wait sees it is set again: the worker's own loop
// must still see the stop that a download saw first.
// The next thread this process starts is held at its start (a TLS callback runs in it
// before its own code) until it is let go, with the stop event set as it is held.
struct ThreadHold {
  std::atomic<bool> armed{false};
  HANDLE stop = nullptr;
  UniqueHandle letGo{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<DWORD> threadId{0};
} gThreadHold;

void NTAPI HoldNextThread(void*, DWORD reason, void*) {
  if (reason == DLL_THREAD_ATTACH && gThreadHold.armed.exchange(false)) {
    gThreadHold.threadId.store(GetCurrentThreadId());
    SetEvent(gThreadHold.stop);
    WaitForSingleObject(gThreadHold.letGo.get(), 20000);
  } else if (reason == DLL_THREAD_DETACH && gThreadHold.threadId.load() == GetCurrentThreadId()) {
    SetEvent(gThreadHold.ended.get());
  }
}
extern "C" __attribute__((section(".CRT$XLF"), used))
const PIMAGE_TLS_CALLBACK kHoldNextThread = HoldNextThread;

// A stop that comes after the call began but before its transfer thread got going: the
// call ends, and the late thread neither asks the server nor reports to the caller.
TEST_F(Download, AStopBeforeTheTransferThreadRunsSendsNothingLater) {
  Publish(TestServer::kUpdate, NameFor(), "never fetched");
  stopEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  control_.stopEvent = stopEvent_.get();
  gThreadHold.stop = stopEvent_.get();
  gThreadHold.armed.store(true);
  EXPECT_FALSE(Run());
  const size_t reportsAtReturn = reports_.size();
  EXPECT_NE(gThreadHold.threadId.load(), 0u) << "no thread was held";
  SetEvent(gThreadHold.letGo.get());
  ASSERT_EQ(WaitForSingleObject(gThreadHold.ended.get(), 20000), WAIT_OBJECT_0);
  EXPECT_EQ(reports_.size(), reportsAtReturn) << "the caller was told of a stopped transfer";
  EXPECT_TRUE(AwaitRequests(TestServer::kUpdate, NameFor(), 0).empty()) << "asked after the stop";
  EXPECT_FALSE(PathExists(Partial()));
}

TEST_F(Download, AStopSeenByADownloadStaysForTheWorker) {
  for (const BOOL manualReset : {TRUE, FALSE}) {
    SCOPED_TRACE(manualReset ? "manual reset" : "automatic reset");
    HANDLE event = CreateEventW(nullptr, manualReset, FALSE, nullptr);
    ASSERT_TRUE(event);
    EXPECT_FALSE(StopRequested(event));
    SetEvent(event);
    EXPECT_TRUE(StopRequested(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    CloseHandle(event);
  }
}

TEST_F(Download, UnusableUrlsFailBeforeTouchingThePartialFile) {
  WriteFileBytes(Partial(), "kept as it was");
  const std::wstring refused = L"http://127.0.0.1:1/updater/" + NameFor();
  const std::wstring urls[] = {L"ftp://127.0.0.1/updater/x", L"file:///C:/x", L"not a url",
                               L"", refused};
  for (const std::wstring& url : urls) {
    EXPECT_FALSE(DownloadFile(url.c_str(), Destination().c_str(), control_)) << Narrow(url);
    EXPECT_EQ(ReadFileBytes(Partial()), "kept as it was") << Narrow(url);
    EXPECT_FALSE(PathExists(Destination()));
  }
}

TEST_F(Download, HttpsIsFetchedAsHttpOnlyWhenForcedAndWrittenInLowerCase) {
  struct Row { const wchar_t* url; bool forced; INTERNET_SCHEME scheme; INTERNET_PORT port; };
  const Row rows[] = {
      {L"https://updates.velto.example/updater/a.upd", true, INTERNET_SCHEME_HTTP, 80},
      {L"https://updates.velto.example:8443/updater/a.upd", true, INTERNET_SCHEME_HTTP, 8443},
      {L"HTTPS://updates.velto.example/updater/a.upd", true, INTERNET_SCHEME_HTTPS, 443},
      {L"Https://updates.velto.example/updater/a.upd", true, INTERNET_SCHEME_HTTPS, 443},
      {L"https://updates.velto.example/updater/a.upd", false, INTERNET_SCHEME_HTTPS, 443},
      {L"http://updates.velto.example/updater/a.upd", true, INTERNET_SCHEME_HTTP, 80},
  };
  for (const Row& row : rows) {
    ProxyIni settings;
    settings.protocolType = row.forced ? 1 : 0;
    WriteProxyIni(settings);
    UrlParts parts;
    ASSERT_TRUE(CrackDownloadUrl(row.url, parts)) << Narrow(row.url);
    EXPECT_EQ(parts.components.nScheme, row.scheme) << Narrow(row.url);
    EXPECT_EQ(parts.components.nPort, row.port) << Narrow(row.url);
    EXPECT_EQ(std::wstring(parts.host.get()), L"updates.velto.example");
    EXPECT_EQ(std::wstring(parts.path.get()), L"/updater/a.upd");
  }

  // Through the update server as a proxy: the rewritten URL arrives as plain HTTP; the
  // upper-case one stays HTTPS and reaches the TLS server through a tunnel (a new one,
  // or one WinINet keeps from an earlier request to that host).
  ASSERT_TRUE(TrustTestAuthority());
  const std::string body = RandomBytes(5000, 13);
  Publish(TestServer::kUpdate, NameFor(), body);
  RouteThroughUpdateServer();
  ClearRequestLog(TestServer::kUpdate);
  ClearRequestLog(TestServer::kTls);
  const std::wstring tail = L"updates.velto.example/updater/" + NameFor();
  ASSERT_TRUE(DownloadFile((L"https://" + tail).c_str(), Destination().c_str(), control_));
  EXPECT_EQ(ReadFileBytes(Destination()), body);
  EXPECT_FALSE(DownloadFile((L"HTTPS://" + tail).c_str(), (temp_ / L"upper").c_str(), control_));
  std::vector<LoggedRequest> plain;
  for (const LoggedRequest& request : AwaitRequests(TestServer::kUpdate, L"", 1)) {
    if (request.method != "CONNECT") plain.push_back(request);
  }
  ASSERT_EQ(plain.size(), 1u);
  // Wine names the default port in the absolute URI it sends to a proxy.
  EXPECT_EQ(plain[0].target, "http://updates.velto.example:80/updater/" + Narrow(NameFor()));
  EXPECT_EQ(plain[0].host, "updates.velto.example");
  const auto secure = AwaitRequests(TestServer::kTls, NameFor(), 1);
  ASSERT_EQ(secure.size(), 1u);
  EXPECT_EQ(secure[0].host, "updates.velto.example");
  EXPECT_EQ(secure[0].status, 404);
}

}  // namespace
