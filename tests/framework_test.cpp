// The block instance, its accessors and the layout derived from signatures.
#include <gtest/gtest.h>

#include <cstring>

#include "balance.h"
#include "netshare.h"
#include "pairsplit.h"
#include "priorityfill.h"
#include "remainder.h"
#include "scaled.h"
#include "test_block.h"

namespace vexb::test {
namespace {

// Each deliverable's storage size, as the host lays the storage out.
static_assert(models::PairSplit::Block::Sig::kStorageSize == 74);
static_assert(models::PriorityFill::Block::Sig::kStorageSize == 58);
static_assert(models::Remainder::Block::Sig::kStorageSize == 34);
static_assert(models::Balance::Block::Sig::kStorageSize == 34);
static_assert(models::Scaled::Block::Sig::kStorageSize == 42);
static_assert(models::NetShare::Block::Sig::kStorageSize == 50);

// The offsets of V0 to V10: 0, 1, then 2 + 8(k - 2).
using Wide = models::PairSplit::Block::Sig;
static_assert(Wide::Offset(0) == 0 && Wide::Offset(1) == 1 && Wide::Offset(2) == 2);
static_assert(Wide::Offset(5) == 26 && Wide::Offset(10) == 66);
static_assert(Wide::IsSignal(0) && Wide::IsSignal(1) && Wide::IsDouble(2) && Wide::IsDouble(10));

// A signature in another order gets its own offsets.
using Mixed = Signature<"{DSDS}">;
static_assert(Mixed::Offset(1) == 8 && Mixed::Offset(2) == 9 && Mixed::Offset(3) == 17);
static_assert(Mixed::kStorageSize == 18);

using Remainder = models::Remainder::Block;
static_assert(std::is_same_v<std::remove_cvref_t<decltype(std::declval<Remainder&>().Accessor<1>())>,
                             SignalAccessor>);
static_assert(std::is_same_v<std::remove_cvref_t<decltype(std::declval<Remainder&>().Accessor<2>())>,
                             DoubleAccessor>);

TEST(BlockInstance, ConstructionBindsNothingAndTouchesNothing) {
  TestBlock block(4);
  Remainder instance(&block.record());
  EXPECT_EQ(instance.Record, &block.record());
  EXPECT_EQ(instance.Accessor<0>().Index, -1);
  EXPECT_EQ(instance.Accessor<1>().Index, -1);
  EXPECT_EQ(instance.Accessor<5>().Index, -1);
  EXPECT_TRUE(block.GuardsIntact());
}

TEST(BlockInstance, BindPointsAccessorKAtVkAndFollowsAMove) {
  TestBlock block(4);
  Remainder instance(&block.record());
  for (int copy = 0; copy < 2; ++copy) {
    unsigned char* base = block.storage(copy);
    instance.Bind(base);
    EXPECT_EQ(instance.Accessor<0>().Address, base);
    EXPECT_EQ(instance.Accessor<1>().Address, base + 1);
    EXPECT_EQ(instance.Accessor<2>().Address, base + 2);
    EXPECT_EQ(instance.Accessor<3>().Address, base + 10);
    EXPECT_EQ(instance.Accessor<4>().Address, base + 18);
    EXPECT_EQ(instance.Accessor<5>().Address, base + 26);
    EXPECT_EQ(instance.Accessor<0>().Index, 0);
    EXPECT_EQ(instance.Accessor<3>().Index, 3);
    EXPECT_EQ(instance.Accessor<5>().Index, 5);
  }
  EXPECT_TRUE(block.GuardsIntact());
}

TEST(Accessors, ExtraInfoIsZeroAndDataAddressIsTheAddress) {
  TestBlock block(4);
  Remainder instance(&block.record());
  instance.Bind(block.storage());
  const VarAccessor* accessors[] = {&instance.Accessor<0>(), &instance.Accessor<1>(),
                                    &instance.Accessor<2>(), &instance.Accessor<5>()};
  void* addresses[] = {block.storage(), block.storage() + 1, block.storage() + 2,
                       block.storage() + 26};
  for (std::size_t i = 0; i < std::size(accessors); ++i) {
    EXPECT_EQ(accessors[i]->ExtraInfo(), 0);
    EXPECT_EQ(accessors[i]->DataAddress(), addresses[i]);
  }
}

TEST(Accessors, MisalignedDoublesReadAndWriteExactly) {
  TestBlock block(4);
  Remainder instance(&block.record());
  instance.Bind(block.storage());
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(instance.Accessor<3>().Address) % 8, 4u);
  const double values[] = {-0.0, 0x1.fffffffffffffp+1023, 0x1p-1074, FromBits(0x7FF4000000000123)};
  for (double value : values) {
    instance.Set<3>(value);
    EXPECT_EQ(Bits(block.Get(3)), Bits(value));
    EXPECT_EQ(Bits(instance.Get<3>()), Bits(value));
  }
  EXPECT_EQ(block.Signal(0), 0x5A);
  EXPECT_EQ(block.Signal(1), 0xC3);
  EXPECT_TRUE(block.GuardsIntact());
}

}  // namespace
}  // namespace vexb::test
