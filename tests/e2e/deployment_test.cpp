// Deployment at scale, as an administrator's tools run the setup: quiet runs that never
// wait for a window nobody sees, a passive run handed over to a newer setup program, log
// places shared by many runs, the prerequisites apart, and an offline medium.
#include <string>
#include <utility>
#include <vector>

#include "detect/dotnet.h"
#include "detect/localdb.h"
#include "detect/registry.h"
#include "e2e_fixture.h"
#include "support/installers/test_installers.h"
#include "support/test_signing.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr DWORD kRunLimitMs = 180000;
constexpr DWORD kQuickLimitMs = 60000;
const wchar_t* const kPackages[] = {L"ldb2014sp3x86", L"ldb2014sp3x64", L"ldb2017rtmx64"};

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Requested(const std::wstring& name) {
  for (const LoggedRequest& request : ReadRequestLog(TestServer::kUpdate)) {
    if (Contains(request.target, "/updater/" + Narrow(name))) return true;
  }
  return false;
}

// Whether the process shows a top-level window now.
bool ShowsAWindow(DWORD processId) {
  std::pair<DWORD, bool> watch{processId, false};
  EnumWindows([](HWND window, LPARAM context) -> BOOL {
    auto* seen = reinterpret_cast<std::pair<DWORD, bool>*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    seen->second |= owner == seen->first && IsWindowVisible(window);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&watch));
  return watch.second;
}

class Deployment : public SetupProgramTest {
 protected:
  // The list of Velto 2026 with two pieces and every installer a medium carries; each
  // file pinned in the list when pinned (but the installer named unpinned), the list
  // signed by signer when given.
  void PublishAll(bool pinned, const std::string& data = "application data",
                  const TestSigningKey* signer = nullptr, const wchar_t* unpinned = L"") {
    std::string pins;
    auto publish = [&](const std::wstring& name, const std::string& bytes) {
      Publish(name, bytes);
      if (pinned && name != unpinned) {
        pins += "-2,SHA256:" + Narrow(name) + "," + Sha256Hex(bytes) + "\r\n";
      }
    };
    publish(L"ndp461.upd", ReadFileBytes(StandInDotNetInstaller()));
    for (const wchar_t* package : kPackages) {
      publish(std::wstring(package) + L".upd",
              ReadFileBytes(StandInLocalDbPackage(std::wstring(package) + L".msi")));
    }
    const std::string app = ReadFileBytes(StandInAppInstaller());
    Publish(L"VeltoApp.upd", app);
    Publish(L"VeltoData.upd", data);
    const std::string appPin = pinned ? "," + Sha256Hex(app) : "";
    const std::string dataPin = pinned ? "," + Sha256Hex(data) : "";
    const std::string list = std::string(kBom) + pins + "0,120,0,x,20000101_0000,Velto 2026\r\n" +
                             "1,VeltoApp" + appPin + "\r\n2,VeltoData" + dataPin + "\r\n";
    Publish(L"vtupdaterlist.upd", list);
    if (signer) Publish(L"vtupdaterlist.sig", signer->SignatureLine(list) + "\n");
  }

  // The program under test built with the public key of signer, as a vendor sets it.
  void GiveKeys(const TestSigningKey& signer) {
    HANDLE update = BeginUpdateResourceW(program_.c_str(), FALSE);
    ASSERT_TRUE(update);
    ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), L"VELTOKEYS",
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(signer.PublicKey().data()),
                                DWORD(signer.PublicKey().size())));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
  }

  long Run(const std::wstring& program, const std::wstring& arguments, DWORD limitMs) {
    first_ = Launch(Quoted(program) + L" " + arguments);
    EXPECT_TRUE(first_);
    return first_ ? first_.WaitForExit(limitMs) : -1;
  }

  // A clean PC with no route to any server: no proxy file, so the built-in names (which
  // no resolver knows) are asked.
  void ForgetEverything() {
    UndoStandInInstallations();
    RemoveTree(QrnFolderPath());
    DeleteRegTree(HKEY_CURRENT_USER, kProductRegistryKey, kView64);
    RemoveProxyIni();
    ClearRequestLog(TestServer::kUpdate);
  }
};

TEST_F(Deployment, AQuietRunWhoseInstallerIsNoProgramEndsWith1603AndNeverShowsAWindow) {
  const std::string notAProgram = "this is not a program";
  Publish(L"ndp461.upd", notAProgram);
  Publish(L"vtupdaterlist.upd", std::string(kBom) + "-2,SHA256:ndp461.upd," +
                                    Sha256Hex(notAProgram) +
                                    "\r\n0,120,0,x,20000101_0000,Velto 2026\r\n1,VeltoApp\r\n");
  first_ = Launch(Quoted(program_) + L" /quiet");
  ASSERT_TRUE(first_);
  bool seen = false;
  long exitCode = -1;
  for (DWORD waited = 0; waited < kQuickLimitMs && exitCode == -1; waited += 50) {
    seen |= ShowsAWindow(first_.id());
    exitCode = first_.WaitForExit(50);
  }
  EXPECT_FALSE(seen) << "a quiet run showed a window";
  EXPECT_EQ(exitCode, 1603);
  const std::string log = ReadFileBytes(WorkPath(L"VeltoSetup.log"));
  EXPECT_TRUE(Contains(log, "exit code 1603 (the .NET Framework: the installer failed")) << log;
}

TEST_F(Deployment, AnUnattendedRunHandedToANewerProgramEndsWithItsCodeAndPassesTheLogOn) {
  const std::string newer = ReadFileBytes(VT_STANDIN_SETUP_EXE);
  Publish(L"newsetup.upd", newer);
  Publish(L"vtupdaterlist.upd", std::string(kBom) +
                                    "0,120,0,x,20000101_0000,Velto 2026\r\n"
                                    "-1,5,,,20000101_0000,newsetup," + Sha256Hex(newer) +
                                    "\r\n1,VeltoApp\r\n");
  // The newer program takes the real mutex: it ends at once while the first holds it.
  ScopedEnvironment mutex(L"VELTO_SETUP_MUTEX", L"Local\\VTSETUPMUTEX201909171615");
  ScopedEnvironment code(L"VELTO_STANDIN_EXIT_CODE", L"1641");
  const std::wstring log = folder_ / L"deploy.log";
  for (const auto& [given, passedOn] : {std::pair{L"/qb", L"/passive"}, std::pair{L"/quiet", L"/quiet"}}) {
    SCOPED_TRACE(Narrow(given));
    DeleteFileW(record_.c_str());
    EXPECT_EQ(Run(program_, std::wstring(given) + L" /prerequisites /log " + Quoted(log), kQuickLimitMs),
              1641);
    EXPECT_EQ(Recorded(), std::vector<std::wstring>{Quoted(WorkPath(L"newsetup.exe")) + L" " +
                                                    passedOn + L" /prerequisites /log " + Quoted(log)});
  }
}

// The setup log's own rules (a file in use, ours or another's) are tested in tests/util.
TEST_F(Deployment, ALogPlaceThatIsAFolderOrAnotherProgramsFileIsLeftAlone) {
  const std::string theirs = "another program's report\r\n";
  CreateDirectoryW((folder_ / L"logs").c_str(), nullptr);
  WriteFileBytes(folder_ / L"other.log", theirs);
  const struct {
    const wchar_t* place;
    const wchar_t* logName;  // %u: this run's process id
    const wchar_t* untouched;
    const std::string* before;
  } rows[] = {
      {L"logs", L"logs\\VeltoSetup.log", nullptr, nullptr},
      {L"other.log", L"other.%u.log", L"other.log", &theirs},
      // A place ending in '\' is a folder to make (the quotes need its '\' doubled).
      {L"new\\\\", L"new\\VeltoSetup.log", nullptr, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.place));
    // No list on the server: the run ends at once with 1603.
    EXPECT_EQ(Run(program_, L"/S /frobnicate /log " + Quoted(folder_ / row.place), kQuickLimitMs),
              1603);
    wchar_t name[64];
    wsprintfW(name, row.logName, unsigned(first_.id()));
    const std::string log = ReadFileBytes(folder_ / name);
    for (const char* line : {"program: ", "local time is UTC", "detected: .NET Framework release",
                             "ignored (not a switch of this program): /frobnicate",
                             "exit code 1603 (the application: no update information)"}) {
      EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
    }
    if (row.untouched) {
      EXPECT_EQ(ReadFileBytes(folder_ / row.untouched), *row.before);
    }
  }
  EXPECT_TRUE(IsDirectory(folder_ / L"logs"));
  EXPECT_FALSE(PathExists(folder_ / L"other.1.log"));
}

TEST_F(Deployment, PrerequisitesApartInstallBothAndLeaveTheApplicationAlone) {
  PublishAll(false);
  EXPECT_EQ(Run(program_, L"/prerequisites /quiet", kRunLimitMs), 0);
  EXPECT_EQ(ReadDotNetRelease(), kStandInDotNetRelease);
  EXPECT_GE(MaxLocalDbMajorVersion(), 12);
  EXPECT_FALSE(Requested(L"VeltoApp.upd")) << "no piece is fetched";
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"Installed", 0, true), 0);
  EXPECT_EQ(Recorded(), std::vector<std::wstring>{Quoted(WorkPath(L"ndp461.exe")) +
                                                  L" /q /norestart"});
}

TEST_F(Deployment, AKeyedLayoutInstallsEverythingWithoutAServerAndRefusesATamperedFile) {
  const TestSigningKey publisher;
  GiveKeys(publisher);
  // An installer the signed list does not pin is not laid out, for a program with keys.
  PublishAll(true, "application data", &publisher, L"ldb2014sp3x86.upd");
  EXPECT_EQ(Run(program_, L"/layout " + Quoted(folder_ / L"unpinned"), kRunLimitMs), 1603);
  EXPECT_TRUE(Contains(ReadFileBytes(WorkPath(L"VeltoSetup.log")),
                       "layout: ldb2014sp3x86.upd has no SHA-256"));
  PublishAll(true, "application data", &publisher);
  const std::wstring medium = folder_ / L"medium";
  ASSERT_EQ(Run(program_, L"/layout " + Quoted(medium), kRunLimitMs), 0);
  for (const wchar_t* package : kPackages) {
    EXPECT_TRUE(PathExists(medium + L"\\Assets\\" + package + L".msi")) << Narrow(package);
  }
  ForgetEverything();
  const std::wstring copy = medium + L"\\VeltoSetup.exe";
  EXPECT_EQ(Run(copy, L"/quiet", kRunLimitMs), 0);
  EXPECT_EQ(ReadDotNetRelease(), kStandInDotNetRelease);
  EXPECT_GE(MaxLocalDbMajorVersion(), 12);
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kProductRegistryKey, L"VersionCode", 0, true), 120);
  // The medium's information file carries the pins: a changed installer is not started.
  ForgetEverything();
  WriteFileBytes(medium + L"\\Assets\\ndp461.exe", ReadFileBytes(StandInDotNetInstallerRestart()));
  EXPECT_EQ(Run(copy, L"/quiet", kRunLimitMs), 1603);
  EXPECT_EQ(ReadDotNetRelease(), 0u);
}

TEST_F(Deployment, AnInterruptedLayoutFinishesWithoutFetchingCompletedFilesAgain) {
  PublishAll(true, RandomBytes(200000, 7));
  // A whole number of the download's reads, which WinINet fills before it returns.
  constexpr long long kHeld = 16384;
  HoldAfter(L"VeltoData.upd", kHeld);
  const std::wstring medium = folder_ / L"medium";
  first_ = Launch(Quoted(program_) + L" /layout " + Quoted(medium));
  ASSERT_TRUE(first_);
  const std::wstring partial = WorkPath(L"VeltoData.upd.FilePart");
  for (int i = 0; i < 600 && FileSizeOf(partial) < kHeld; ++i) Sleep(50);
  ASSERT_EQ(FileSizeOf(partial), kHeld) << "the last piece was not held part-way";
  first_.Kill();
  Release(L"VeltoData.upd");
  // The cut request is logged once the server has let it go.
  for (int i = 0; i < 200 && !Requested(L"VeltoData.upd"); ++i) Sleep(50);
  ClearRequestLog(TestServer::kUpdate);
  // A file on the medium that no longer matches its pin is fetched again.
  const std::wstring changed = medium + L"\\Assets\\ldb2014sp3x86.msi";
  const std::string package = ReadFileBytes(changed);
  WriteFileBytes(changed, package + "!");
  EXPECT_EQ(Run(program_, L"/layout " + Quoted(medium), kRunLimitMs), 0);
  for (const wchar_t* done : {L"ndp461.upd", L"ldb2017rtmx64.upd", L"VeltoApp.upd"}) {
    EXPECT_FALSE(Requested(done)) << Narrow(done) << " was fetched again";
  }
  EXPECT_TRUE(Requested(L"ldb2014sp3x86.upd"));
  EXPECT_EQ(ReadFileBytes(changed), package);
  std::vector<std::string> ranges;
  for (const LoggedRequest& request : ReadRequestLog(TestServer::kUpdate)) {
    if (Contains(request.target, "VeltoData.upd")) ranges.push_back(request.range);
  }
  EXPECT_EQ(ranges, std::vector<std::string>{"bytes=16384-"});
  EXPECT_EQ(FileSizeOf(medium + L"\\Assets\\VeltoData.upi"), 200000);
}

// With /passive a layout shows which file it fetches, with its bar; cancelling the window
// stops it with 1602, and the medium is not made to look complete.
TEST_F(Deployment, APassiveLayoutShowsItsFileAndEndsWith1602WhenCancelled) {
  PublishAll(true, RandomBytes(200000, 8));
  HoldAfter(L"VeltoData.upd", 16384);
  const std::wstring medium = folder_ / L"medium";
  first_ = Launch(Quoted(program_) + L" /layout " + Quoted(medium) + L" /passive");
  ASSERT_TRUE(first_);
  HWND window = WaitForDialog(first_.id(), kRunLimitMs, L"Velto インストール");
  ASSERT_TRUE(window);
  struct Search {
    const wchar_t* text;
    bool found;
  } search{L"VeltoData.upi", false};
  for (int i = 0; i < 600 && !search.found; ++i) {
    EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          s->found = s->found || WindowText(child).find(s->text) != std::wstring::npos;
          return TRUE;
        },
        LPARAM(&search));
    if (!search.found) Sleep(50);
  }
  EXPECT_TRUE(search.found) << "the window does not name the held file";
  ClickButton(window, IDCANCEL);
  EXPECT_EQ(first_.WaitForExit(kRunLimitMs), 1602);
  Release(L"VeltoData.upd");
  EXPECT_FALSE(PathExists(medium + L"\\VeltoSetup.exe"));
  EXPECT_FALSE(PathExists(medium + L"\\Assets\\vtupdaterinfo.upi"));
}

}  // namespace
