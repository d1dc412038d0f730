// BlockInstance: the plug-in's per-block object.
//
// One instance per block, created at Init and destroyed at Cleanup. It holds
// the record it was made for and one accessor per block variable, by value and
// in signature order: a SignalAccessor for every 'S', a DoubleAccessor for
// every 'D'. The accessor list, the classes and the storage offsets are all
// derived from the signature text at compile time.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "accessors.h"
#include "host_contract.h"
#include "signature.h"

namespace vexb {
namespace detail {

// Accessor K of a block, kept in its own base so that the list can be built
// by a pack expansion and still be laid out in variable order.
template <std::size_t K, class Accessor>
struct AccessorSlot {
  Accessor accessor;
};

template <class Sig, class Indices>
struct AccessorList;

template <class Sig, std::size_t... K>
struct AccessorList<Sig, std::index_sequence<K...>>
    : AccessorSlot<K, std::conditional_t<Sig::IsSignal(K), SignalAccessor,
                                         DoubleAccessor>>... {
  template <std::size_t I>
  using AccessorOf =
      std::conditional_t<Sig::IsSignal(I), SignalAccessor, DoubleAccessor>;

  template <std::size_t I>
  AccessorOf<I>& At() {
    return static_cast<AccessorSlot<I, AccessorOf<I>>&>(*this).accessor;
  }
  template <std::size_t I>
  const AccessorOf<I>& At() const {
    return static_cast<const AccessorSlot<I, AccessorOf<I>>&>(*this).accessor;
  }

  // One index and one address store per variable; nothing is read or written
  // through the addresses.
  void Bind(unsigned char* base) {
    ((At<K>().Address = base + Sig::Offset(K), At<K>().Index = K), ...);
  }
};

}  // namespace detail

template <FixedString Text>
class BlockInstance {
 public:
  using Sig = Signature<Text>;
  static constexpr std::size_t kVariables = Sig::kVariables;

  // Stores the record and nothing else: no address is bound and neither the
  // record nor the storage is touched.
  explicit BlockInstance(BlockRecord* record) : Record(record) {}

  // Points accessor k at base + offset of Vk and sets its Index to k.
  void Bind(unsigned char* base) { accessors_.Bind(base); }

  template <std::size_t K>
  auto& Accessor() {
    static_assert(K < kVariables, "the block has no such variable");
    return accessors_.template At<K>();
  }
  template <std::size_t K>
  const auto& Accessor() const {
    static_assert(K < kVariables, "the block has no such variable");
    return accessors_.template At<K>();
  }

  // The value of double Vk, read from the storage now.
  template <std::size_t K>
  double Get() const {
    static_assert(K < kVariables && Sig::IsDouble(K), "Vk is not a double");
    return Accessor<K>().Get();
  }
  // Writes double Vk in the storage now.
  template <std::size_t K>
  void Set(double value) const {
    static_assert(K < kVariables && Sig::IsDouble(K), "Vk is not a double");
    Accessor<K>().Set(value);
  }

  // The record this instance was created for; written once, read by nobody.
  BlockRecord* const Record;

 private:
  detail::AccessorList<Sig, std::make_index_sequence<kVariables>> accessors_;
};

}  // namespace vexb
