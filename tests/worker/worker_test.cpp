#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/setup_state.h"
#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_signing.h"
#include "support/test_support.h"
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
    EnterCriticalSection(&gSetup.stateLock);
    gSetup.requestedDownload.store(id);
    LeaveCriticalSection(&gSetup.stateLock);
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
  StartWorker();  // nothing published: the list answers 404
  EXPECT_EQ(SettledPhase(), kPhaseFailed);
  ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);

  Post(kDotNet);
  Sleep(1500);
  EXPECT_EQ(gSetup.requestedDownload.load(), kDotNet) << "a request after the failure is never served";
  EXPECT_FALSE(gSetup.slots[kDotNet].downloadFailed.load());
}

TEST_F(Worker, AnIdleWorkerEndsPromptlyOnTheStopSignal) {
  PublishList({"1,pieceA"});
  StartWorker();
  ASSERT_EQ(SettledPhase(), kPhaseReady);
  Sleep(200);  // well inside an idle wait

  const ULONGLONG start = GetTickCount64();
  SetEvent(gSetup.stopEvent.get());
  ASSERT_EQ(WaitForSingleObject(gSetup.workerThread.get(), 5000), WAIT_OBJECT_0);
  EXPECT_LT(GetTickCount64() - start, 1000u);
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
}

}  // namespace
