// The host service names, held once, with compile-time proof of their shape.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vexb {

inline constexpr std::array<std::string_view, 545> kServiceNames = {
#define VEXB_SERVICE(row, name) #name,
#include "service_names.inc"
#undef VEXB_SERVICE
};

// How many services each framework revision binds.
template <int Revision>
inline constexpr std::size_t kServiceCount = Revision == 1 ? 534 : 545;

// Rows (1-based) of the two services a plug-in calls.
inline constexpr std::size_t kGetHugeDoubleRow = 247;
inline constexpr std::size_t kIncompatibleDllRow = 532;

namespace detail {

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

constexpr bool NamesWellFormed() {
  for (std::string_view name : kServiceNames) {
    if (name.size() < 7 || name.size() > 31 || name.substr(0, 3) != "vex") return false;
    for (char c : name)
      if (!IsLetter(c)) return false;
  }
  return true;
}

constexpr bool NamesDistinctIgnoringCase() {
  for (std::size_t i = 0; i < kServiceNames.size(); ++i)
    for (std::size_t j = i + 1; j < kServiceNames.size(); ++j)
      if (SameIgnoringCase(kServiceNames[i], kServiceNames[j])) return false;
  return true;
}

}  // namespace detail

static_assert(detail::NamesWellFormed(), "names are 'vex' and letters, 7 to 31 long");
static_assert(detail::NamesDistinctIgnoringCase(), "names differ beyond letter case");
static_assert(kServiceNames[0] == "vexServiceVersion");
static_assert(kServiceNames[kGetHugeDoubleRow - 1] == "vexGetHugeDouble");
static_assert(kServiceNames[kIncompatibleDllRow - 1] == "vexIncompatibleDll");
static_assert(kServiceNames[533] == "vexNetGetServerStationConnIndex");
static_assert(kServiceNames[544] == "vexShowSeeAlsoExamples");

// The first Count names as one block of NUL-terminated texts, built at compile
// time: the library holds the names with no pointer table to relocate.
template <std::size_t Count>
constexpr auto MakeNameBlock() {
  constexpr std::size_t size = [] {
    std::size_t total = 0;
    for (std::size_t i = 0; i < Count; ++i) total += kServiceNames[i].size() + 1;
    return total;
  }();
  std::array<char, size> block{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < Count; ++i) {
    for (char c : kServiceNames[i]) block[at++] = c;
    block[at++] = '\0';
  }
  return block;
}

}  // namespace vexb
