// Variable accessors: the per-variable part of a BlockInstance.
//
// An accessor holds the variable's number and the address of its bytes inside
// the host's VariableStorage. It owns nothing: the storage belongs to the host,
// and the address is re-bound before every Calculate, so a storage that the
// host moves is followed without notice. Doubles sit at offsets that are not
// multiples of 8, so they are read and written bytewise, never through a
// double pointer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vexb {

static_assert(std::endian::native == std::endian::little,
              "the storage holds little-endian doubles");

class VarAccessor {
 public:
  // The variable number k this accessor is bound to; -1 until the first Bind.
  std::int32_t Index = -1;

  // Always 0; no accessor class overrides it.
  virtual std::int32_t ExtraInfo() const { return 0; }
  // The variable's bytes in the storage; null in the base class.
  virtual void* DataAddress() const { return nullptr; }

 protected:
  VarAccessor() = default;
  ~VarAccessor() = default;
};

// The accessor of an 'S' variable: one byte that no model reads or writes.
class SignalAccessor : public VarAccessor {
 public:
  unsigned char* Address = nullptr;
  void* DataAddress() const override { return Address; }
};

// The accessor of a 'D' variable: eight bytes, little-endian binary64.
class DoubleAccessor : public VarAccessor {
 public:
  unsigned char* Address = nullptr;
  void* DataAddress() const override { return Address; }

  double Get() const {
    double value;
    std::memcpy(&value, Address, sizeof value);
    return value;
  }
  void Set(double value) const { std::memcpy(Address, &value, sizeof value); }
};

static_assert(sizeof(SignalAccessor) == sizeof(DoubleAccessor));

}  // namespace vexb
