// Threshold ranges as monitoring plugins write them: "10:" alerts below 10,
// "~:10" above 10, "10:20" outside 10..20, "@10:20" inside 10..20 and "@10"
// inside 0..10. A plain number is no range here: it keeps the program's own
// meaning (reached at or above it), so existing command lines stay as they are.
#pragma once

#include <cstdint>
#include <string>

struct TRange {
  bool Inside = false;   // "@": alert inside the bounds, not outside them
  bool HasLow = false;   // false: minus infinity ("~")
  int64_t Low = 0;
  bool HasHigh = false;  // false: infinity (nothing after ':')
  int64_t High = 0;
  std::string Text;      // as given, without leading blanks
};

// Whether a threshold value is written as a range: it holds ':' or starts
// with '@' or '~' after leading blanks.
bool IsRangeText(const std::string& Value);

// Reads a range; false when the text is no well-formed range.
bool ParseRange(const std::string& Value, TRange& Range);

// Whether a count is in the alerting part of the range.
bool RangeReached(const TRange& Range, int64_t Count);
