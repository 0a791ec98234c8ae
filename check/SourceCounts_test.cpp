#include "check/SourceCounts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// A counted connection from Source (IPv4 or IPv6 text, as a census row has it).
TListEntry From(const std::string& Source) {
  TListEntry Entry;
  TAddressKey Address;
  EXPECT_TRUE(ParseAddress(Source, Address)) << Source;
  Entry.Ipv6 = Address.Ipv6;
  std::memcpy(Entry.RemoteBytes, Address.Bytes, 16);
  return Entry;
}

using TAdds = std::vector<std::pair<TCategory, std::string>>;

std::vector<TCategorySources> Tally(const std::vector<TCategory>& Chosen, const TAdds& Adds,
                                    TSourceGrouping Grouping = {}, size_t Top = 0) {
  TSourceTally Tally(Chosen, std::move(Grouping), Top);
  for (const auto& [Category, Source] : Adds) Tally.Add(Category, From(Source));
  return Tally.Results();
}

std::string TopText(const TCategorySources& Result) {
  std::string Text;
  for (const TSourceCount& Each : Result.Top)
    Text += Each.Source + "=" + std::to_string(Each.Connections) + " ";
  return Text;
}

// The busiest source, the lower one among equals, however the rows come.
TEST(SourceCounts, BusiestSourceAndDistinctSources) {
  const struct {
    const char* What;
    std::vector<std::string> Sources;
    int32_t Busiest;
    const char* BusiestSource;
    int32_t Distinct;
  } Cases[] = {
      {"none", {}, 0, "", 0},
      {"one", {"203.0.113.9"}, 1, "203.0.113.9", 1},
      {"one source ahead",
       {"198.51.100.1", "203.0.113.9", "203.0.113.9", "198.51.100.2", "203.0.113.9"},
       3,
       "203.0.113.9",
       3},
      {"a tie goes to the lower address",
       {"203.0.113.10", "203.0.113.9", "203.0.113.10", "203.0.113.9"},
       2,
       "203.0.113.9",
       2},
      {"numbers, not text, are lower",
       {"10.0.0.10", "10.0.0.9", "10.0.0.10", "10.0.0.9"},
       2,
       "10.0.0.9",
       2},
      {"IPv4 before IPv6 in a tie", {"2001:db8::1", "192.0.2.1"}, 1, "192.0.2.1", 2},
      {"a mapped client is its IPv4 address",
       {"::ffff:192.0.2.1", "192.0.2.1", "2001:db8::1", "2001:db8::1"},
       2,
       "192.0.2.1",
       2},
  };
  for (const auto& Case : Cases) {
    TAdds Adds;
    for (const std::string& Source : Case.Sources) Adds.push_back({IMAPin, Source});
    for (bool Reversed : {false, true}) {
      if (Reversed) std::reverse(Adds.begin(), Adds.end());
      const auto Results = Tally({IMAPin}, Adds);
      ASSERT_EQ(Results.size(), 1u);
      EXPECT_EQ(Results[0].Category, IMAPin);
      EXPECT_EQ(Results[0].Busiest, Case.Busiest) << Case.What;
      EXPECT_EQ(Results[0].BusiestSource, Case.BusiestSource) << Case.What;
      EXPECT_EQ(Results[0].Sources, Case.Distinct) << Case.What;
    }
  }
}

// Each chosen category on its own, in the order of the categories; others
// are passed over.
TEST(SourceCounts, CategoriesApart) {
  const TAdds Adds = {{SMTPin, "192.0.2.1"},  {SMTPout, "198.51.100.25"}, {SMTPin, "192.0.2.1"},
                      {IMAPin, "192.0.2.1"},  {SMTPout, "198.51.100.25"}, {POPin, "192.0.2.7"},
                      {SMTPout, "192.0.2.1"}, {SMTPTotal, "192.0.2.1"}};
  const auto Results = Tally({SMTPout, IMAPin, SMTPin, SMTPout, HSSSL}, Adds);
  ASSERT_EQ(Results.size(), 4u);
  const struct {
    TCategory Category;
    int32_t Busiest;
    const char* Source;
    int32_t Distinct;
  } Expected[] = {{SMTPin, 2, "192.0.2.1", 1},
                  {SMTPout, 2, "198.51.100.25", 2},
                  {IMAPin, 1, "192.0.2.1", 1},
                  {HSSSL, 0, "", 0}};
  for (size_t Index = 0; Index < Results.size(); ++Index) {
    EXPECT_EQ(Results[Index].Category, Expected[Index].Category) << Index;
    EXPECT_EQ(Results[Index].Busiest, Expected[Index].Busiest) << Index;
    EXPECT_EQ(Results[Index].BusiestSource, Expected[Index].Source) << Index;
    EXPECT_EQ(Results[Index].Sources, Expected[Index].Distinct) << Index;
  }
}

TEST(SourceCounts, GroupingAndExclusions) {
  const TAdds Adds = {
      {IMAPin, "203.0.113.9"},
      {IMAPin, "203.0.113.200"},
      {IMAPin, "203.0.114.1"},
      {IMAPin, "192.0.2.50"},
      {IMAPin, "::ffff:203.0.113.7"},
      {IMAPin, "2001:db8:0:1::5"},
      {IMAPin, "2001:db8:0:1:ffff::1"},
      {IMAPin, "2001:db8:0:2::1"},
      {IMAPin, "10.9.9.9"},
      {IMAPin, "10.9.9.9"},
      {IMAPin, "10.9.9.9"},
      {IMAPin, "10.9.9.9"},
  };
  auto Network = [](const char* Text) {
    TNetwork Parsed;
    EXPECT_EQ(ParseNetwork(Text, Parsed), "") << Text;
    return Parsed;
  };
  const struct {
    const char* What;
    TSourceGrouping Grouping;
    const char* Top;  // the two busiest
    int32_t Distinct;
  } Cases[] = {
      {"addresses", {}, "10.9.9.9=4 192.0.2.50=1 ", 9},
      {"/24 and /64", {24, 64, {}}, "10.9.9.0/24=4 203.0.113.0/24=3 ", 6},
      {"the monitoring host left out",
       {24, 64, {Network("10.9.9.9")}},
       "203.0.113.0/24=3 2001:db8:0:1::/64=2 ",
       5},
      {"a network left out, its mapped client with it",
       {32, 48, {Network("203.0.113.0/24")}},
       "10.9.9.9=4 2001:db8::/48=3 ",
       4},
      {"everything in one group per family", {0, 0, {}}, "0.0.0.0/0=9 ::/0=3 ", 2},
  };
  for (const auto& Case : Cases) {
    const auto Results = Tally({IMAPin}, Adds, Case.Grouping, 2);
    ASSERT_EQ(Results.size(), 1u);
    EXPECT_EQ(TopText(Results[0]), Case.Top) << Case.What;
    EXPECT_EQ(Results[0].Sources, Case.Distinct) << Case.What;
  }
}

// The top list against a plain count of every source: most first, the lower
// address first among equals, at most N, whatever the order of the rows.
TEST(SourceCounts, TopListAgreesWithAPlainCount) {
  std::mt19937 Random(24);
  for (size_t Top : {size_t(0), size_t(1), size_t(3), size_t(20)}) {
    for (int Round = 0; Round < 20; ++Round) {
      std::map<uint32_t, int32_t> Plain;  // IPv4 as a number: ordered as the tally orders
      TSourceTally Tally({SMTPin}, {}, Top);
      const int Rows = int(Random() % 400);
      for (int Row = 0; Row < Rows; ++Row) {
        const uint32_t Source = 0xC0000200u + Random() % 40;  // 192.0.2.0..39: many ties
        ++Plain[Source];
        const std::string Text = "192.0.2." + std::to_string(Source & 0xFF);
        Tally.Add(SMTPin, From(Text));
      }
      std::vector<std::pair<int32_t, uint32_t>> Expected;
      for (const auto& [Source, Count] : Plain) Expected.push_back({-Count, Source});
      std::sort(Expected.begin(), Expected.end());
      if (Expected.size() > Top) Expected.resize(Top);
      const auto Results = Tally.Results();
      ASSERT_EQ(Results[0].Top.size(), Expected.size());
      for (size_t Index = 0; Index < Expected.size(); ++Index) {
        EXPECT_EQ(Results[0].Top[Index].Connections, -Expected[Index].first);
        EXPECT_EQ(Results[0].Top[Index].Source,
                  "192.0.2." + std::to_string(Expected[Index].second & 0xFF));
      }
      EXPECT_EQ(Results[0].Sources, int32_t(Plain.size()));
    }
  }
}

}  // namespace
