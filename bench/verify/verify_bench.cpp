// Measures the SHA-256 of a 64 MiB file (64 KiB reads through bcrypt) against sha256sum,
// timed by the caller in the same run, and a download with its pin check (taken while
// the bytes arrive, and by reading the file afterwards) against the download alone,
// alternating, best of five each.
//   verify_bench <file> <url of the same file> <work folder> <sha256 hex> <sha256sum seconds>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/download.h"
#include "verify/hex.h"
#include "verify/pinned_file.h"
#include "verify/sha256.h"
#include "verify/streamed_sha256.h"
#include "bench_clock.h"

namespace {

constexpr int kRounds = 5;

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
    const double start = SecondsNow();
    PinCheck check = PinCheck::kUnreadable;
    UniqueFile held = OpenPinnedFile(file.c_str(), pin, &check);
    const double seconds = SecondsNow() - start;
    if (check != PinCheck::kMatches) {
      std::fprintf(stderr, "the file does not match sha256sum's digest\n");
      return 1;
    }
    bestHash = std::min(bestHash, seconds);
  }

  // The program checks a download it made whole by the digest taken while it arrived
  // (hashed on a thread of its own); a file resumed from an earlier run's partial file,
  // or found already there, is read again after the download.
  const std::wstring target = work + L"\\bench.bin";
  enum Check { kNone, kStreamed, kReadAfter };
  double best[3] = {1e9, 1e9, 1e9};
  for (int round = 0; round < kRounds; ++round) {
    for (const Check checked : {kNone, kStreamed, kReadAfter}) {
      DeleteFileW(target.c_str());
      StreamedSha256 streamed;
      TransferControl control;
      if (checked == kStreamed) {
        control.sink = StreamedSha256::Add;
        control.sinkContext = &streamed;
      }
      const double start = SecondsNow();
      if (!DownloadFile(url.c_str(), target.c_str(), control)) {
        std::fprintf(stderr, "DownloadFile failed\n");
        return 1;
      }
      bool matches = true;
      if (checked == kStreamed) {
        uint8_t digest[kSha256Bytes];
        uint32_t size = 0;
        matches = streamed.Finish(digest, &size) && memcmp(digest, pin, kSha256Bytes) == 0;
      } else if (checked == kReadAfter) {
        PinCheck check = PinCheck::kUnreadable;
        OpenPinnedFile(target.c_str(), pin, &check);
        matches = check == PinCheck::kMatches;
      }
      const double seconds = SecondsNow() - start;
      if (!matches) {
        std::fprintf(stderr, "the download does not match\n");
        return 1;
      }
      best[checked] = std::min(best[checked], seconds);
    }
  }
  DeleteFileW(target.c_str());

  const double mib = 64.0;
  std::printf("SHA-256 of 64 MiB, bcrypt, 64 KiB reads: %.3f s  %.0f MiB/s\n", bestHash, mib / bestHash);
  std::printf("sha256sum of the same file:             %.3f s  %.0f MiB/s\n", sumSeconds,
              mib / sumSeconds);
  std::printf("ratio bcrypt / sha256sum (throughput):  %.2f\n", sumSeconds / bestHash);
  std::printf("download alone:                         %.3f s\n", best[kNone]);
  std::printf("download and pin check while it arrives: %.3f s  %+.1f %%\n", best[kStreamed],
              100.0 * (best[kStreamed] - best[kNone]) / best[kNone]);
  std::printf("download, then the file read and checked: %.3f s  %+.1f %%\n", best[kReadAfter],
              100.0 * (best[kReadAfter] - best[kNone]) / best[kNone]);
  return 0;
}
