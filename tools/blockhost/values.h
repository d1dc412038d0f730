// Doubles as blockhost reads and writes them: text that reads back to the
// same bits, in every locale.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace vexb::blockhost {

// Parses the whole of `text` as a double: decimal ("2.5", "-1e-3"), hexadecimal
// floating notation ("0x1.8p1", "-0x1p-1074"), "inf", "-inf", "nan", "-nan",
// "-0". A leading '+' is accepted. Empty text, trailing characters, blanks
// and values beyond the range of a double are refused.
inline std::optional<double> ParseDouble(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  auto format = std::chars_format::general;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    format = std::chars_format::hex;
    text.remove_prefix(2);
  }
  // from_chars takes no sign after the one removed above.
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, format);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

// The shortest text that reads back to exactly `value`: "0.1", "-0", "inf",
// "-inf", "nan", "-nan" (every NaN payload prints as "nan" with its sign).
inline std::string FormatDouble(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// The exact value in hexadecimal floating notation, "0x1.4p+2", "-0x1p-1074",
// "inf", "nan".
inline std::string HexDouble(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::hex);
  std::string hex(text, result.ptr);
  const std::size_t digits = hex[0] == '-' ? 1 : 0;
  if (hex.find('p') != std::string::npos) hex.insert(digits, "0x");
  return hex;
}

}  // namespace vexb::blockhost
