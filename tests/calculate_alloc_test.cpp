// Calculate allocates nothing. This test host interposes every allocation
// function of the C and C++ runtimes (the plug-ins reach them through the
// program's exported symbols) and counts the calls made while armed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>

#include "plugin_fixture.h"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
bool g_armed = false;
int g_allocations = 0;

void* Count(void* block) {
  if (g_armed) ++g_allocations;
  return block;
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) { return Count(__libc_malloc(size)); }
void* calloc(std::size_t count, std::size_t size) { return Count(__libc_calloc(count, size)); }
void* realloc(void* block, std::size_t size) { return Count(__libc_realloc(block, size)); }
void* memalign(std::size_t alignment, std::size_t size) { return Count(__libc_memalign(alignment, size)); }
void* aligned_alloc(std::size_t alignment, std::size_t size) { return Count(__libc_memalign(alignment, size)); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  *out = Count(__libc_memalign(alignment, size));
  return *out != nullptr ? 0 : ENOMEM;
}
void free(void* block) { __libc_free(block); }
}

// The C++ allocation functions count once themselves, whatever they call.
void* operator new(std::size_t size) {
  const bool armed = g_armed;
  g_armed = false;
  void* block = __libc_malloc(size != 0 ? size : 1);
  g_armed = armed;
  if (block == nullptr) throw std::bad_alloc();
  return Count(block);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Count(__libc_malloc(size != 0 ? size : 1));
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { __libc_free(block); }
void operator delete[](void* block) noexcept { __libc_free(block); }
void operator delete(void* block, std::size_t) noexcept { __libc_free(block); }
void operator delete[](void* block, std::size_t) noexcept { __libc_free(block); }

namespace vexb::test {
namespace {

using CalculateAllocation = PluginTest;

TEST_P(CalculateAllocation, NoneWhileCalculateRuns) {
  // The count reaches into the plug-in: its Init is seen to allocate.
  g_allocations = 0;
  g_armed = true;
  const std::int32_t init = Call(kInit);
  g_armed = false;
  ASSERT_EQ(init, kDone);
  ASSERT_NE(block_->record().InstanceSlot, nullptr);
  EXPECT_GE(g_allocations, 1) << "Init's allocation went past the counter";

  const double inputs[] = {1.5, -0.0, 0.0, 1e308, -1e308, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), 4.9e-324};
  int calls = 0;
  g_allocations = 0;
  for (double first : inputs)
    for (double second : inputs) {
      for (std::size_t k = 2; k < block_->variables(); ++k) block_->Set(k, k % 2 == 0 ? first : second);
      block_->Use(calls % 2);
      g_armed = true;
      const std::int32_t answer = Call(kCalculate);
      g_armed = false;
      EXPECT_EQ(answer, kDone);
      ++calls;
    }
  EXPECT_EQ(g_allocations, 0) << "allocations in " << calls << " Calculate calls";
}

VEXB_FOR_EVERY_DELIVERABLE(CalculateAllocation);

}  // namespace
}  // namespace vexb::test
