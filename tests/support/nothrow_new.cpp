// The test host's non-throwing operator new. The plug-ins' Init calls it, as
// it would call a host's, so a test can make the allocation fail.
#include "nothrow_new.h"

#include <cstdlib>
#include <new>

namespace vexb::test {
int g_nothrow_new_calls = 0;
bool g_fail_nothrow_new = false;
}  // namespace vexb::test

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++vexb::test::g_nothrow_new_calls;
  if (vexb::test::g_fail_nothrow_new) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}
