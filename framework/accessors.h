// Variable accessors: the per-variable part of a BlockInstance.
//
// An accessor holds the variable's number and the address of its bytes inside
// the host's VariableStorage. It owns nothing: the storage belongs to the host,
// and the address is re-bound before every Calculate, so a storage that the
// host moves is followed without notice. Doubles sit at offsets that are not
// multiples of 8, so they are read and written as doubles of alignment 1,
// never through a (misaligned) double pointer.
#pragma once

#include <bit>
#include <cstdint>

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

  double Get() const { return reinterpret_cast<const Unaligned*>(Address)->value; }
  void Set(double value) const { reinterpret_cast<Unaligned*>(Address)->value = value; }

 private:
  // The eight bytes seen as a double of alignment 1: the compiler emits
  // unaligned loads and stores, as it would for memcpy, and also knows that
  // writing a double changes no accessor. Through memcpy, which may write
  // anything, every Address would be read again from the instance after each
  // write.
  struct [[gnu::packed]] Unaligned {
    double value;
  };
  static_assert(alignof(Unaligned) == 1 && sizeof(Unaligned) == 8);
};

static_assert(sizeof(SignalAccessor) == sizeof(DoubleAccessor));

}  // namespace vexb
