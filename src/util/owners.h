// Move-only owners of every handle and heap block the program holds.
//
// Each owner releases what it holds when it goes out of scope, so "released on every
// path" holds by construction. The traits know the invalid value of their kind
// (null for most, INVALID_HANDLE_VALUE for files) and how to release it.
// No owning raw handle lives outside these types.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wininet.h>

template <typename Traits>
class Owner {
 public:
  using Value = typename Traits::Value;

  Owner() noexcept : value_(Traits::Invalid()) {}
  explicit Owner(Value value) noexcept : value_(value) {}
  Owner(Owner&& other) noexcept : value_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner() { reset(); }

  // The held value; the owner keeps it.
  Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // Gives up ownership: the caller now releases the value.
  Value release() noexcept {
    Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  // Releases the held value (if any) and takes the new one.
  void reset(Value value = Traits::Invalid()) noexcept {
    Value old = value_;
    value_ = value;
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // Releases the held value and returns the address of the empty slot, for calls that
  // hand a new value back through an out parameter.
  Value* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Value value_;
};

struct HandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { CloseHandle(value); }
};

struct FileTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { CloseHandle(value); }
};

struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { RegCloseKey(value); }
};

struct InternetTraits {
  using Value = HINTERNET;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { InternetCloseHandle(value); }
};

struct HeapStringTraits {
  using Value = wchar_t*;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { LocalFree(value); }
};

struct LocalBlockTraits {
  using Value = void*;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { LocalFree(value); }
};

struct GlobalBlockTraits {
  using Value = HGLOBAL;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { GlobalFree(value); }
};

struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { DeleteObject(value); }
};

// COM interfaces: the owner holds one reference.
template <typename Interface>
struct ComTraits {
  using Value = Interface*;
  static Value Invalid() noexcept { return nullptr; }
  static void Close(Value value) noexcept { value->Release(); }
};

// Process, thread, event and mutex handles (CloseHandle; null is invalid).
using UniqueHandle = Owner<HandleTraits>;
// File handles (CloseHandle; INVALID_HANDLE_VALUE is invalid).
using UniqueFile = Owner<FileTraits>;
// Open registry keys (RegCloseKey).
using UniqueRegKey = Owner<RegKeyTraits>;
// WinINet session, connection and request handles (InternetCloseHandle).
using UniqueInternet = Owner<InternetTraits>;
// A zero-filled LocalAlloc block of bytes (LocalFree).
using LocalBlock = Owner<LocalBlockTraits>;
// A GlobalAlloc block (GlobalFree).
using GlobalBlock = Owner<GlobalBlockTraits>;
// GDI objects (DeleteObject), such as a bitmap made for a control.
using UniqueGdiObject = Owner<GdiObjectTraits>;
// A stream over memory (IStream::Release).
using UniqueStream = Owner<ComTraits<IStream>>;
// A NUL-terminated UTF-16 text in a zero-filled LocalAlloc block (LocalFree). A null
// HeapString means failure or absence, never an empty text. Operations in strings.h.
using HeapString = Owner<HeapStringTraits>;

// A critical section, ready from construction until the owner goes. It neither moves nor
// copies: the threads that share it hold its address.
class CriticalSection {
 public:
  CriticalSection() noexcept { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() noexcept { EnterCriticalSection(&section_); }
  void Leave() noexcept { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// Holds a critical section for the rest of the scope.
class LockGuard {
 public:
  explicit LockGuard(CriticalSection& section) noexcept : section_(section) { section_.Enter(); }
  ~LockGuard() { section_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  CriticalSection& section_;
};

// The calling thread's single-threaded COM apartment for the rest of the scope. Left only
// when it was entered: a thread already in another kind of apartment keeps it.
class ComApartment {
 public:
  ComApartment() noexcept
      : entered_(SUCCEEDED(
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool entered_;
};
