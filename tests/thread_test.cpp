// Blocks of every deliverable calculated from several threads at once, each
// block on one thread at a time, as a host may do: every result must be the
// one that the same calls give on a single thread.
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "plugin_fixture.h"

namespace vexb::test {
namespace {

constexpr int kThreads = 4;
constexpr int kBlocksPerDeliverable = 64;
constexpr int kRounds = 32;

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Input k of a block in a round: ordinary values, mostly, and now and then an
// edge of the double range.
double Input(std::uint64_t block, int round, std::size_t k) {
  const std::uint64_t r = Mix(block * 1000003 + std::uint64_t(round) * 131 + k);
  static const std::uint64_t kEdges[] = {
      0x7FF8000000000000, 0xFFF0000000000001, 0x8000000000000000, 0x7FF0000000000000,
      0xFFF0000000000000, 0x0000000000000001, 0x7FEFFFFFFFFFFFFF, 0x0010000000000000};
  if (r % 16 == 0) return FromBits(kEdges[(r >> 8) % std::size(kEdges)]);
  return double(std::int64_t(r >> 40) - (1 << 23)) / double(1 + ((r >> 4) & 0xFF));
}

struct Block {
  Block(const Deliverable& d, const PluginLibrary& p, std::uint64_t id)
      : plugin(&p), signature(d.signature), id(id), storage(DoublesOf(d)),
        results(kRounds) {}
  const PluginLibrary* plugin;
  std::string signature;
  std::uint64_t id;
  TestBlock storage;
  std::vector<std::vector<unsigned char>> results;  // storage after each round
  bool guards_intact = true;
  std::int32_t check_answer = -1;
};

// One round of one block: Init at the first, a storage that moves every other
// round, new inputs, Calculate, and Cleanup after the last.
void RunRound(Block& b, int round) {
  const PluginLibrary& call = *b.plugin;
  TestBlock& s = b.storage;
  if (round == 0) {
    call(kInit, &s.record());
    b.check_answer = call(kCheckVariables, &s.record(), b.signature.data());
  }
  s.Use(round % 2);
  for (std::size_t k = 2; k < s.variables(); ++k) s.Set(k, Input(b.id, round, k));
  call(kCalculate, &s.record());
  b.results[round].assign(s.storage(), s.storage() + 2 + 8 * s.doubles());
  if (round == kRounds - 1) {
    call(kCleanup, &s.record());
    b.guards_intact = s.GuardsIntact();
  }
}

std::vector<std::unique_ptr<Block>> MakeBlocks(const std::vector<std::unique_ptr<PluginLibrary>>& plugins) {
  std::vector<std::unique_ptr<Block>> blocks;
  for (int n = 0; n < kBlocksPerDeliverable; ++n)
    for (std::size_t d = 0; d < std::size(kDeliverables); ++d)
      blocks.push_back(std::make_unique<Block>(kDeliverables[d], *plugins[d], blocks.size()));
  return blocks;
}

TEST(Threads, ManyBlocksOnManyThreadsMatchOneThread) {
  std::vector<std::unique_ptr<PluginLibrary>> plugins;
  for (const Deliverable& d : kDeliverables) {
    plugins.push_back(std::make_unique<PluginLibrary>(PluginPath(d.file)));
    ASSERT_TRUE(plugins.back()->loaded()) << d.name << ": " << PluginLibrary::LastError();
  }

  std::vector<std::unique_ptr<Block>> alone = MakeBlocks(plugins);
  for (auto& b : alone)
    for (int round = 0; round < kRounds; ++round) RunRound(*b, round);

  // In round r, thread t calculates the blocks n with (n + r) % kThreads == t:
  // every block passes from thread to thread, one round apart, and the
  // threads call every deliverable at the same time.
  std::vector<std::unique_ptr<Block>> shared = MakeBlocks(plugins);
  std::barrier round_done(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t n = 0; n < shared.size(); ++n)
          if ((n + std::size_t(round)) % kThreads == std::size_t(t)) RunRound(*shared[n], round);
        round_done.arrive_and_wait();
      }
    });
  for (std::thread& thread : threads) thread.join();

  for (std::size_t n = 0; n < shared.size(); ++n) {
    const Block& a = *alone[n];
    Block& b = *shared[n];
    SCOPED_TRACE(kDeliverables[n % std::size(kDeliverables)].name);
    EXPECT_EQ(b.check_answer, kDone);
    EXPECT_TRUE(b.guards_intact);
    EXPECT_EQ(b.storage.record().InstanceSlot, nullptr);
    for (int round = 0; round < kRounds; ++round)
      ASSERT_EQ(a.results[round], b.results[round]) << "block " << n << " round " << round;
  }
}

}  // namespace
}  // namespace vexb::test
