// The tests' block: the host's block with two signals and a number of doubles,
// and bitwise comparison of doubles.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "host/host_block.h"

namespace vexb::test {

inline std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline double FromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Equal bit for bit, or both NaN.
inline bool SameDouble(double a, double b) {
  return Bits(a) == Bits(b) || (a != a && b != b);
}

class TestBlock : public host::HostBlock {
 public:
  // `doubles` is the number of D variables after the two signals.
  explicit TestBlock(std::size_t doubles, std::size_t misalign = 2)
      : HostBlock("{SS" + std::string(doubles, 'D') + "}", misalign) {}
};

}  // namespace vexb::test
