// The SHA-256 of a file computed while a transfer writes it, on a thread of its own so
// that hashing runs beside the network reads instead of after them (under Wine the
// transfer keeps one core busy and hashing 64 MiB takes a quarter of a second more).
#pragma once

#include <windows.h>

#include <cstdint>

#include "util/owners.h"
#include "verify/bcrypt_owners.h"
#include "verify/hex.h"

class StreamedSha256 {
 public:
  StreamedSha256();
  ~StreamedSha256();
  StreamedSha256(const StreamedSha256&) = delete;
  StreamedSha256& operator=(const StreamedSha256&) = delete;

  // The bytes at offset of the file: offset 0 starts the digest afresh, the offset that
  // follows the bytes seen so far goes on; any other offset (a resumed transfer) leaves
  // no digest until the file starts again from 0. The shape of a transfer's byte sink:
  // self is this object.
  static void Add(void* self, uint32_t offset, const void* data, uint32_t size);

  // Ends the hashing. True with the digest of the first *size bytes of the file when
  // every one of them was added in order; false otherwise (the file must then be read).
  bool Finish(uint8_t digest[kSha256Bytes], uint32_t* size);

 private:
  static constexpr uint32_t kBlockBytes = 1 << 20;
  static DWORD WINAPI HashThread(void* self);
  void Append(const uint8_t* data, uint32_t size);
  void HandOver();
  void WaitIdle();
  void Restart();
  void HashBlock(int block, uint32_t size);

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  LocalBlock blocks_[2];
  int filling_ = 0;
  uint32_t filled_ = 0;
  int queued_ = -1;  // the block handed to the thread, -1 when none
  uint32_t queuedBytes_ = 0;
  bool busy_ = false;  // the thread hashes a block
  bool stop_ = false;
  bool intact_ = false;  // every byte since offset 0 arrived in order and was hashed
  uint32_t seen_ = 0;
  bool failed_ = false;  // a hash call failed
  UniqueAlgorithm algorithm_;
  UniqueHash hash_;
  UniqueHandle thread_;
};
