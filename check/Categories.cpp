#include "check/Categories.h"

#include "common/TextCodec.h"

const char* const ServerNames[ServerCount] = {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"};

const char* const GroupNames[GroupCount] = {"SMTP", "POP", "IMAP", "Lumicourt", "Helmstead",
                                            "connections"};

namespace {

constexpr TServer O = TServer::Orvane, L = TServer::Lumicourt, H = TServer::Helmstead;
using P = TServicePorts;
using G = TGroup;

}  // namespace

constexpr TCounterRow CounterRows[CounterCount] = {
    // Id        Name           Label          Summary      Detailed Role            Server Port               Total        Metric            Group
    {Connections, "connections", "Connections", "Connections", true, TRole::All,      O, nullptr,              Connections, "all",             G::Connections},
    {SMTPin,    "SMTPin",    "SmtpIn",    nullptr,     true,  TRole::Inbound,  O, &P::SmtpInPort,       SMTPTotal,   "smtp_in",         G::Smtp},
    {SMTPout,   "SMTPout",   "SmtpOut",   nullptr,     true,  TRole::Outbound, O, &P::SmtpOutPort,      SMTPTotal,   "smtp_out",        G::Smtp},
    {SMTPSSL,   "SMTPSSL",   "SmtpSSL",   nullptr,     true,  TRole::Inbound,  O, &P::SmtpSslPort,      SMTPTotal,   "smtp_ssl",        G::Smtp},
    {SMTPTotal, "SMTPTotal", "SmtpTotal", "Smtp",      false, TRole::Total,    O, nullptr,              Connections, "smtp_total",      G::Smtp},
    {POPin,     "POPin",     "PopIn",     nullptr,     true,  TRole::Inbound,  O, &P::PopInPort,        POPTotal,    "pop_in",          G::Pop},
    {POPout,    "POPout",    "PopOut",    nullptr,     true,  TRole::Outbound, O, &P::PopOutPort,       POPTotal,    "pop_out",         G::Pop},
    {POPSSL,    "POPSSL",    "PopSSL",    nullptr,     true,  TRole::Inbound,  O, &P::PopSslPort,       POPTotal,    "pop_ssl",         G::Pop},
    {POPTotal,  "POPTotal",  "PopTotal",  "Pop",       false, TRole::Total,    O, nullptr,              Connections, "pop_total",       G::Pop},
    {IMAPin,    "IMAPin",    "ImapIn",    nullptr,     true,  TRole::Inbound,  O, &P::ImapInPort,       IMAPTotal,   "imap_in",         G::Imap},
    {IMAPSSL,   "IMAPSSL",   "ImapSSL",   nullptr,     true,  TRole::Inbound,  O, &P::ImapSslPort,      IMAPTotal,   "imap_ssl",        G::Imap},
    {IMAPTotal, "IMAPTotal", "ImapTotal", "Imap",      false, TRole::Total,    O, nullptr,              Connections, "imap_total",      G::Imap},
    {Other,     nullptr,     "Other",     nullptr,     true,  TRole::Rest,     O, nullptr,              Connections, "other",           G::Connections},
    {LCin,      "LCin",      "LCin",      nullptr,     true,  TRole::Inbound,  L, &P::LumicourtPort,    LCTotal,     "lumicourt_in",    G::Lumicourt},
    {LCSSL,     "LCSSL",     "LCSSL",     nullptr,     true,  TRole::Inbound,  L, &P::LumicourtSslPort, LCTotal,     "lumicourt_ssl",   G::Lumicourt},
    // Part of the web-mail total only.
    {LCOther,   nullptr,     nullptr,     nullptr,     false, TRole::Rest,     L, nullptr,              LCTotal,     nullptr,           G::Lumicourt},
    {LCTotal,   "LCTotal",   "LCTotal",   "Lumicourt", false, TRole::Total,    L, nullptr,              Connections, "lumicourt_total", G::Lumicourt},
    {HSin,      "HSin",      "HSin",      nullptr,     true,  TRole::Inbound,  H, &P::HelmsteadPort,    HSTotal,     "helmstead_in",    G::Helmstead},
    {HSSSL,     "HSSSL",     "HSSSL",     nullptr,     true,  TRole::Inbound,  H, &P::HelmsteadSslPort, HSTotal,     "helmstead_ssl",   G::Helmstead},
    {HSTotal,   "HSTotal",   "HSTotal",   "Helmstead", false, TRole::Total,    H, nullptr,              Connections, "helmstead_total", G::Helmstead},
};

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

// Rows in their places, each category named and counted somewhere, ports
// where the role needs one, and seventeen categories; every shown row with a
// metric name of its own, and every group with a shown row.
constexpr bool TableIsWhole() {
  int Named = 0;
  bool Shown[GroupCount] = {};
  for (int Index = 0; Index < CounterCount; ++Index) {
    const TCounterRow& Row = CounterRows[Index];
    if (Row.Id != Index) return false;
    const bool Ported = Row.Role == TRole::Inbound || Row.Role == TRole::Outbound;
    if (Ported != (Row.Port != nullptr)) return false;
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
  return Named == CategoryCount;
}
static_assert(TableIsWhole(),
              "CounterRows is out of order or lacks a name, a port, a category, a metric or a group");

struct TCategoryList {
  TCounter Ids[CategoryCount] = {};
};

constexpr TCategoryList CategoryList() {
  TCategoryList List;
  int Found = 0;
  for (const TCounterRow& Row : CounterRows)
    if (IsCategory(Row)) List.Ids[Found++] = Row.Id;
  return List;
}

constexpr TCategoryList TheCategories = CategoryList();

}  // namespace

const TCounter Categories[CategoryCount] = {
    TheCategories.Ids[0],  TheCategories.Ids[1],  TheCategories.Ids[2],  TheCategories.Ids[3],
    TheCategories.Ids[4],  TheCategories.Ids[5],  TheCategories.Ids[6],  TheCategories.Ids[7],
    TheCategories.Ids[8],  TheCategories.Ids[9],  TheCategories.Ids[10], TheCategories.Ids[11],
    TheCategories.Ids[12], TheCategories.Ids[13], TheCategories.Ids[14], TheCategories.Ids[15],
    TheCategories.Ids[16],
};

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

