// The floating-point state around entry-point calls: revision 1 masks,
// clears and restores; revision 2 leaves the caller's state to the model.
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "fpu.h"
#include "plugin_fixture.h"

namespace vexb::test {
namespace {

// Inputs that make each model's arithmetic overflow.
void SetOverflowingInputs(const Deliverable& d, TestBlock& b) {
  const std::string model = std::string(d.name).substr(0, std::string(d.name).find('_'));
  const std::map<std::string, std::map<int, double>> inputs = {
      {"pairsplit", {{2, 1e308}, {3, 1e300}, {4, 1e308}, {5, 1e300}, {6, 1e308}, {7, 1e308}}},
      {"priorityfill", {{2, 1e308}, {3, 1e308}, {4, 1e308}, {5, 1e308}, {6, 1.0}}},
      {"remainder", {{2, 1e308}, {3, -1e308}, {4, 0.0}}},
      {"balance", {{2, 1e308}, {3, 1e308}, {4, -1e308}}},
      {"scaled", {{3, 1e308}, {6, 1e308}}},
      {"netshare", {{2, 1e308}, {3, 0.0}, {4, 0.0}, {6, -1e308}, {7, 0.0}}},
  };
  for (const auto& [k, value] : inputs.at(model)) b.Set(k, value);
}

using RevisionOneGuard = PluginTest;
using RevisionTwoNoGuard = PluginTest;

TEST_P(RevisionOneGuard, RestoresMasksAndRoundingAndClearsFlags) {
  FpStateRestorer restore;
  ASSERT_EQ(Call(kInit), kDone);
  SetOverflowingInputs(GetParam(), *block_);
  std::string bad = "{SD}";

  struct Step {
    const char* what;
    std::uint32_t mode;
    void* extra;
    std::int32_t answer;
  };
  const Step steps[] = {
      {"Calculate that overflows", kCalculate, nullptr, kDone},
      {"CheckVariables refused", kCheckVariables, bad.data(), kBadVariables},
      {"unknown mode", 7, nullptr, kDone},
      {"Cleanup", kCleanup, nullptr, kDone},
      {"Init", kInit, nullptr, kDone},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    // All six unmasked, rounding toward zero: an overflow that reached the
    // model unmasked would trap natively.
    UnmaskAllRoundTowardZero();
    const FpState before = ReadFpState();
    EXPECT_EQ(Call(step.mode, step.extra), step.answer);
    const FpState after = ReadFpState();
    ResetFpState();
    EXPECT_EQ(after.x87_control, before.x87_control);
    EXPECT_EQ(after.mxcsr, before.mxcsr & ~kSseFlags);
    EXPECT_EQ(after.x87_status & 0x80FF, 0);
    EXPECT_EQ(after.mxcsr & kSseFlags, 0u);
  }
  // The overflow did happen: the masked default result reached the block.
  ResetFpState();
  ASSERT_EQ(Call(kCalculate), kDone);
}

TEST_P(RevisionOneGuard, ClearsFlagsTheHostLeftPending) {
  FpStateRestorer restore;
  for (std::uint32_t mode : {std::uint32_t(kCheckVariables), std::uint32_t(9)}) {
    ResetFpState();
    RaiseFlagsMasked();
    const FpState before = ReadFpState();
    ASSERT_NE(before.x87_status & kX87Flags, 0);
    ASSERT_NE(before.mxcsr & kSseFlags, 0u);
    Call(mode);
    const FpState after = ReadFpState();
    EXPECT_EQ(after.x87_status & 0x80FF, 0);
    EXPECT_EQ(after.mxcsr, 0x1F80u);
    EXPECT_EQ(after.x87_control, before.x87_control);
  }
}

TEST_P(RevisionTwoNoGuard, LeavesFlagsAndRoundingAsTheModelMadeThem) {
  FpStateRestorer restore;
  ASSERT_EQ(Call(kInit), kDone);
  SetOverflowingInputs(GetParam(), *block_);
  const std::uint32_t masked_toward_zero = 0x1F80 | 0x6000;
  WriteFpControl(0x0F7F, masked_toward_zero);
  ASSERT_EQ(Call(kCalculate), kDone);
  const FpState after = ReadFpState();
  ResetFpState();
  EXPECT_EQ(after.x87_control, 0x0F7F);
  EXPECT_EQ(after.mxcsr & ~kSseFlags, masked_toward_zero);
  EXPECT_NE(after.mxcsr & kSseOverflow, 0u) << "the overflow flag stays pending";
}

// What a call left behind, and whether it trapped on the way.
struct FpRun {
  bool trapped;
  FpState after;  // meaningful only when it did not trap
};

#if defined(_WIN32)
DWORD g_fp_exception = 0;

bool IsFpException(DWORD code) {
  switch (code) {
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case STATUS_FLOAT_MULTIPLE_FAULTS:
    case STATUS_FLOAT_MULTIPLE_TRAPS:
      return true;
    default:
      return false;
  }
}

// Notes the exception, then masks everything in the faulting context, so that
// the instruction runs again and gives its default result.
LONG CALLBACK MaskAndContinue(EXCEPTION_POINTERS* info) {
  if (!IsFpException(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  g_fp_exception = info->ExceptionRecord->ExceptionCode;
  CONTEXT* context = info->ContextRecord;
  context->MxCsr = (context->MxCsr | kSseMasks) & ~kSseFlags;
  context->FltSave.MxCsr = context->MxCsr;
  context->FltSave.ControlWord |= kX87Masks;
  context->FltSave.StatusWord &= ~0x80FF;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Runs `work` in this thread after `enter` has set the host's state, under a
// vectored exception handler, and answers whether it raised a floating-point
// exception and the state it left.
template <class Work>
FpRun RunFp(void (*enter)(), Work work) {
  g_fp_exception = 0;
  void* handler = AddVectoredExceptionHandler(1, MaskAndContinue);
  enter();
  work();
  const FpState after = ReadFpState();
  ResetFpState();
  RemoveVectoredExceptionHandler(handler);
  return {g_fp_exception != 0, after};
}
#else
// Runs `work` in a child process after `enter` has set the host's state and
// answers whether the child died of SIGFPE, and otherwise the state it left.
template <class Work>
FpRun RunFp(void (*enter)(), Work work) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) std::abort();
  pid_t child = fork();
  if (child == 0) {
    // The default action, whatever handler the program installed: a runtime
    // such as a sanitizer's would otherwise catch the trap and exit instead.
    std::signal(SIGFPE, SIG_DFL);
    enter();
    work();
    const FpState after = ReadFpState();
    _exit(write(pipe_ends[1], &after, sizeof after) == sizeof after ? 0 : 1);
  }
  close(pipe_ends[1]);
  FpRun run{false, {}};
  const bool got = read(pipe_ends[0], &run.after, sizeof run.after) == sizeof run.after;
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.trapped = WIFSIGNALED(status) && WTERMSIG(status) == SIGFPE;
  if (!run.trapped && !got) ADD_FAILURE() << "the child ended with status " << status;
  return run;
}
#endif

void UnmaskAll() { WriteFpControl(0x0240, 0x0000); }

// Runs `work` with every exception unmasked and answers whether it trapped.
template <class Work>
bool RaisesFpException(Work work) {
  return RunFp(UnmaskAll, work).trapped;
}

bool PlatformTrapsUnmaskedExceptions() {
  return RaisesFpException([] {
    volatile double big = 1e308;
    volatile double product = big * big;
    (void)product;
  });
}

TEST_P(RevisionTwoNoGuard, TrapsOnAnUnmaskedOverflow) {
  if (!PlatformTrapsUnmaskedExceptions())
    GTEST_SKIP() << "this CPU emulation does not trap unmasked exceptions (qemu-user); "
                    "the trap is proven by the native and win64 runs";
  ASSERT_EQ(Call(kInit), kDone);
  SetOverflowingInputs(GetParam(), *block_);
  EXPECT_TRUE(RaisesFpException([&] { Call(kCalculate); }));
}

// A host that unmasked its exceptions while an x87 flag was pending: the guard
// must not load its masked control word on top of that flag (a waiting
// instruction would raise it inside the plug-in), and the host gets its masks
// back with nothing pending.
TEST_P(RevisionOneGuard, EntersSafelyWithAnUnmaskedX87ExceptionPending) {
  ASSERT_EQ(Call(kInit), kDone);
  SetOverflowingInputs(GetParam(), *block_);
  std::string own = GetParam().signature;
  struct Step {
    const char* what;
    std::uint32_t mode;
    void* extra;
  };
  const Step steps[] = {
      {"Calculate", kCalculate, nullptr},
      {"unknown mode", 7, nullptr},
      {"CheckVariables", kCheckVariables, own.data()},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const FpRun run = RunFp(EnterWithPendingX87Exception, [&] { Call(step.mode, step.extra); });
    EXPECT_FALSE(run.trapped) << "the pending exception was raised inside the plug-in";
    if (run.trapped) continue;
    EXPECT_EQ(run.after.x87_control, 0x0240);
    EXPECT_EQ(run.after.x87_status & kX87Pending, 0);
    EXPECT_EQ(run.after.mxcsr, 0x0000u);
  }
}

TEST_P(RevisionOneGuard, NeverTrapsUnderUnmaskedState) {
  if (!PlatformTrapsUnmaskedExceptions())
    GTEST_SKIP() << "this CPU emulation does not trap unmasked exceptions (qemu-user); "
                    "the guard's state is proven here by the tests above";
  ASSERT_EQ(Call(kInit), kDone);
  SetOverflowingInputs(GetParam(), *block_);
  EXPECT_FALSE(RaisesFpException([&] { Call(kCalculate); }));
}

VEXB_FOR_DELIVERABLES(RevisionOneGuard, DeliverablesOfRevision(1));
VEXB_FOR_DELIVERABLES(RevisionTwoNoGuard, DeliverablesOfRevision(2));

}  // namespace
}  // namespace vexb::test
