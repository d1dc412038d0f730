// Every call mode with the stack as a 32-bit Windows caller may leave it: at
// 4, 8 and 12 modulo 16 at the call. The answers and the block must be those
// of a call from an aligned stack. A test plug-in that keeps a value in an
// aligned 16-byte stack slot shows that a misaligned call is seen: built as
// every plug-in is, it realigns; built assuming an aligned caller, it faults.
#include <csignal>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host/misaligned_call.h"
#include "plugin_fixture.h"

namespace vexb::test {
namespace {

using host::CallEveryMode;
using host::kCanMisalignStack;
using host::ModesOutcome;

constexpr unsigned kOffsets[] = {0, 4, 8, 12};

using StackAlignment = PluginTest;

TEST_P(StackAlignment, EveryModeWorksFromAMisalignedStack) {
  if (!kCanMisalignStack) GTEST_SKIP() << "only 32-bit x86 callers may leave the stack misaligned";
  const ModesOutcome aligned = CallEveryMode(plugin_.entry(), GetParam().signature, 0);
  ASSERT_TRUE(aligned.live_after_init);
  ASSERT_TRUE(aligned.guards_intact);
  for (unsigned offset : kOffsets) {
    SCOPED_TRACE("stack at " + std::to_string(offset) + " mod 16");
    const ModesOutcome got = CallEveryMode(plugin_.entry(), GetParam().signature, offset);
    EXPECT_EQ(got.answers, aligned.answers);
    EXPECT_EQ(got.storage, aligned.storage);
    EXPECT_EQ(got.flag, aligned.flag);
    EXPECT_TRUE(got.guards_intact);
  }
}

VEXB_FOR_EVERY_DELIVERABLE(StackAlignment);

#if !defined(_WIN32)
// Runs the modes of test plug-in `file` in a child process with the stack at
// `offset`; answers the signal it died of, or 0.
int SignalOfRun(const std::string& file, unsigned offset) {
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGSEGV, SIG_DFL);
    std::signal(SIGBUS, SIG_DFL);
    PluginLibrary plugin(PluginPath(file.c_str()));
    if (plugin.entry() == nullptr) _exit(2);
    const ModesOutcome out = CallEveryMode(plugin.entry(), "{SSDDDD}", offset);
    // V5 = (V2 - V3) - V4 with the inputs CallEveryMode gives.
    double v5 = host::HostBlock::Read(out.storage.data() + 26);
    _exit(v5 == (8.0 - 11.25) - 14.5 ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << file << ": the plug-in did not load or computed wrongly";
  return 0;
}

TEST(AlignedSlotPlugin, RealignsWhenBuiltAsEveryPlugin) {
  if (!kCanMisalignStack) GTEST_SKIP() << "only 32-bit x86 callers may leave the stack misaligned";
  for (unsigned offset : kOffsets) EXPECT_EQ(SignalOfRun("test-plugins/aligned_slot.so", offset), 0) << offset;
}

TEST(AlignedSlotPlugin, FaultsWhenBuiltForAnAlignedCaller) {
  if (!kCanMisalignStack) GTEST_SKIP() << "only 32-bit x86 callers may leave the stack misaligned";
  EXPECT_EQ(SignalOfRun("test-plugins/aligned_slot_unprotected.so", 0), 0);
  for (unsigned offset : {4u, 8u, 12u})
    EXPECT_EQ(SignalOfRun("test-plugins/aligned_slot_unprotected.so", offset), SIGSEGV) << offset;
}
#endif

}  // namespace
}  // namespace vexb::test
