// The status machine of the three steps, driven with installers that really run: the
// stand-in .NET installers and the stand-in LocalDB packages through Wine's msiexec.
// The test plays the worker thread where one is needed.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "detect/localdb.h"
#include "detect/product.h"
#include "detect/registry.h"
#include "support/installers/test_installers.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "util/setup_log.h"
#include "worker/component_status.h"

namespace {

constexpr DWORD kInstallerLimitMs = 120000;
const std::wstring kLocalDbVersions = kLocalDbInstalledVersionsKey;

void MakeFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

void MakeWorkFolder() {
  MakeFolder(QrnFolderPath());
  MakeFolder(WorkFolderPath());
}

std::wstring InWork(const std::wstring& name) { return WorkFolderPath() + L"\\" + name; }
std::wstring InAssets(const std::wstring& name) { return AssetsFolderPath() + L"\\" + name; }

void PutInWork(const std::wstring& source, const std::wstring& name) {
  MakeWorkFolder();
  ASSERT_TRUE(CopyFileW(source.c_str(), InWork(name).c_str(), FALSE)) << Narrow(name);
}

void PutInAssets(const std::wstring& source, const std::wstring& name) {
  MakeFolder(AssetsFolderPath());
  ASSERT_TRUE(CopyFileW(source.c_str(), InAssets(name).c_str(), FALSE)) << Narrow(name);
}

class ComponentStates : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The UI thread of the program runs in a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }

  void SetUp() override {
    Clean();
    Initialise();
  }
  void TearDown() override {
    for (ComponentSlot& slot : gSetup.slots) {
      if (slot.process) WaitForSingleObject(slot.process.get(), kInstallerLimitMs);
    }
    Clean();
  }
  void Clean() {
    // A checked installer stays held until its process is reaped, which a test may skip.
    for (ComponentSlot& slot : gSetup.slots) slot.heldInstaller.reset();
    for (const wchar_t* program : {L"ndp461.exe", L"msiexec.exe"}) RefusedProgram::Allow(program);
    UndoStandInInstallations();
    RemoveTree(WorkFolderPath());
    RemoveTree(AssetsFolderPath());
  }

  // The shared state as the program's initialisation leaves it, judged from what the
  // machine holds now.
  void Initialise() {
    ResetSetupState();
    gSetup.slots[kDotNet].remoteName = kDotNetRemoteName;
    gSetup.slots[kDotNet].localName = kDotNetLocalName;
    ComponentSlot& localDb = gSetup.slots[kLocalDb];
    switch (LocalDbPackageKind()) {
      case kLocalDbKind2014x64:
        localDb.remoteName = kLocalDb2014x64RemoteName;
        localDb.localName = kLocalDb2014x64LocalName;
        break;
      case kLocalDbKind2017x64:
        localDb.remoteName = kLocalDb2017x64RemoteName;
        localDb.localName = kLocalDb2017x64LocalName;
        break;
      default:
        localDb.remoteName = kLocalDb2014x86RemoteName;
        localDb.localName = kLocalDb2014x86LocalName;
    }
    gSetup.slots[kDotNet].installedAtStart = IsComponentSatisfied(kDotNet, -1);
    gSetup.slots[kLocalDb].installedAtStart = IsComponentSatisfied(kLocalDb, -1);
    gSetup.slots[kProduct].installedAtStart = IsProductInstalled();
  }

  static std::wstring LocalDbName() { return gSetup.slots[kLocalDb].localName; }

  // The worker's end of a request: the outcome first, then the request cleared.
  static void FinishRequest(ComponentId id, bool failed) {
    ASSERT_EQ(gSetup.requestedDownload.load(), id);
    if (failed) gSetup.slots[id].downloadFailed = true;
    const LockGuard hold(gSetup.stateLock);
    gSetup.requestedDownload = kNoRequest;
  }

  static void WaitForInstallerEnd(ComponentId id) {
    ASSERT_TRUE(gSetup.slots[id].process) << "no installer running for step " << id + 1;
    ASSERT_EQ(WaitForSingleObject(gSetup.slots[id].process.get(), kInstallerLimitMs),
              WAIT_OBJECT_0);
  }

  static void RegisterDotNet() {
    SetRegDword(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", kStandInDotNetRelease, kView32);
  }
  static void RegisterLocalDb(const wchar_t* major) {
    SetRegString(HKEY_LOCAL_MACHINE, kLocalDbVersions + L"\\" + major, L"ParentInstance",
                 L"MSSQL12E.LOCALDB", kView32);
  }
  static void RegisterProduct(uint32_t code) {
    SetRegDword(HKEY_CURRENT_USER, kStandInProductKey, L"Installed", 1, kView64);
    SetRegDword(HKEY_CURRENT_USER, kStandInProductKey, L"VersionCode", code, kView64);
  }
  static void SetPieces(std::initializer_list<std::pair<int, const wchar_t*>> pieces) {
    for (auto& entry : gSetup.componentFiles) entry[0] = L'\0';
    for (const auto& [index, name] : pieces) {
      wcsncpy(gSetup.componentFiles[index], name, kComponentFileUnits - 1);
    }
  }
};

TEST_F(ComponentStates, SatisfiedStepsNeitherLookForInstallersNorAskForDownloads) {
  RegisterDotNet();
  RegisterLocalDb(L"12.0");
  RegisterProduct(120);
  Initialise();
  gSetup.productVersionCode = 120;
  gSetup.phase.store(kPhaseReady, std::memory_order_release);
  // An installer lying around changes nothing for a satisfied step.
  PutInWork(StandInDotNetInstaller(), kDotNetLocalName);

  for (int pass = 0; pass < 2; ++pass) {
    for (ComponentId id : {kDotNet, kLocalDb, kProduct}) {
      EXPECT_EQ(ComponentStatusOf(id), kStatusAlreadyInstalled) << "step " << id + 1;
    }
  }
  // Installed meanwhile rather than at start.
  for (ComponentSlot& slot : gSetup.slots) slot.installedAtStart = false;
  for (ComponentId id : {kDotNet, kLocalDb, kProduct}) {
    EXPECT_EQ(ComponentStatusOf(id), kStatusInstallCompleted) << "step " << id + 1;
  }
  EXPECT_EQ(gSetup.requestedDownload.load(), kNoRequest);

  // Removed meanwhile: the installer search applies again.
  DeleteRegValue(HKEY_LOCAL_MACHINE, kStandInDotNetKey, L"Release", kView32);
  DeleteRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Microsoft SQL Server Local DB", kView32);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallerAvailable);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusDownloading);
  EXPECT_EQ(gSetup.requestedDownload.load(), kLocalDb);
}

TEST_F(ComponentStates, InstallersAreFoundInTheAssetsFolderFirstWhateverTheMode) {
  const struct {
    bool inAssets, inWork, localMode;
    int found;  // 0 none, 1 Assets, 2 work folder
  } rows[] = {
      {false, false, false, 0}, {false, false, true, 0}, {true, false, false, 1},
      {true, false, true, 1},   {false, true, false, 2}, {false, true, true, 2},
      {true, true, false, 1},   {true, true, true, 1},
  };
  for (const auto& r : rows) {
    RemoveTree(WorkFolderPath());
    RemoveTree(AssetsFolderPath());
    if (r.inAssets) PutInAssets(StandInDotNetInstaller(), kDotNetLocalName);
    if (r.inWork) PutInWork(StandInDotNetInstaller(), kDotNetLocalName);
    gSetup.localAssetsMode = r.localMode;
    const std::wstring expected = r.found == 0   ? L"<null>"
                                  : r.found == 1 ? InAssets(kDotNetLocalName)
                                                 : InWork(kDotNetLocalName);
    EXPECT_EQ(Text(FindInstaller(kDotNet)), expected)
        << r.inAssets << r.inWork << r.localMode;
  }

  // Only the work folder's copy is ever deleted, and only for steps 1 and 2.
  for (ComponentId id : {kProduct, -1, kComponentCount, ComponentId(0x80000000)}) DeleteInstaller(id);
  EXPECT_TRUE(PathExists(InWork(kDotNetLocalName)));
  DeleteInstaller(kDotNet);
  EXPECT_FALSE(PathExists(InWork(kDotNetLocalName)));
  EXPECT_TRUE(PathExists(InAssets(kDotNetLocalName)));
}

TEST_F(ComponentStates, AnInstallerThatSucceedsIsWatchedToItsEndAndItsWorkCopyDeleted) {
  TempFolder temp;
  ScopedEnvironment record(kStandInRecordVariable, temp / L"record.txt");
  PutInAssets(StandInDotNetInstaller(), kDotNetLocalName);
  PutInWork(StandInDotNetInstaller(), kDotNetLocalName);
  ASSERT_EQ(ComponentStatusOf(kDotNet), kStatusInstallerAvailable);

  StandInHold hold;
  StartInstaller(kDotNet, true);
  ASSERT_TRUE(gSetup.slots[kDotNet].process);
  const HANDLE running = gSetup.slots[kDotNet].process.get();
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstalling);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstalling);
  // A second press while it runs starts nothing.
  StartInstaller(kDotNet, true);
  EXPECT_EQ(gSetup.slots[kDotNet].process.get(), running);

  hold.Release();
  WaitForInstallerEnd(kDotNet);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstalling) << "the evaluation that notices the end";
  EXPECT_FALSE(gSetup.slots[kDotNet].process);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallCompleted);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallCompleted);

  EXPECT_FALSE(PathExists(InWork(kDotNetLocalName)));
  EXPECT_TRUE(PathExists(InAssets(kDotNetLocalName)));
  // One start, of the Assets copy, without parameters.
  EXPECT_EQ(RecordedCommandLines(temp / L"record.txt"),
            std::vector<std::wstring>{L"\"" + InAssets(kDotNetLocalName) + L"\""});
}

// The check right before the start, on a handle held until the process exists: a file
// changed since its download, or one without a pin while the program has keys, is never
// started; the changed one is deleted.
TEST_F(ComponentStates, APinnedInstallerIsCheckedRightBeforeItsStart) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  enum Pin { kNone, kRight, kWrong };
  const struct {
    const char* name;
    bool withKeys;
    bool ready;  // the update information (and so the pins) is loaded
    Pin pin;
    bool started;
    bool kept;
    bool inAssets = false;  // beside the program, in a run that fetches from the network
  } cases[] = {
      {"without keys, changed since its download", false, true, kWrong, false, false},
      {"with keys, no pin", true, true, kNone, false, true},
      {"with keys, no pin, beside the program", true, true, kNone, false, true, true},
      {"with keys, before the pins are known", true, false, kRight, false, true},
      {"with keys, matching its pin", true, true, kRight, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    ScopedEnvironment record(kStandInRecordVariable, temp / L"record.txt");
    Clean();
    Initialise();
    const std::wstring installer = c.inAssets ? InAssets(kDotNetLocalName) : InWork(kDotNetLocalName);
    (c.inAssets ? PutInAssets : PutInWork)(StandInDotNetInstallerFailing(), kDotNetLocalName);
    if (c.withKeys) SetProgramKeys(keys);
    if (c.ready) gSetup.phase = kPhaseReady;
    const std::string bytes = ReadFileBytes(installer);
    FilePin& pin = gSetup.installerPins[kDotNet];
    pin.present = c.pin != kNone;
    const std::string hex = Sha256Hex(c.pin == kWrong ? bytes + "x" : bytes);
    for (int i = 0; i < kPinBytes; ++i) pin.digest[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));

    StartInstaller(kDotNet, false);
    // An installer started against the rule writes its record some time after its start.
    EXPECT_EQ(bool(gSetup.slots[kDotNet].process), c.started);
    if (gSetup.slots[kDotNet].process) WaitForInstallerEnd(kDotNet);
    EXPECT_EQ(RecordedCommandLines(temp / L"record.txt").size(), c.started ? 1u : 0u);
    EXPECT_EQ(PathExists(installer), c.kept);
    if (!c.started) {
      EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallFailed);
      // Pressed again: a deleted copy is fetched afresh, one still there fails again.
      StartInstaller(kDotNet, false);
      EXPECT_EQ(ComponentStatusOf(kDotNet), c.kept ? kStatusInstallFailed : kStatusDownloading);
    }
  }
}

FilePin PinOf(const std::string& bytes) {
  FilePin pin;
  pin.present = true;
  const std::string hex = Sha256Hex(bytes);
  for (int i = 0; i < kPinBytes; ++i) pin.digest[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return pin;
}

// The checked installer stays held until its process has been reaped, not only until its
// start: msiexec reads the package after it has started.
TEST_F(ComponentStates, ACheckedInstallerStaysHeldUntilItsProcessIsReaped) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  for (ComponentId id : {kDotNet, kLocalDb}) {
    SCOPED_TRACE(id + 1);
    Clean();
    Initialise();
    const std::wstring name = gSetup.slots[id].localName;
    PutInWork(id == kDotNet ? StandInDotNetInstaller() : StandInLocalDbPackage(name), name);
    SetProgramKeys(keys);
    gSetup.phase = kPhaseReady;
    gSetup.installerPins[id] = PinOf(ReadFileBytes(InWork(name)));
    StandInHold hold;
    StartInstaller(id, false);
    ASSERT_TRUE(gSetup.slots[id].process);
    EXPECT_FALSE(MoveFileW(InWork(name).c_str(), InWork(L"moved").c_str()));
    EXPECT_FALSE(DeleteFileW(InWork(name).c_str()));
    hold.Release();
    WaitForInstallerEnd(id);
    EXPECT_FALSE(DeleteFileW(InWork(name).c_str())) << "ended, not yet reaped";
    EXPECT_EQ(ComponentStatusOf(id), kStatusInstalling);
    EXPECT_EQ(ComponentStatusOf(id), kStatusInstallCompleted);
    EXPECT_FALSE(PathExists(InWork(name))) << "released when reaped, then deleted as used";
  }
}

// A medium's copy that fails its pin is never deleted: the work folder's copy, or a
// download, takes its place. Only a checked work copy that fails is deleted.
TEST_F(ComponentStates, AMediumCopyOffItsPinFallsBackAndOnlyACheckedWorkCopyIsDeleted) {
  const TestSigningKey publisher;
  const std::string keys = publisher.PublicKey();
  enum Copy { kNone, kRight, kWrong };
  const struct {
    const char* name;
    Copy medium, work;
    const wchar_t* started;  // the folder of the copy started, or null
    ComponentStatus after;   // when nothing started
  } rows[] = {
      {"medium off its pin, work copy right", kWrong, kRight, L"work", 0},
      {"medium off its pin, no work copy: a download", kWrong, kNone, nullptr, kStatusDownloading},
      {"medium right, work copy off its pin", kRight, kWrong, L"medium", 0},
      {"no medium copy, work copy off its pin", kNone, kWrong, nullptr, kStatusInstallFailed},
  };
  const std::string right = ReadFileBytes(StandInDotNetInstallerFailing());
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TempFolder temp;
    ScopedEnvironment record(kStandInRecordVariable, temp / L"record.txt");
    Clean();
    Initialise();
    SetProgramKeys(keys);
    gSetup.phase = kPhaseReady;
    gSetup.installerPins[kDotNet] = PinOf(right);
    if (r.medium != kNone) PutInAssets(StandInDotNetInstallerFailing(), kDotNetLocalName);
    if (r.work != kNone) PutInWork(StandInDotNetInstallerFailing(), kDotNetLocalName);
    if (r.medium == kWrong) WriteFileBytes(InAssets(kDotNetLocalName), right + "x");
    if (r.work == kWrong) WriteFileBytes(InWork(kDotNetLocalName), right + "x");

    StartInstaller(kDotNet, false);
    if (r.started) {
      WaitForInstallerEnd(kDotNet);
      const std::wstring expected =
          std::wstring(r.started) == L"work" ? InWork(kDotNetLocalName) : InAssets(kDotNetLocalName);
      EXPECT_EQ(RecordedCommandLines(temp / L"record.txt"),
                std::vector<std::wstring>{L"\"" + expected + L"\""});
    } else {
      EXPECT_TRUE(RecordedCommandLines(temp / L"record.txt").empty());
      EXPECT_EQ(ComponentStatusOf(kDotNet), r.after);
    }
    EXPECT_EQ(PathExists(InAssets(kDotNetLocalName)), r.medium != kNone) << "the medium is never ours";
    EXPECT_EQ(PathExists(InWork(kDotNetLocalName)), r.work == kRight || (r.work == kWrong && r.started));
    const LockGuard hold(gSetup.stateLock);
    gSetup.requestedDownload = kNoRequest;
  }
}

TEST_F(ComponentStates, AnInstallerThatFailsKeepsItsFileAndCanBeStartedAgain) {
  TempFolder temp;
  ScopedEnvironment record(kStandInRecordVariable, temp / L"record.txt");
  PutInWork(StandInDotNetInstallerFailing(), kDotNetLocalName);

  for (int attempt = 1; attempt <= 2; ++attempt) {
    ASSERT_EQ(ComponentStatusOf(kDotNet), attempt == 1 ? kStatusInstallerAvailable
                                                       : kStatusInstallFailed);
    StartInstaller(kDotNet, false);
    WaitForInstallerEnd(kDotNet);
    EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstalling);
    EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallFailed);
    EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallFailed);
    EXPECT_TRUE(PathExists(InWork(kDotNetLocalName)));
    EXPECT_EQ(RecordedCommandLines(temp / L"record.txt").size(), size_t(attempt));
  }
  EXPECT_EQ(gSetup.requestedDownload.load(), kNoRequest);
}

TEST_F(ComponentStates, AStartThatCannotHappenFailsAtOnceAndTheButtonStaysUsable) {
  ShellErrorBoxCloser closer;
  const struct {
    const char* what;
    ComponentId id;
    bool corrupt;            // the installer file is no program at all
    const wchar_t* refused;  // the program Wine is told not to run (elevation refused)
  } rows[] = {
      {"damaged .NET installer", kDotNet, true, nullptr},
      {".NET installer refused", kDotNet, false, L"ndp461.exe"},
      {"msiexec refused", kLocalDb, false, L"msiexec.exe"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Clean();
    Initialise();
    const std::wstring name = gSetup.slots[r.id].localName;
    if (r.corrupt) {
      MakeWorkFolder();
      WriteFileBytes(InWork(name), "not a program");
    } else {
      PutInWork(r.id == kDotNet ? StandInDotNetInstaller() : StandInLocalDbPackage(name), name);
    }
    if (r.refused) {
      RefusedProgram refuse(r.refused);
      StartInstaller(r.id, true);
    } else {
      StartInstaller(r.id, true);
    }
    EXPECT_FALSE(gSetup.slots[r.id].process);
    EXPECT_FALSE(gSetup.slots[r.id].installing);
    EXPECT_EQ(ComponentStatusOf(r.id), kStatusInstallFailed);
    EXPECT_EQ(ComponentStatusOf(r.id), kStatusInstallFailed);
    EXPECT_TRUE(PathExists(InWork(name)));
    if (r.corrupt) continue;

    // Pressed again once the system lets it run: the same file is started.
    StartInstaller(r.id, true);
    WaitForInstallerEnd(r.id);
    EXPECT_EQ(ComponentStatusOf(r.id), kStatusInstalling);
    EXPECT_EQ(ComponentStatusOf(r.id), kStatusInstallCompleted);
  }
  EXPECT_FALSE(LaunchInstaller(kDotNet, (WorkFolderPath() + L"\\missing.exe").c_str(), true));
  EXPECT_FALSE(LaunchInstaller(kDotNet, nullptr, false));
}

TEST_F(ComponentStates, MissingInstallersAreRequestedOneAtATime) {
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusDownloading);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusWaitingForDownload);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusDownloading);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusWaitingForDownload);
  EXPECT_EQ(gSetup.requestedDownload.load(), kDotNet);

  PutInWork(StandInDotNetInstaller(), kDotNetLocalName);
  FinishRequest(kDotNet, false);
  EXPECT_EQ(ComponentStatusOf(kDotNet), kStatusInstallerAvailable);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusDownloading);
  EXPECT_EQ(gSetup.requestedDownload.load(), kLocalDb);

  FinishRequest(kLocalDb, true);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusDownloadFailed);
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusDownloadFailed);
  EXPECT_EQ(gSetup.requestedDownload.load(), kNoRequest) << "a failed download is not retried";

  PutInAssets(StandInLocalDbPackage(LocalDbName()), LocalDbName());
  EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusInstallerAvailable);
}

TEST_F(ComponentStates, TheApplicationStepFollowsThePhaseAndThenItsPieces) {
  SetPieces({{0, L"setupA"}, {2, L"dataC"}});
  for (UpdatePhase phase : {kPhasePreparing, kPhaseQuerying, kPhaseFailed, kPhaseAwaitingMutex,
                            kPhaseHandedOver}) {
    gSetup.phase.store(phase, std::memory_order_release);
    EXPECT_EQ(ComponentStatusOf(kProduct), phase);
  }
  EXPECT_EQ(gSetup.requestedDownload.load(), kNoRequest);
  gSetup.phase.store(kPhaseReady, std::memory_order_release);

  // Work folder mode: every named piece must lie in the work folder.
  PutInWork(StandInAppInstaller(), L"setupA.upi");
  PutInWork(StandInAppInstaller(), L"dataC.upi");
  EXPECT_EQ(Text(FindInstaller(kProduct)), L"OK");
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusInstallerAvailable);
  DeleteFileW(InWork(L"dataC.upi").c_str());
  EXPECT_EQ(Text(FindInstaller(kProduct)), L"<null>");
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusDownloading);
  EXPECT_EQ(gSetup.requestedDownload.load(), kProduct);
  FinishRequest(kProduct, false);

  // A name from the server cannot make a file outside the folder pass for a piece.
  SetPieces({{0, L"..\\planted"}});
  WriteFileBytes(QrnFolderPath() + L"\\planted.upi", "MZ");
  EXPECT_EQ(Text(FindInstaller(kProduct)), L"<null>");

  // A piece whose name the program refused counts as missing, even where a file of that
  // name lies ("dataB." names "dataB" to Windows, yet "dataB..upi" is a file name).
  SetPieces({{0, L"setupA"}, {1, L"dataB."}});
  PutInWork(StandInAppInstaller(), L"setupA.upi");
  PutInWork(StandInAppInstaller(), L"dataB..upi");
  gSetup.componentRefused[1] = true;
  EXPECT_EQ(Text(FindInstaller(kProduct)), L"<null>");
  gSetup.componentRefused[1] = false;

  // Local mode: the Assets folder alone counts; the worker fails such a request at once.
  SetPieces({{0, L"setupA"}});
  gSetup.localAssetsMode = true;
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusDownloading);
  FinishRequest(kProduct, true);
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusDownloadFailed);
  PutInAssets(StandInAppInstaller(), L"setupA.upi");
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusInstallerAvailable);

  // No pieces at all: available unless the application is current.
  SetPieces({});
  EXPECT_EQ(Text(FindInstaller(kProduct)), L"OK");
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusInstallerAvailable);
  RegisterProduct(120);
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusInstallerAvailable) << "nothing on offer yet";
  gSetup.productVersionCode = 120;
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusInstallCompleted);
  gSetup.slots[kProduct].installedAtStart = true;
  EXPECT_EQ(ComponentStatusOf(kProduct), kStatusAlreadyInstalled);
}

TEST_F(ComponentStates, LocalDbPackagesInstalledThroughMsiexecAreDetected) {
  TempFolder temp;
  // Wine finds its own msiexec by bare name even before one planted in the program's
  // folder: only the log can show that the program asked for the system's by full path.
  ASSERT_TRUE(OpenSetupLog((temp / L"setup.log").c_str()));
  const struct {
    const wchar_t* package;
    int32_t major;
    const wchar_t* line;
  } rows[] = {
      {kLocalDb2014x64LocalName, 12, L"SQL Server 2014 SP3 LocalDBがインストール済みです"},
      {kLocalDb2017x64LocalName, 14, L"SQL Server 2017 RTM LocalDBがインストール済みです"},
      // The 32-bit package on 64-bit Windows registers its instance where the 64-bit
      // view does not see it.
      {kLocalDb2014x86LocalName, 12, L"SQL Server 2014 LocalDBがインストール済みです(異常)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(Narrow(r.package));
    Clean();
    Initialise();
    gSetup.slots[kLocalDb].localName = r.package;
    PutInWork(StandInLocalDbPackage(r.package), r.package);
    ASSERT_EQ(ComponentStatusOf(kLocalDb), kStatusInstallerAvailable);
    const ULONGLONG started = GetTickCount64();
    StartInstaller(kLocalDb, true);
    WaitForInstallerEnd(kLocalDb);
    std::printf("msiexec installed %ls in %llu ms\n", r.package, GetTickCount64() - started);
    EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusInstalling);
    EXPECT_EQ(ComponentStatusOf(kLocalDb), kStatusInstallCompleted);
    EXPECT_FALSE(PathExists(InWork(r.package)));
    EXPECT_EQ(MaxLocalDbMajorVersion(), r.major);
    EXPECT_EQ(Text(DescribeLocalDb(MaxLocalDbMajorVersion())), r.line);
  }
  CloseSetupLog(L"end");
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  const std::string log = ReadFileBytes(temp / L"setup.log");
  // Unpinned starts are named as such, by file name: the profile's paths stay out.
  EXPECT_NE(log.find(".msi started without a SHA-256 check"), std::string::npos) << log;
  EXPECT_EQ(log.find(Narrow(WorkFolderPath())), std::string::npos) << log;
  const std::string asked = "installer of step 2: " + Narrow(system) + "\\msiexec.exe /i ";
  size_t count = 0;
  for (size_t at = log.find(asked); at != std::string::npos; at = log.find(asked, at + 1)) ++count;
  EXPECT_EQ(count, std::size(rows)) << log;
}

TEST(MsiexecParameters, QuoteThePackageAndAcceptTheLicenceTerms) {
  const std::wstring paths[] = {
      L"C:\\Users\\山田 太郎\\QRN\\VeltoUpdater\\ldb2017rtmx64.msi",
      L"D:\\setup\\Assets\\" + std::wstring(2000, L'x') + L".msi",
  };
  for (const std::wstring& path : paths) {
    EXPECT_EQ(Text(MsiexecParameters(path.c_str())),
              L"/i \"" + path + L"\" /qn IACCEPTSQLLOCALDBLICENSETERMS=YES");
  }
  EXPECT_FALSE(MsiexecParameters(nullptr));
}

}  // namespace
