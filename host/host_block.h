// A block as the host keeps it: a BlockRecord at the start of a longer host
// record and a VariableStorage laid out from a StructureSignature text, each
// surrounded by guard bytes that a plug-in must never touch. The storage
// starts at an address that is 2 modulo 8, so that every double after two
// signals is misaligned by 4, and there are two copies of it, so that the
// host can move the block between calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host_contract.h"

namespace vexb::host {

// True when `text` is '{', then S and D letters only, then '}'.
inline bool IsSignatureText(const std::string& text) {
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return false;
  for (std::size_t i = 1; i + 1 < text.size(); ++i)
    if (text[i] != 'S' && text[i] != 'D') return false;
  return true;
}

class HostBlock {
 public:
  static constexpr std::size_t kGuard = 64;
  static constexpr unsigned char kGuardByte = 0xA5;
  static constexpr std::size_t kRecordBytes = 64;  // the host's record is longer
  // What the host keeps in signal k: alternating patterns, so that a write is seen.
  static constexpr unsigned char SignalPattern(std::size_t k) { return k % 2 == 0 ? 0x5A : 0xC3; }

  // `signature` must satisfy IsSignatureText.
  explicit HostBlock(const std::string& signature, std::size_t misalign = 2) {
    for (std::size_t i = 1; i + 1 < signature.size(); ++i) {
      signal_.push_back(signature[i] == 'S');
      offset_.push_back(size_);
      size_ += signal_.back() ? 1 : 8;
    }
    record_bytes_.assign(kGuard + kRecordBytes + kGuard, kGuardByte);
    for (int copy = 0; copy < 2; ++copy) {
      storage_[copy].assign(kGuard + 8 + size_ + kGuard, kGuardByte);
      // Put the storage at an address of `misalign` modulo 8.
      auto address = reinterpret_cast<std::uintptr_t>(storage_[copy].data() + kGuard);
      start_[copy] = kGuard + ((misalign - address % 8) + 8) % 8;
    }
    Use(0);
    record().InstanceSlot = nullptr;
    record().FlagByte = 0;
    for (std::size_t k = 0; k < variables(); ++k)
      if (IsSignal(k)) SetSignal(k, SignalPattern(k));
  }

  BlockRecord& record() {
    return *reinterpret_cast<BlockRecord*>(record_bytes_.data() + kGuard);
  }
  // The record and the host bytes after it, as the plug-in could reach them.
  std::vector<unsigned char> RecordBytes() const {
    const unsigned char* at = record_bytes_.data() + kGuard;
    return {at, at + kRecordBytes};
  }

  // Points the record at storage copy 0 or 1; the host may move a block.
  void Use(int copy) {
    current_ = copy;
    record().StorageBase = storage(copy);
  }
  int current() const { return current_; }
  unsigned char* storage(int copy) { return storage_[copy].data() + start_[copy]; }
  unsigned char* storage() { return storage(current_); }
  std::vector<unsigned char> StorageBytes(int copy) const {
    const unsigned char* at = storage_[copy].data() + start_[copy];
    return {at, at + size_};
  }

  std::size_t variables() const { return signal_.size(); }
  std::size_t doubles() const {
    std::size_t count = 0;
    for (bool s : signal_) count += s ? 0 : 1;
    return count;
  }
  std::size_t storage_size() const { return size_; }
  bool IsSignal(std::size_t k) const { return signal_[k]; }
  std::size_t Offset(std::size_t k) const { return offset_[k]; }

  double Get(std::size_t k, int copy) { return Read(storage(copy) + Offset(k)); }
  double Get(std::size_t k) { return Get(k, current_); }
  void Set(std::size_t k, double value, int copy) { Write(storage(copy) + Offset(k), value); }
  void Set(std::size_t k, double value) { Set(k, value, current_); }
  unsigned char Signal(std::size_t k) { return storage()[Offset(k)]; }
  void SetSignal(std::size_t k, unsigned char value) {
    storage(0)[Offset(k)] = value;
    storage(1)[Offset(k)] = value;
  }

  // True when every signal byte of both copies still holds its pattern.
  bool SignalsIntact() {
    for (int copy = 0; copy < 2; ++copy)
      for (std::size_t k = 0; k < variables(); ++k)
        if (IsSignal(k) && storage(copy)[Offset(k)] != SignalPattern(k)) return false;
    return true;
  }

  // True when nothing outside the variables of either storage and outside the
  // three fields of the record has changed.
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < record_bytes_.size(); ++i) {
      std::size_t at = i - kGuard;
      bool field = i >= kGuard && (at < 2 * sizeof(void*) || at == 23);
      if (!field && record_bytes_[i] != kGuardByte) return false;
    }
    for (int copy = 0; copy < 2; ++copy)
      for (std::size_t i = 0; i < storage_[copy].size(); ++i) {
        bool inside = i >= start_[copy] && i < start_[copy] + size_;
        if (!inside && storage_[copy][i] != kGuardByte) return false;
      }
    return true;
  }

  static double Read(const unsigned char* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  static void Write(unsigned char* at, double value) { std::memcpy(at, &value, sizeof value); }

 private:
  std::vector<bool> signal_;
  std::vector<std::size_t> offset_;
  std::size_t size_ = 0;
  std::vector<unsigned char> record_bytes_;
  std::vector<unsigned char> storage_[2];
  std::size_t start_[2];
  int current_ = 0;
};

}  // namespace vexb::host
