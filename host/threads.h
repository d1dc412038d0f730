// Several threads at once, for hosts that call plug-ins from many threads.
// Windows threads directly, so that the 32-bit Windows build needs no thread
// support from its C++ runtime.
#pragma once

#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <thread>
#endif

namespace vexb::host {

#if defined(_WIN32)
namespace detail {
template <class Work>
struct ThreadStart {
  Work* work;
  unsigned index;
  static DWORD WINAPI Run(void* start) {
    auto* s = static_cast<ThreadStart*>(start);
    (*s->work)(s->index);
    return 0;
  }
};
}  // namespace detail
#endif

// Runs work(i) for every i below `count`, each on a thread of its own, all at
// once, and returns when all have ended.
template <class Work>
void RunOnThreads(unsigned count, Work work) {
#if defined(_WIN32)
  using Start = detail::ThreadStart<Work>;
  std::vector<Start> starts(count);
  std::vector<HANDLE> threads;
  for (unsigned i = 0; i < count; ++i) {
    starts[i] = {&work, i};
    threads.push_back(CreateThread(nullptr, 0, &Start::Run, &starts[i], 0, nullptr));
  }
  WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
#else
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < count; ++i) threads.emplace_back(work, i);
  for (std::thread& thread : threads) thread.join();
#endif
}

}  // namespace vexb::host
