#include "isolation.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include "host/fp_state.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vexb::blockhost {

#if defined(_WIN32)
namespace {

// Where the handler sends this thread back to when the work crashes.
struct Landing {
  void* jump[5];
  bool armed = false;
  DWORD code = 0;
  const void* address = nullptr;
  ULONG_PTR access = 0;  // access violation: 0 read, 1 write, 8 execute
  ULONG_PTR target = 0;  // and the address it touched
};
thread_local Landing t_landing;

const char* ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_PRIV_INSTRUCTION: return "EXCEPTION_PRIV_INSTRUCTION";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_INT_OVERFLOW: return "EXCEPTION_INT_OVERFLOW";
    case EXCEPTION_FLT_DENORMAL_OPERAND: return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case EXCEPTION_FLT_INEXACT_RESULT: return "EXCEPTION_FLT_INEXACT_RESULT";
    case EXCEPTION_FLT_INVALID_OPERATION: return "EXCEPTION_FLT_INVALID_OPERATION";
    case EXCEPTION_FLT_OVERFLOW: return "EXCEPTION_FLT_OVERFLOW";
    case EXCEPTION_FLT_STACK_CHECK: return "EXCEPTION_FLT_STACK_CHECK";
    case EXCEPTION_FLT_UNDERFLOW: return "EXCEPTION_FLT_UNDERFLOW";
    case EXCEPTION_STACK_OVERFLOW: return "EXCEPTION_STACK_OVERFLOW";
    case STATUS_FLOAT_MULTIPLE_FAULTS: return "STATUS_FLOAT_MULTIPLE_FAULTS";
    case STATUS_FLOAT_MULTIPLE_TRAPS: return "STATUS_FLOAT_MULTIPLE_TRAPS";
    default: return "exception";
  }
}

// "pairsplit_r1.dll+0x1A2B", or the bare address outside every module.
std::string Where(const void* address) {
  char text[64];
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module)) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, sizeof path - 1);
    const char* name = std::strrchr(path, '\\');
    std::snprintf(text, sizeof text, "+0x%lX",
                  static_cast<unsigned long>(static_cast<const char*>(address) -
                                             reinterpret_cast<const char*>(module)));
    return std::string(name != nullptr ? name + 1 : path) + text;
  }
  std::snprintf(text, sizeof text, "%p", address);
  return text;
}

// Errors only: warnings and notices (a debugger's, a C++ runtime's own
// exceptions) go on to whoever handles them.
bool IsError(DWORD code) {
  return (code & 0xF0000000u) == 0xC0000000u || code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

LONG CALLBACK Abandon(EXCEPTION_POINTERS* info) {
  Landing& landing = t_landing;
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (!landing.armed || !IsError(record->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  landing.armed = false;
  landing.code = record->ExceptionCode;
  landing.address = record->ExceptionAddress;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    landing.access = record->ExceptionInformation[0];
    landing.target = record->ExceptionInformation[1];
  }
  __builtin_longjmp(landing.jump, 1);
}

#if defined(__i386__)
// The head of the thread's chain of frame-based exception handlers: the
// abandoned frames may have registered some, so it is put back as it was.
void* HandlerChain() {
  void* head;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void RestoreHandlerChain(void* head) { __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }
#else
void* HandlerChain() { return nullptr; }
void RestoreHandlerChain(void*) {}
#endif

std::string Describe(const Landing& landing) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(landing.code));
  std::string text = std::string("caught ") + ExceptionName(landing.code) + " (" + code + ") at " +
                     Where(landing.address);
  if (landing.code == EXCEPTION_ACCESS_VIOLATION) {
    char target[32];
    std::snprintf(target, sizeof target, "%p", reinterpret_cast<void*>(landing.target));
    text += std::string(landing.access == 1 ? ", writing " : landing.access == 8 ? ", executing " : ", reading ") +
            target;
  }
  return text;
}

}  // namespace

Isolated RunIsolated(bool in_process, const std::function<std::string()>& work) {
  if (in_process) return {false, "", work()};
  static PVOID handler = AddVectoredExceptionHandler(1, Abandon);
  (void)handler;
  void* const chain = HandlerChain();
  Landing& landing = t_landing;
  if (__builtin_setjmp(landing.jump) == 0) {
    struct Disarm {
      ~Disarm() { t_landing.armed = false; }
    } disarm;
    landing.armed = true;
    return {false, "", work()};
  }
  // Back from the handler: the work's frames are gone; what they held is
  // lost, and the floating-point unit may be in any state.
  RestoreHandlerChain(chain);
  host::ResetFpState();
  return {true, Describe(landing), ""};
}

#else

namespace {
constexpr unsigned kSecondsPerWork = 120;
}  // namespace

Isolated RunIsolated(bool in_process, const std::function<std::string()>& work) {
  if (in_process) return {false, "", work()};
  std::fflush(stdout);
  std::fflush(stderr);
  int ends[2];
  if (pipe(ends) != 0) return {true, std::string("no pipe: ") + std::strerror(errno), ""};
  const pid_t child = fork();
  if (child < 0) {
    close(ends[0]);
    close(ends[1]);
    return {true, std::string("no child process: ") + std::strerror(errno), ""};
  }
  if (child == 0) {
    close(ends[0]);
    // The default actions, whatever handlers the program has (a sanitizer's
    // would turn a crash into an ordinary exit).
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
    alarm(kSecondsPerWork);
    const std::string answer = work();
    std::size_t written = 0;
    while (written < answer.size()) {
      const ssize_t n = write(ends[1], answer.data() + written, answer.size() - written);
      if (n <= 0) _exit(1);
      written += std::size_t(n);
    }
    _exit(0);
  }
  close(ends[1]);
  Isolated result;
  char buffer[4096];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) result.answer.append(buffer, std::size_t(n));
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    result.crashed = true;
    result.what = signal == SIGALRM ? "did not finish within " + std::to_string(kSecondsPerWork) + " s"
                                    : "died of signal " + std::to_string(signal) + " (" +
                                          strsignal(signal) + ")";
  } else if (WEXITSTATUS(status) != 0) {
    result.crashed = true;
    result.what = "ended with status " + std::to_string(WEXITSTATUS(status));
  }
  if (result.crashed) result.answer.clear();
  return result;
}

#endif

}  // namespace vexb::blockhost
