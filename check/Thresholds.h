// Threshold ranges as monitoring plugins write them: "10:" alerts below 10,
// "~:10" above 10, "10:20" outside 10..20, "@10:20" inside 10..20 and "@10"
// inside 0..10. A plain number is no range here: it keeps the program's own
// meaning (reached at or above it), so existing command lines stay as they are.
#pragma once

#include <cstdint>
#include <optional>
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

// One warning or critical threshold of a measure.
struct TThreshold {
  int32_t Level = 0;            // a plain number: reached at or above it; 0 or less is not set
  std::optional<TRange> Range;  // written as a range, which takes the place of Level

  bool IsSet() const { return Range || Level > 0; }
  bool Reached(int64_t Count) const { return Range ? RangeReached(*Range, Count) : Level > 0 && Count >= Level; }
  // The threshold as performance-data readers take one (a range that alerts
  // outside itself) for a count, alerting exactly where Reached does; empty
  // when not set or not expressible that way (an inside range of two bounds
  // above 0).
  std::string PerfDataText() const;
};

// A threshold value: a plain number (its leading integer, cut to 32 bits) as
// a level, anything that starts like a range as a range; false when it starts
// like one but is none.
bool ParseThreshold(const std::string& Value, TThreshold& Threshold);
