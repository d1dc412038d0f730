// The entry point of every deliverable, driven through the loaded library.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "nothrow_new.h"
#include "plugin_fixture.h"

namespace vexb::test {
namespace {

using EntryPoint = PluginTest;

std::vector<unsigned char> RecordBytes(TestBlock& b) {
  auto* at = reinterpret_cast<unsigned char*>(&b.record());
  return {at, at + TestBlock::kRecordBytes};
}

TEST_P(EntryPoint, UnknownModesAnswerDoneAndTouchNothing) {
  ASSERT_EQ(Call(kInit), kDone);
  for (int k = 2; k < int(block_->variables()); ++k) block_->Set(k, k * 1.5);
  const std::vector<unsigned char> record = RecordBytes(*block_);
  const std::vector<unsigned char> storage(block_->storage(), block_->storage() + 2 + 8 * block_->doubles());
  for (std::uint32_t mode : {3u, 5u, 6u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Call(mode, block_.get()), kDone);
    EXPECT_EQ(RecordBytes(*block_), record);
    EXPECT_EQ(0, std::memcmp(storage.data(), block_->storage(), storage.size()));
  }
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, CheckVariablesComparesTheWholeTextExactly) {
  const std::string own = GetParam().signature;
  std::string lower = own;
  for (char& c : lower) c = char(std::tolower(c));
  const std::string no_brace = own.substr(0, own.size() - 1);
  struct Case {
    std::string text;
    std::int32_t answer;
  };
  const Case cases[] = {
      {own, kDone},
      {own.substr(0, own.size() - 1) + "D}", kBadVariables},  // one letter more
      {own.substr(0, own.size() - 2) + "}", kBadVariables},   // one letter fewer
      {lower, kBadVariables},
      {own + " ", kBadVariables},
      {" " + own, kBadVariables},
      {no_brace, kBadVariables},  // a prefix
      {own.substr(0, 3), kBadVariables},
      {"", kBadVariables},
      {"{SSDDDDDDDDDDDDDDDDDDDDDDDD}", kBadVariables},
  };
  // Before Init, while Live and after Cleanup the answers are the same.
  for (int phase = 0; phase < 3; ++phase) {
    SCOPED_TRACE(phase);
    if (phase == 1) {
      ASSERT_EQ(Call(kInit), kDone);
    }
    if (phase == 2) {
      ASSERT_EQ(Call(kCleanup), kDone);
    }
    for (const Case& c : cases) {
      std::vector<char> text(c.text.begin(), c.text.end());
      text.push_back('\0');
      EXPECT_EQ(Call(kCheckVariables, text.data()), c.answer) << '"' << c.text << '"';
    }
    EXPECT_EQ(Call(kCheckVariables, nullptr), kBadVariables);
  }
  // CheckVariables needs no record.
  std::string text = own;
  EXPECT_EQ(plugin_(kCheckVariables, nullptr, text.data()), kDone);
  EXPECT_EQ(plugin_(kCheckVariables, nullptr, nullptr), kBadVariables);
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, InitOverwritesWhateverTheSlotHeld) {
  // A fresh record's slot holds garbage: Init must neither read nor free it.
  for (std::uintptr_t garbage : {std::uintptr_t(0), std::uintptr_t(0xDEADBEE0), std::uintptr_t(1)}) {
    block_->record().InstanceSlot = reinterpret_cast<void*>(garbage);
    ASSERT_EQ(Call(kInit), kDone);
    void* instance = block_->record().InstanceSlot;
    EXPECT_NE(instance, nullptr);
    EXPECT_NE(instance, reinterpret_cast<void*>(garbage));
    ASSERT_EQ(Call(kCleanup), kDone);
  }
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, InitSetsFlagBitZeroInRevisionTwoOnly) {
  for (std::uint8_t before : {0x00, 0x80, 0xFE, 0x01}) {
    block_->record().FlagByte = before;
    ASSERT_EQ(Call(kInit), kDone);
    EXPECT_EQ(block_->record().FlagByte, revision1() ? before : std::uint8_t(before | 1));
    ASSERT_EQ(Call(kCleanup), kDone);
    EXPECT_EQ(block_->record().FlagByte, revision1() ? before : std::uint8_t(before | 1));
  }
}

TEST_P(EntryPoint, CleanupReleasesAndEmptiesTheSlot) {
  ASSERT_EQ(Call(kInit), kDone);
  ASSERT_NE(block_->record().InstanceSlot, nullptr);
  ASSERT_EQ(Call(kCleanup), kDone);
  EXPECT_EQ(block_->record().InstanceSlot, nullptr);
  // A repeated Cleanup, or a Calculate after Cleanup, does nothing.
  block_->Set(5, 42.0);
  const std::vector<unsigned char> record = RecordBytes(*block_);
  EXPECT_EQ(Call(kCleanup), kDone);
  EXPECT_EQ(Call(kCalculate), kDone);
  EXPECT_EQ(RecordBytes(*block_), record);
  EXPECT_EQ(Bits(block_->Get(5)), Bits(42.0));
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, InitWithoutMemoryLeavesAnEmptyBlock) {
#if defined(_WIN32)
  GTEST_SKIP() << "a DLL allocates from its own runtime; the host cannot fail it here";
#endif
  block_->record().FlagByte = 0x80;
  block_->record().InstanceSlot = reinterpret_cast<void*>(std::uintptr_t(0xDEADBEE0));
  const int calls = g_nothrow_new_calls;
  g_fail_nothrow_new = true;
  const std::int32_t answer = Call(kInit);
  g_fail_nothrow_new = false;
  EXPECT_EQ(answer, kDone);
  EXPECT_EQ(g_nothrow_new_calls, calls + 1) << "Init allocates through the non-throwing new";
  EXPECT_EQ(block_->record().InstanceSlot, nullptr);
  EXPECT_EQ(block_->record().FlagByte, revision1() ? 0x80 : 0x81);

  for (int k = 2; k < int(block_->variables()); ++k) block_->Set(k, 3.0 * k);
  const std::vector<unsigned char> record = RecordBytes(*block_);
  const std::vector<unsigned char> storage(block_->storage(), block_->storage() + 2 + 8 * block_->doubles());
  EXPECT_EQ(Call(kCalculate), kDone);
  EXPECT_EQ(Call(kCleanup), kDone);
  EXPECT_EQ(RecordBytes(*block_), record);
  EXPECT_EQ(0, std::memcmp(storage.data(), block_->storage(), storage.size()));
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, NullRecordIsHarmless) {
  for (std::uint32_t mode : {0u, 1u, 2u, 3u, 0xFFFFFFFFu})
    EXPECT_EQ(plugin_(mode, nullptr, nullptr), kDone) << mode;
}

// Fills every double with a distinct value, runs Calculate and answers which
// doubles changed.
std::vector<std::size_t> ChangedDoubles(TestBlock& b, int copy) {
  std::vector<std::size_t> changed;
  for (std::size_t k = 2; k < b.variables(); ++k)
    if (Bits(b.Get(k, copy)) != Bits(100.0 + double(k))) changed.push_back(k);
  return changed;
}

TEST_P(EntryPoint, CalculateFollowsTheStorageAndTouchesOnlyItsDoubles) {
  ASSERT_EQ(Call(kInit), kDone);
  void* instance = block_->record().InstanceSlot;
  for (int copy = 0; copy < 2; ++copy)
    for (std::size_t k = 2; k < block_->variables(); ++k) block_->Set(k, 100.0 + double(k), copy);

  // Calculate on storage 0 writes storage 0 only; then on storage 1 only.
  block_->Use(0);
  ASSERT_EQ(Call(kCalculate), kDone);
  EXPECT_FALSE(ChangedDoubles(*block_, 0).empty());
  EXPECT_TRUE(ChangedDoubles(*block_, 1).empty());
  const std::vector<unsigned char> after0(block_->storage(0), block_->storage(0) + 2 + 8 * block_->doubles());

  block_->Use(1);
  ASSERT_EQ(Call(kCalculate), kDone);
  EXPECT_EQ(ChangedDoubles(*block_, 1), ChangedDoubles(*block_, 0));
  EXPECT_EQ(0, std::memcmp(after0.data(), block_->storage(0), after0.size()));
  EXPECT_EQ(0, std::memcmp(block_->storage(0), block_->storage(1), after0.size()))
      << "the same inputs give the same bytes at another address";

  EXPECT_EQ(block_->record().InstanceSlot, instance);
  EXPECT_EQ(block_->Signal(0), 0x5A);
  EXPECT_EQ(block_->Signal(1), 0xC3);
  EXPECT_TRUE(block_->GuardsIntact());
}

// The host's byte offsets of the three fields, written as the host writes
// them: 0, 4 and 23 in a 32-bit process, 0, 8 and 23 in a 64-bit test build.
TEST_P(EntryPoint, ReadsAndWritesTheRecordAtTheHostsByteOffsets) {
  constexpr std::size_t kStorageAt = 0;
  constexpr std::size_t kSlotAt = sizeof(void*) == 4 ? 4 : 8;
  constexpr std::size_t kFlagAt = 23;
  auto* bytes = reinterpret_cast<unsigned char*>(&block_->record());
  auto read_pointer = [&](std::size_t at) {
    void* p;
    std::memcpy(&p, bytes + at, sizeof p);
    return p;
  };
  auto write_pointer = [&](std::size_t at, const void* p) { std::memcpy(bytes + at, &p, sizeof p); };

  write_pointer(kSlotAt, reinterpret_cast<void*>(std::uintptr_t(0xDEADBEE0)));
  bytes[kFlagAt] = 0x80;
  ASSERT_EQ(Call(kInit), kDone);
  void* instance = read_pointer(kSlotAt);
  EXPECT_NE(instance, nullptr);
  EXPECT_NE(instance, reinterpret_cast<void*>(std::uintptr_t(0xDEADBEE0)));
  EXPECT_EQ(bytes[kFlagAt], revision1() ? 0x80 : 0x81);

  // Calculate finds the storage through the pointer at byte 0.
  for (int copy = 0; copy < 2; ++copy)
    for (std::size_t k = 2; k < block_->variables(); ++k) block_->Set(k, 100.0 + double(k), copy);
  write_pointer(kStorageAt, block_->storage(1));
  ASSERT_EQ(Call(kCalculate), kDone);
  EXPECT_TRUE(ChangedDoubles(*block_, 0).empty());
  EXPECT_FALSE(ChangedDoubles(*block_, 1).empty());
  EXPECT_EQ(read_pointer(kSlotAt), instance);

  ASSERT_EQ(Call(kCleanup), kDone);
  EXPECT_EQ(read_pointer(kSlotAt), nullptr);
  EXPECT_EQ(read_pointer(kStorageAt), block_->storage(1));
  EXPECT_TRUE(block_->GuardsIntact());
}

TEST_P(EntryPoint, ManyBlocksLiveAtOnceAndReleasedAgain) {
  // Every Init allocates one instance of its own and every Cleanup releases
  // it: run under a leak checker, nothing may remain.
  std::vector<std::unique_ptr<TestBlock>> blocks;
  for (int n = 0; n < 200; ++n) blocks.push_back(std::make_unique<TestBlock>(block_->doubles()));
  for (int pass = 0; pass < 3; ++pass) {
    std::set<void*> instances;
    for (auto& b : blocks) {
      ASSERT_EQ(plugin_(kInit, &b->record()), kDone);
      instances.insert(b->record().InstanceSlot);
    }
    EXPECT_EQ(instances.size(), blocks.size()) << "one instance per block";
    EXPECT_EQ(instances.count(nullptr), 0u);
    for (auto& b : blocks) {
      b->Use(pass % 2);
      ASSERT_EQ(plugin_(kCalculate, &b->record()), kDone);
      ASSERT_EQ(plugin_(kCleanup, &b->record()), kDone);
      EXPECT_EQ(b->record().InstanceSlot, nullptr);
    }
  }
  for (auto& b : blocks) EXPECT_TRUE(b->GuardsIntact());
}

VEXB_FOR_EVERY_DELIVERABLE(EntryPoint);

TEST(Deliverables, TenWithTheirRevisionsAndSignatures) {
  struct Row {
    const char* name;
    int revision;
    const char* signature;
  };
  const Row expected[] = {
      {"pairsplit_r1", 1, "{SSDDDDDDDDD}"}, {"pairsplit_r2", 2, "{SSDDDDDDDDD}"},
      {"priorityfill_r1", 1, "{SSDDDDDDD}"}, {"priorityfill_r2", 2, "{SSDDDDDDD}"},
      {"remainder_r2", 2, "{SSDDDD}"},       {"balance_r2", 2, "{SSDDDD}"},
      {"scaled_r1", 1, "{SSDDDDD}"},         {"scaled_r2", 2, "{SSDDDDD}"},
      {"netshare_r1", 1, "{SSDDDDDD}"},      {"netshare_r2", 2, "{SSDDDDDD}"},
  };
  ASSERT_EQ(std::size(kDeliverables), std::size(expected));
  for (const Row& row : expected) {
    const Deliverable& d = FindDeliverable(row.name);
    EXPECT_EQ(d.revision, row.revision) << row.name;
    EXPECT_STREQ(d.signature, row.signature) << row.name;
    // The signature the build recorded is the one the library answers to.
    PluginLibrary plugin(PluginPath(d.file));
    ASSERT_TRUE(plugin.loaded()) << row.name;
    std::string text = row.signature;
    EXPECT_EQ(plugin(kCheckVariables, nullptr, text.data()), kDone) << row.name;
  }
}

}  // namespace
}  // namespace vexb::test
