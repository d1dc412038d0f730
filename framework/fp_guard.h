// The floating-point guard of framework revision 1.
//
// Every revision-1 entry-point call runs between Enter() and Leave(): the
// mode's work, the model included, sees all six exceptions masked, so an
// overflow or a division by zero gives its IEEE 754 default result instead of
// a trap. On the way out the pending exception flags are cleared first and
// then the six mask bits are restored from the caller's word; every other
// control bit (rounding, precision, flush-to-zero) keeps its value.
//
// On x86 the model's arithmetic runs in SSE while the host may use the x87
// unit, so the guard acts on both: the x87 control and status words and MXCSR
// (masks in bits 7 to 12, flags in bits 0 to 5), in the same order of steps.
//
// This runs on every Calculate, so it does only the work that changes state:
// no control-word load where the masks already are as needed, no x87 clear
// where no x87 flag is pending. MXCSR is read once: the call cannot change its
// control bits, so the caller's word with the flags cleared is exactly the
// word to leave behind, and one load both clears and restores. Every step is
// a compiler barrier, so no access to the block's storage moves across it.
#pragma once

#include <cstdint>

#if !defined(__i386__) && !defined(__x86_64__)
#include <cfenv>
#endif

namespace vexb {

#if defined(__i386__) || defined(__x86_64__)

class FpGuard {
 public:
  static constexpr std::uint16_t kX87Masks = 0x003F;
  // Exception flags, stack fault, error summary and busy: what FNCLEX clears.
  static constexpr std::uint16_t kX87Pending = 0x80FF;
  static constexpr std::uint32_t kSseMasks = 0x1F80;
  static constexpr std::uint32_t kSseFlags = 0x003F;

  FpGuard() {
    __asm__ volatile("fnstcw %0" : "=m"(x87_control_) : : "memory");
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr_) : : "memory");
    if ((x87_control_ & kX87Masks) != kX87Masks) {
      // fldcw is a waiting instruction: with a flag pending under an unmasked
      // exception it would raise that exception here, inside the plug-in. The
      // flags are cleared on the way out anyway, so clearing them first
      // changes nothing the caller sees. A host with every exception masked
      // never comes here.
      std::uint16_t status;
      __asm__ volatile("fnstsw %0" : "=a"(status) : : "memory");
      if (status & kX87Pending) __asm__ volatile("fnclex" : : : "memory");
      const std::uint16_t masked = x87_control_ | kX87Masks;
      __asm__ volatile("fldcw %0" : : "m"(masked) : "memory");
    }
    if ((mxcsr_ & kSseMasks) != kSseMasks) {
      const std::uint32_t masked = mxcsr_ | kSseMasks;
      __asm__ volatile("ldmxcsr %0" : : "m"(masked) : "memory");
    }
  }

  ~FpGuard() {
    // x87: clear, then restore the masks. The model computes in SSE, so the
    // control word still is the caller's with the masks set.
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=a"(status) : : "memory");
    if (status & kX87Pending) __asm__ volatile("fnclex" : : : "memory");
    if ((x87_control_ & kX87Masks) != kX87Masks)
      __asm__ volatile("fldcw %0" : : "m"(x87_control_) : "memory");
    // SSE: flags cleared and the caller's masks, in one load.
    const std::uint32_t leave = mxcsr_ & ~kSseFlags;
    __asm__ volatile("ldmxcsr %0" : : "m"(leave) : "memory");
  }

  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

 private:
  std::uint16_t x87_control_;
  std::uint32_t mxcsr_;
};

#else

// Other targets: the same steps on the standard floating-point environment.
class FpGuard {
 public:
  FpGuard() { std::feholdexcept(&saved_); }
  ~FpGuard() {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(&saved_);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

 private:
  std::fenv_t saved_;
};

#endif

// Revision 2 runs under the caller's floating-point settings untouched.
struct NoFpGuard {};

}  // namespace vexb
