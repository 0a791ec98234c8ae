#include "check/MeasureOptions.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/Digits.h"
#include "common/TextCodec.h"

const char* const MeasureOptionNames[7] = {"per-source",         "top-sources", "per-source-prefix",
                                           "per-source-exclude", "states",      "state-warn",
                                           "state-crit"};

namespace {

constexpr size_t MostTopSources = 20;

// "Invalid value --OPTION=VALUE", with the reason when the value alone does
// not show it.
std::string Invalid(const char* Option, const std::string& Value, const std::string& Why = {}) {
  std::string Text = "Invalid value --" + std::string(Option) + "=" + Value;
  return Why.empty() ? Text : Text + " (" + Why + ")";
}

// A category with a port of its own, by name (case ignored).
bool FindPortCategory(const std::string& Name, TCategory& Category) {
  return FindCategory(Name, Category) && (CounterRows[Category].Role == TRole::Inbound ||
                                          CounterRows[Category].Role == TRole::Outbound);
}

bool IsOutbound(TCategory Category) { return CounterRows[Category].Role == TRole::Outbound; }

bool FindState(const std::string& Name, TServiceState& State) {
  for (int Index = 0; Index < ServiceStateCount; ++Index)
    if (EqualsIgnoringAsciiCase(ServiceStateNames[Index], Name)) {
      State = TServiceState(Index);
      return true;
    }
  return false;
}

enum class TRead { Ok, BadValue, BadRange };

// A whole number of at most nine digits, optionally signed.
bool ReadLevel(const std::string& Text, int32_t& Level) {
  const size_t At = Text.size() > 0 && (Text[0] == '+' || Text[0] == '-') ? 1 : 0;
  uint32_t Value;
  if (Text.size() - At > 9 || !ParseDecimal(std::string_view(Text).substr(At), Value)) return false;
  Level = Text[0] == '-' ? -int32_t(Value) : int32_t(Value);
  return true;
}

// An empty text is an unset threshold.
TRead ReadThreshold(const std::string& Text, TThreshold& Threshold) {
  Threshold = TThreshold();
  if (Text.empty()) return TRead::Ok;
  if (IsRangeText(Text)) {
    Threshold.Range.emplace();
    return ParseRange(Text, *Threshold.Range) ? TRead::Ok : TRead::BadRange;
  }
  return ReadLevel(Text, Threshold.Level) ? TRead::Ok : TRead::BadValue;
}

std::string Refusal(TRead Read, const char* Option, const std::string& Value) {
  if (Read == TRead::BadRange) return "Invalid range --" + std::string(Option) + "=" + Value;
  return Invalid(Option, Value);
}

bool IsPlain(const std::string& Text) {
  int32_t Level;
  return Text.empty() || ReadLevel(Text, Level);
}

// "WARN[:CRIT]", where a range may hold a colon of its own: two numbers are
// warning and critical; a text that is one threshold is the warning alone;
// else the longest warning that leaves a threshold after its colon.
TRead ReadWarnCrit(const std::string& Text, TThreshold& Warn, TThreshold& Crit) {
  const size_t First = Text.find(':');
  Crit = TThreshold();
  if (First != std::string::npos && Text.find(':', First + 1) == std::string::npos &&
      IsPlain(Text.substr(0, First)) && IsPlain(Text.substr(First + 1))) {
    ReadThreshold(Text.substr(0, First), Warn);
    ReadThreshold(Text.substr(First + 1), Crit);
    return TRead::Ok;
  }
  const TRead Whole = ReadThreshold(Text, Warn);
  if (Whole == TRead::Ok || First == std::string::npos) return Whole;
  for (size_t Colon = Text.rfind(':'); Colon != std::string::npos && Colon > 0;
       Colon = Text.rfind(':', Colon - 1))
    if (ReadThreshold(Text.substr(0, Colon), Warn) == TRead::Ok &&
        ReadThreshold(Text.substr(Colon + 1), Crit) == TRead::Ok)
      return TRead::Ok;
  // Named by the first part that is wrong when split at the first colon.
  TThreshold Ignored;
  const TRead Head = ReadThreshold(Text.substr(0, First), Ignored);
  return Head != TRead::Ok ? Head : ReadThreshold(Text.substr(First + 1), Ignored);
}

std::string ReadPerSource(const std::vector<std::string>& Values, TMeasureSettings& Settings) {
  const char* const Option = "per-source";
  for (const std::string& Value : Values) {
    const size_t Colon = Value.find(':');
    TPerSourceCategory Read;
    if (Colon != std::string::npos) {
      const TRead Result = ReadWarnCrit(Value.substr(Colon + 1), Read.Warn, Read.Crit);
      if (Result != TRead::Ok) return Refusal(Result, Option, Value);
    }
    for (const std::string& Name : CommaList(Value.substr(0, Colon))) {
      TCategory Category;
      if (!FindPortCategory(Name, Category)) return Invalid(Option, Value);
      for (const TPerSourceCategory& Earlier : Settings.PerSource)
        if (Earlier.Category == Category) return Invalid(Option, Value, Name + " given twice");
      Read.Category = Category;
      Settings.PerSource.push_back(Read);
    }
  }
  std::sort(Settings.PerSource.begin(), Settings.PerSource.end(),
            [](const TPerSourceCategory& A, const TPerSourceCategory& B) {
              return A.Category < B.Category;
            });
  return {};
}

// Up to three digits, at most Most.
bool ReadBoundedCount(const std::string& Text, unsigned Most, unsigned& Value) {
  return Text.size() <= 3 && ParseDecimal(Text, Value) && Value <= Most;
}

std::string ReadGrouping(const TMeasureOptionValues& Values, TMeasureSettings& Settings) {
  if (!Values.TopSources.empty()) {
    // As any option given twice: the last one counts.
    const std::string& Value = Values.TopSources.back();
    unsigned Count;
    if (!ReadBoundedCount(Value, MostTopSources, Count)) return Invalid("top-sources", Value);
    Settings.TopSources = Count;
  }
  if (!Values.PerSourcePrefix.empty()) {
    const std::string& Value = Values.PerSourcePrefix.back();
    const std::vector<std::string> Lengths = CommaList(Value);
    unsigned V4, V6;
    if (Lengths.size() != 2 || !ReadBoundedCount(Lengths[0], 32, V4) ||
        !ReadBoundedCount(Lengths[1], 128, V6))
      return Invalid("per-source-prefix", Value);
    Settings.Grouping.Ipv4Prefix = int(V4);
    Settings.Grouping.Ipv6Prefix = int(V6);
  }
  for (const std::string& Value : Values.PerSourceExclude)
    for (const std::string& Element : CommaList(Value)) {
      if (Element.empty()) return Invalid("per-source-exclude", Value, "empty element");
      TNetwork Network;
      const std::string Why = ParseNetwork(Element, Network);
      if (!Why.empty()) return Invalid("per-source-exclude", Value, Element + ": " + Why);
      Settings.Grouping.Exclusions.push_back(Network);
    }
  return {};
}

std::string ReadStates(const std::vector<std::string>& Values, TMeasureSettings& Settings) {
  for (const std::string& Value : Values)
    for (const std::string& Name : CommaList(Value)) {
      TCategory Category;
      if (!FindPortCategory(Name, Category)) return Invalid("states", Value);
      if (std::find(Settings.States.begin(), Settings.States.end(), Category) ==
          Settings.States.end())
        Settings.States.push_back(Category);
    }
  std::sort(Settings.States.begin(), Settings.States.end());
  return {};
}

std::string ReadStateThresholds(const char* Option, const std::vector<std::string>& Values,
                                std::vector<TStateThreshold>& Thresholds) {
  for (const std::string& Value : Values) {
    const size_t First = Value.find(':');
    const size_t Second = First == std::string::npos ? First : Value.find(':', First + 1);
    if (Second == std::string::npos || Second + 1 == Value.size()) return Invalid(Option, Value);
    TStateThreshold Read;
    if (!FindPortCategory(Value.substr(0, First), Read.Category) ||
        !FindState(Value.substr(First + 1, Second - First - 1), Read.State))
      return Invalid(Option, Value);
    if (!StateApplies(IsOutbound(Read.Category), Read.State)) {
      const std::string Name = CounterRows[Read.Category].Name;
      return Invalid(
          Option, Value,
          Name + (IsOutbound(Read.Category) ? " has SynSent and CloseWait only"
                                            : " has SynRecv, Queued, CloseWait and TimeWait only"));
    }
    const TRead Result = ReadThreshold(Value.substr(Second + 1), Read.Threshold);
    if (Result != TRead::Ok) return Refusal(Result, Option, Value);
    for (const TStateThreshold& Earlier : Thresholds)
      if (Earlier.Category == Read.Category && Earlier.State == Read.State)
        return Invalid(Option, Value, "given twice");
    Thresholds.push_back(Read);
  }
  std::sort(Thresholds.begin(), Thresholds.end(),
            [](const TStateThreshold& A, const TStateThreshold& B) {
              return A.Category != B.Category ? A.Category < B.Category : A.State < B.State;
            });
  return {};
}

// What these options need of one another.
std::string CrossCheck(const TMeasureOptionValues& Values, const TMeasureSettings& Settings) {
  if (Settings.PerSource.empty()) {
    const std::pair<const char*, const std::vector<std::string>*> NeedPerSource[] = {
        {"top-sources", &Values.TopSources},
        {"per-source-prefix", &Values.PerSourcePrefix},
        {"per-source-exclude", &Values.PerSourceExclude},
    };
    for (const auto& [Option, Given] : NeedPerSource)
      if (!Given->empty())
        return "--" + std::string(Option) + "=" + Given->back() + " without --per-source";
  }
  const std::pair<const char*, const std::vector<std::string>*> Thresholds[] = {
      {"state-warn", &Values.StateWarn},
      {"state-crit", &Values.StateCrit},
  };
  for (const auto& [Option, Given] : Thresholds)
    for (const std::string& Value : *Given) {
      TCategory Category = SMTPin;
      FindPortCategory(Value.substr(0, Value.find(':')), Category);
      if (std::find(Settings.States.begin(), Settings.States.end(), Category) ==
          Settings.States.end())
        return "--" + std::string(Option) + "=" + Value + " without " + CounterRows[Category].Name +
               " in --states";
    }
  return {};
}

}  // namespace

std::string ReadMeasureSettings(const TMeasureOptionValues& Values, TMeasureSettings& Settings) {
  TMeasureSettings Read;
  std::string Refused = ReadPerSource(Values.PerSource, Read);
  if (Refused.empty()) Refused = ReadGrouping(Values, Read);
  if (Refused.empty()) Refused = ReadStates(Values.States, Read);
  if (Refused.empty())
    Refused = ReadStateThresholds("state-warn", Values.StateWarn, Read.StateWarn);
  if (Refused.empty())
    Refused = ReadStateThresholds("state-crit", Values.StateCrit, Read.StateCrit);
  if (Refused.empty()) Refused = CrossCheck(Values, Read);
  if (Refused.empty()) Settings = std::move(Read);
  return Refused;
}

std::vector<std::pair<TCategory, TServiceState>> AskedStates(const TMeasureSettings& Settings) {
  std::vector<std::pair<TCategory, TServiceState>> Asked;
  for (TCategory Category : Settings.States)
    for (int State = 0; State < ServiceStateCount; ++State)
      if (StateApplies(IsOutbound(Category), TServiceState(State)))
        Asked.emplace_back(Category, TServiceState(State));
  return Asked;
}

const TThreshold& StateThreshold(const std::vector<TStateThreshold>& Given, TCategory Category,
                                 TServiceState State) {
  static const TThreshold None;
  for (const TStateThreshold& Each : Given)
    if (Each.Category == Category && Each.State == State) return Each.Threshold;
  return None;
}
