// Measures DownloadFile, with its progress reported as the setup reports it (an
// observer storing into shared atomics after every write), against a bare WinINet read
// loop with the same 8 KiB buffer (and against curl, timed by the caller), in one run on
// one file, and what a resume at 50% asks the server for.
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
#include <string>

#include "net/download.h"
#include "state/transfer_progress.h"
#include "bench_clock.h"

namespace {

constexpr int kRounds = 5;
constexpr DWORD kBufferBytes = 8192;

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

// Best of kRounds for the bare loop and for DownloadFile on url; false when one failed
// or their files differ.
bool Compare(const std::wstring& url, const std::wstring& folder, double* bestBare,
             double* bestEngine, long long* size) {
  const std::wstring bare = folder + L"\\bare.bin";
  const std::wstring engine = folder + L"\\engine.bin";
  *bestBare = 1e9;
  *bestEngine = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    double start = SecondsNow();
    if (!BareLoop(url.c_str(), bare.c_str(), size)) {
      std::fprintf(stderr, "bare WinINet loop failed\n");
      return false;
    }
    const double bareSeconds = SecondsNow() - start;
    DeleteFileW(engine.c_str());
    TransferProgress progress;
    TransferControl control;
    control.observer = StoreTransferProgress;
    control.observerContext = &progress;
    start = SecondsNow();
    if (!DownloadFile(url.c_str(), engine.c_str(), control) ||
        progress.received.load() != progress.total.load()) {
      std::fprintf(stderr, "DownloadFile failed\n");
      return false;
    }
    const double engineSeconds = SecondsNow() - start;
    std::printf("round %d: bare WinINet loop %.3f s, DownloadFile %.3f s\n", round + 1,
                bareSeconds, engineSeconds);
    *bestBare = std::min(*bestBare, bareSeconds);
    *bestEngine = std::min(*bestEngine, engineSeconds);
  }
  const std::string whole = ReadAll(engine.c_str());
  if (whole != ReadAll(bare.c_str()) || (long long)whole.size() != *size) {
    std::fprintf(stderr, "the two downloads differ\n");
    return false;
  }
  return true;
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

  double bestBare = 1e9;
  double bestEngine = 1e9;
  long long size = 0;
  if (!Compare(url, folder, &bestBare, &bestEngine, &size)) return 1;
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
  std::printf("bare WinINet loop (8 KiB): %.3f s  %.1f MiB/s\n", bestBare, mib / bestBare);
  std::printf("DownloadFile (progress on): %.3f s  %.1f MiB/s\n", bestEngine, mib / bestEngine);
  if (curlSeconds > 0) {
    std::printf("curl (Linux, same file):   %.3f s  %.1f MiB/s\n", curlSeconds, mib / curlSeconds);
  }
  std::printf("ratio DownloadFile / bare WinINet loop (throughput): %.2f\n", bestBare / bestEngine);
  if (curlSeconds > 0) {
    std::printf("ratio DownloadFile / curl (throughput):              %.2f\n", curlSeconds / bestEngine);
  }
  std::printf("\nresume at 50%% (%zu bytes held): %s in %.3f s; asked \"%s\", got %d with %lld body bytes\n",
              half, resumed && afterResume == whole ? "complete and identical" : "FAILED",
              resumeSeconds, range.c_str(), status, bodyBytes);
  std::printf("bytes re-requested that the partial file already held: %lld\n", reRequested);
  bool tlsOk = true;
  if (argc > 6) {
    std::printf("\nover TLS (%ls):\n", argv[5]);
    double tlsBare = 1e9;
    double tlsEngine = 1e9;
    long long tlsSize = 0;
    tlsOk = TrustAuthority(argv[6]) && Compare(argv[5], folder, &tlsBare, &tlsEngine, &tlsSize);
    if (tlsOk) {
      const double tlsMib = double(tlsSize) / (1 << 20);
      std::printf("bare WinINet loop over TLS: %.3f s  %.1f MiB/s\n", tlsBare, tlsMib / tlsBare);
      std::printf("DownloadFile over TLS:      %.3f s  %.1f MiB/s\n", tlsEngine, tlsMib / tlsEngine);
      std::printf("ratio DownloadFile / bare WinINet loop over TLS (throughput): %.2f\n",
                  tlsBare / tlsEngine);
    }
  }
  DeleteFileW(bare.c_str());
  DeleteFileW(engine.c_str());
  return resumed && afterResume == whole && reRequested == 0 && tlsOk ? 0 : 1;
}
