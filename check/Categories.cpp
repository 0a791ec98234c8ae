#include "check/Categories.h"

#include "common/TextCodec.h"

const char* const ServerNames[ServerCount] = {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"};

namespace {

// Rows in their places, each category named, a port and where it is
// configured for the roles that need one, and no total inside an inbound row.
constexpr bool TableIsWhole() {
  int Named = 0;
  for (int Index = 0; Index < CounterCount; ++Index) {
    const TCounterRow& Row = CounterRows[Index];
    if (Row.Id != Index) return false;
    const bool Ported = Row.Role == TRole::Inbound || Row.Role == TRole::Outbound;
    if (Ported != (Row.Port != nullptr) || Ported != (Row.PortKey != nullptr)) return false;
    if (IsCategory(Row)) {
      if (Row.Name == nullptr) return false;
      ++Named;
    }
    if (Row.Role != TRole::All && CounterRows[Row.Total].Role == TRole::Inbound) return false;
  }
  return Named == CategoryCount && Named > 0;
}
static_assert(TableIsWhole(), "CounterRows is out of order or lacks a name or a port");

}  // namespace

bool FindServer(const std::string& Name, TServer& Server) {
  std::string Wanted = AsciiUpper(Name);
  if (Wanted.size() < 4 || Wanted.compare(Wanted.size() - 4, 4, ".EXE") != 0) Wanted += ".EXE";
  for (int Index = 0; Index < ServerCount; ++Index)
    if (AsciiUpper(ServerNames[Index]) == Wanted) {
      Server = static_cast<TServer>(Index);
      return true;
    }
  return false;
}

bool FindCategory(const std::string& Name, TCounter& Category) {
  for (TCounter Id : Categories)
    if (EqualsIgnoringAsciiCase(CounterRows[Id].Name, Name)) {
      Category = Id;
      return true;
    }
  return false;
}

