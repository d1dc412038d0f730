// Calls into a plug-in the way a 32-bit Windows caller may: that platform
// keeps the stack 4-byte aligned only, while compilers for 32-bit x86 may
// assume 16 bytes in code that keeps SSE values on the stack. A host that
// checks a plug-in calls it with the stack pointer at 0, 4, 8 and 12 modulo 16
// at the call instruction.
#pragma once

#include <cstdint>

#include "host_contract.h"

namespace vexb::host {

#if defined(__i386__)
inline constexpr bool kCanMisalignStack = true;

namespace detail {
// cdecl: target, pad, then the three arguments of the call at 4(%esp) to
// 20(%esp). Aligns the stack pointer down to 16, lowers it by `pad`, pushes
// the three arguments and calls; the 12 bytes of arguments then leave it at
// (4 - pad) mod 16 at the call. The stack pointer comes back from the frame,
// so a target that pops its own arguments (a DLL's entry, WINAPI) works too.
[[gnu::naked, gnu::noipa]] inline std::int32_t CallWithPad(const void* /*target*/,
                                                          std::uint32_t /*pad*/,
                                                          std::uint32_t /*a*/, const void* /*b*/,
                                                          const void* /*c*/) {
  __asm__(
      "push %ebp\n\t"
      "mov %esp, %ebp\n\t"
      "mov 12(%ebp), %ecx\n\t"
      "and $-16, %esp\n\t"
      "sub %ecx, %esp\n\t"
      "push 24(%ebp)\n\t"
      "push 20(%ebp)\n\t"
      "push 16(%ebp)\n\t"
      "call *8(%ebp)\n\t"
      "mov %ebp, %esp\n\t"
      "pop %ebp\n\t"
      "ret\n\t");
}
}  // namespace detail

// Calls `target` (a function of three 32-bit arguments answering a 32-bit
// integer, either 32-bit convention) with the stack pointer at `offset` (0, 4, 8 or
// 12) modulo 16 at the call instruction.
inline std::int32_t CallWithStackAt(unsigned offset, const void* target, std::uint32_t a,
                                    const void* b, const void* c) {
  return detail::CallWithPad(target, (4 - offset) & 15, a, b, c);
}

inline std::int32_t CallWithStackAt(unsigned offset, EntryPointFn entry, std::uint32_t mode,
                                    BlockRecord* record, void* extra) {
  return CallWithStackAt(offset, reinterpret_cast<const void*>(entry), mode, record, extra);
}
#else
// Other targets fix a 16-byte aligned stack in their calling convention.
inline constexpr bool kCanMisalignStack = false;
#endif

}  // namespace vexb::host
