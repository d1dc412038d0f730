// Differential fuzzing of the deliverables, loaded as a host loads them.
//
// An input is read as a program: its first byte picks one of the deliverables,
// the second how many blocks (one to three), and every following step is an
// operation byte with its arguments. The operations are the host's: Init,
// Cleanup, Calculate, CheckVariables with the own signature, near misses or
// any text, modes that do nothing (3, 5, 0xFFFFFFFF, any other), writing
// doubles from the whole binary64 range into the storage, moving the storage,
// changing the signals. The fuzzer keeps its own copy of what each storage
// must hold and, after every call, compares both storages of the block with
// it bit for bit (any NaN matching any NaN), checks the guard bytes around the
// storages and the record, and the record's three fields.
//
// The expected values come from the reference below, written from the model
// formulas on plain doubles and sharing no code with the plug-ins.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "deliverables.h"
#include "host/host_services.h"
#include "plugin_library.h"
#include "test_block.h"

namespace {

// Where the host puts Vk: two signal bytes, then the doubles without gaps.
constexpr std::size_t OffsetOf(std::size_t k) { return k < 2 ? k : 2 + 8 * (k - 2); }

using vexb::BlockRecord;
using namespace vexb::test;

// ---- Reference models: v[k] is Vk; every step rounded to double. ----------

void RefRemainder(double* v) {
  const double t = v[2] - v[3];
  v[5] = t - v[4];
}

void RefBalance(double* v) {
  const double t = v[3] - v[4];
  v[5] = v[2] + t;
}

void RefScaled(double* v) { v[5] = v[6] * v[3]; }

void RefNetShare(double* v) {
  const double t1 = 1.0 - v[6];
  const double t2 = t1 - v[7];
  const double t3 = v[2] * t2;
  const double t4 = t3 - v[3];
  v[5] = t4 - v[4];
}

// Channels (amount, total, portion, result): (V2, V3, V6, V9), (V4, V5, V7, V10).
void RefPairSplit(double* v) {
  v[9] = v[6];
  v[10] = v[7];
  if (v[6] > v[3]) v[6] = v[3];
  if (v[7] > v[5]) v[7] = v[5];
  const bool divide_first = !(v[3] <= 0.0);  // NaN totals are divided by
  const bool divide_second = !(v[5] <= 0.0);
  if (divide_first) v[9] = v[6] * v[2] / v[3];
  if (divide_second) v[10] = v[7] * v[4] / v[5];
  v[8] = v[10] + v[9];
}

// Demand V6 into share V7 (limit V4) and share V8 (limit V5).
void RefPriorityFill(double* v) {
  v[7] = 0.0;
  v[8] = 0.0;
  const double p = v[2] * v[5];
  const double q = v[3] * v[4];
  double* first = &v[7];
  double* second = &v[8];
  double first_limit = v[4];
  double second_limit = v[5];
  if (q > p) {
    first = &v[8];
    second = &v[7];
    first_limit = v[5];
    second_limit = v[4];
  }
  if (first_limit >= v[6]) {
    *first = v[6];
    return;
  }
  *first = first_limit;
  const double rest = v[6] - *first;
  *second = second_limit >= rest ? rest : second_limit;
}

struct ModelRef {
  const char* prefix;  // deliverable name up to '_'
  void (*evaluate)(double* v);
};
constexpr ModelRef kReferences[] = {
    {"remainder", RefRemainder}, {"balance", RefBalance},       {"scaled", RefScaled},
    {"netshare", RefNetShare},   {"pairsplit", RefPairSplit}, {"priorityfill", RefPriorityFill},
};

// ---- The loaded deliverables ------------------------------------------------

struct Target {
  const Deliverable* deliverable;
  void (*reference)(double* v);
  std::unique_ptr<PluginLibrary> plugin;
  std::size_t doubles;
};

std::vector<Target> g_targets;

[[noreturn]] void Fail(const char* what, const Target& t, int step) {
  std::fprintf(stderr, "FINDING in %s at step %d: %s\n", t.deliverable->name, step, what);
  std::abort();
}

// The input, read from the front; past its end every read gives 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
  bool empty() const { return at_ == end_; }
  std::uint8_t Byte() { return at_ != end_ ? *at_++ : 0; }
  std::uint64_t Bytes(int n) {
    std::uint64_t value = 0;
    for (int i = 0; i < n; ++i) value |= std::uint64_t(Byte()) << (8 * i);
    return value;
  }

 private:
  const std::uint8_t* at_;
  const std::uint8_t* end_;
};

// A double from anywhere in the binary64 range, edges weighted up. `other(n)`
// is the value of some variable of the block, chosen by n.
template <class Other>
double Pattern(Input& in, Other other) {
  static const std::uint64_t kEdges[] = {
      0x0000000000000000, 0x8000000000000000,  // +0, -0
      0x7FF0000000000000, 0xFFF0000000000000,  // +inf, -inf
      0x7FF8000000000000, 0xFFF8000000000000,  // quiet NaNs
      0x7FF0000000000001, 0x7FF4DEADBEEF0001,  // signalling NaNs with payloads
      0x7FFFFFFFFFFFFFFF, 0xFFF8000000C0FFEE,  // quiet NaNs with payloads
      0x0000000000000001, 0x800FFFFFFFFFFFFF,  // smallest and largest subnormals
      0x0010000000000000, 0x7FEFFFFFFFFFFFFF,  // smallest normal, largest finite
      0xFFEFFFFFFFFFFFFF, 0x3FF0000000000000,  // -largest finite, 1
      0xBFF0000000000000, 0x3FF0000000000001,  // -1, 1 + ulp
      0x3FE6666666666666, 0x3FD3333333333333,  // 0.7, 0.3
      0x7FE1CCF385EBC8A0, 0x3C90000000000000,  // 1e308, 2^-54
  };
  const std::uint8_t kind = in.Byte();
  switch (kind % 8) {
    case 0:
      return FromBits(in.Bytes(8));
    case 1:
      return FromBits(kEdges[in.Byte() % std::size(kEdges)]);
    case 2: {  // a NaN with any payload and sign
      const std::uint64_t payload = in.Bytes(7) & 0x000FFFFFFFFFFFFF;
      return FromBits(0x7FF0000000000000 | (payload != 0 ? payload : 1) |
                      (std::uint64_t(kind & 0x80) << 56));
    }
    case 3:  // a subnormal or zero
      return FromBits(in.Bytes(8) & 0x800FFFFFFFFFFFFF);
    case 4:  // near the largest finite values
      return FromBits(0x7FE0000000000000 | (in.Bytes(8) & 0x800FFFFFFFFFFFFF));
    case 5:
      return double(std::int8_t(in.Byte()));
    case 6: {  // a small quotient: near ties between variables
      const int numerator = std::int8_t(in.Byte());
      return double(numerator) / double(1 + (in.Byte() & 15));
    }
    default:  // another variable's value, or its negation: exact ties, -0 against +0
      return FromBits(Bits(other(in.Byte())) ^ (std::uint64_t(kind & 0x80) << 56));
  }
}

// A block as the fuzzer keeps it: the host's block and what its two storages
// must hold.
struct Shadow {
  explicit Shadow(std::size_t doubles) : block(doubles) {
    for (int copy = 0; copy < 2; ++copy)
      expect[copy].assign(block.storage(copy), block.storage(copy) + 2 + 8 * doubles);
  }
  TestBlock block;
  std::vector<unsigned char> expect[2];
  int current = 0;
  bool live = false;  // an instance of ours is in the slot
  std::uint8_t flag = 0;
  void* instance = nullptr;

  void SetExpected(int copy, std::size_t k, double value) {
    std::memcpy(expect[copy].data() + OffsetOf(k), &value, sizeof value);
  }
  double Expected(int copy, std::size_t k) const {
    double value;
    std::memcpy(&value, expect[copy].data() + OffsetOf(k), sizeof value);
    return value;
  }
  // Picks a double of storage `copy` by a number.
  auto Variable(int copy, std::size_t doubles) const {
    return [this, copy, doubles](std::uint8_t n) { return Expected(copy, 2 + n % doubles); };
  }
};

// Everything the plug-in may not have changed, and everything it must have.
void Verify(const Target& t, Shadow& s, int step) {
  BlockRecord& r = s.block.record();
  if (r.StorageBase != s.block.storage(s.current)) Fail("StorageBase written", t, step);
  if (r.InstanceSlot != (s.live ? s.instance : nullptr)) Fail("InstanceSlot changed", t, step);
  if (r.FlagByte != s.flag) Fail("FlagByte changed", t, step);
  if (!s.block.GuardsIntact()) Fail("guard bytes or reserved record bytes written", t, step);
  for (int copy = 0; copy < 2; ++copy) {
    const unsigned char* got = s.block.storage(copy);
    if (got[0] != s.expect[copy][0] || got[1] != s.expect[copy][1]) Fail("signal written", t, step);
    for (std::size_t k = 2; k < 2 + t.doubles; ++k)
      if (!SameDouble(TestBlock::Read(got + OffsetOf(k)), s.Expected(copy, k))) {
        std::fprintf(stderr, "storage %d V%zu: got %a (0x%016llx), want %a (0x%016llx)\n", copy, k,
                     TestBlock::Read(got + OffsetOf(k)),
                     (unsigned long long)Bits(TestBlock::Read(got + OffsetOf(k))),
                     s.Expected(copy, k), (unsigned long long)Bits(s.Expected(copy, k)));
        Fail("a double differs from the reference", t, step);
      }
  }
}

// A CheckVariables text: the own signature, a near miss or anything.
std::string CheckText(const Target& t, Input& in, bool& null) {
  const std::string own = t.deliverable->signature;
  const std::uint8_t kind = in.Byte();
  null = kind % 7 == 1;
  std::string text = own;
  switch (kind % 7) {
    case 2:  // one byte changed, possibly into the same byte
      text[in.Byte() % text.size()] = char(in.Byte());
      break;
    case 3:  // a prefix
      text.resize(in.Byte() % text.size());
      break;
    case 4:  // a longer text
      text.push_back(char(in.Byte() | 1));
      break;
    case 5:  // anything
      text.clear();
      for (int n = in.Byte() % 24; n > 0; --n) text.push_back(char(in.Byte()));
      break;
    case 6:  // another deliverable's signature
      text = g_targets[in.Byte() % g_targets.size()].deliverable->signature;
      break;
  }
  return text;
}

void Run(const Target& t, Input& in) {
  const auto call = [&](std::uint32_t mode, BlockRecord* record, void* extra) {
    return (*t.plugin)(mode, record, extra);
  };
  std::vector<std::unique_ptr<Shadow>> blocks;
  for (int n = 1 + in.Byte() % 3; n > 0; --n) blocks.push_back(std::make_unique<Shadow>(t.doubles));

  for (int step = 0; step < 1000 && !in.empty(); ++step) {
    const std::uint8_t op = in.Byte();
    Shadow& s = *blocks[(op >> 4) % blocks.size()];
    BlockRecord& record = s.block.record();
    switch (op & 15) {
      case 0: {  // Init, into a slot that holds anything
        if (s.live && call(vexb::kCleanup, &record, nullptr) != vexb::kDone)
          Fail("Cleanup answered", t, step);
        record.InstanceSlot = reinterpret_cast<void*>(std::uintptr_t(in.Bytes(8)));
        record.FlagByte = s.flag = in.Byte();
        if (call(vexb::kInit, &record, reinterpret_cast<void*>(std::uintptr_t(in.Bytes(8)))) !=
            vexb::kDone)
          Fail("Init answered", t, step);
        if (t.deliverable->revision == 2) s.flag |= 1;
        s.instance = record.InstanceSlot;
        s.live = true;
        if (s.instance == nullptr) Fail("Init made no instance", t, step);
        break;
      }
      case 1:  // Cleanup, of a live block or of an empty one
        if (call(vexb::kCleanup, &record, nullptr) != vexb::kDone) Fail("Cleanup answered", t, step);
        s.live = false;
        break;
      case 2: {  // CheckVariables, with or without a record
        bool null = false;
        std::string text = CheckText(t, in, null);
        const bool with_record = in.Byte() & 1;
        const std::int32_t want =
            !null && std::strcmp(text.c_str(), t.deliverable->signature) == 0 ? vexb::kDone
                                                                             : vexb::kBadVariables;
        // Exactly as long as the text: a read past its NUL meets ASan's redzone.
        std::vector<char> exact(text.c_str(), text.c_str() + std::strlen(text.c_str()) + 1);
        if (call(vexb::kCheckVariables, with_record ? &record : nullptr,
                 null ? nullptr : exact.data()) != want)
          Fail("CheckVariables answered wrongly", t, step);
        break;
      }
      case 3: {  // a mode that does nothing
        static const std::uint32_t kModes[] = {3, 5, 0xFFFFFFFF, 6, 0x80000000, 0x7FFFFFFF, 0xFFFFFFFE};
        std::uint32_t mode = kModes[in.Byte() % std::size(kModes)];
        if (in.Byte() & 1) mode = std::uint32_t(in.Bytes(4));
        if (mode <= 2 || mode == 4) mode = 3;
        std::string text = t.deliverable->signature;
        if (call(mode, &record, text.data()) != vexb::kDone) Fail("an unknown mode answered", t, step);
        break;
      }
      case 4:
      case 5:
      case 6: {  // one double, in the current storage or the other
        const std::size_t k = 2 + in.Byte() % t.doubles;
        const int copy = op & 1 ? s.current : 1 - s.current;
        const double value = Pattern(in, s.Variable(copy, t.doubles));
        s.block.Set(k, value, copy);
        s.SetExpected(copy, k, value);
        break;
      }
      case 7:  // every double of the current storage
        for (std::size_t k = 2; k < 2 + t.doubles; ++k) {
          const double value = Pattern(in, s.Variable(s.current, t.doubles));
          s.block.Set(k, value, s.current);
          s.SetExpected(s.current, k, value);
        }
        break;
      case 8: {  // the host moves the storage, with its contents or without
        const int to = 1 - s.current;
        if (in.Byte() & 1) {
          std::memcpy(s.block.storage(to), s.block.storage(s.current), s.expect[to].size());
          s.expect[to] = s.expect[s.current];
        }
        s.block.Use(to);
        s.current = to;
        break;
      }
      case 9: {  // the host changes its signals
        const unsigned char v0 = in.Byte(), v1 = in.Byte();
        s.block.SetSignal(0, v0);
        s.block.SetSignal(1, v1);
        for (auto& copy : s.expect) copy[0] = v0, copy[1] = v1;
        break;
      }
      default: {  // Calculate, with any extra pointer
        void* extra = reinterpret_cast<void*>(std::uintptr_t(in.Bytes(op & 1 ? 8 : 0)));
        if (call(vexb::kCalculate, &record, extra) != vexb::kDone) Fail("Calculate answered", t, step);
        if (s.live) {
          double v[11] = {};
          for (std::size_t k = 2; k < 2 + t.doubles; ++k) v[k] = s.Expected(s.current, k);
          t.reference(v);
          for (std::size_t k = 2; k < 2 + t.doubles; ++k) s.SetExpected(s.current, k, v[k]);
        }
        break;
      }
    }
    Verify(t, s, step);
  }
  for (auto& s : blocks)
    if (s->live) {
      (*t.plugin)(vexb::kCleanup, &s->block.record(), nullptr);
      s->live = false;
      Verify(t, *s, -1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const Deliverable& d : kDeliverables) {
    Target t{&d, nullptr, std::make_unique<PluginLibrary>(), std::strlen(d.signature) - 4};
    for (const ModelRef& ref : kReferences)
      if (std::string(d.name).rfind(std::string(ref.prefix) + "_", 0) == 0) t.reference = ref.evaluate;
    const int huge_before = vexb::host::RecordedServiceCalls().huge;
    if (t.reference == nullptr || !t.plugin->Open(PluginPath(d.file)) || t.plugin->entry() == nullptr ||
        vexb::host::RecordedServiceCalls().huge != huge_before + 1) {
      std::fprintf(stderr, "cannot use %s: %s\n", d.name, PluginLibrary::LastError().c_str());
      std::abort();
    }
    g_targets.push_back(std::move(t));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run(g_targets[in.Byte() % g_targets.size()], in);
  return 0;
}
