#include "check/Categories.h"

#include "common/TextCodec.h"

const char* const ServerNames[ServerCount] = {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"};

namespace {

constexpr TServer O = TServer::Orvane, L = TServer::Lumicourt, H = TServer::Helmstead;
using P = TServicePorts;

}  // namespace

constexpr TCounterRow CounterRows[CounterCount] = {
    // Id        Name           Label          Summary      Detailed Role            Server Port               Total
    {Connections, "connections", "Connections", "Connections", true, TRole::All,      O, nullptr,              Connections},
    {SMTPin,    "SMTPin",    "SmtpIn",    nullptr,     true,  TRole::Inbound,  O, &P::SmtpInPort,       SMTPTotal},
    {SMTPout,   "SMTPout",   "SmtpOut",   nullptr,     true,  TRole::Outbound, O, &P::SmtpOutPort,      SMTPTotal},
    {SMTPSSL,   "SMTPSSL",   "SmtpSSL",   nullptr,     true,  TRole::Inbound,  O, &P::SmtpSslPort,      SMTPTotal},
    {SMTPTotal, "SMTPTotal", "SmtpTotal", "Smtp",      false, TRole::Total,    O, nullptr,              Connections},
    {POPin,     "POPin",     "PopIn",     nullptr,     true,  TRole::Inbound,  O, &P::PopInPort,        POPTotal},
    {POPout,    "POPout",    "PopOut",    nullptr,     true,  TRole::Outbound, O, &P::PopOutPort,       POPTotal},
    {POPSSL,    "POPSSL",    "PopSSL",    nullptr,     true,  TRole::Inbound,  O, &P::PopSslPort,       POPTotal},
    {POPTotal,  "POPTotal",  "PopTotal",  "Pop",       false, TRole::Total,    O, nullptr,              Connections},
    {IMAPin,    "IMAPin",    "ImapIn",    nullptr,     true,  TRole::Inbound,  O, &P::ImapInPort,       IMAPTotal},
    {IMAPSSL,   "IMAPSSL",   "ImapSSL",   nullptr,     true,  TRole::Inbound,  O, &P::ImapSslPort,      IMAPTotal},
    {IMAPTotal, "IMAPTotal", "ImapTotal", "Imap",      false, TRole::Total,    O, nullptr,              Connections},
    {Other,     nullptr,     "Other",     nullptr,     true,  TRole::Rest,     O, nullptr,              Connections},
    {LCin,      "LCin",      "LCin",      nullptr,     true,  TRole::Inbound,  L, &P::LumicourtPort,    LCTotal},
    {LCSSL,     "LCSSL",     "LCSSL",     nullptr,     true,  TRole::Inbound,  L, &P::LumicourtSslPort, LCTotal},
    // Part of the web-mail total only.
    {LCOther,   nullptr,     nullptr,     nullptr,     false, TRole::Rest,     L, nullptr,              LCTotal},
    {LCTotal,   "LCTotal",   "LCTotal",   "Lumicourt", false, TRole::Total,    L, nullptr,              Connections},
    {HSin,      "HSin",      "HSin",      nullptr,     true,  TRole::Inbound,  H, &P::HelmsteadPort,    HSTotal},
    {HSSSL,     "HSSSL",     "HSSSL",     nullptr,     true,  TRole::Inbound,  H, &P::HelmsteadSslPort, HSTotal},
    {HSTotal,   "HSTotal",   "HSTotal",   "Helmstead", false, TRole::Total,    H, nullptr,              Connections},
};

namespace {

// Rows in their places, each category named and counted somewhere, ports
// where the role needs one, and seventeen categories.
constexpr bool TableIsWhole() {
  int Named = 0;
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
  }
  return Named == CategoryCount;
}
static_assert(TableIsWhole(), "CounterRows is out of order or lacks a name, a port or a category");

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

