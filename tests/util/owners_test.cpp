#include <gtest/gtest.h>

#include "util/owners.h"

namespace {

struct ApartmentCase {
  bool inOne;      // whether the thread is in an apartment already, and of which kind
  DWORD before;
  HRESULT after;   // what entering the multithreaded apartment answers once the owner is gone
};

DWORD WINAPI ApartmentAfterOwner(void* context) {
  const auto& c = *static_cast<const ApartmentCase*>(context);
  if (c.inOne) CoInitializeEx(nullptr, c.before);
  { const ComApartment apartment; }
  return DWORD(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

// Left exactly as often as entered: a thread that was in no apartment is in none again, one
// that was in the single-threaded kind stays there, and one in the other kind keeps it.
TEST(Owners, AComApartmentIsLeftOnlyWhenItWasEntered) {
  const ApartmentCase cases[] = {
      {false, 0, S_OK},
      {true, COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE},
      {true, COINIT_MULTITHREADED, S_FALSE},
  };
  for (ApartmentCase c : cases) {
    UniqueHandle thread(CreateThread(nullptr, 0, ApartmentAfterOwner, &c, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    DWORD after = 0;
    GetExitCodeThread(thread.get(), &after);
    EXPECT_EQ(HRESULT(after), c.after) << "already in apartment kind " << c.before;
  }
}

}  // namespace
