// Calls into a plug-in the way a 32-bit Windows caller may: that platform
// keeps the stack 4-byte aligned only, while compilers for 32-bit x86 may
// assume 16 bytes in code that keeps SSE values on the stack. A host that
// checks a plug-in calls it with the stack pointer at 0, 4, 8 and 12 modulo 16
// at the call instruction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_block.h"
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

// What a block of `signature` shows after Init, CheckVariables (own text and
// another), Calculate twice, an unknown mode and Cleanup, each called with
// the stack at `offset` modulo 16 (0 where the stack cannot be misaligned).
struct ModesOutcome {
  std::vector<std::int32_t> answers;
  std::vector<unsigned char> storage;
  std::uint8_t flag = 0;
  bool live_after_init = false;
  bool guards_intact = false;

  bool operator==(const ModesOutcome&) const = default;
};

inline ModesOutcome CallEveryMode(EntryPointFn entry, const std::string& signature, unsigned offset) {
  HostBlock block(signature);
  for (std::size_t k = 0; k < block.variables(); ++k)
    if (!block.IsSignal(k)) block.Set(k, 1.5 + 3.25 * double(k), 0);
  BlockRecord* record = &block.record();
  ModesOutcome out;
  auto call = [&](std::uint32_t mode, void* extra) {
#if defined(__i386__)
    out.answers.push_back(CallWithStackAt(offset, entry, mode, record, extra));
#else
    (void)offset;
    out.answers.push_back(entry(mode, record, extra));
#endif
  };
  std::string own = signature, other = "{SD}";
  call(kInit, nullptr);
  out.live_after_init = record->InstanceSlot != nullptr;
  call(kCheckVariables, own.data());
  call(kCheckVariables, other.data());
  call(kCalculate, nullptr);
  call(kCalculate, nullptr);
  call(9, nullptr);
  call(kCleanup, nullptr);
  out.storage = block.StorageBytes(0);
  out.flag = record->FlagByte;
  out.guards_intact = block.GuardsIntact();
  return out;
}

}  // namespace vexb::host
