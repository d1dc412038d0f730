// Running a piece of work where a crash in a plug-in cannot end blockhost.
//
// POSIX: the work runs in a child process; its answer comes back through a
// pipe, and a child that dies of a signal (or runs for more than two minutes)
// is reported as such. Windows: the work runs in this process under a
// vectored exception handler; an error-class structured exception (access
// violation, illegal instruction, a floating-point trap, ...) raised on the
// calling thread abandons the work and is reported, with the address and the
// module it came from.
#pragma once

#include <functional>
#include <string>

namespace vexb::blockhost {

struct Isolated {
  bool crashed = false;
  std::string what;    // when crashed: what ended the work
  std::string answer;  // otherwise: what the work answered
};

// Runs `work`. With `in_process`, runs it plainly, for a debugger: a crash
// then ends blockhost.
Isolated RunIsolated(bool in_process, const std::function<std::string()>& work);

}  // namespace vexb::blockhost
