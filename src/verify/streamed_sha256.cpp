#include "verify/streamed_sha256.h"

#include <cstring>

#include <algorithm>

StreamedSha256::StreamedSha256() = default;

StreamedSha256::~StreamedSha256() {
  if (!thread_) return;
  AcquireSRWLockExclusive(&lock_);
  stop_ = true;
  WakeAllConditionVariable(&changed_);
  ReleaseSRWLockExclusive(&lock_);
  WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI StreamedSha256::HashThread(void* context) {
  auto* self = static_cast<StreamedSha256*>(context);
  AcquireSRWLockExclusive(&self->lock_);
  for (;;) {
    while (self->queued_ < 0 && !self->stop_) {
      SleepConditionVariableSRW(&self->changed_, &self->lock_, INFINITE, 0);
    }
    if (self->queued_ < 0) break;
    const int block = self->queued_;
    const uint32_t bytes = self->queuedBytes_;
    self->queued_ = -1;
    self->busy_ = true;
    ReleaseSRWLockExclusive(&self->lock_);
    self->HashBlock(block, bytes);
    AcquireSRWLockExclusive(&self->lock_);
    self->busy_ = false;
    WakeAllConditionVariable(&self->changed_);
  }
  ReleaseSRWLockExclusive(&self->lock_);
  return 0;
}

void StreamedSha256::HashBlock(int block, uint32_t size) {
  if (failed_ || !hash_) return;
  if (!Succeeded(BCryptHashData(hash_.get(), static_cast<UCHAR*>(blocks_[block].get()), size, 0))) {
    failed_ = true;
  }
}

// Waits until the thread has hashed every block handed to it. Afterwards only the
// caller's thread touches the hash until the next hand-over.
void StreamedSha256::WaitIdle() {
  if (!thread_) return;
  AcquireSRWLockExclusive(&lock_);
  while (queued_ >= 0 || busy_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  ReleaseSRWLockExclusive(&lock_);
}

// Hands the filled block to the thread and goes on filling the other one, which the
// thread has finished with by then.
void StreamedSha256::HandOver() {
  if (!filled_) return;
  if (!thread_) {
    HashBlock(filling_, filled_);
    filled_ = 0;
    return;
  }
  WaitIdle();
  AcquireSRWLockExclusive(&lock_);
  queued_ = filling_;
  queuedBytes_ = filled_;
  WakeAllConditionVariable(&changed_);
  ReleaseSRWLockExclusive(&lock_);
  filling_ ^= 1;
  filled_ = 0;
}

void StreamedSha256::Restart() {
  // The blocks and the thread come with the first byte: a fetch that finds its file
  // already there needs neither.
  for (LocalBlock& block : blocks_) {
    if (!block) block.reset(LocalAlloc(LMEM_FIXED, kBlockBytes));
  }
  // Without a thread of its own the hash runs on the caller's thread at each block.
  if (!thread_) {
    thread_.reset(CreateThread(nullptr, 0, HashThread, this, 0, nullptr));
    // Normal priority: below it, a busy machine starves the digest and the download waits.
  }
  WaitIdle();
  hash_.reset();
  algorithm_.reset();
  filled_ = 0;
  seen_ = 0;
  if (blocks_[0] && blocks_[1]) hash_ = NewSha256Hash(&algorithm_);
  failed_ = !hash_;
  intact_ = !failed_;
}

void StreamedSha256::Append(const uint8_t* data, uint32_t size) {
  while (size) {
    const uint32_t taken = std::min(size, kBlockBytes - filled_);
    memcpy(static_cast<uint8_t*>(blocks_[filling_].get()) + filled_, data, taken);
    filled_ += taken;
    data += taken;
    size -= taken;
    if (filled_ == kBlockBytes) HandOver();
  }
}

void StreamedSha256::Add(void* context, uint32_t offset, const void* data, uint32_t size) {
  auto* self = static_cast<StreamedSha256*>(context);
  if (offset == 0) self->Restart();
  if (!self->intact_ || offset != self->seen_) {
    self->intact_ = false;
    return;
  }
  self->seen_ += size;
  self->Append(static_cast<const uint8_t*>(data), size);
}

bool StreamedSha256::Finish(uint8_t digest[kSha256Bytes], uint32_t* size) {
  if (!intact_) return false;
  HandOver();
  WaitIdle();
  intact_ = false;
  if (failed_ || !Succeeded(BCryptFinishHash(hash_.get(), digest, kSha256Bytes, 0))) return false;
  *size = seen_;
  return true;
}
