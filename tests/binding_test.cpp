// The binding on its own, with a look-up that records what it is asked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service_table.h"

namespace vexb::test {
namespace {

// A host that exports every name except those in `missing`. It hands out the
// address of a service cell for the two services it implements, and of a
// distinct dummy for the others.
struct FakeHost {
  FakeHost() = default;
  explicit FakeHost(std::vector<std::string> absent) : missing(std::move(absent)) {}
  std::vector<std::string> missing;
  int module_lookups = 0;
  std::vector<std::string> asked;
  void* module = reinterpret_cast<void*>(0x1000);
  void* module_seen = nullptr;

  static void* MainModule(void* context) {
    auto* host = static_cast<FakeHost*>(context);
    ++host->module_lookups;
    return host->module;
  }
  static void* FindExport(void* context, void* module, const char* name) {
    auto* host = static_cast<FakeHost*>(context);
    host->module_seen = module;
    host->asked.push_back(name);
    for (const std::string& m : host->missing)
      if (m == name) return nullptr;
    if (std::string(name) == "vexGetHugeDouble") return reinterpret_cast<void*>(&GetHugeDouble);
    if (std::string(name) == "vexIncompatibleDll") return reinterpret_cast<void*>(&IncompatibleDll);
    return &dummies[host->asked.size() % 545];
  }
  HostLookup Lookup() { return HostLookup{this, &MainModule, &FindExport}; }

  static inline int huge_calls = 0;
  static inline double* huge_target = nullptr;
  static inline int incompatible_calls = 0;
  static inline char dummies[545];
  static void VEXB_CALL GetHugeDouble(double* value) {
    ++huge_calls;
    huge_target = value;
    *value = 1.5e300;
  }
  static void VEXB_CALL IncompatibleDll() { ++incompatible_calls; }
  static void ResetCalls() {
    huge_calls = 0;
    huge_target = nullptr;
    incompatible_calls = 0;
  }
};

template <std::size_t N>
struct Table {
  static constexpr auto names = MakeNameBlock<N>();
  void* slots[N] = {};
  double huge = 0.0;
  ServiceTable table() { return ServiceTable{names.data(), N, slots, &huge}; }
};

std::vector<std::string> ExpectedNames(std::size_t n) {
  return {kServiceNames.begin(), kServiceNames.begin() + n};
}

TEST(NameBlock, HoldsTheFirstNamesInOrder) {
  constexpr auto block = MakeNameBlock<534>();
  std::vector<std::string> names;
  for (const char* at = block.data(); at < block.data() + block.size(); at += names.back().size() + 1)
    names.emplace_back(at);
  EXPECT_EQ(names, ExpectedNames(534));
  EXPECT_EQ(names.back(), "vexNetGetServerStationConnIndex");
}

template <std::size_t N>
void ExpectBinding(const std::vector<std::string>& missing) {
  SCOPED_TRACE(N);
  FakeHost host(missing);
  Table<N> t;
  FakeHost::ResetCalls();
  ServiceTable table = t.table();
  EXPECT_EQ(AttachWith(table, host.Lookup(), kProcessAttach), 1);

  // One module look-up, then every name in list order, no early stop.
  EXPECT_EQ(host.module_lookups, 1);
  EXPECT_EQ(host.module_seen, host.module);
  EXPECT_EQ(host.asked, ExpectedNames(N));
  // The slots of missing names are null, all others set.
  for (std::size_t k = 0; k < N; ++k) {
    bool absent = false;
    for (const std::string& m : missing) absent |= m == kServiceNames[k];
    EXPECT_EQ(t.slots[k] == nullptr, absent) << "row " << k + 1 << " " << kServiceNames[k];
  }

  const bool complete = missing.empty();
  bool incompatible_offered = true;
  for (const std::string& m : missing) incompatible_offered &= m != "vexIncompatibleDll";
  EXPECT_EQ(FakeHost::huge_calls, complete ? 1 : 0);
  EXPECT_EQ(FakeHost::huge_target, complete ? &t.huge : nullptr);
  EXPECT_EQ(t.huge, complete ? 1.5e300 : 0.0);
  EXPECT_EQ(FakeHost::incompatible_calls, !complete && incompatible_offered ? 1 : 0);
}

TEST(Binding, EveryNameFoundFetchesTheHugeValue) {
  ExpectBinding<534>({});
  ExpectBinding<545>({});
}

TEST(Binding, OneNameMissingReportsAnIncompatibleHost) {
  for (const char* name : {"vexServiceVersion", "vexListVarTypes", "vexNetGetServerStationConnIndex",
                           "vexGetHugeDouble"}) {
    SCOPED_TRACE(name);
    ExpectBinding<534>({name});
    ExpectBinding<545>({name});
  }
  ExpectBinding<545>({"vexShowSeeAlsoExamples"});
  ExpectBinding<545>({"vexGetBlockClass", "vexSortVarArray"});
}

TEST(Binding, WithoutTheReportServiceNothingIsCalled) {
  ExpectBinding<534>({"vexIncompatibleDll"});
  ExpectBinding<545>({"vexIncompatibleDll", "vexServiceVersion"});
}

TEST(Binding, NoNameFoundCallsNothing) {
  std::vector<std::string> all = ExpectedNames(545);
  ExpectBinding<545>(all);
}

TEST(Binding, OtherNotificationsDoNothing) {
  for (std::uint32_t reason : {0u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
    FakeHost host;
    Table<545> t;
    FakeHost::ResetCalls();
    EXPECT_EQ(AttachWith(t.table(), host.Lookup(), reason), 1);
    EXPECT_EQ(host.module_lookups, 0);
    EXPECT_TRUE(host.asked.empty());
    EXPECT_EQ(FakeHost::huge_calls + FakeHost::incompatible_calls, 0);
    for (void* slot : t.slots) EXPECT_EQ(slot, nullptr);
  }
}

TEST(Binding, BindServicesAnswersWhetherEverySlotIsSet) {
  FakeHost host({"vexServiceVersion"});
  Table<534> t;
  EXPECT_FALSE(BindServices(host.Lookup(), t.names.data(), 534, t.slots));
  EXPECT_EQ(host.asked.size(), 534u) << "the first name missing stops nothing";
  FakeHost complete;
  EXPECT_TRUE(BindServices(complete.Lookup(), t.names.data(), 534, t.slots));
  EXPECT_NE(t.slots[0], nullptr) << "a new binding writes every slot";
}

}  // namespace
}  // namespace vexb::test
