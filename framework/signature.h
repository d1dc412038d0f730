// StructureSignature texts and the storage layout derived from them.
//
// A signature lists a block's variables between braces, one letter each: 'S'
// for a one-byte signal, 'D' for an eight-byte IEEE 754 double. The host packs
// the variables in that order without gaps, so a variable's storage offset is
// the sum of the sizes before it. Everything here is evaluated at compile
// time; a plug-in never parses its signature at run time.
#pragma once

#include <cstddef>

namespace vexb {

// A string literal usable as a template argument.
template <std::size_t N>
struct FixedString {
  char text[N];
  constexpr FixedString(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
  }
  static constexpr std::size_t kLength = N - 1;
};

template <FixedString Text>
struct Signature {
  static constexpr const char* kText = Text.text;
  static constexpr std::size_t kLength = Text.kLength;
  static constexpr std::size_t kVariables = kLength - 2;

  static constexpr char Letter(std::size_t k) { return Text.text[k + 1]; }
  static constexpr bool IsSignal(std::size_t k) { return Letter(k) == 'S'; }
  static constexpr bool IsDouble(std::size_t k) { return Letter(k) == 'D'; }
  static constexpr std::size_t Size(std::size_t k) { return IsSignal(k) ? 1 : 8; }
  static constexpr std::size_t Offset(std::size_t k) {
    std::size_t offset = 0;
    for (std::size_t i = 0; i < k; ++i) offset += Size(i);
    return offset;
  }
  static constexpr std::size_t kStorageSize = Offset(kVariables);

  static constexpr bool WellFormed() {
    if (kLength < 2 || Text.text[0] != '{' || Text.text[kLength - 1] != '}')
      return false;
    for (std::size_t k = 0; k < kVariables; ++k)
      if (!IsSignal(k) && !IsDouble(k)) return false;
    return true;
  }
  static_assert(WellFormed(), "a signature is '{', then S and D letters, then '}'");
};

}  // namespace vexb
