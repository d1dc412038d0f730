// Each model through its loaded deliverables (both revisions where there are
// two), compared bit for bit; NaN compares as NaN.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace vexb::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// In an input row: an output whose value before the call must not matter.
const double kOut = FromBits(0x7FF4DEADBEEF0001);  // a signalling NaN

struct Case {
  const char* model;  // deliverable name up to '_'
  const char* what;
  std::vector<double> in;   // V2 onward before the call
  std::vector<double> out;  // V2 onward after it
};

// clang-format off
const Case kCases[] = {
  // remainder  V2 V3 V4 -> V5 = (V2 - V3) - V4
  {"remainder", "plain", {10, 3, 2, kOut}, {10, 3, 2, 5}},
  {"remainder", "overflow to +inf", {1e308, -1e308, 0, kOut}, {1e308, -1e308, 0, kInf}},
  {"remainder", "NaN in V3", {1, kNaN, 2, kOut}, {1, kNaN, 2, kNaN}},
  {"remainder", "NaN in V2", {kNaN, 1, 2, kOut}, {kNaN, 1, 2, kNaN}},
  {"remainder", "NaN in V4", {1, 1, kNaN, kOut}, {1, 1, kNaN, kNaN}},
  {"remainder", "inf - inf", {kInf, kInf, 0, kOut}, {kInf, kInf, 0, kNaN}},
  {"remainder", "-0 - 0 - 0 is -0", {-0.0, 0.0, 0.0, kOut}, {-0.0, 0.0, 0.0, -0.0}},
  {"remainder", "rounded after V2 - V3", {1.0, 0x1p-54, 1.0, kOut}, {1.0, 0x1p-54, 1.0, 0.0}},
  // balance  V5 = V2 + (V3 - V4)
  {"balance", "plain", {10, 3, 2, kOut}, {10, 3, 2, 11}},
  {"balance", "-0 + (0 - 0) is +0", {-0.0, 0.0, 0.0, kOut}, {-0.0, 0.0, 0.0, 0.0}},
  {"balance", "V3 - V4 first", {1e308, 1e308, 1e308, kOut}, {1e308, 1e308, 1e308, 1e308}},
  {"balance", "overflow", {1e308, 1e308, -1e308, kOut}, {1e308, 1e308, -1e308, kInf}},
  {"balance", "NaN in V3", {1, kNaN, 2, kOut}, {1, kNaN, 2, kNaN}},
  {"balance", "NaN in V2", {kNaN, 1, 2, kOut}, {kNaN, 1, 2, kNaN}},
  // scaled  V5 = V6 * V3; V2 and V4 take no part
  {"scaled", "plain", {7, 2, 9, kOut, 3}, {7, 2, 9, 6, 3}},
  {"scaled", "V2 and V4 ignored", {kNaN, 2, kInf, kOut, 3}, {kNaN, 2, kInf, 6, 3}},
  {"scaled", "NaN in V3", {1, kNaN, 1, kOut, 3}, {1, kNaN, 1, kNaN, 3}},
  {"scaled", "0 * inf", {1, 0, 1, kOut, kInf}, {1, 0, 1, kNaN, kInf}},
  {"scaled", "-0 * 5", {1, -0.0, 1, kOut, 5}, {1, -0.0, 1, -0.0, 5}},
  {"scaled", "overflow", {1, 1e308, 1, kOut, 10}, {1, 1e308, 1, kInf, 10}},
  // netshare  V5 = ((V2 * ((1 - V6) - V7)) - V3) - V4
  {"netshare", "no shares is the remainder", {10, 3, 2, kOut, 0, 0}, {10, 3, 2, 5, 0, 0}},
  // 1 - 0.7 rounds to 0.30000000000000004; less 0.3 leaves 2^-54.
  {"netshare", "0.7 and 0.3 leave 2^-54", {0x1p54, 3, 2, kOut, 0.7, 0.3}, {0x1p54, 3, 2, -4, 0.7, 0.3}},
  // V2 * T2 rounds to 1 + 2^-51 before V3 is subtracted: no fused multiply-add.
  {"netshare", "product rounded before subtracting",
   {1 + 0x1p-52, 1 + 0x1p-51, 0, kOut, -0x1p-52, 0}, {1 + 0x1p-52, 1 + 0x1p-51, 0, 0.0, -0x1p-52, 0}},
  {"netshare", "NaN in V3", {1, kNaN, 0, kOut, 0, 0}, {1, kNaN, 0, kNaN, 0, 0}},
  {"netshare", "NaN in V4", {1, 0, kNaN, kOut, 0, 0}, {1, 0, kNaN, kNaN, 0, 0}},
  {"netshare", "NaN in V7", {1, 0, 0, kOut, 0, kNaN}, {1, 0, 0, kNaN, 0, kNaN}},
  {"netshare", "0 * inf", {kInf, 0, 0, kOut, 1, 0}, {kInf, 0, 0, kNaN, 1, 0}},
  // pairsplit  V2 amount1, V3 total1, V4 amount2, V5 total2, V6 portion1,
  //            V7 portion2 -> V6, V7 capped; V8 sum; V9 result1; V10 result2
  {"pairsplit", "portion under its total",
   {10, 4, 8, 2, 2, 1, kOut, kOut, kOut}, {10, 4, 8, 2, 2, 1, 9, 5, 4}},
  {"pairsplit", "portion capped, zero total keeps the entry portion",
   {10, 4, 8, 0, 6, 3, kOut, kOut, kOut}, {10, 4, 8, 0, 4, 0, 13, 10, 3}},
  {"pairsplit", "portion equal to total is not rewritten",
   {10, 4, 8, 2, 4, 2, kOut, kOut, kOut}, {10, 4, 8, 2, 4, 2, 18, 10, 8}},
  {"pairsplit", "negative total: no cap, no division",
   {10, 4, 1, -2, 2, -5, kOut, kOut, kOut}, {10, 4, 1, -2, 2, -5, 0, 5, -5}},
  {"pairsplit", "-0 total is stored as the cap and not divided by",
   {10, -0.0, 8, 2, 5, 1, kOut, kOut, kOut}, {10, -0.0, 8, 2, -0.0, 1, 9, 5, 4}},
  {"pairsplit", "NaN total: no cap, divided",
   {10, kNaN, 8, 2, 5, 1, kOut, kOut, kOut}, {10, kNaN, 8, 2, 5, 1, kNaN, kNaN, 4}},
  {"pairsplit", "NaN portion stays",
   {10, 4, 8, 2, kNaN, 1, kOut, kOut, kOut}, {10, 4, 8, 2, kNaN, 1, kNaN, kNaN, 4}},
  {"pairsplit", "infinite total: no cap, quotient 0",
   {10, kInf, 8, 2, 5, 1, kOut, kOut, kOut}, {10, kInf, 8, 2, 5, 1, 4, 0, 4}},
  {"pairsplit", "negative portion, no lower cap",
   {10, 4, 8, 2, -2, 1, kOut, kOut, kOut}, {10, 4, 8, 2, -2, 1, -1, -5, 4}},
  {"pairsplit", "product held as a double overflows",
   {1e308, 1e308, 8, 2, 1e308, 1, kOut, kOut, kOut}, {1e308, 1e308, 8, 2, 1e308, 1, kInf, kInf, 4}},
  {"pairsplit", "second channel capped",
   {10, 4, 8, 2, 2, 3, kOut, kOut, kOut}, {10, 4, 8, 2, 2, 2, 13, 5, 8}},
  // priorityfill  V2, V3 order factors; V4, V5 limits; V6 demand -> V7, V8
  {"priorityfill", "first share first", {1, 1, 3, 5, 4, kOut, kOut}, {1, 1, 3, 5, 4, 3, 1}},
  {"priorityfill", "second share first", {1, 1, 5, 3, 4, kOut, kOut}, {1, 1, 5, 3, 4, 1, 3}},
  {"priorityfill", "a tie fills the first", {1, 1, 3, 3, 4, kOut, kOut}, {1, 1, 3, 3, 4, 3, 1}},
  {"priorityfill", "demand equal to the limit", {1, 1, 3, 5, 3, kOut, kOut}, {1, 1, 3, 5, 3, 3, 0}},
  {"priorityfill", "demand within the second's limit", {1, 1, 5, 3, 2, kOut, kOut}, {1, 1, 5, 3, 2, 0, 2}},
  {"priorityfill", "shortfall stored nowhere", {1, 1, 3, 4, 10, kOut, kOut}, {1, 1, 3, 4, 10, 3, 4}},
  {"priorityfill", "remainder rounded", {10, 1, 0.9, 0.1, 1, kOut, kOut},
   {10, 1, 0.9, 0.1, 1, 0.9, 0.09999999999999998}},
  {"priorityfill", "NaN demand, first first", {1, 1, 3, 5, kNaN, kOut, kOut}, {1, 1, 3, 5, kNaN, 3, 5}},
  {"priorityfill", "NaN demand, second first", {1, 1, 5, 3, kNaN, kOut, kOut}, {1, 1, 5, 3, kNaN, 5, 3}},
  {"priorityfill", "NaN factor fails the order test", {kNaN, 1, 5, 3, 4, kOut, kOut}, {kNaN, 1, 5, 3, 4, 4, 0}},
  {"priorityfill", "NaN limit of the second fails it too", {1, 1, 5, kNaN, 4, kOut, kOut}, {1, 1, 5, kNaN, 4, 4, 0}},
  {"priorityfill", "NaN first limit", {1, 1, kNaN, 5, 4, kOut, kOut}, {1, 1, kNaN, 5, 4, kNaN, 5}},
  {"priorityfill", "negative demand", {1, 1, 3, 5, -1, kOut, kOut}, {1, 1, 3, 5, -1, -1, 0}},
  {"priorityfill", "negative factor", {-1, 2, 3, 5, 4, kOut, kOut}, {-1, 2, 3, 5, 4, 0, 4}},
  {"priorityfill", "all zero", {0, 0, 0, 0, 4, kOut, kOut}, {0, 0, 0, 0, 4, 0, 0}},
  {"priorityfill", "-0 demand is taken as it is", {1, 1, 0, 5, -0.0, kOut, kOut}, {1, 1, 0, 5, -0.0, -0.0, 0}},
  {"priorityfill", "overflowing products compare as infinities", {1e308, 1e308, 10, 10, 4, kOut, kOut},
   {1e308, 1e308, 10, 10, 4, 4, 0}},
};
// clang-format on

std::string ModelOf(const Deliverable& d) {
  const std::string name = d.name;
  return name.substr(0, name.find('_'));
}

std::string Describe(const std::vector<double>& values) {
  std::string text;
  char buffer[64];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%sV%zu=%a", i ? " " : "", i + 2, values[i]);
    text += buffer;
  }
  return text;
}

using Models = PluginTest;

TEST_P(Models, EdgeCasesBitForBit) {
  ASSERT_EQ(Call(kInit), kDone);
  int ran = 0;
  for (const Case& c : kCases) {
    if (ModelOf(GetParam()) != c.model) continue;
    ++ran;
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.in.size(), block_->doubles());
    ASSERT_EQ(c.out.size(), block_->doubles());
    // Twice, with different old outputs: they must not enter the result.
    for (double old : {kOut, 12345.0}) {
      for (std::size_t i = 0; i < c.in.size(); ++i)
        block_->Set(i + 2, Bits(c.in[i]) == Bits(kOut) ? old : c.in[i]);
      ASSERT_EQ(Call(kCalculate), kDone);
      std::vector<double> got;
      for (std::size_t i = 0; i < c.out.size(); ++i) got.push_back(block_->Get(i + 2));
      for (std::size_t i = 0; i < c.out.size(); ++i)
        EXPECT_TRUE(SameDouble(got[i], c.out[i]))
            << "V" << i + 2 << "\n  got:  " << Describe(got) << "\n  want: " << Describe(c.out);
    }
  }
  EXPECT_GT(ran, 0);
  EXPECT_EQ(block_->Signal(0), 0x5A);
  EXPECT_EQ(block_->Signal(1), 0xC3);
  EXPECT_TRUE(block_->GuardsIntact());
}

using PairSplit = PluginTest;

TEST_P(PairSplit, CapsPersistIntoTheNextCall) {
  ASSERT_EQ(Call(kInit), kDone);
  const double in[] = {10, 4, 8, 0, 6, 3, 0, 0, 0};
  for (std::size_t i = 0; i < std::size(in); ++i) block_->Set(i + 2, in[i]);
  ASSERT_EQ(Call(kCalculate), kDone);
  EXPECT_EQ(block_->Get(7), 0.0);
  EXPECT_EQ(block_->Get(10), 3.0);
  EXPECT_EQ(block_->Get(8), 13.0);
  // Nothing changed by the host: the capped portion V7 = 0 is the fallback now.
  ASSERT_EQ(Call(kCalculate), kDone);
  EXPECT_EQ(Bits(block_->Get(10)), Bits(0.0));
  EXPECT_EQ(Bits(block_->Get(9)), Bits(10.0));
  EXPECT_EQ(Bits(block_->Get(8)), Bits(10.0));
}

VEXB_FOR_EVERY_DELIVERABLE(Models);
VEXB_FOR_DELIVERABLES(PairSplit, DeliverablesOfModel("pairsplit"));

}  // namespace
}  // namespace vexb::test
