// Every call mode with the stack as a 32-bit Windows caller may leave it: at
// 4, 8 and 12 modulo 16 at the call. The answers and the block must be those
// of a call from an aligned stack. A test plug-in that keeps a value in an
// aligned 16-byte stack slot shows that a misaligned call is seen: built as
// every plug-in is, it realigns; built assuming an aligned caller, it faults.
#include <csignal>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host/misaligned_call.h"
#include "plugin_fixture.h"

namespace vexb::test {
namespace {

using host::kCanMisalignStack;

constexpr unsigned kOffsets[] = {0, 4, 8, 12};

struct Outcome {
  std::vector<std::int32_t> answers;
  std::vector<unsigned char> storage;
  std::uint8_t flag;
  bool live_after_init;
};

// Init, CheckVariables (own and other), Calculate twice, an unknown mode and
// Cleanup, each with the stack at `offset` modulo 16 at the call.
Outcome RunModes(EntryPointFn entry, const std::string& signature, unsigned offset) {
  host::HostBlock block(signature);
  for (std::size_t k = 0; k < block.variables(); ++k)
    if (!block.IsSignal(k)) block.Set(k, 1.5 + 3.25 * double(k), 0);
  BlockRecord* record = &block.record();
  Outcome out;
  auto call = [&](std::uint32_t mode, void* extra) {
#if defined(__i386__)
    out.answers.push_back(host::CallWithStackAt(offset, entry, mode, record, extra));
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
  return out;
}

using StackAlignment = PluginTest;

TEST_P(StackAlignment, EveryModeWorksFromAMisalignedStack) {
  if (!kCanMisalignStack) GTEST_SKIP() << "only 32-bit x86 callers may leave the stack misaligned";
  const Outcome aligned = RunModes(plugin_.entry(), GetParam().signature, 0);
  ASSERT_TRUE(aligned.live_after_init);
  for (unsigned offset : kOffsets) {
    SCOPED_TRACE("stack at " + std::to_string(offset) + " mod 16");
    const Outcome got = RunModes(plugin_.entry(), GetParam().signature, offset);
    EXPECT_EQ(got.answers, aligned.answers);
    EXPECT_EQ(got.storage, aligned.storage);
    EXPECT_EQ(got.flag, aligned.flag);
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
    const Outcome out = RunModes(plugin.entry(), "{SSDDDD}", offset);
    // V5 = (V2 - V3) - V4 with the inputs of RunModes.
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
