// Measures a download and its verification as the setup makes them (DownloadFile with
// its progress stored into shared atomics after every write and the SHA-256 taken while
// the bytes arrive, then compared with the pin) against the slower of a bare WinINet read
// loop with a 64 KiB buffer and bcrypt's SHA-256 of the same file alone (and against
// curl, timed by the caller), in one run on one file; the time to the first byte; and
// what a resume at 50% asks the server for. The goal: at most 1.25 x that reference.
//   download_bench <url> <work folder> <server request log> [curl seconds
//                  [<https url> <authority.der>]]
// With an https URL (and the DER file of the authority of its certificate, added to the
// LocalMachine Root store first) the same comparison runs over TLS as well.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/download.h"
#include "state/transfer_progress.h"
#include "verify/sha256.h"
#include "verify/streamed_sha256.h"
#include "bench_clock.h"

namespace {

constexpr int kRounds = 5;
constexpr DWORD kBufferBytes = 64 * 1024;
constexpr double kGoal = 1.25;

// The reference: the same session, request flags, buffer and file writes, nothing else.
bool BareLoop(const wchar_t* url, const wchar_t* path, long long* bytes) {
  HINTERNET session = InternetOpenW(L"kvor.dll", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  const DWORD secure = wcsncmp(url, L"https://", 8) == 0 ? INTERNET_FLAG_SECURE : 0;
  HINTERNET request = InternetOpenUrlW(session, url, nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                           INTERNET_FLAG_NO_AUTO_REDIRECT | secure, 0);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  static char buffer[kBufferBytes];
  DWORD received = 0;
  *bytes = 0;
  bool ok = request && file != INVALID_HANDLE_VALUE;
  while (ok && InternetReadFile(request, buffer, kBufferBytes, &received) && received > 0) {
    DWORD written = 0;
    ok = WriteFile(file, buffer, received, &written, nullptr) && written == received;
    *bytes += written;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (request) InternetCloseHandle(request);
  if (session) InternetCloseHandle(session);
  return ok;
}

std::string ReadAll(const wchar_t* path) {
  std::string bytes;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  bytes.resize(size_t(size.QuadPart));
  DWORD got = 0;
  for (size_t done = 0; done < bytes.size(); done += got) {
    if (!ReadFile(file, &bytes[done], DWORD(std::min<size_t>(bytes.size() - done, 1 << 24)), &got,
                  nullptr) || got == 0) {
      bytes.resize(done);
      break;
    }
  }
  CloseHandle(file);
  return bytes;
}

void WriteAll(const wchar_t* path, const std::string& bytes) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void Truncate(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool TrustAuthority(const wchar_t* derPath) {
  const std::string der = ReadAll(derPath);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (der.empty() || !store) return false;
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return added != FALSE;
}

// The progress as the setup stores it, and when the first byte of the body came.
struct Watched {
  TransferProgress progress;
  double start = 0;
  double firstByte = 0;
};

void WatchProgress(void* context, uint32_t received, uint32_t total) {
  auto* watched = static_cast<Watched*>(context);
  if (received && !watched->firstByte) watched->firstByte = SecondsNow() - watched->start;
  StoreTransferProgress(&watched->progress, received, total);
}

struct Figures {
  double bare = 1e9;    // bare WinINet loop, 64 KiB reads
  double hash = 1e9;    // bcrypt SHA-256 of the file alone
  double engine = 1e9;  // DownloadFile with the SHA-256 taken while it arrives, checked
  double firstByte = 1e9;
  double plain = 1e9;  // DownloadFile without the digest
};

// Best of kRounds for the bare loop, the hash alone and the verified download on url;
// false when one failed or their files differ.
bool Compare(const std::wstring& url, const std::wstring& folder, Figures* best, long long* size) {
  const std::wstring bare = folder + L"\\bare.bin";
  const std::wstring engine = folder + L"\\engine.bin";
  for (int round = 0; round < kRounds; ++round) {
    double start = SecondsNow();
    if (!BareLoop(url.c_str(), bare.c_str(), size)) {
      std::fprintf(stderr, "bare WinINet loop failed\n");
      return false;
    }
    const double bareSeconds = SecondsNow() - start;
    uint8_t pin[kSha256Bytes];
    start = SecondsNow();
    HANDLE file = CreateFileW(bare.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool hashed = file != INVALID_HANDLE_VALUE && Sha256OfFile(file, pin);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    const double hashSeconds = SecondsNow() - start;
    if (!hashed) {
      std::fprintf(stderr, "SHA-256 of the file failed\n");
      return false;
    }
    DeleteFileW(engine.c_str());
    Watched watched;
    StreamedSha256 streamed;
    TransferControl control;
    control.observer = WatchProgress;
    control.observerContext = &watched;
    control.sink = StreamedSha256::Add;
    control.sinkContext = &streamed;
    control.lowSpeedBytes = 1024;
    control.lowSpeedWindowMs = 60000;
    uint8_t digest[kSha256Bytes];
    uint32_t hashedBytes = 0;
    watched.start = start = SecondsNow();
    if (!DownloadFile(url.c_str(), engine.c_str(), control) ||
        watched.progress.received.load() != watched.progress.total.load() ||
        !streamed.Finish(digest, &hashedBytes) || memcmp(digest, pin, kSha256Bytes) != 0) {
      std::fprintf(stderr, "DownloadFile failed or its digest does not match\n");
      return false;
    }
    const double engineSeconds = SecondsNow() - start;
    DeleteFileW(engine.c_str());
    control.sink = nullptr;
    start = SecondsNow();
    if (!DownloadFile(url.c_str(), engine.c_str(), control)) return false;
    const double plainSeconds = SecondsNow() - start;
    std::printf("round %d: bare WinINet loop %.3f s, SHA-256 alone %.3f s, download and verify "
                "%.3f s (without the digest %.3f s)\n", round + 1, bareSeconds, hashSeconds,
                engineSeconds, plainSeconds);
    best->plain = std::min(best->plain, plainSeconds);
    best->bare = std::min(best->bare, bareSeconds);
    best->hash = std::min(best->hash, hashSeconds);
    best->engine = std::min(best->engine, engineSeconds);
    best->firstByte = std::min(best->firstByte, watched.firstByte);
  }
  const std::string whole = ReadAll(engine.c_str());
  if (whole != ReadAll(bare.c_str()) || (long long)whole.size() != *size) {
    std::fprintf(stderr, "the two downloads differ\n");
    return false;
  }
  return true;
}

// Prints one protocol's figures; true when the goal is met.
bool Report(const char* protocol, const Figures& best, double mib) {
  const double reference = std::max(best.bare, best.hash);
  const double ratio = best.engine / reference;
  std::printf("%s: bare WinINet loop (64 KiB): %.3f s  %.1f MiB/s\n", protocol, best.bare,
              mib / best.bare);
  std::printf("%s: bcrypt SHA-256 alone:       %.3f s  %.1f MiB/s\n", protocol, best.hash,
              mib / best.hash);
  std::printf("%s: download and verify:        %.3f s  %.1f MiB/s  (first byte after %.1f ms)\n",
              protocol, best.engine, mib / best.engine, best.firstByte * 1000);
  std::printf("%s: download alone (no digest): %.3f s  %.1f MiB/s\n", protocol, best.plain,
              mib / best.plain);
  std::printf("%s: download and verify / max(bare loop, SHA-256 alone) = %.2f (goal <= %.2f)\n",
              protocol, ratio, kGoal);
  return ratio <= kGoal;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: download_bench <url> <work folder> <request log> [curl s]\n");
    return 2;
  }
  const std::wstring url = argv[1];
  const std::wstring folder = argv[2];
  const wchar_t* log = argv[3];
  const double curlSeconds = argc > 4 ? _wtof(argv[4]) : 0.0;
  const std::wstring bare = folder + L"\\bare.bin";
  const std::wstring engine = folder + L"\\engine.bin";

  Figures best;
  long long size = 0;
  if (!Compare(url, folder, &best, &size)) return 1;
  const std::string whole = ReadAll(engine.c_str());

  // Resume at 50%: the partial file holds the first half.
  const size_t half = whole.size() / 2;
  DeleteFileW(engine.c_str());
  WriteAll((engine + L".FilePart").c_str(), whole.substr(0, half));
  Truncate(log);
  const double resumeStart = SecondsNow();
  const bool resumed = DownloadFile(url.c_str(), engine.c_str(), TransferControl{});
  const double resumeSeconds = SecondsNow() - resumeStart;
  const std::string afterResume = ReadAll(engine.c_str());
  // The server's log line: method, target, host, range, if-range, status, body bytes,
  // separated by tabs.
  std::string fields[7];
  const std::string line = ReadAll(log);
  for (size_t i = 0, at = 0; i < 7 && at <= line.size(); ++i) {
    const size_t end = std::min(line.find_first_of("\t\n", at), line.size());
    fields[i] = line.substr(at, end - at);
    at = end + 1;
  }
  const std::string& range = fields[3];
  const int status = std::atoi(fields[5].c_str());
  const long long bodyBytes = std::atoll(fields[6].c_str());
  long long rangeStart = -1;
  std::sscanf(range.c_str(), "bytes=%lld-", &rangeStart);
  const long long reRequested = rangeStart >= 0 ? std::max(0LL, (long long)half - rangeStart) : (long long)half;

  const double mib = double(size) / (1 << 20);
  std::printf("\nfile: %.0f MiB, best of %d rounds\n", mib, kRounds);
  bool goalMet = Report("HTTP", best, mib);
  if (curlSeconds > 0) {
    std::printf("curl (Linux, same file):     %.3f s  %.1f MiB/s\n", curlSeconds, mib / curlSeconds);
  }
  std::printf("\nresume at 50%% (%zu bytes held): %s in %.3f s; asked \"%s\", got %d with %lld body bytes\n",
              half, resumed && afterResume == whole ? "complete and identical" : "FAILED",
              resumeSeconds, range.c_str(), status, bodyBytes);
  std::printf("bytes re-requested that the partial file already held: %lld\n", reRequested);
  bool tlsOk = true;
  if (argc > 6) {
    std::printf("\nover TLS (%ls):\n", argv[5]);
    Figures tls;
    long long tlsSize = 0;
    tlsOk = TrustAuthority(argv[6]) && Compare(argv[5], folder, &tls, &tlsSize);
    if (tlsOk) goalMet = Report("TLS", tls, double(tlsSize) / (1 << 20)) && goalMet;
  }
  std::printf("\ngoal (download and verify <= %.2f x the reference, HTTP and TLS): %s\n", kGoal,
              goalMet ? "met" : "NOT met");
  DeleteFileW(bare.c_str());
  DeleteFileW(engine.c_str());
  return resumed && afterResume == whole && reRequested == 0 && tlsOk ? 0 : 1;
}
