// blockhost check: what a host integrator verifies before trusting a plug-in.
// Every check works on blocks of its own, with guard bytes around the record
// and the storage, so that a stray write is seen.
#include <cstdio>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "blockhost.h"
#include "host/fp_state.h"
#include "host/host_block.h"

namespace vexb::blockhost {
namespace {

using host::FpState;
using host::HostBlock;

class Report {
 public:
  void Line(bool pass, const std::string& check, const std::string& detail) {
    std::printf("%s  %-22s %s\n", pass ? "PASS" : "FAIL", check.c_str(), detail.c_str());
    (pass ? passed_ : failed_)++;
  }
  int Finish() {
    std::printf("%d of %d checks passed%s\n", passed_, passed_ + failed_,
                failed_ == 0 ? "" : ": the plug-in does not keep the contract");
    return failed_ == 0 ? kOk : kCheckFailed;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

struct Plugin {
  const LoadedPlugin& loaded;
  std::string signature;
  std::int32_t operator()(std::uint32_t mode, HostBlock& block, void* extra = nullptr) const {
    return loaded.library(mode, &block.record(), extra);
  }
};

// Gives every double of both copies a distinct ordinary value.
void FillDoubles(HostBlock& block, double base) {
  for (int copy = 0; copy < 2; ++copy)
    for (std::size_t k = 0; k < block.variables(); ++k)
      if (!block.IsSignal(k)) block.Set(k, base + double(k) * 1.25, copy);
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Revision as the record shows it: FlagByte 0x80 before Init; 0x80 after it
// is revision 1, 0x81 revision 2, anything else a fault. 0 when faulty.
int RevisionByFlag(const Plugin& plugin, unsigned& flag_after) {
  HostBlock block(plugin.signature);
  block.record().FlagByte = 0x80;
  plugin(kInit, block);
  flag_after = block.record().FlagByte;
  if (block.record().InstanceSlot != nullptr) plugin(kCleanup, block);
  return flag_after == 0x80 ? 1 : flag_after == 0x81 ? 2 : 0;
}

// True when a call clears the flags that the host left pending: the guard of
// revision 1 is there.
bool GuardObserved(const Plugin& plugin) {
  HostBlock block(plugin.signature);
  host::ResetFpState();
  host::RaiseFlagsMasked();
  plugin(9, block);
  const FpState after = host::ReadFpState();
  host::ResetFpState();
  return (after.x87_status & host::kX87Flags) == 0 && (after.mxcsr & host::kSseFlags) == 0;
}

void CheckRevision(const Plugin& plugin, Report& report, int& revision) {
  unsigned flag = 0;
  revision = RevisionByFlag(plugin, flag);
  const bool guard = GuardObserved(plugin);
  if (revision == 0) {
    report.Line(false, "revision", "Init turned FlagByte 0x80 into " + Hex(flag));
    return;
  }
  const bool consistent = (revision == 1) == guard;
  std::string detail = "revision " + std::to_string(revision) + ": FlagByte 0x80 -> " + Hex(flag) +
                       " at Init, " + (guard ? "floating-point guard" : "no floating-point guard");
  if (!consistent) detail += revision == 1 ? ", but revision 1 must guard" : ", but revision 2 must not";
  report.Line(consistent, "revision", detail);
}

void CheckUnknownModes(const Plugin& plugin, Report& report) {
  HostBlock block(plugin.signature);
  plugin(kInit, block);
  FillDoubles(block, 3.0);
  const std::vector<unsigned char> record = block.RecordBytes();
  const std::vector<unsigned char> storage = block.StorageBytes(0);
  std::string failures;
  for (std::uint32_t mode : {3u, 5u, 6u, 7u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    const std::int32_t answer = plugin(mode, block);
    if (answer != kDone || block.RecordBytes() != record || block.StorageBytes(0) != storage)
      failures += " " + Hex(mode) + (answer != kDone ? " answered " + std::to_string(answer) : " changed the block");
  }
  if (block.record().InstanceSlot != nullptr) plugin(kCleanup, block);
  const bool pass = failures.empty() && block.GuardsIntact();
  report.Line(pass, "unknown modes",
              pass ? "3, 5, 6, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF: Done, record and storage unchanged"
                   : "mode" + failures);
}

void CheckSignatureExact(const Plugin& plugin, Report& report) {
  const std::string own = plugin.signature;
  std::string lower = own;
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  const std::vector<std::string> near_misses = {
      own.substr(0, own.size() - 1) + "D}",  // one letter more
      own.size() > 2 ? own.substr(0, own.size() - 2) + "}" : "{D}",  // one letter fewer
      lower, own + " ", " " + own, own.substr(0, own.size() - 1), own + "}", "",
  };
  HostBlock block(plugin.signature);
  std::string failures;
  const char* phases[] = {"before Init", "after Init", "after Cleanup"};
  for (int phase = 0; phase < 3; ++phase) {
    if (phase == 1) plugin(kInit, block);
    if (phase == 2 && block.record().InstanceSlot != nullptr) plugin(kCleanup, block);
    std::string text = own;
    if (plugin(kCheckVariables, block, text.data()) != kDone)
      failures += std::string(" own text refused ") + phases[phase] + ";";
    for (const std::string& miss : near_misses) {
      std::string copy = miss;
      if (plugin(kCheckVariables, block, copy.data()) != kBadVariables)
        failures += " \"" + miss + "\" accepted " + phases[phase] + ";";
    }
    if (plugin(kCheckVariables, block, nullptr) != kBadVariables)
      failures += std::string(" no text accepted ") + phases[phase] + ";";
  }
  const bool pass = failures.empty() && block.GuardsIntact();
  report.Line(pass, "CheckVariables exact",
              pass ? own + " accepted, " + std::to_string(near_misses.size() + 1) +
                         " near misses refused, before Init, live and after Cleanup"
                   : failures.empty() ? "wrote outside the record's fields" : failures);
}

void CheckStorage(const Plugin& plugin, Report& report) {
  HostBlock block(plugin.signature);
  plugin(kInit, block);
  void* instance = block.record().InstanceSlot;
  FillDoubles(block, 100.0);
  const std::vector<unsigned char> fresh = block.StorageBytes(1);
  std::string failure;
  block.Use(0);
  plugin(kCalculate, block);
  const std::vector<unsigned char> after0 = block.StorageBytes(0);
  if (after0 == fresh) failure = "Calculate wrote no double, so a move cannot be followed";
  if (block.StorageBytes(1) != fresh) failure = "Calculate on storage 0 wrote storage 1";
  block.Use(1);
  plugin(kCalculate, block);
  if (failure.empty() && block.StorageBytes(0) != after0) failure = "Calculate on storage 1 wrote storage 0";
  if (failure.empty() && block.StorageBytes(1) != after0)
    failure = "the moved storage got other results than the first";
  if (failure.empty() && block.record().InstanceSlot != instance) failure = "Calculate changed InstanceSlot";
  if (failure.empty() && !block.SignalsIntact()) failure = "a signal byte changed";
  if (failure.empty() && !block.GuardsIntact()) failure = "a byte outside the variables or the record's fields changed";
  if (block.record().InstanceSlot != nullptr) plugin(kCleanup, block);
  report.Line(failure.empty(), "storage",
              failure.empty() ? "writes only doubles, signals untouched, follows the storage when it moves"
                              : failure);
}

void CheckLifecycle(const Plugin& plugin, Report& report) {
  HostBlock block(plugin.signature);
  FillDoubles(block, 7.0);
  std::string failure;
  const unsigned flag = block.record().FlagByte;
  for (int cycle = 1; cycle <= 3 && failure.empty(); ++cycle) {
    const std::string at = "cycle " + std::to_string(cycle) + ": ";
    if (plugin(kInit, block) != kDone) failure = at + "Init did not answer Done";
    else if (block.record().InstanceSlot == nullptr) failure = at + "Init left no instance";
    else if (plugin(kCalculate, block) != kDone) failure = at + "Calculate did not answer Done";
    else if (plugin(kCleanup, block) != kDone) failure = at + "Cleanup did not answer Done";
    else if ((block.record().FlagByte & ~1u) != (flag & ~1u)) failure = at + "FlagByte bits 1 to 7 changed";
  }
  if (failure.empty() && !block.GuardsIntact()) failure = "a byte outside the variables or the record's fields changed";
  report.Line(failure.empty(), "Init and Cleanup",
              failure.empty() ? "3 cycles of Init, Calculate, Cleanup: Done, an instance each time" : failure);
}

// A call with its entry state and the state it must leave.
struct FpCall {
  const char* what;
  std::uint32_t mode;
  bool good_text;
};

constexpr FpCall kFpCalls[] = {
    {"Init", kInit, false},
    {"CheckVariables (own)", kCheckVariables, true},
    {"CheckVariables (other)", kCheckVariables, false},
    {"Calculate (overflowing)", kCalculate, false},
    {"unknown mode", 7, false},
    {"Cleanup", kCleanup, false},
};

// Runs every call of kFpCalls from `enter` and answers the first call that
// left a state other than `expected` says, or an empty text.
template <class Enter, class Expected>
std::string FpRun(const Plugin& plugin, Enter enter, Expected expected) {
  HostBlock block(plugin.signature);
  for (std::size_t k = 0; k < block.variables(); ++k)
    if (!block.IsSignal(k)) block.Set(k, 1e308 * (k % 3 == 2 ? -1.0 : 1.0));
  std::string failure;
  for (const FpCall& call : kFpCalls) {
    std::string text = call.good_text ? plugin.signature : "{SD}";
    enter();
    const FpState before = host::ReadFpState();
    plugin(call.mode, block, call.mode == kCheckVariables ? text.data() : nullptr);
    const FpState after = host::ReadFpState();
    host::ResetFpState();
    if (!expected(call, before, after) && failure.empty())
      failure = std::string(call.what) + " left x87 control " + Hex(after.x87_control) + " status " +
                Hex(after.x87_status) + ", MXCSR " + Hex(after.mxcsr) + " (entered with " +
                Hex(before.x87_control) + ", " + Hex(before.x87_status) + ", " + Hex(before.mxcsr) + ")";
  }
  return failure;
}

// Revision 1 from a host with every exception unmasked: a model that
// overflows must not trap, and the host's state comes back with no flag.
std::string FpRevisionOne(const Plugin& plugin) {
  auto restored = [](const FpCall&, const FpState& before, const FpState& after) {
    return after.x87_control == before.x87_control && after.mxcsr == (before.mxcsr & ~host::kSseFlags) &&
           (after.x87_status & 0x80FF) == 0;
  };
  std::string failure = FpRun(plugin, host::UnmaskAllRoundTowardZero, restored);
  if (failure.empty())
    failure = FpRun(plugin, [] {
      host::ResetFpState();
      host::RaiseFlagsMasked();
    }, restored);
  return failure;
}

// Revision 2 from a masked host with rounding toward zero and flags pending:
// the entry point changes and clears nothing; the model may add flags.
std::string FpRevisionTwo(const Plugin& plugin) {
  auto untouched = [](const FpCall& call, const FpState& before, const FpState& after) {
    const bool controls = after.x87_control == before.x87_control &&
                          (after.mxcsr & ~host::kSseFlags) == (before.mxcsr & ~host::kSseFlags);
    const bool x87_kept = (after.x87_status & before.x87_status & host::kX87Flags) ==
                          (before.x87_status & host::kX87Flags);
    const bool sse_kept = (after.mxcsr & before.mxcsr & host::kSseFlags) == (before.mxcsr & host::kSseFlags);
    const bool exact = call.mode == kCalculate || after.mxcsr == before.mxcsr;
    return controls && x87_kept && sse_kept && exact;
  };
  return FpRun(plugin, [] {
    host::WriteFpControl(0x0F7F, 0x1F80 | 0x6000);
    host::RaiseFlagsMasked();
  }, untouched);
}

// Runs `work` where a floating-point trap cannot end blockhost: in a child
// process on POSIX. Answers the failure text.
template <class Work>
std::string Isolated(Work work) {
#if defined(_WIN32)
  return work();
#else
  std::fflush(stdout);
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return work();
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    const std::string failure = work();
    const ssize_t written = write(pipe_ends[1], failure.data(), failure.size());
    _exit(written == ssize_t(failure.size()) ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::string failure;
  char buffer[256];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) failure.append(buffer, std::size_t(n));
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    return "the call died of signal " + std::to_string(WTERMSIG(status)) +
           " (an exception reached the model unmasked)";
  return failure;
#endif
}

void CheckFpState(const Plugin& plugin, Report& report, int revision) {
  if (revision == 0) {
    report.Line(false, "floating-point state", "revision unknown, state not judged");
    return;
  }
  const std::string failure =
      revision == 1 ? Isolated([&] { return FpRevisionOne(plugin); }) : FpRevisionTwo(plugin);
  report.Line(failure.empty(), "floating-point state",
              !failure.empty() ? failure
              : revision == 1
                  ? "after every call: the host's masks and rounding back, no flag pending"
                  : "after every call: the host's masks, rounding and pending flags untouched");
}

}  // namespace

int RunChecks(const LoadedPlugin& loaded, const std::optional<std::string>& given) {
  Report report;
  Plugin plugin{loaded, ""};
  try {
    plugin.signature = ResolveSignature(loaded, given);
    report.Line(true, "shape", plugin.signature);
  } catch (const Fatal& error) {
    if (error.status == kUsage) throw;
    report.Line(false, "shape", error.message);
    return report.Finish();
  }
  report.Line(BindingComplete(loaded), "binding", DescribeBinding(loaded));
  int revision = 0;
  CheckRevision(plugin, report, revision);
  CheckUnknownModes(plugin, report);
  CheckSignatureExact(plugin, report);
  CheckStorage(plugin, report);
  CheckLifecycle(plugin, report);
  CheckFpState(plugin, report, revision);
  return report.Finish();
}

}  // namespace vexb::blockhost
