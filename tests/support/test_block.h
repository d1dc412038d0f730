// A block as the host keeps it: a BlockRecord and a VariableStorage, each
// surrounded by guard bytes that a plug-in must never touch. The storage
// starts at an address that is 2 modulo 8, so every double is misaligned by
// 4, and it can be moved between calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host_contract.h"

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

class TestBlock {
 public:
  static constexpr std::size_t kGuard = 64;
  static constexpr unsigned char kGuardByte = 0xA5;
  static constexpr std::size_t kRecordBytes = 64;  // the host's record is longer

  // `doubles` is the number of D variables after the two signals.
  explicit TestBlock(std::size_t doubles, std::size_t misalign = 2)
      : doubles_(doubles), size_(2 + 8 * doubles) {
    record_bytes_.assign(kGuard + kRecordBytes + kGuard, kGuardByte);
    for (int copy = 0; copy < 2; ++copy) {
      storage_[copy].assign(kGuard + 8 + size_ + kGuard, kGuardByte);
      // Put the storage at an address of `misalign` modulo 8.
      auto address = reinterpret_cast<std::uintptr_t>(storage_[copy].data() + kGuard);
      offset_[copy] = kGuard + ((misalign - address % 8) + 8) % 8;
    }
    Use(0);
    record().InstanceSlot = nullptr;
    record().FlagByte = 0;
    SetSignal(0, 0x5A);
    SetSignal(1, 0xC3);
  }

  BlockRecord& record() {
    return *reinterpret_cast<BlockRecord*>(record_bytes_.data() + kGuard);
  }
  // Points the record at storage copy 0 or 1; the host may move a block.
  void Use(int copy) {
    current_ = copy;
    record().StorageBase = storage_[copy].data() + offset_[copy];
  }
  unsigned char* storage(int copy) { return storage_[copy].data() + offset_[copy]; }
  unsigned char* storage() { return storage(current_); }

  double Get(std::size_t k, int copy) { return Read(storage(copy) + Offset(k)); }
  double Get(std::size_t k) { return Get(k, current_); }
  void Set(std::size_t k, double value, int copy) { Write(storage(copy) + Offset(k), value); }
  void Set(std::size_t k, double value) { Set(k, value, current_); }
  unsigned char Signal(std::size_t k) { return storage()[k]; }
  void SetSignal(std::size_t k, unsigned char value) {
    storage_[0][offset_[0] + k] = value;
    storage_[1][offset_[1] + k] = value;
  }

  std::size_t doubles() const { return doubles_; }
  std::size_t variables() const { return doubles_ + 2; }

  // True when nothing outside the doubles of either storage and outside the
  // three fields of the record has changed.
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < record_bytes_.size(); ++i) {
      std::size_t at = i - kGuard;
      bool field = i >= kGuard && (at < 2 * sizeof(void*) || at == 23);
      if (!field && record_bytes_[i] != kGuardByte) return false;
    }
    for (int copy = 0; copy < 2; ++copy)
      for (std::size_t i = 0; i < storage_[copy].size(); ++i) {
        bool inside = i >= offset_[copy] + 2 && i < offset_[copy] + size_;
        bool signal = i == offset_[copy] || i == offset_[copy] + 1;
        if (!inside && !signal && storage_[copy][i] != kGuardByte) return false;
      }
    return true;
  }

  static std::size_t Offset(std::size_t k) { return k < 2 ? k : 2 + 8 * (k - 2); }
  static double Read(const unsigned char* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  static void Write(unsigned char* at, double value) { std::memcpy(at, &value, sizeof value); }

 private:
  std::size_t doubles_;
  std::size_t size_;
  std::vector<unsigned char> record_bytes_;
  std::vector<unsigned char> storage_[2];
  std::size_t offset_[2];
  int current_ = 0;
};

}  // namespace vexb::test
