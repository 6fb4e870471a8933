// Measures the SHA-256 of a 64 MiB file (64 KiB reads through bcrypt) against sha256sum,
// timed by the caller in the same run, and a download with its pin check against the
// download alone, alternating, best of five each.
//   verify_bench <file> <url of the same file> <work folder> <sha256 hex> <sha256sum seconds>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/download.h"
#include "verify/hex.h"
#include "verify/pinned_file.h"
#include "verify/sha256.h"

namespace {

constexpr int kRounds = 5;

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string Narrow(const wchar_t* text) {
  char out[256] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out) - 1, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  const std::wstring file = argv[1], url = argv[2], work = argv[3];
  const std::string hex = Narrow(argv[4]);
  const double sumSeconds = _wtof(argv[5]);
  uint8_t pin[kSha256Bytes];
  if (!ParseHex(hex.c_str(), hex.size(), pin, kSha256Bytes)) return 2;

  double bestHash = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const double start = Now();
    PinCheck check = PinCheck::kUnreadable;
    UniqueFile held = OpenPinnedFile(file.c_str(), pin, &check);
    const double seconds = Now() - start;
    if (check != PinCheck::kMatches) {
      std::fprintf(stderr, "the file does not match sha256sum's digest\n");
      return 1;
    }
    bestHash = std::min(bestHash, seconds);
  }

  const std::wstring target = work + L"\\bench.bin";
  double bestPlain = 1e9, bestChecked = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    for (const bool checked : {false, true}) {
      DeleteFileW(target.c_str());
      const double start = Now();
      if (!DownloadFile(url.c_str(), target.c_str(), TransferControl{})) {
        std::fprintf(stderr, "DownloadFile failed\n");
        return 1;
      }
      PinCheck check = PinCheck::kMatches;
      if (checked) OpenPinnedFile(target.c_str(), pin, &check);
      const double seconds = Now() - start;
      if (check != PinCheck::kMatches) {
        std::fprintf(stderr, "the download does not match\n");
        return 1;
      }
      (checked ? bestChecked : bestPlain) = std::min(checked ? bestChecked : bestPlain, seconds);
    }
  }
  DeleteFileW(target.c_str());

  const double mib = 64.0;
  std::printf("SHA-256 of 64 MiB, bcrypt, 64 KiB reads: %.3f s  %.0f MiB/s\n", bestHash, mib / bestHash);
  std::printf("sha256sum of the same file:             %.3f s  %.0f MiB/s\n", sumSeconds,
              mib / sumSeconds);
  std::printf("ratio bcrypt / sha256sum (throughput):  %.2f\n", sumSeconds / bestHash);
  std::printf("download alone:                         %.3f s\n", bestPlain);
  std::printf("download and pin check:                 %.3f s\n", bestChecked);
  std::printf("cost of the check on a download:        %+.1f %%\n",
              100.0 * (bestChecked - bestPlain) / bestPlain);
  return 0;
}
