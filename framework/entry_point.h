// The entry point, written once for every model and both framework revisions.
#pragma once

#include <cstdint>
#include <new>

#include "block_instance.h"
#include "fp_guard.h"
#include "host_contract.h"

namespace vexb {

// True when the NUL-terminated `text` is byte for byte `expected`.
inline bool SameText(const char* text, const char* expected) {
  for (;; ++text, ++expected) {
    if (*text != *expected) return false;
    if (*text == '\0') return true;
  }
}

// What the two framework revisions do differently at the entry point.
template <int Revision>
struct RevisionTraits;

template <>
struct RevisionTraits<1> {
  using Guard = FpGuard;  // every call runs with all exceptions masked
  static constexpr std::uint8_t kInitFlag = 0x00;
};

template <>
struct RevisionTraits<2> {
  using Guard = NoFpGuard;  // the caller's floating-point settings stand
  static constexpr std::uint8_t kInitFlag = 0x01;
};

// A model provides kSignature (its StructureSignature) and
//   static void Evaluate(Block& block, void* extra)
// with Block = BlockInstance<kSignature>.
template <class Model, int Revision>
struct EntryPoint {
  using Block = BlockInstance<Model::kSignature>;
  using Traits = RevisionTraits<Revision>;

  static std::int32_t Call(std::uint32_t mode, BlockRecord* record, void* extra) {
    [[maybe_unused]] typename Traits::Guard guard;
    if (mode == kCalculate) [[likely]] {
      if (record == nullptr) return kDone;
      Block* block = static_cast<Block*>(record->InstanceSlot);
      if (block == nullptr) return kDone;
      block->Bind(record->StorageBase);
      Model::Evaluate(*block, extra);
      record->InstanceSlot = block;
      return kDone;
    }
    return Other(mode, record, extra);
  }

 private:
  [[gnu::noinline]] static std::int32_t Other(std::uint32_t mode, BlockRecord* record,
                                              void* extra) {
    switch (mode) {
      case kInit:
        if (record == nullptr) return kDone;
        // The revision mark comes first and stays even if memory runs out.
        record->FlagByte |= Traits::kInitFlag;
        // Whatever the slot held is overwritten unread: a fresh record's slot
        // is undefined, so nothing there may be destroyed.
        record->InstanceSlot = new (std::nothrow) Block(record);
        return kDone;
      case kCleanup: {
        if (record == nullptr) return kDone;
        Block* block = static_cast<Block*>(record->InstanceSlot);
        if (block == nullptr) return kDone;
        delete block;
        // A second Cleanup, or a Calculate before the next Init, then finds
        // null and does nothing instead of touching released memory.
        record->InstanceSlot = nullptr;
        return kDone;
      }
      case kCheckVariables: {
        const char* text = static_cast<const char*>(extra);
        return text != nullptr && SameText(text, Model::kSignature.text) ? kDone
                                                                        : kBadVariables;
      }
      default:
        return kDone;
    }
  }
};

}  // namespace vexb
