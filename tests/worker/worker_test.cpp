#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/registry.h"
#include "state/setup_state.h"
#include "util/setup_log.h"
#include "support/installers/test_installers.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/servers/trusted_authority.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "worker/component_status.h"
#include "catalog/fetch_retry.h"
#include "worker/worker.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

// The worker thread against the update server, reached through the built-in base URL
// and a proxy settings file; the test plays the dialog's side of SetupState.
class Worker : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TestServersAvailable());
    Clean();
    RouteThroughUpdateServer();
    ResetSetupState();
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    gSetup.slots[kDotNet].remoteName = L"ndp461.upd";
    gSetup.slots[kDotNet].localName = L"ndp461.exe";
    ClearRequestLog(TestServer::kUpdate);
  }
  void TearDown() override {
    ResetSetupState();
    Clean();
    RemoveProxyIni();
  }
  void Clean() {
    RemoveTree(WorkFolderPath());
    RemoveTree(AssetsFolderPath());
    for (const auto& name : published_) RemoveTree(ServedPath(TestServer::kUpdate, name));
  }

  void Publish(const std::wstring& name, const std::string& bytes) {
    published_.push_back(name);
    WriteFileBytes(ServedPath(TestServer::kUpdate, name), bytes);
  }
  // An update list whose one section (in effect since 2000) names these pieces.
  void PublishList(const std::vector<std::string>& entries) {
    std::string list = std::string(kBom) + "0,7,0,x,20000101_0000,Velto Test\r\n";
    for (const auto& entry : entries) list += entry + "\r\n";
    Publish(L"vtupdaterlist.upd", list);
  }

  void StartWorker() {
    gSetup.workerThread.reset(CreateThread(nullptr, 0, WorkerThreadMain, nullptr, 0, nullptr));
    ASSERT_TRUE(gSetup.workerThread);
  }
  // Waits (bounded) until phase is no longer preparing or querying.
  UpdatePhase SettledPhase() {
    for (int i = 0; i < 300; ++i) {
      const UpdatePhase phase = gSetup.phase.load(std::memory_order_acquire);
      if (phase != kPhasePreparing && phase != kPhaseQuerying) return phase;
      Sleep(50);
    }
    return gSetup.phase.load();
  }
  void Post(ComponentId id) {
    const LockGuard hold(gSetup.stateLock);
    gSetup.requestedDownload.store(id);
  }
  // Waits (bounded) until the worker has ended the pending request.
  bool RequestServed() {
    for (int i = 0; i < 300; ++i) {
      if (gSetup.requestedDownload.load() == kNoRequest) return true;
      Sleep(50);
    }
    return false;
  }
  std::vector<std::string> RequestedTargets() {
    std::vector<std::string> targets;
    for (const auto& request : AwaitRequests(TestServer::kUpdate, L"", 0)) {
      targets.push_back(request.target.substr(request.target.rfind('/') + 1));
    }
    return targets;
  }

  std::vector<std::wstring> published_;
};

TEST_F(Worker, PiecesAreFetchedInOrderSkippingEmptyEntries) {
  PublishList({"1,pieceA", "3,pieceC"});
  Publish(L"pieceA.upd", "first piece");
  Publish(L"pieceC.upd", "third piece");
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  EXPECT_EQ(gSetup.productVersionCode.load(), 7);
  ClearRequestLog(TestServer::kUpdate);

  Post(kProduct);
  ASSERT_TRUE(RequestServed());
  EXPECT_EQ(RequestedTargets(), (std::vector<std::string>{"pieceA.upd", "pieceC.upd"}));
  EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\pieceA.upi"), "first piece");
  EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\pieceC.upi"), "third piece");
  EXPECT_FALSE(gSetup.slots[kProduct].downloadFailed.load());

  // Asked again (as every start of the program asks): pieces already there are kept, not
  // downloaded again.
  ClearRequestLog(TestServer::kUpdate);
  Post(kProduct);
  ASSERT_TRUE(RequestServed());
  EXPECT_TRUE(RequestedTargets().empty());

  // A prerequisite installer already in the work folder is not downloaded again.
  WriteFileBytes(WorkFolderPath() + L"\\ndp461.exe", "MZ");
  ClearRequestLog(TestServer::kUpdate);
  Post(kDotNet);
  ASSERT_TRUE(RequestServed());
  EXPECT_TRUE(RequestedTargets().empty());
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());
}

TEST_F(Worker, TheFirstFailedPieceStopsTheRestAndMarksTheStep) {
  PublishList({"1,missingPiece", "2,pieceB"});
  Publish(L"pieceB.upd", "second piece");
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  ClearRequestLog(TestServer::kUpdate);

  Post(kProduct);
  ASSERT_TRUE(RequestServed());
  EXPECT_EQ(RequestedTargets(), (std::vector<std::string>{"missingPiece.upd"}));
  EXPECT_TRUE(gSetup.slots[kProduct].downloadFailed.load());
  EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\pieceB.upi"));

  // A failed prerequisite download is recorded before the request ends.
  Post(kDotNet);
  ASSERT_TRUE(RequestServed());
  EXPECT_TRUE(gSetup.slots[kDotNet].downloadFailed.load());
}

TEST_F(Worker, LocalMediaNeedNoServerAndDownloadNothing) {
  CreateDirectoryW(AssetsFolderPath().c_str(), nullptr);
  WriteFileBytes(AssetsFolderPath() + L"\\vtupdaterinfo.upi",
                 std::string(kBom) + "0,9,0,x,20000101_0000,Velto Local\r\n1,pieceA\r\n");
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  EXPECT_TRUE(gSetup.localAssetsMode.load());
  EXPECT_EQ(gSetup.productVersionCode.load(), 9);

  Post(kProduct);
  ASSERT_TRUE(RequestServed());
  EXPECT_TRUE(gSetup.slots[kProduct].downloadFailed.load());
  EXPECT_TRUE(RequestedTargets().empty()) << "no request reaches the server in local mode";
}

TEST_F(Worker, AnUnreachableListEndsTheWorkerAndLaterRequestsWait) {
  Post(kDotNet);  // asked for before the list has come
  StartWorker();  // nothing published: the list answers 404
  EXPECT_EQ(SettledPhase(), kPhaseFailed);
  ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);
  // Neither served nor ended as if it had been: the step shows no outcome it never had.
  EXPECT_EQ(gSetup.requestedDownload.load(), kDotNet);
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());
  AwaitRequests(TestServer::kUpdate, L"vtupdaterlist.upd", 1);
  EXPECT_EQ(RequestedTargets(), std::vector<std::string>{"vtupdaterlist.upd"});
}

TEST_F(Worker, AnIdleWorkerEndsPromptlyOnTheStopSignal) {
  PublishList({"1,pieceA"});
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  Sleep(100);  // early in an idle wait

  const ULONGLONG start = GetTickCount64();
  SetEvent(gSetup.stopEvent.get());
  ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);
  // An idle wait that ignored the event (a plain 1000 ms sleep) would end some 850 ms
  // after the signal; one that sees it, at once. The budget lies halfway.
  EXPECT_LT(GetTickCount64() - start, 500u);
}

// As shipped in an office: the built-in https:// base URL, no forced HTTP (ProtocolType
// 0), the proxy named with credentials (ProxyType 3, AuthType 1); tinyproxy passes the
// CONNECT on to the tunnel that ends at the TLS server. Without the credentials the
// proxy answers 407 and the list query fails with nothing written.
TEST_F(Worker, TheListAndThePiecesComeOverTlsThroughAnAuthenticatingProxy) {
  ASSERT_TRUE(TrustTestAuthority());
  const std::string list = std::string(kBom) + "0,8,0,x,20000101_0000,Velto Tls\r\n1,tlsPiece\r\n";
  WriteFileBytes(ServedPath(TestServer::kTls, L"vtupdaterlist.upd"), list);
  WriteFileBytes(ServedPath(TestServer::kTls, L"tlsPiece.upd"), "piece over TLS");
  for (const bool credentials : {false, true}) {
    SCOPED_TRACE(credentials ? "with credentials" : "without credentials");
    RemoveTree(WorkFolderPath());
    ResetSetupState();
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RouteThroughTheOfficeProxy(0, credentials);
    ClearRequestLog(TestServer::kTls);
    StartWorker();
    if (!credentials) {
      EXPECT_EQ(SettledPhase(), kPhaseFailed);
      EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\vtupdaterlist.upi"));
      EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\vtupdaterinfo.upi"));
      EXPECT_TRUE(AwaitRequests(TestServer::kTls, L"", 0).empty());
      ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);
      continue;
    }
    ASSERT_EQ(SettledPhase(), kPhaseReady);
    EXPECT_EQ(gSetup.productVersionCode.load(), 8);
    Post(kProduct);
    ASSERT_TRUE(RequestServed());
    EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\tlsPiece.upi"), "piece over TLS");
    const auto requests = AwaitRequests(TestServer::kTls, L"", 2);
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) EXPECT_EQ(request.host, "updates.velto.example");
    SetEvent(gSetup.stopEvent.get());
    ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);
  }
  RemoveTree(ServedPath(TestServer::kTls, L"vtupdaterlist.upd"));
  RemoveTree(ServedPath(TestServer::kTls, L"tlsPiece.upd"));
}

TEST(FetchRetry, OnlyFailuresThatMayPassAreTriedAgain) {
  struct Row { TransferEnd end; uint32_t status; DWORD error; bool transient; };
  const Row rows[] = {
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_CANNOT_CONNECT, true},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_CONNECTION_RESET, true},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_CONNECTION_ABORTED, true},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_TIMEOUT, true},
      {TransferEnd::kNoAnswer, 0, ERROR_HTTP_INVALID_SERVER_RESPONSE, true},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_NAME_NOT_RESOLVED, false},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_INVALID_CA, false},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_SEC_CERT_CN_INVALID, false},
      {TransferEnd::kNoAnswer, 0, ERROR_INTERNET_SEC_CERT_REV_FAILED, false},
      {TransferEnd::kStatusRefused, 500, 0, true},
      {TransferEnd::kStatusRefused, 503, 0, true},
      {TransferEnd::kStatusRefused, 599, 0, true},
      {TransferEnd::kStatusRefused, 408, 0, true},
      {TransferEnd::kStatusRefused, 429, 0, true},
      {TransferEnd::kStatusRefused, 600, 0, false},
      {TransferEnd::kStatusRefused, 499, 0, false},
      {TransferEnd::kStatusRefused, 404, 0, false},
      {TransferEnd::kStatusRefused, 407, 0, false},
      {TransferEnd::kStatusRefused, 302, 0, false},
      {TransferEnd::kStatusRefused, 200, 0, false},  // no length: the same again
      {TransferEnd::kReadFailed, 200, ERROR_INTERNET_TIMEOUT, true},
      {TransferEnd::kEndedEarly, 206, 0, true},
      {TransferEnd::kCannotContinue, 206, 0, false},
      {TransferEnd::kContradictory, 206, 0, true},
      {TransferEnd::kTooSlow, 200, 0, true},
      {TransferEnd::kTooLarge, 200, 0, false},
      {TransferEnd::kStopped, 200, 0, false},
      {TransferEnd::kLocalFailure, 0, 0, false},
      {TransferEnd::kComplete, 200, 0, false},
  };
  for (const Row& row : rows) {
    TransferOutcome outcome;
    outcome.end = row.end;
    outcome.status = row.status;
    outcome.error = row.error;
    EXPECT_EQ(IsTransientFailure(outcome), row.transient)
        << int(row.end) << " " << row.status << " " << row.error;
  }
}

// Tries go on from the partial file, after growing pauses, and end at the first success,
// at the first failure that would only repeat itself, or after the last pause.
TEST_F(Worker, TransientFailuresAreTriedAgainFromThePartialFile) {
  const std::string body = RandomBytes(5000, 40);
  Publish(L"retried.upd", body);
  const DWORD pauses[] = {20, 60, 180};
  struct Row {
    const char* name;
    const char* fault;
    bool result;
    std::vector<std::string> ranges;  // of the requests, in order
    std::string partial = "";         // an earlier run's partial file
  };
  const Row rows[] = {
      {"body ends early twice", "close-after=1000\ntimes=2", true, {"-", "bytes=1000-", "bytes=2000-"}},
      {"429 once", "status=429\ntimes=1", true, {"-", "-"}},
      {"closed before any answer", "no-answer\ntimes=2", true, {"-", "-", "-"}},
      {"a partial file that cannot go on: one fresh try at once", "", true,
       {"bytes=6000-", "-"}, std::string(6000, 'x')},
      {"503 three times", "status=503\ntimes=3", true, {"-", "-", "-", "-"}},
      {"503 for good", "status=503", false, {"-", "-", "-", "-"}},
      {"404 is not tried again", "status=404", false, {"-"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(WorkFolderPath());
    if (!row.partial.empty()) {
      CreateDirectoryW((WorkFolderPath() + L"\\..").c_str(), nullptr);
      CreateDirectoryW(WorkFolderPath().c_str(), nullptr);
      WriteFileBytes(WorkFolderPath() + L"\\retried.upd.FilePart", row.partial);
    }
    WriteFileBytes(ServedPath(TestServer::kUpdate, L"retried.upd.fault"), std::string(row.fault) + "\n");
    ClearRequestLog(TestServer::kUpdate);
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(FetchWithRetries(L"retried.upd", L"retried.upi", false, pauses, 3), row.result);
    const ULONGLONG elapsed = GetTickCount64() - started;
    std::vector<std::string> ranges;
    for (const auto& request : AwaitRequests(TestServer::kUpdate, L"retried.upd", row.ranges.size())) {
      ranges.push_back(request.range.empty() ? "-" : request.range);
    }
    EXPECT_EQ(ranges, row.ranges);
    if (row.ranges.size() == 4) {
      EXPECT_GE(elapsed, 20u + 60u + 180u);
    }
    if (row.result) {
      EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\retried.upi"), body);
    }
    RemoveTree(ServedPath(TestServer::kUpdate, L"retried.upd.fault"));
  }

  // The stop event cuts a pause short, and no try follows.
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"retried.upd.fault"), "status=503\n");
  ClearRequestLog(TestServer::kUpdate);
  // Set during the first pause (the program's is 2 s).
  UniqueHandle stopper(CreateThread(
      nullptr, 0,
      [](void*) -> DWORD {
        Sleep(300);
        SetEvent(gSetup.stopEvent.get());
        return 0;
      },
      nullptr, 0, nullptr));
  const ULONGLONG started = GetTickCount64();
  EXPECT_FALSE(FetchWithRetries(L"retried.upd", L"retried.upi", false));
  WaitForSingleObject(stopper.get(), 5000);
  // Stopped 0.3 s in; a pause that ignored the stop would last until 2 s at the least.
  EXPECT_LT(GetTickCount64() - started, 1800u);
  EXPECT_EQ(AwaitRequests(TestServer::kUpdate, L"retried.upd", 0).size(), 1u);
  RemoveTree(ServedPath(TestServer::kUpdate, L"retried.upd.fault"));
}

// The worker retries within the request, so the step shows "downloading" meanwhile and
// reports no failure when a later try succeeds (the program's first pause is 2 s).
TEST_F(Worker, AStepStaysDownloadingWhileTheWorkerTriesAgain) {
  PublishList({"1,pieceA"});
  Publish(L"ndp461.upd", "MZ stand-in");
  WriteFileBytes(ServedPath(TestServer::kUpdate, L"ndp461.upd.fault"), "status=503\ntimes=1\n");
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  ClearRequestLog(TestServer::kUpdate);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusDownloading);
  ASSERT_EQ(AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 1).size(), 1u);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusDownloading) << "during the pause";
  // The bar stays, and tells when the next try starts.
  const TransferProgress& progress = gSetup.slots[kDotNet].progress;
  for (const ULONGLONG until = GetTickCount64() + 1000; !progress.waiting && GetTickCount64() < until;) {
    Sleep(10);
  }
  EXPECT_TRUE(progress.waiting.load());
  EXPECT_TRUE(progress.active.load());
  const auto left = LONG(progress.retryAtTick.load() - GetTickCount());
  EXPECT_GT(left, 0);
  EXPECT_LE(left, 2000);
  ASSERT_TRUE(RequestServed());
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallerAvailable);
  EXPECT_EQ(AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 2).size(), 2u);
  RemoveTree(ServedPath(TestServer::kUpdate, L"ndp461.upd.fault"));
}

// A program with keys: the list is used only with a signature by one of them (signature
// file variants are rows of the verify tests), and every download meets its pin.
TEST_F(Worker, WithKeysOnlyASignedListIsUsedAndDownloadsMeetTheirPins) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  const std::string pieceA = "first piece", pieceB = "second piece", dotNet = "MZ new";
  const std::string list = std::string(kBom) + "-2,SHA256:ndp461.upd," + Sha256Hex(dotNet) +
                           "\r\n0,7,0,x,20000101_0000,Velto Test\r\n1,pieceA," +
                           Sha256Hex(pieceA) + "\r\n2,pieceB," + Sha256Hex("other bytes") + "\r\n";
  Publish(L"vtupdaterlist.upd", list);
  Publish(L"pieceA.upd", pieceA);
  Publish(L"pieceB.upd", pieceB);
  Publish(L"ndp461.upd", dotNet);

  for (const std::string& signature : {std::string(), publisher.SignatureLine(list + " ")}) {
    SCOPED_TRACE(signature.empty() ? "no signature file" : "signature of other bytes");
    if (!signature.empty()) Publish(L"vtupdaterlist.sig", signature + "\n");
    SetProgramKeys(keys);
    StartWorker();
    EXPECT_EQ(SettledPhase(), kPhaseFailed);
    EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\vtupdaterlist.upi")) << "nothing of it is kept";
    EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\vtupdaterinfo.upi"));
    ResetSetupState();
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    gSetup.slots[kDotNet].remoteName = L"ndp461.upd";
    gSetup.slots[kDotNet].localName = L"ndp461.exe";
  }

  Publish(L"vtupdaterlist.sig", "junk\n" + publisher.SignatureLine(list) + "\n");
  SetProgramKeys(keys);
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  ClearRequestLog(TestServer::kUpdate);
  Post(kProduct);
  ASSERT_TRUE(RequestServed());
  EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\pieceA.upi"), pieceA);
  EXPECT_FALSE(PathExists(WorkFolderPath() + L"\\pieceB.upi")) << "a piece off its pin is deleted";
  EXPECT_TRUE(gSetup.slots[kProduct].downloadFailed.load());

  // An installer kept from an earlier run that is off its pin is fetched afresh once.
  WriteFileBytes(WorkFolderPath() + L"\\ndp461.exe", "MZ old");
  ClearRequestLog(TestServer::kUpdate);
  Post(kDotNet);
  ASSERT_TRUE(RequestServed());
  EXPECT_EQ(RequestedTargets(), std::vector<std::string>{"ndp461.upd"});
  EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\ndp461.exe"), dotNet);
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());

  // So is one an earlier run's partial file completed off its pin (begun from another
  // release, without a validator to tell).
  RemoveTree(WorkFolderPath() + L"\\ndp461.exe");
  WriteFileBytes(WorkFolderPath() + L"\\ndp461.upd.FilePart", "XX");
  ClearRequestLog(TestServer::kUpdate);
  Post(kDotNet);
  ASSERT_TRUE(RequestServed());
  std::vector<std::string> ranges;
  for (const auto& request : AwaitRequests(TestServer::kUpdate, L"ndp461.upd", 2)) {
    ranges.push_back(request.range.empty() ? "-" : request.range);
  }
  EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=2-", "-"}));
  EXPECT_EQ(ReadFileBytes(WorkFolderPath() + L"\\ndp461.exe"), dotNet);
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());
}

// Replay and freeze: a program with keys stores the highest list serial it accepted and
// refuses a validly signed list that is older, has none, or has expired (phase -2).
TEST_F(Worker, AReplayedOrExpiredSignedListIsRefused) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  const wchar_t* const kSerialValue = L"UpdateListSerial";
  DeleteRegValue(HKEY_CURRENT_USER, kProductRegistryKey, kSerialValue, kView64);
  const struct {
    bool keyed;
    const char* settings;
    UpdatePhase phase;
    const char* logged;
  } rows[] = {
      {true, "-2,ListSerial,5\r\n", kPhaseReady,
       "update list serial 5 (highest accepted before: none), expires none UTC"},
      {true, "-2,ListSerial,4\r\n", kPhaseFailed,
       "update list refused: its serial 4 is below 5, the highest accepted before"},
      {true, "-2,ListSerial,6\r\n-2,ListExpires,20000101_0000\r\n", kPhaseFailed,
       "update list refused: it expired at 20000101_0000 UTC (now 20"},
      {true, "", kPhaseFailed, "update list refused: it has no serial, and serial 5 was accepted"},
      {true, "-2,ListSerial,5\r\n-2,ListExpires,29991231_2359\r\n", kPhaseReady,
       "update list serial 5 (highest accepted before: 5), expires 29991231_2359 UTC"},
      {false, "-2,ListSerial,4\r\n", kPhaseReady, "update list not signed (this program has no keys)"},
  };
  TempFolder temp;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.logged);
    const std::string list = std::string(kBom) + row.settings + "0,7,0,x,20000101_0000,V\r\n";
    Publish(L"vtupdaterlist.upd", list);
    Publish(L"vtupdaterlist.sig", publisher.SignatureLine(list) + "\n");
    ASSERT_TRUE(OpenSetupLog((temp / L"setup.log").c_str()));
    if (row.keyed) SetProgramKeys(keys);
    StartWorker();
    EXPECT_EQ(SettledPhase(), row.phase);
    ResetSetupState();
    CloseSetupLog(L"end");
    EXPECT_NE(ReadFileBytes(temp / L"setup.log").find(row.logged), std::string::npos)
        << ReadFileBytes(temp / L"setup.log");
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    gSetup.slots[kDotNet].remoteName = L"ndp461.upd";
    gSetup.slots[kDotNet].localName = L"ndp461.exe";
  }
  uint64_t stored = 0;
  DWORD size = sizeof(stored);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kProductRegistryKey, kSerialValue, RRF_RT_REG_QWORD,
                         nullptr, &stored, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(stored, 5u);
  DeleteRegValue(HKEY_CURRENT_USER, kProductRegistryKey, kSerialValue, kView64);
}

// Local media with keys: whatever the medium lacks comes from the network only with a
// pin from the medium's information file; the pinned download is verified and started.
TEST_F(Worker, LocalMediaWithKeysFetchOnlyWhatTheirInformationPins) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  const std::string installer = ReadFileBytes(StandInDotNetInstallerFailing());
  Publish(L"ndp461.upd", installer);
  TempFolder temp;
  for (bool pinned : {false, true}) {
    SCOPED_TRACE(pinned ? "pinned by the medium" : "no pin on the medium");
    Clean();
    Publish(L"ndp461.upd", installer);
    CreateDirectoryW(AssetsFolderPath().c_str(), nullptr);
    WriteFileBytes(AssetsFolderPath() + L"\\vtupdaterinfo.upi",
                   std::string(kBom) + (pinned ? "-2,SHA256:ndp461.upd," + Sha256Hex(installer) + "\r\n" : "") +
                       "0,9,0,x,20000101_0000,Velto Local\r\n1,pieceA\r\n");
    ScopedEnvironment record(kStandInRecordVariable, temp / L"record.txt");
    DeleteFileW((temp / L"record.txt").c_str());
    ASSERT_TRUE(OpenSetupLog((temp / L"setup.log").c_str()));
    SetProgramKeys(keys);
    StartWorker();
    ASSERT_EQ(SettledPhase(), kPhaseReady);
    ClearRequestLog(TestServer::kUpdate);
    Post(kDotNet);
    ASSERT_TRUE(RequestServed());
    EXPECT_EQ(RequestedTargets(), pinned ? std::vector<std::string>{"ndp461.upd"}
                                         : std::vector<std::string>{});
    EXPECT_EQ(gSetup.slots[kDotNet].downloadFailed.load(), !pinned);
    StartInstaller(kDotNet, false);
    if (gSetup.slots[kDotNet].process) {
      WaitForSingleObject(gSetup.slots[kDotNet].process.get(), 60000);
    }
    EXPECT_EQ(RecordedCommandLines(temp / L"record.txt").size(), pinned ? 1u : 0u);
    CloseSetupLog(L"end");
    const std::string log = ReadFileBytes(temp / L"setup.log");
    EXPECT_NE(log.find(pinned ? "SHA-256 of ndp461.exe verified before its start"
                              : "not downloaded: ndp461.upd has no SHA-256 in the medium's "
                                "information file"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(pinned ? "(1 of 2 prerequisite installers pinned)"
                              : "(0 of 2 prerequisite installers pinned)"),
              std::string::npos);
    ResetSetupState();
    gSetup.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    gSetup.slots[kDotNet].remoteName = L"ndp461.upd";
    gSetup.slots[kDotNet].localName = L"ndp461.exe";
  }
}

}  // namespace
