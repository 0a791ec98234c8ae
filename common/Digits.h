// Numbers written as text: the digits the configuration, the registry file,
// the command line and the kernel's tables are read with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The value of one hexadecimal digit (either case); -1 for any other
// character.
int HexDigit(char C);

// One to MaxDigits (at most 8) hexadecimal digits and nothing else into V.
bool ParseHex(std::string_view Text, size_t MaxDigits, uint32_t& V);

// Decimal digits only, into an unsigned V without overflow.
template <typename T>
bool ParseDecimal(std::string_view Text, T& V) {
  if (Text.empty()) return false;
  V = 0;
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
    const T digit = T(c - '0');
    if (V > (T(~T(0)) - digit) / 10) return false;
    V = V * 10 + digit;
  }
  return true;
}

// Text to a signed 64-bit integer that never fails: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X"; reading stops at the first character that is not a digit
// of that base. No digits give 0. Values beyond 64 bits wrap.
int64_t LeadingInteger(const std::string& text);
