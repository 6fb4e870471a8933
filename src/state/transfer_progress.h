// How far the download of one component has come: written by the worker while it
// downloads, read by the dialog's progress refresh on the UI thread. Each field is a
// whole-value atomic read on its own; a refresh that sees received and total one write
// apart is put right by the next tick.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

struct TransferProgress {
  // A download of this component runs now.
  std::atomic<bool> active{false};
  // Bytes held: a resumed download starts at what its partial file already held.
  std::atomic<uint32_t> received{0};
  // The whole file's size; 0 while the server has not said it.
  std::atomic<uint32_t> total{0};
  // GetTickCount when this try of the download began.
  std::atomic<DWORD> startTick{0};
  // The download waits to be tried again (active stays set; received and total keep
  // what the failed try left), until GetTickCount reaches retryAtTick.
  std::atomic<bool> waiting{false};
  std::atomic<DWORD> retryAtTick{0};
};

// A transfer observer (context: the TransferProgress to fill).
inline void StoreTransferProgress(void* context, uint32_t received, uint32_t total) {
  auto* progress = static_cast<TransferProgress*>(context);
  progress->total.store(total, std::memory_order_relaxed);
  progress->received.store(received, std::memory_order_relaxed);
}
