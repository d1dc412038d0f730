// Direct access to the calling thread's x87 and SSE floating-point state, for
// hosts that check what a plug-in leaves behind.
#pragma once

#include <cstdint>

namespace vexb::host {

struct FpState {
  std::uint16_t x87_control;
  std::uint16_t x87_status;
  std::uint32_t mxcsr;
};

constexpr std::uint16_t kX87Masks = 0x003F;
constexpr std::uint16_t kX87Flags = 0x003F;
// The flags, stack fault, error summary and busy bits: what fnclex clears.
constexpr std::uint16_t kX87Pending = 0x80FF;
constexpr std::uint16_t kX87RoundingBits = 0x0C00;
constexpr std::uint32_t kSseMasks = 0x1F80;
constexpr std::uint32_t kSseFlags = 0x003F;
constexpr std::uint32_t kSseOverflow = 0x0008;
constexpr std::uint32_t kSseRoundingBits = 0x6000;

inline FpState ReadFpState() {
  FpState s;
  __asm__ volatile("fnstcw %0" : "=m"(s.x87_control) : : "memory");
  __asm__ volatile("fnstsw %0" : "=m"(s.x87_status) : : "memory");
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr) : : "memory");
  return s;
}

// Loads both control words and clears every pending flag.
inline void WriteFpControl(std::uint16_t x87_control, std::uint32_t mxcsr) {
  __asm__ volatile("fnclex" : : : "memory");
  __asm__ volatile("fldcw %0" : : "m"(x87_control) : "memory");
  std::uint32_t clean = mxcsr & ~kSseFlags;
  __asm__ volatile("ldmxcsr %0" : : "m"(clean) : "memory");
}

// The state a host starts threads with: everything masked, round to nearest,
// double precision in the x87 control word.
inline void ResetFpState() { WriteFpControl(0x027F, 0x1F80); }

// Every exception unmasked, rounding toward zero in both units; the x87 word
// also selects extended precision, another bit the guard must keep.
inline void UnmaskAllRoundTowardZero() { WriteFpControl(0x0F40, 0x6000); }

// 0/0 on the x87 unit: sets its invalid-operation flag (or traps, where
// unmasked).
inline void X87InvalidOperation() {
  __asm__ volatile("fldz\n\tfldz\n\tfdivrp\n\tfstp %%st(0)" : : : "memory");
}

// Raises an x87 and an SSE flag while everything is masked: a host that left
// flags pending.
inline void RaiseFlagsMasked() {
  volatile double big = 1e308;
  volatile double product = big * big;  // SSE overflow and inexact
  (void)product;
  X87InvalidOperation();
}

// Enters the state of a host that unmasked every exception while an x87 flag
// was pending: invalid operation raised masked, then the control word loaded
// with all six exceptions unmasked, which leaves the flag and the error
// summary set. The next waiting x87 instruction (fldcw, fwait, arithmetic)
// raises the exception; reading the state with ReadFpState does not.
inline void EnterWithPendingX87Exception() {
  ResetFpState();
  X87InvalidOperation();
  const std::uint16_t unmasked = 0x0240;
  __asm__ volatile("fldcw %0" : : "m"(unmasked) : "memory");
  const std::uint32_t sse_unmasked = 0x0000;
  __asm__ volatile("ldmxcsr %0" : : "m"(sse_unmasked) : "memory");
}

// Restores the default state when a test leaves, whatever it did.
struct FpStateRestorer {
  FpStateRestorer() = default;
  ~FpStateRestorer() { ResetFpState(); }
};

}  // namespace vexb::host
