// The test host's non-throwing operator new. The plug-ins' Init calls it, as
// it would call a host's, so a test can make the allocation fail.
//
// The memory comes from the ordinary operator new, as the standard's own
// non-throwing form does: the plug-ins release their instances with operator
// delete, and a checker (AddressSanitizer, valgrind) that pairs every release
// with its allocation would report memory from malloc as a mismatch.
#include "nothrow_new.h"

#include <new>

namespace vexb::test {
int g_nothrow_new_calls = 0;
bool g_fail_nothrow_new = false;
}  // namespace vexb::test

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++vexb::test::g_nothrow_new_calls;
  if (vexb::test::g_fail_nothrow_new) return nullptr;
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
