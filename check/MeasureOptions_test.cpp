#include "check/MeasureOptions.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

// Option values as a command line gives them: long name and value.
TMeasureOptionValues Given(std::vector<std::pair<std::string, std::string>> Options) {
  TMeasureOptionValues Values;
  std::vector<std::string>* const Lists[] = {
      &Values.PerSource, &Values.TopSources, &Values.PerSourcePrefix, &Values.PerSourceExclude,
      &Values.States,    &Values.StateWarn,  &Values.StateCrit};
  for (const auto& [Name, Value] : Options)
    for (size_t Index = 0; Index < std::size(Lists); ++Index)
      if (Name == MeasureOptionNames[Index]) Lists[Index]->push_back(Value);
  return Values;
}

std::string Written(const TThreshold& T) {
  return T.Range ? T.Range->Text : T.Level > 0 ? std::to_string(T.Level) : std::string();
}

// The settings in one line, to compare whole readings.
std::string Describe(const TMeasureSettings& S) {
  std::string Text;
  for (const TPerSourceCategory& P : S.PerSource)
    Text += std::string(CounterRows[P.Category].Name) + "[" + Written(P.Warn) + "," +
            Written(P.Crit) + "] ";
  Text += "top=" + std::to_string(S.TopSources) +
          " prefix=" + std::to_string(S.Grouping.Ipv4Prefix) + "," +
          std::to_string(S.Grouping.Ipv6Prefix);
  for (const TNetwork& N : S.Grouping.Exclusions)
    Text += " -" + GroupText(N.Address, N.PrefixLength);
  Text += " states=";
  for (TCategory C : S.States) Text += std::string(CounterRows[C].Name) + ",";
  for (const auto* List : {&S.StateWarn, &S.StateCrit})
    for (const TStateThreshold& T : *List)
      Text += std::string(List == &S.StateWarn ? " w:" : " c:") + CounterRows[T.Category].Name +
              ":" + ServiceStateNames[int(T.State)] + ":" + Written(T.Threshold);
  return Text;
}

TEST(MeasureOptions, WellFormedValues) {
  const struct {
    TMeasureOptionValues Values;
    const char* Read;
  } Cases[] = {
      {Given({}), "top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:15:20"}}), "IMAPin[15,20] top=0 prefix=32,128 states="},
      // Each occurrence its own categories and thresholds, in category order.
      {Given({{"per-source", "imapssl"}, {"per-source", "SMTPin,POPin:50"}}),
       "SMTPin[50,] POPin[50,] IMAPSSL[,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:~:10"}}), "IMAPin[~:10,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:10:20:30"}}), "IMAPin[10:20,30] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:@10:20:@30:40"}}),
       "IMAPin[@10:20,@30:40] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:@10:20"}}), "IMAPin[@10:20,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:15:"}}), "IMAPin[15,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin::20"}}), "IMAPin[,20] top=0 prefix=32,128 states="},
      {Given({{"per-source", "IMAPin:0:-5"}}), "IMAPin[,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "SMTPout,POPout:@10"}}),
       "SMTPout[@10,] POPout[@10,] top=0 prefix=32,128 states="},
      {Given({{"per-source", "LCin"},
              {"top-sources", "3"},
              {"top-sources", "20"},
              {"per-source-prefix", "24,64"},
              {"per-source-exclude", "192.0.2.0/24,2001:db8::1"},
              {"per-source-exclude", "::ffff:10.0.0.0/104"}}),
       "LCin[,] top=20 prefix=24,64 -192.0.2.0/24 -2001:db8::1 -10.0.0.0/8 states="},
      {Given({{"per-source", "HSSSL"}, {"top-sources", "0"}, {"per-source-prefix", "0,0"}}),
       "HSSSL[,] top=0 prefix=0,0 states="},
      {Given({{"states", "IMAPin,SMTPout"}, {"states", "imapin"}}),
       "top=0 prefix=32,128 states=SMTPout,IMAPin,"},
      {Given({{"states", "IMAPin,SMTPout"},
              {"state-warn", "imapin:closewait:50"},
              {"state-warn", "SMTPout:SynSent:5:"},
              {"state-crit", "IMAPin:CloseWait:100"},
              {"state-crit", "IMAPin:SynRecv:@0:10"}}),
       "top=0 prefix=32,128 states=SMTPout,IMAPin, w:SMTPout:SynSent:5: w:IMAPin:CloseWait:50 "
       "c:IMAPin:SynRecv:@0:10 c:IMAPin:CloseWait:100"},
  };
  for (const auto& Case : Cases) {
    TMeasureSettings Settings;
    EXPECT_EQ(ReadMeasureSettings(Case.Values, Settings), "");
    EXPECT_EQ(Describe(Settings), Case.Read);
    EXPECT_EQ(Settings.Given(), !Case.Values.PerSource.empty() || !Case.Values.States.empty());
  }
}

// Every refusal, as it follows "Unknown - ".
TEST(MeasureOptions, Refusals) {
  const struct {
    TMeasureOptionValues Values;
    const char* Refusal;
  } Cases[] = {
      {Given({{"per-source", "IMAPin:x"}}), "Invalid value --per-source=IMAPin:x"},
      {Given({{"per-source", "IMAPout"}}), "Invalid value --per-source=IMAPout"},
      {Given({{"per-source", "IMAPTotal:5"}}), "Invalid value --per-source=IMAPTotal:5"},
      {Given({{"per-source", "IMAPin,,POPin"}}), "Invalid value --per-source=IMAPin,,POPin"},
      {Given({{"per-source", ""}}), "Invalid value --per-source="},
      {Given({{"per-source", "IMAPin:@"}}), "Invalid range --per-source=IMAPin:@"},
      {Given({{"per-source", "IMAPin:5:2:1"}}), "Invalid range --per-source=IMAPin:5:2:1"},
      {Given({{"per-source", "IMAPin:5x"}}), "Invalid value --per-source=IMAPin:5x"},
      {Given({{"per-source", "IMAPin:1234567890"}}),
       "Invalid value --per-source=IMAPin:1234567890"},
      {Given({{"per-source", "IMAPin:5"}, {"per-source", "SMTPin,imapin:6"}}),
       "Invalid value --per-source=SMTPin,imapin:6 (imapin given twice)"},
      {Given({{"per-source", "IMAPin"}, {"top-sources", "21"}}), "Invalid value --top-sources=21"},
      {Given({{"per-source", "IMAPin"}, {"top-sources", "-1"}}), "Invalid value --top-sources=-1"},
      {Given({{"per-source", "IMAPin"}, {"top-sources", ""}}), "Invalid value --top-sources="},
      {Given({{"per-source", "IMAPin"}, {"per-source-prefix", "33,128"}}),
       "Invalid value --per-source-prefix=33,128"},
      {Given({{"per-source", "IMAPin"}, {"per-source-prefix", "32,129"}}),
       "Invalid value --per-source-prefix=32,129"},
      {Given({{"per-source", "IMAPin"}, {"per-source-prefix", "24"}}),
       "Invalid value --per-source-prefix=24"},
      {Given({{"per-source", "IMAPin"}, {"per-source-prefix", "24,64,8"}}),
       "Invalid value --per-source-prefix=24,64,8"},
      {Given({{"per-source", "IMAPin"}, {"per-source-exclude", "10.0.0.1/24"}}),
       "Invalid value --per-source-exclude=10.0.0.1/24 (10.0.0.1/24: host bits set)"},
      {Given({{"per-source", "IMAPin"}, {"per-source-exclude", "10.0.0.0/33"}}),
       "Invalid value --per-source-exclude=10.0.0.0/33 (10.0.0.0/33: prefix over 32)"},
      {Given({{"per-source", "IMAPin"}, {"per-source-exclude", "2001:db8::/129"}}),
       "Invalid value --per-source-exclude=2001:db8::/129 (2001:db8::/129: prefix over 128)"},
      {Given({{"per-source", "IMAPin"}, {"per-source-exclude", "10.0.0.0/8,,10.1.0.0/16"}}),
       "Invalid value --per-source-exclude=10.0.0.0/8,,10.1.0.0/16 (empty element)"},
      {Given({{"per-source", "IMAPin"}, {"per-source-exclude", "relay.example"}}),
       "Invalid value --per-source-exclude=relay.example (relay.example: no address)"},
      {Given({{"states", "IMAPout"}}), "Invalid value --states=IMAPout"},
      {Given({{"states", ""}}), "Invalid value --states="},
      {Given({{"states", "IMAPin"}, {"state-warn", "IMAPin:Closing:5"}}),
       "Invalid value --state-warn=IMAPin:Closing:5"},
      {Given({{"states", "IMAPin"}, {"state-warn", "IMAPin:CloseWait"}}),
       "Invalid value --state-warn=IMAPin:CloseWait"},
      {Given({{"states", "IMAPin"}, {"state-warn", "IMAPin:CloseWait:"}}),
       "Invalid value --state-warn=IMAPin:CloseWait:"},
      {Given({{"states", "IMAPin"}, {"state-warn", "IMAPin:CloseWait:many"}}),
       "Invalid value --state-warn=IMAPin:CloseWait:many"},
      {Given({{"states", "IMAPin"}, {"state-crit", "IMAPin:CloseWait:10:5"}}),
       "Invalid range --state-crit=IMAPin:CloseWait:10:5"},
      {Given({{"states", "SMTPout"}, {"state-crit", "SMTPout:TimeWait:5"}}),
       "Invalid value --state-crit=SMTPout:TimeWait:5 (SMTPout has SynSent and CloseWait only)"},
      {Given({{"states", "IMAPin"}, {"state-warn", "IMAPin:SynSent:5"}}),
       "Invalid value --state-warn=IMAPin:SynSent:5 "
       "(IMAPin has SynRecv, Queued, CloseWait and TimeWait only)"},
      {Given({{"states", "IMAPin"},
              {"state-crit", "IMAPin:TimeWait:5"},
              {"state-crit", "imapin:timewait:6"}}),
       "Invalid value --state-crit=imapin:timewait:6 (given twice)"},
      // What one option needs of another.
      {Given({{"states", "SMTPin"}, {"state-crit", "IMAPin:CloseWait:100"}}),
       "--state-crit=IMAPin:CloseWait:100 without IMAPin in --states"},
      {Given({{"state-warn", "IMAPin:CloseWait:50"}}),
       "--state-warn=IMAPin:CloseWait:50 without IMAPin in --states"},
      {Given({{"top-sources", "5"}}), "--top-sources=5 without --per-source"},
      {Given({{"top-sources", "0"}, {"states", "IMAPin"}}), "--top-sources=0 without --per-source"},
      {Given({{"per-source-prefix", "24,64"}}), "--per-source-prefix=24,64 without --per-source"},
      {Given({{"per-source-exclude", "192.0.2.1"}}),
       "--per-source-exclude=192.0.2.1 without --per-source"},
  };
  for (const auto& Case : Cases) {
    TMeasureSettings Settings;
    Settings.TopSources = 7;  // a refusal leaves the settings as they were
    EXPECT_EQ(ReadMeasureSettings(Case.Values, Settings), Case.Refusal);
    EXPECT_EQ(Settings.TopSources, 7u) << Case.Refusal;
  }
}

TEST(MeasureOptions, ThresholdsReachedAsTheClassicOnes) {
  const struct {
    const char* Value;  // the per-source warning
    std::vector<int64_t> Reached, Quiet;
  } Cases[] = {
      {"15", {15, 16, 1000}, {0, 14}}, {"0", {}, {0, 1, 1000}},       {"-3", {}, {0, 1}},
      {"15:", {15, 99}, {0, 14}},  // two numbers, the second empty: not a range here
      {"~:15", {16}, {0, 15}},         {"@10:20", {10, 20}, {9, 21}},
  };
  for (const auto& Case : Cases) {
    TMeasureSettings Settings;
    ASSERT_EQ(
        ReadMeasureSettings(Given({{"per-source", std::string("IMAPin:") + Case.Value}}), Settings),
        "");
    const TThreshold& Warn = Settings.PerSource.at(0).Warn;
    for (int64_t Count : Case.Reached)
      EXPECT_TRUE(Warn.Reached(Count)) << Case.Value << " " << Count;
    for (int64_t Count : Case.Quiet)
      EXPECT_FALSE(Warn.Reached(Count)) << Case.Value << " " << Count;
  }
}

}  // namespace
