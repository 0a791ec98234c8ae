#include "check/Categories.h"

#include "common/TextCodec.h"

const char* const ServerNames[ServerCount] = {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"};

const char* const GroupNames[GroupCount] = {"SMTP", "POP", "IMAP", "Lumicourt", "Helmstead",
                                            "connections"};

namespace {

// A name the machine formats take as it is: lower-case letters and
// underscores, as metric labels and keys are written.
constexpr bool IsMetricName(const char* Name) {
  if (Name == nullptr || *Name == '\0') return false;
  for (; *Name != '\0'; ++Name)
    if (!((*Name >= 'a' && *Name <= 'z') || *Name == '_')) return false;
  return true;
}

constexpr bool SameText(const char* A, const char* B) {
  for (; *A != '\0' && *A == *B; ++A, ++B) {
  }
  return *A == *B;
}

// Rows in their places, each category named, a port and where it is
// configured for the roles that need one, and no total inside an inbound row;
// every shown row with a metric name of its own, and every group with a shown
// row.
constexpr bool TableIsWhole() {
  int Named = 0;
  bool Shown[GroupCount] = {};
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
    if ((Row.Label != nullptr) != (Row.Metric != nullptr)) return false;
    if (Row.Metric != nullptr && !IsMetricName(Row.Metric)) return false;
    // A metric name twice would be one series twice, which collectors refuse.
    for (int Before = 0; Before < Index; ++Before)
      if (Row.Metric != nullptr && CounterRows[Before].Metric != nullptr &&
          SameText(Row.Metric, CounterRows[Before].Metric))
        return false;
    if (Row.Label != nullptr) Shown[static_cast<int>(Row.Group)] = true;
  }
  for (bool Group : Shown)
    if (!Group) return false;
  return Named == CategoryCount && Named > 0;
}
static_assert(TableIsWhole(),
              "CounterRows is out of order or lacks a name, a port, a metric or a group");

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

TCounter PortCategory(TServer Server, const TServicePorts& Ports, int32_t LocalPort, int32_t RemotePort,
                      bool LocalOnly) {
  TCounter Outbound = CounterCount;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Server != Server) continue;
    if (Row.Role == TRole::Inbound && LocalPort == Ports.*Row.Port) return Row.Id;
    if (Row.Role == TRole::Outbound && !LocalOnly && Outbound == CounterCount && RemotePort == Ports.*Row.Port)
      Outbound = Row.Id;
  }
  return Outbound;
}
