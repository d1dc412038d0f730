// The checks of `blockhost check`. Every check works on blocks of its own,
// with guard bytes around the record and the storage so that a stray write is
// seen, and runs isolated, so that a crash in the plug-in fails that check
// alone.
#include "checks.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "blockhost.h"
#include "host/fp_state.h"
#include "host/misaligned_call.h"
#include "host/threads.h"
#include "isolation.h"
#include "report.h"
#include "steps.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vexb::blockhost {
namespace {

using host::FpState;
using host::HostBlock;

struct Context {
  LoadedPlugin& plugin;
  std::string signature;
  int revision;  // as Init marks the record; 0 when it marks neither way
  const CheckOptions& options;
};

std::int32_t CallOn(Context& c, HostBlock& block, std::uint32_t mode, void* extra = nullptr) {
  return Call(c.plugin, block, mode, extra);
}

// Gives every double of both copies a distinct ordinary value.
void FillDoubles(HostBlock& block, double base) {
  for (int copy = 0; copy < 2; ++copy)
    for (std::size_t k = 0; k < block.variables(); ++k)
      if (!block.IsSignal(k)) block.Set(k, base + double(k) * 1.25, copy);
}

std::string StateText(const FpState& s) {
  return "x87 control " + Hex(s.x87_control) + " status " + Hex(s.x87_status) + ", MXCSR " + Hex(s.mxcsr);
}

// What a call did to the floating-point state, for a failure's detail.
std::string StateChange(const FpState& before, const FpState& after) {
  return "left " + StateText(after) + " (entered with " + StateText(before) + ")";
}

// Revision as the record shows it: FlagByte 0x80 before Init; 0x80 after it
// is revision 1, 0x81 revision 2, anything else a fault (0).
int RevisionByFlag(const LoadedPlugin& plugin, const std::string& signature, unsigned& flag_after) {
  HostBlock block(signature);
  block.record().FlagByte = 0x80;
  Call(plugin, block, kInit);
  flag_after = block.record().FlagByte;
  if (block.record().InstanceSlot != nullptr) Call(plugin, block, kCleanup);
  return flag_after == 0x80 ? 1 : flag_after == 0x81 ? 2 : 0;
}

Verdict CheckShape(Context& c) { return Pass(c.signature); }

Verdict CheckBinding(Context& c) {
  return BindingComplete(c.plugin) ? Pass(DescribeBinding(c.plugin)) : Fail(DescribeBinding(c.plugin));
}

// True when a call clears the flags that the host left pending: the guard of
// revision 1 is there.
bool GuardObserved(Context& c) {
  HostBlock block(c.signature);
  host::ResetFpState();
  host::RaiseFlagsMasked();
  CallOn(c, block, 9);
  const FpState after = host::ReadFpState();
  host::ResetFpState();
  return (after.x87_status & host::kX87Flags) == 0 && (after.mxcsr & host::kSseFlags) == 0;
}

Verdict CheckRevision(Context& c) {
  unsigned flag = 0;
  const int revision = RevisionByFlag(c.plugin, c.signature, flag);
  if (revision == 0) return Fail("Init turned FlagByte 0x80 into " + Hex(flag));
  const bool guard = GuardObserved(c);
  std::string detail = "revision " + std::to_string(revision) + ": FlagByte 0x80 -> " + Hex(flag) +
                       " at Init, " + (guard ? "floating-point guard" : "no floating-point guard");
  if ((revision == 1) == guard) return Pass(detail);
  return Fail(detail + (revision == 1 ? ", but revision 1 must guard" : ", but revision 2 must not"));
}

Verdict CheckUnknownModes(Context& c) {
  HostBlock block(c.signature);
  CallOn(c, block, kInit);
  FillDoubles(block, 3.0);
  const std::vector<unsigned char> record = block.RecordBytes();
  const std::vector<unsigned char> storage = block.StorageBytes(0);
  std::string failures;
  for (std::uint32_t mode : {3u, 5u, 6u, 7u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    const std::int32_t answer = CallOn(c, block, mode);
    if (answer != kDone || block.RecordBytes() != record || block.StorageBytes(0) != storage)
      failures += " " + Hex(mode) + (answer != kDone ? " answered " + std::to_string(answer) : " changed the block");
  }
  if (block.record().InstanceSlot != nullptr) CallOn(c, block, kCleanup);
  if (!failures.empty()) return Fail("mode" + failures);
  if (!block.GuardsIntact()) return Fail("a byte outside the variables or the record's fields changed");
  return Pass("3, 5, 6, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF: Done, record and storage unchanged");
}

Verdict CheckSignatureExact(Context& c) {
  const std::string own = c.signature;
  std::string lower = own;
  for (char& ch : lower) ch = ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch;
  const std::vector<std::string> near_misses = {
      own.substr(0, own.size() - 1) + "D}",  // one letter more
      own.size() > 2 ? own.substr(0, own.size() - 2) + "}" : "{D}",  // one letter fewer
      lower, own + " ", " " + own, own.substr(0, own.size() - 1), own + "}", "",
  };
  HostBlock block(c.signature);
  std::string failures;
  const char* phases[] = {"before Init", "after Init", "after Cleanup"};
  for (int phase = 0; phase < 3; ++phase) {
    if (phase == 1) CallOn(c, block, kInit);
    if (phase == 2 && block.record().InstanceSlot != nullptr) CallOn(c, block, kCleanup);
    std::string text = own;
    if (CallOn(c, block, kCheckVariables, text.data()) != kDone)
      failures += std::string(" own text refused ") + phases[phase] + ";";
    for (const std::string& miss : near_misses) {
      std::string copy = miss;
      if (CallOn(c, block, kCheckVariables, copy.data()) != kBadVariables)
        failures += " \"" + miss + "\" accepted " + phases[phase] + ";";
    }
    if (CallOn(c, block, kCheckVariables, nullptr) != kBadVariables)
      failures += std::string(" no text accepted ") + phases[phase] + ";";
  }
  if (!failures.empty()) return Fail(failures.substr(1));
  if (!block.GuardsIntact()) return Fail("wrote outside the record's fields");
  return Pass(own + " accepted, " + std::to_string(near_misses.size() + 1) +
              " near misses refused, before Init, live and after Cleanup");
}

Verdict CheckStorage(Context& c) {
  HostBlock block(c.signature);
  CallOn(c, block, kInit);
  void* instance = block.record().InstanceSlot;
  FillDoubles(block, 100.0);
  const std::vector<unsigned char> fresh = block.StorageBytes(1);
  std::string failure;
  block.Use(0);
  CallOn(c, block, kCalculate);
  const std::vector<unsigned char> after0 = block.StorageBytes(0);
  if (after0 == fresh) failure = "Calculate wrote no double, so a move cannot be followed";
  if (block.StorageBytes(1) != fresh) failure = "Calculate on storage 0 wrote storage 1";
  block.Use(1);
  CallOn(c, block, kCalculate);
  if (failure.empty() && block.StorageBytes(0) != after0) failure = "Calculate on storage 1 wrote storage 0";
  if (failure.empty() && block.StorageBytes(1) != after0)
    failure = "the moved storage got other results than the first";
  if (failure.empty() && block.record().InstanceSlot != instance) failure = "Calculate changed InstanceSlot";
  if (failure.empty() && !block.SignalsIntact()) failure = "a signal byte changed";
  if (failure.empty() && !block.GuardsIntact()) failure = "a byte outside the variables or the record's fields changed";
  if (block.record().InstanceSlot != nullptr) CallOn(c, block, kCleanup);
  if (!failure.empty()) return Fail(failure);
  return Pass("writes only doubles, signals untouched, follows the storage when it moves (at 2 mod 8)");
}

// Init, Calculate and Cleanup on `block`; an empty text, or what went wrong.
std::string Lifecycle(Context& c, HostBlock& block) {
  if (CallOn(c, block, kInit) != kDone) return "Init did not answer Done";
  if (block.record().InstanceSlot == nullptr) return "Init left no instance";
  if (CallOn(c, block, kCalculate) != kDone) return "Calculate did not answer Done";
  if (CallOn(c, block, kCleanup) != kDone) return "Cleanup did not answer Done";
  return "";
}

Verdict CheckLifecycle(Context& c) {
  HostBlock block(c.signature);
  FillDoubles(block, 7.0);
  const unsigned flag = block.record().FlagByte;
  for (int cycle = 1; cycle <= 3; ++cycle) {
    const std::string at = "cycle " + std::to_string(cycle) + ": ";
    if (std::string failure = Lifecycle(c, block); !failure.empty()) return Fail(at + failure);
    if ((block.record().FlagByte & ~1u) != (flag & ~1u)) return Fail(at + "FlagByte bits 1 to 7 changed");
  }
  if (!block.GuardsIntact()) return Fail("a byte outside the variables or the record's fields changed");
  return Pass("3 cycles of Init, Calculate, Cleanup: Done, an instance each time");
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

// Doubles whose arithmetic overflows in any model: 1e308, 1e308, -1e308, ...
void FillOverflowing(HostBlock& block) {
  for (std::size_t k = 0; k < block.variables(); ++k)
    if (!block.IsSignal(k)) block.Set(k, 1e308 * (k % 3 == 2 ? -1.0 : 1.0));
}

// Runs every call of kFpCalls on one block, each entered from the state that
// `enter` sets, and answers the first call that left a state other than
// `expected` says, or an empty text.
template <class Enter, class Expected>
std::string FpRun(Context& c, Enter enter, Expected expected) {
  HostBlock block(c.signature);
  FillOverflowing(block);
  std::string failure;
  for (const FpCall& call : kFpCalls) {
    std::string text = call.good_text ? c.signature : "{SD}";
    enter();
    const FpState before = host::ReadFpState();
    CallOn(c, block, call.mode, call.mode == kCheckVariables ? text.data() : nullptr);
    const FpState after = host::ReadFpState();
    host::ResetFpState();
    if (!expected(call, before, after) && failure.empty())
      failure = std::string(call.what) + " " + StateChange(before, after);
  }
  return failure;
}

// Revision 1: every exception masked for the call, and the host's state back
// with no flag pending: the masks, the rounding and precision, and MXCSR with
// its flags cleared.
bool RestoredByGuard(const FpState& before, const FpState& after) {
  return after.x87_control == before.x87_control && after.mxcsr == (before.mxcsr & ~host::kSseFlags) &&
         (after.x87_status & host::kX87Pending) == 0;
}

// Revision 2: the control words untouched, the host's pending flags kept; the
// model may add flags.
bool UntouchedByCall(const FpState& before, const FpState& after) {
  const bool controls = after.x87_control == before.x87_control &&
                        (after.mxcsr & ~host::kSseFlags) == (before.mxcsr & ~host::kSseFlags);
  const bool x87_kept = (after.x87_status & before.x87_status & host::kX87Flags) ==
                        (before.x87_status & host::kX87Flags);
  const bool sse_kept = (after.mxcsr & before.mxcsr & host::kSseFlags) == (before.mxcsr & host::kSseFlags);
  return controls && x87_kept && sse_kept;
}

// A revision-2 host that masks everything, rounds toward zero and has flags
// pending.
void EnterMaskedTowardZeroWithFlags() {
  host::WriteFpControl(0x0F7F, 0x1F80 | 0x6000);
  host::RaiseFlagsMasked();
}

bool Restored(const FpCall&, const FpState& before, const FpState& after) {
  return RestoredByGuard(before, after);
}

Verdict CheckFpState(Context& c) {
  if (c.revision == 0) return Fail("revision unknown, state not judged");
  if (c.revision == 1) {
    std::string failure = FpRun(c, host::UnmaskAllRoundTowardZero, Restored);
    if (failure.empty())
      failure = FpRun(c, [] {
        host::ResetFpState();
        host::RaiseFlagsMasked();
      }, Restored);
    if (!failure.empty()) return Fail(failure);
    return Pass("after every call from an unmasked host: the host's masks and rounding back, no flag pending");
  }
  const std::string failure =
      FpRun(c, EnterMaskedTowardZeroWithFlags, [](const FpCall& call, const FpState& before, const FpState& after) {
        return UntouchedByCall(before, after) && (call.mode == kCalculate || after.mxcsr == before.mxcsr);
      });
  if (!failure.empty()) return Fail(failure);
  return Pass("after every call: the host's masks, rounding and pending flags untouched");
}

Verdict CheckFpPending(Context& c) {
  if (c.revision != 1)
    return Skip(c.revision == 2 ? "revision 2 leaves the floating-point state to the host"
                                : "revision unknown");
  const std::string failure = FpRun(c, host::EnterWithPendingX87Exception, Restored);
  if (!failure.empty()) return Fail(failure);
  return Pass("entered with an unmasked x87 exception pending: no trap, the host's masks back, nothing pending");
}

#if defined(_WIN32) && defined(__i386__)
// The DLL's own entry, which the loader calls with every notification.
const void* DllEntry(const LoadedPlugin& plugin) {
  const auto* base = static_cast<const unsigned char*>(
      host::PluginLibrary::ModuleOf(reinterpret_cast<const void*>(plugin.library.entry())));
  if (base == nullptr) return nullptr;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return base + nt->OptionalHeader.AddressOfEntryPoint;
}
#endif

Verdict CheckMisalignedStack(Context& c) {
  if (!host::kCanMisalignStack)
    return Skip("a 64-bit build: the calling convention keeps the stack 16-byte aligned");
  const EntryPointFn entry = c.plugin.library.entry();
  const host::ModesOutcome aligned = host::CallEveryMode(entry, c.signature, 0);
  for (unsigned offset : {4u, 8u, 12u}) {
    const host::ModesOutcome got = host::CallEveryMode(entry, c.signature, offset);
    if (!(got == aligned))
      return Fail("with the stack at " + std::to_string(offset) +
                  " mod 16 the calls answered or wrote other than from an aligned stack");
  }
  std::string also;
#if defined(_WIN32) && defined(__i386__)
  const void* dll_entry = DllEntry(c.plugin);
  const void* module = host::PluginLibrary::ModuleOf(reinterpret_cast<const void*>(entry));
  for (unsigned offset : {0u, 4u, 8u, 12u})
    for (std::uint32_t reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
      const std::int32_t answer = host::CallWithStackAt(
          offset, dll_entry, std::uint32_t(reinterpret_cast<std::uintptr_t>(module)),
          reinterpret_cast<const void*>(std::uintptr_t(reason)), nullptr);
      if (answer != TRUE)
        return Fail("the DLL's entry answered " + std::to_string(answer) + " at thread " +
                    (reason == DLL_THREAD_ATTACH ? "attach" : "detach") + " with the stack at " +
                    std::to_string(offset) + " mod 16");
    }
  also = "; the DLL's entry at thread attach and detach too";
#endif
  return Pass("every mode with the stack at 4, 8 and 12 mod 16 as from an aligned stack" + also);
}

// Doubles from the edges of the range: subnormals, the smallest normal, the
// largest finite, infinities, NaNs with payloads (quiet and signalling),
// zeros of both signs.
std::vector<double> EdgeValues() {
  std::vector<double> values = {0x1p-1074, -0x1p-1074, 0x1.fffffffffffffp-1023, DBL_MIN, DBL_MAX,
                                -DBL_MAX, std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(), 0.0, -0.0, 1.0};
  for (std::uint64_t bits : {0x7FF8000000000123ull, 0xFFF80000DEADBEEFull, 0x7FF0000000000001ull})
    values.push_back(std::bit_cast<double>(bits));
  return values;
}

Verdict CheckEdgeValues(Context& c) {
  if (c.revision == 0) return Fail("revision unknown, state not judged");
  const std::vector<double> edges = EdgeValues();
  HostBlock block(c.signature);
  CallOn(c, block, kInit);
  void* instance = block.record().InstanceSlot;
  const std::size_t steps = 3 * edges.size();
  std::string failure;
  for (std::size_t step = 0; step < steps && failure.empty(); ++step) {
    for (std::size_t k = 0; k < block.variables(); ++k)
      if (!block.IsSignal(k)) block.Set(k, edges[(step * (k + 1) + k) % edges.size()]);
    if (c.revision == 1) {
      host::UnmaskAllRoundTowardZero();
    } else {
      EnterMaskedTowardZeroWithFlags();
    }
    const FpState before = host::ReadFpState();
    const std::int32_t answer = CallOn(c, block, kCalculate);
    const FpState after = host::ReadFpState();
    host::ResetFpState();
    const std::string at = "step " + std::to_string(step + 1) + ": ";
    if (answer != kDone) failure = at + "Calculate answered " + std::to_string(answer);
    else if (block.record().InstanceSlot != instance) failure = at + "Calculate changed InstanceSlot";
    else if (!block.SignalsIntact()) failure = at + "a signal byte changed";
    else if (!block.GuardsIntact()) failure = at + "a byte outside the variables or the record's fields changed";
    else if (c.revision == 1 ? !RestoredByGuard(before, after) : !UntouchedByCall(before, after))
      failure = at + StateChange(before, after);
  }
  if (block.record().InstanceSlot != nullptr) CallOn(c, block, kCleanup);
  if (!failure.empty()) return Fail(failure);
  return Pass(std::to_string(steps) + " Calculates on subnormals, extremes, infinities and NaN payloads: Done, only " +
              "doubles written, " + (c.revision == 1 ? "the host's unmasked state back" : "the host's state kept"));
}

// Inputs of block `b` in round `round`: ordinary values that differ between
// blocks and rounds.
void SetRoundInputs(HostBlock& block, std::size_t b, int round) {
  for (std::size_t k = 0; k < block.variables(); ++k)
    if (!block.IsSignal(k)) block.Set(k, 1.0 + 0.375 * double(k) + 0.125 * double(b * (k + 1)) - 0.0625 * round);
}

Verdict CheckThreads(Context& c) {
  constexpr unsigned kThreads = 4;
  constexpr std::size_t kBlocks = 32;
  constexpr int kRounds = 8;
  std::vector<std::unique_ptr<HostBlock>> alone, shared;
  for (std::size_t b = 0; b < kBlocks; ++b) {
    alone.push_back(std::make_unique<HostBlock>(c.signature));
    shared.push_back(std::make_unique<HostBlock>(c.signature));
    CallOn(c, *alone[b], kInit);
    CallOn(c, *shared[b], kInit);
    if (alone[b]->record().InstanceSlot == nullptr || shared[b]->record().InstanceSlot == nullptr)
      return Fail("Init left no instance");
  }
  const EntryPointFn entry = c.plugin.library.entry();
  std::string failure;
  for (int round = 0; round < kRounds && failure.empty(); ++round) {
    for (std::size_t b = 0; b < kBlocks; ++b) {
      alone[b]->Use(round % 2);
      shared[b]->Use(round % 2);
      SetRoundInputs(*alone[b], b, round);
      SetRoundInputs(*shared[b], b, round);
      CallOn(c, *alone[b], kCalculate);
    }
    // Every block on one thread at a time, but on another thread each round.
    host::RunOnThreads(kThreads, [&](unsigned thread) {
      for (std::size_t b = 0; b < kBlocks; ++b)
        if ((b + std::size_t(round)) % kThreads == thread) entry(kCalculate, &shared[b]->record(), nullptr);
    });
    for (std::size_t b = 0; b < kBlocks && failure.empty(); ++b)
      if (shared[b]->StorageBytes(0) != alone[b]->StorageBytes(0) ||
          shared[b]->StorageBytes(1) != alone[b]->StorageBytes(1) || !shared[b]->GuardsIntact())
        failure = "round " + std::to_string(round + 1) + ", block " + std::to_string(b + 1) +
                  ": the storage differs from the same calls on one thread";
  }
  for (std::size_t b = 0; b < kBlocks; ++b) {
    CallOn(c, *alone[b], kCleanup);
    CallOn(c, *shared[b], kCleanup);
  }
  if (!failure.empty()) return Fail(failure);
  return Pass(std::to_string(kBlocks) + " blocks on " + std::to_string(kThreads) + " threads for " +
              std::to_string(kRounds) + " rounds: the one-thread results");
}

Verdict CheckLoadCycles(Context& c) {
  const host::ServiceCalls first = c.plugin.binding;
  const bool complete = BindingComplete(c.plugin);
  constexpr int kLoads = 3;
  for (int load = 1; load <= kLoads; ++load) {
    c.plugin.library.Close();
    const std::string at = "load " + std::to_string(load + 1) + ": ";
    if (!Reload(c.plugin)) return Fail(at + "cannot be loaded: " + host::PluginLibrary::LastError());
    if (c.plugin.library.entry() == nullptr) return Fail(at + "no entry point");
    const host::ServiceCalls& now = c.plugin.binding;
    if (now.huge != first.huge || now.incompatible != first.incompatible || BindingComplete(c.plugin) != complete)
      return Fail(at + DescribeBinding(c.plugin) + " (the first load: " + std::to_string(first.huge) +
                  " huge value fetches, " + std::to_string(first.incompatible) + " incompatibility reports)");
    HostBlock block(c.signature);
    FillDoubles(block, 5.0);
    if (std::string failure = Lifecycle(c, block); !failure.empty()) return Fail(at + failure);
  }
  return Pass(std::to_string(kLoads) + " more loads and unloads, each binding afresh: " +
              DescribeBinding(c.plugin));
}

// The reference run of a plug-in NAME.ext in the folder: NAME.input.csv and
// NAME.csv, or the same without a trailing _r<digits> (one reference for
// every revision of a model).
std::optional<std::pair<std::string, std::string>> FindReference(const std::string& folder,
                                                                  const std::string& plugin) {
  namespace fs = std::filesystem;
  std::string stem = fs::path(plugin).stem().string();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const fs::path inputs = fs::path(folder) / (stem + ".input.csv");
    const fs::path expected = fs::path(folder) / (stem + ".csv");
    std::error_code error;
    if (fs::exists(inputs, error) && fs::exists(expected, error)) return std::pair{inputs.string(), expected.string()};
    const std::size_t cut = stem.rfind("_r");
    if (cut == std::string::npos || cut + 2 == stem.size() ||
        stem.find_first_not_of("0123456789", cut + 2) != std::string::npos)
      break;
    stem.erase(cut);
  }
  return std::nullopt;
}

Verdict CheckReference(Context& c) {
  if (!c.options.references) return Skip("no --references folder given");
  const auto files = FindReference(*c.options.references, c.plugin.path);
  if (!files) return Skip("no reference run for it in " + *c.options.references);
  try {
    HostBlock block(c.signature);
    RunPlan plan;
    plan.inputs = ReadInputs(files->first, block);
    const std::vector<StepValues> got = RunSteps(c.plugin, block, plan);
    const std::vector<StepValues> expected = ReadReference(files->second, block);
    const std::string name = std::filesystem::path(files->second).filename().string();
    if (std::optional<std::string> difference = FirstDifference(block, expected, got, std::nullopt))
      return Fail(name + ": " + *difference);
    return Pass(std::to_string(got.size()) + " steps as in " + name + ", bit for bit");
  } catch (const Fatal& error) {
    return Fail(error.message);
  }
}

struct Check {
  CheckInfo info;
  bool needs_signature;
  Verdict (*run)(Context&);
};

const Check kChecks[] = {
    {{"shape", "the plug-in accepts a StructureSignature ({SS} and 0 to 64 D, or the one given)"}, true, CheckShape},
    {{"binding", "at load it fetched the huge value once, into its own memory, and reported nothing"}, false, CheckBinding},
    {{"revision", "Init sets FlagByte bit 0 (revision 2) or leaves it (revision 1), and the guard is there exactly for revision 1"}, true, CheckRevision},
    {{"unknown-modes", "modes 3, 5, 6, 7 and the extremes answer Done and change nothing"}, true, CheckUnknownModes},
    {{"check-variables", "CheckVariables accepts its own text and refuses near misses and no text, before Init, live and after Cleanup"}, true, CheckSignatureExact},
    {{"storage", "Calculate writes only doubles, at 2 mod 8, and follows a storage that moves"}, true, CheckStorage},
    {{"init-cleanup", "Init, Calculate and Cleanup three times over on one record"}, true, CheckLifecycle},
    {{"fp-state", "the floating-point state after every mode: restored with no flag pending (revision 1) or untouched (revision 2)"}, true, CheckFpState},
    {{"fp-pending", "revision 1 entered with an unmasked x87 exception pending: no trap, the host's state back"}, true, CheckFpPending},
    {{"misaligned-stack", "every mode with the stack at 4, 8 and 12 mod 16 (32-bit x86)"}, true, CheckMisalignedStack},
    {{"edge-values", "Calculate on subnormals, extremes, infinities and NaN payloads: Done, only doubles written, the state as promised"}, true, CheckEdgeValues},
    {{"threads", "blocks calculated from several threads at once, each on one thread at a time, give the one-thread results"}, true, CheckThreads},
    {{"load-cycles", "unloaded and loaded again, it binds afresh each time and works"}, true, CheckLoadCycles},
    {{"reference", "its steps agree bit for bit with a reference run (--references)"}, true, CheckReference},
};

std::string Encode(const Verdict& verdict) {
  const char tag = verdict.result == Result::kPass ? 'P' : verdict.result == Result::kFail ? 'F' : 'S';
  return tag + verdict.detail;
}

Verdict Decode(const Isolated& run) {
  if (run.crashed) return Fail(run.what);
  if (run.answer.empty()) return Fail("the check gave no answer");
  const char tag = run.answer[0];
  std::string detail = run.answer.substr(1);
  return tag == 'P' ? Pass(detail) : tag == 'S' ? Skip(detail) : Fail(detail);
}

// The plug-in files of `paths`: files as given, folders as their plug-ins.
std::vector<std::string> PluginFiles(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
#if defined(_WIN32)
  const std::string extension = ".dll";
#else
  const std::string extension = ".so";
#endif
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
      if (entry.is_regular_file(error) && entry.path().extension() == extension)
        found.push_back((fs::path(path) / entry.path().filename()).string());
    if (found.empty()) throw Fatal{kUsage, path + ": a folder with no " + extension + " files"};
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

bool Selected(const CheckOptions& options, const std::string& name) {
  auto listed = [&](const std::vector<std::string>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  return (options.only.empty() || listed(options.only)) && !listed(options.skip);
}

PluginOutcome CheckPlugin(const std::string& path, const CheckOptions& options) {
  PluginOutcome outcome;
  outcome.plugin = path;
  LoadedPlugin plugin;
  try {
    Load(plugin, path);
  } catch (const Fatal& error) {
    outcome.load_status = error.status;
    outcome.load_error = error.message;
    return outcome;
  }
  outcome.binding = DescribeBinding(plugin);
  outcome.binding_complete = BindingComplete(plugin);
  outcome.huge_value_calls = plugin.binding.huge;
  outcome.incompatible_calls = plugin.binding.incompatible;

  // The block's shape and the revision Init marks, which most checks need;
  // found once, isolated like the checks.
  const Isolated probe = RunIsolated(options.in_process, [&]() -> std::string {
    try {
      const std::string signature = ResolveSignature(plugin, options.signature);
      unsigned flag = 0;
      return signature + "\n" + std::to_string(RevisionByFlag(plugin, signature, flag));
    } catch (const Fatal& error) {
      return "!" + error.message;
    }
  });
  std::string no_signature;
  if (probe.crashed) {
    no_signature = "finding the signature " + probe.what;
  } else if (probe.answer.empty() || probe.answer[0] == '!') {
    no_signature = probe.answer.empty() ? "no signature" : probe.answer.substr(1);
  } else {
    const std::size_t newline = probe.answer.find('\n');
    outcome.signature = probe.answer.substr(0, newline);
    outcome.revision = std::atoi(probe.answer.c_str() + newline + 1);
  }

  Context context{plugin, outcome.signature, outcome.revision, options};
  for (const Check& check : kChecks) {
    if (!Selected(options, check.info.name)) continue;
    Verdict verdict;
    if (check.needs_signature && outcome.signature.empty()) {
      verdict = check.run == CheckShape ? Fail(no_signature) : Skip("no signature: " + no_signature);
    } else {
      verdict = Decode(RunIsolated(options.in_process, [&] { return Encode(check.run(context)); }));
    }
    outcome.checks.push_back({check.info.name, verdict});
    if (!options.json) PrintCheck(outcome.checks.back());
  }
  return outcome;
}

}  // namespace

std::vector<CheckInfo> ListChecks() {
  std::vector<CheckInfo> list;
  for (const Check& check : kChecks) list.push_back(check.info);
  return list;
}

int RunCheckCommand(const std::vector<std::string>& paths, const CheckOptions& options) {
  const std::vector<std::string> files = PluginFiles(paths);
  std::vector<PluginOutcome> outcomes;
  for (const std::string& file : files) {
    if (!options.json && files.size() > 1) PrintPluginHeader(file);
    outcomes.push_back(CheckPlugin(file, options));
    if (!options.json) PrintPluginSummary(outcomes.back());
  }
  if (!options.json && files.size() > 1) PrintOverallSummary(outcomes);

  const std::string json = JsonReport(outcomes);
  if (options.json) std::fputs(json.c_str(), stdout);
  if (options.json_file) {
    std::ofstream file(*options.json_file, std::ios::binary);
    file << json;
    if (!file) throw Fatal{kUsage, *options.json_file + ": cannot be written"};
  }

  int status = kOk;
  for (const PluginOutcome& outcome : outcomes) {
    if (outcome.load_status != 0) return outcome.load_status;
    if (!outcome.Passed()) status = kCheckFailed;
  }
  return status;
}

}  // namespace vexb::blockhost
