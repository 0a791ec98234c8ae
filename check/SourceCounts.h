// Connections per remote address: for each chosen category, how many of its
// counted connections the busiest source holds, which source that is, how
// many distinct sources there are, and the busiest few. A source is the
// remote end: the client of an inbound category, the server the mail server
// connected to for an outbound one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "census/GetConnections.h"
#include "check/Categories.h"
#include "check/Networks.h"

// How sources are grouped and which are left out.
struct TSourceGrouping {
  int Ipv4Prefix = 32;  // sources in one network of this length count as one
  int Ipv6Prefix = 128;
  std::vector<TNetwork> Exclusions;  // sources never counted
};

struct TSourceCount {
  std::string Source;  // GroupText of the group
  int32_t Connections = 0;
};

struct TCategorySources {
  TCategory Category = SMTPin;
  int32_t Busiest = 0;            // the most connections one source holds
  std::string BusiestSource;      // that source (the lowest of equals); empty without any
  int32_t Sources = 0;            // distinct sources
  std::vector<TSourceCount> Top;  // the busiest, most first, the lower source first among equals
};

// Collects the counted connections of one run and sums them up once at the
// end: a sort of what was collected, about 18 bytes per connection, so
// 30,000 connections cost half a megabyte and a sort.
class TSourceTally {
 public:
  // Categories: the chosen ones (any order; repeats are one); Top: how many
  // busiest sources to list per category.
  TSourceTally(const std::vector<TCategory>& Categories, TSourceGrouping Grouping, size_t Top);

  // One counted established connection of Category. Connections of
  // categories not chosen, and of excluded sources, are passed over.
  void Add(TCategory Category, const TListEntry& Entry);

  // One result per chosen category, in the order of TCategory. Sorts what
  // was collected in place.
  std::vector<TCategorySources> Results();

 private:
  struct TKeyed {
    uint8_t Category;
    TAddressKey Source;
  };

  std::array<bool, CounterCount> Chosen{};
  TSourceGrouping Grouping;
  size_t TopCount;
  std::vector<TKeyed> Keys;
};
