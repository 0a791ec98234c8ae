#include "check/Thresholds.h"

#include "common/Digits.h"
#include "common/Low32.h"

namespace {

size_t SkipBlanks(const std::string& Text) {
  size_t At = 0;
  while (At < Text.size() && (Text[At] == ' ' || Text[At] == '\t')) ++At;
  return At;
}

// A whole decimal integer, optionally signed; digits past 18 are refused so
// that no value wraps.
bool ParseBound(const std::string& Text, int64_t& Value) {
  size_t At = 0;
  bool Negative = false;
  if (At < Text.size() && (Text[At] == '-' || Text[At] == '+')) Negative = Text[At++] == '-';
  if (At == Text.size() || Text.size() - At > 18) return false;
  int64_t Result = 0;
  for (; At < Text.size(); ++At) {
    if (Text[At] < '0' || Text[At] > '9') return false;
    Result = Result * 10 + (Text[At] - '0');
  }
  Value = Negative ? -Result : Result;
  return true;
}

}  // namespace

bool IsRangeText(const std::string& Value) {
  const size_t At = SkipBlanks(Value);
  if (At < Value.size() && (Value[At] == '@' || Value[At] == '~')) return true;
  return Value.find(':') != std::string::npos;
}

bool ParseRange(const std::string& Value, TRange& Range) {
  Range = TRange();
  Range.Text = Value.substr(SkipBlanks(Value));
  std::string Rest = Range.Text;
  if (!Rest.empty() && Rest[0] == '@') {
    Range.Inside = true;
    Rest.erase(0, 1);
  }
  const size_t Colon = Rest.find(':');
  if (Colon == std::string::npos) {
    // "@E" (or a bare "E" after '@'): 0..E.
    Range.HasLow = true;
    Range.Low = 0;
    Range.HasHigh = ParseBound(Rest, Range.High);
    return Range.HasHigh && Range.High >= 0;
  }
  const std::string Start = Rest.substr(0, Colon);
  const std::string End = Rest.substr(Colon + 1);
  if (Start.empty() && End.empty()) return false;
  if (Start == "~") {
    Range.HasLow = false;
  } else if (Start.empty()) {
    Range.HasLow = true;  // ":E" is 0..E
  } else if (!ParseBound(Start, Range.Low)) {
    return false;
  } else {
    Range.HasLow = true;
  }
  if (!End.empty()) {
    if (!ParseBound(End, Range.High)) return false;
    Range.HasHigh = true;
  }
  if (Start == "~" && !Range.HasHigh) return false;  // "~:" bounds nothing
  return !(Range.HasLow && Range.HasHigh && Range.Low > Range.High);
}

bool RangeReached(const TRange& Range, int64_t Count) {
  const bool Within =
      (!Range.HasLow || Count >= Range.Low) && (!Range.HasHigh || Count <= Range.High);
  return Range.Inside ? Within : !Within;
}

bool ParseThreshold(const std::string& Value, TThreshold& Threshold) {
  Threshold = TThreshold();
  if (!IsRangeText(Value)) {
    Threshold.Level = Low32(LeadingInteger(Value));
    return true;
  }
  Threshold.Range.emplace();
  return ParseRange(Value, *Threshold.Range);
}

std::string TThreshold::PerfDataText() const {
  // Counts are whole and never negative: "reached at N" is "above N-1".
  if (!Range) return Level > 0 ? std::to_string(Level - 1) : std::string();
  const TRange& R = *Range;
  if (!R.Inside) {
    std::string Text = !R.HasLow ? "~:" : R.Low == 0 && R.HasHigh ? "" : std::to_string(R.Low) + ":";
    return R.HasHigh ? Text + std::to_string(R.High) : Text;
  }
  // Inside a range that reaches down to every count: alerting up to High is
  // quiet from High+1 on; one open upwards alerts from Low on.
  if (!R.HasLow || R.Low <= 0) {
    if (!R.HasHigh) return "~:-1";
    return R.High < 0 ? std::string() : std::to_string(R.High + 1) + ":";
  }
  if (!R.HasHigh) return "~:" + std::to_string(R.Low - 1);
  return std::string();
}
