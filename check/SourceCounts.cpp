#include "check/SourceCounts.h"

#include <algorithm>
#include <utility>

TSourceTally::TSourceTally(const std::vector<TCategory>& Categories, TSourceGrouping Grouping,
                           size_t Top)
    : Grouping(std::move(Grouping)), TopCount(Top) {
  for (TCategory Category : Categories)
    if (Category >= 0 && Category < CounterCount) Chosen[Category] = true;
}

void TSourceTally::Add(TCategory Category, const TListEntry& Entry) {
  if (Category < 0 || Category >= CounterCount || !Chosen[Category]) return;
  const TAddressKey Source = AddressKeyOf(Entry.Ipv6, Entry.RemoteBytes);
  for (const TNetwork& Excluded : Grouping.Exclusions)
    if (InNetwork(Source, Excluded)) return;
  Keys.push_back(
      {uint8_t(Category), Masked(Source, Source.Ipv6 ? Grouping.Ipv6Prefix : Grouping.Ipv4Prefix)});
}

std::vector<TCategorySources> TSourceTally::Results() {
  std::vector<TKeyed>& Sorted = Keys;
  std::sort(Sorted.begin(), Sorted.end(), [](const TKeyed& A, const TKeyed& B) {
    return A.Category != B.Category ? A.Category < B.Category : A.Source < B.Source;
  });
  auto Text = [this](const TAddressKey& Source) {
    return GroupText(Source, Source.Ipv6 ? Grouping.Ipv6Prefix : Grouping.Ipv4Prefix);
  };

  std::vector<TCategorySources> Results;
  size_t At = 0;
  for (int Category = 0; Category < CounterCount; ++Category) {
    if (!Chosen[Category]) continue;
    TCategorySources Result;
    Result.Category = TCategory(Category);
    // The groups come in ascending order of their source: a later group
    // enters the top or becomes the busiest only when it holds more.
    std::vector<std::pair<int32_t, TAddressKey>> Top;
    TAddressKey Busiest;
    while (At < Sorted.size() && Sorted[At].Category == Category) {
      const TAddressKey& Source = Sorted[At].Source;
      int32_t Count = 0;
      for (; At < Sorted.size() && Sorted[At].Category == Category && Sorted[At].Source == Source;
           ++At)
        ++Count;
      ++Result.Sources;
      if (Count > Result.Busiest) {
        Result.Busiest = Count;
        Busiest = Source;
      }
      if (TopCount == 0 || (Top.size() == TopCount && Count <= Top.back().first)) continue;
      const auto Place =
          std::upper_bound(Top.begin(), Top.end(), Count,
                           [](int32_t Value, const auto& Entry) { return Value > Entry.first; });
      Top.insert(Place, {Count, Source});
      if (Top.size() > TopCount) Top.pop_back();
    }
    if (Result.Sources > 0) Result.BusiestSource = Text(Busiest);
    for (const auto& Entry : Top) Result.Top.push_back({Text(Entry.second), Entry.first});
    Results.push_back(std::move(Result));
  }
  return Results;
}
