#include "common/Digits.h"

#include <limits>

namespace {

// Two's-complement reinterpretation without relying on the
// implementation-defined narrowing of out-of-range unsigned values.
int64_t ToSigned(uint64_t v) {
  if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return static_cast<int64_t>(v);
  return -static_cast<int64_t>(~v) - 1;
}

}  // namespace

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view Text, size_t MaxDigits, uint32_t& V) {
  if (Text.empty() || Text.size() > MaxDigits) return false;
  V = 0;
  for (char c : Text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    V = V << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

int64_t LeadingInteger(const std::string& text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;

  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  // Unsigned arithmetic: values beyond 64 bits wrap instead of overflowing.
  uint64_t value = 0;
  for (; i < n; ++i) {
    int digit;
    if (hex) {
      digit = HexDigit(text[i]);
    } else {
      digit = (text[i] >= '0' && text[i] <= '9') ? text[i] - '0' : -1;
    }
    if (digit < 0) break;
    value = value * (hex ? 16u : 10u) + static_cast<uint64_t>(digit);
  }
  if (negative) value = 0 - value;
  return ToSigned(value);
}
