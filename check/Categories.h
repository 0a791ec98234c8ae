// The one table of what a check counts: every counter with its option name,
// labels, server, port and total. Options, usage lines, thresholds, texts,
// listeners, long-output lines and totals all derive from it.
#pragma once

#include <cstdint>
#include <string>

enum class TServer : int { Orvane, Lumicourt, Helmstead };
constexpr int ServerCount = 3;

// The executables' file names, indexed by TServer.
extern const char* const ServerNames[ServerCount];

// The server whose executable a command line names ("orvane",
// "Lumicourt.exe"; case ignored, ".exe" optional); false for none.
bool FindServer(const std::string& Name, TServer& Server);

// The service ports, with their defaults; the configuration files may change
// them.
struct TServicePorts {
  int32_t SmtpInPort = 25;
  int32_t SmtpOutPort = 25;  // remote port
  int32_t SmtpSslPort = 465;
  int32_t PopInPort = 110;
  int32_t PopOutPort = 110;  // remote port
  int32_t PopSslPort = 995;
  int32_t ImapInPort = 143;
  int32_t ImapSslPort = 993;
  int32_t LumicourtPort = 3000;
  int32_t LumicourtSslPort = 443;
  int32_t HelmsteadPort = 1000;
  int32_t HelmsteadSslPort = 443;
};

// Every counter, in the order of the performance data. The seventeen with an
// option (-wX, -cX) are the connection categories.
enum TCounter : int {
  Connections,
  SMTPin, SMTPout, SMTPSSL, SMTPTotal,
  POPin, POPout, POPSSL, POPTotal,
  IMAPin, IMAPSSL, IMAPTotal,
  Other,
  LCin, LCSSL, LCOther, LCTotal,
  HSin, HSSSL, HSTotal,
  CounterCount
};
using TCategory = TCounter;

// The services a result is shown as where a monitoring system takes one line
// per service, in the order of those lines.
enum class TGroup : int { Smtp, Pop, Imap, Lumicourt, Helmstead, Connections };
constexpr int GroupCount = 6;

// The services' names after the prefix ("Orvane SMTP"), indexed by TGroup.
extern const char* const GroupNames[GroupCount];

// How a connection of the row's server falls into the row.
enum class TRole {
  All,       // every counted connection
  Inbound,   // its local port is the row's port
  Outbound,  // its remote port is the row's port
  Rest,      // any other connection of the server
  Total,     // the sum of the rows that add into it
};

struct TCounterRow {
  TCounter Id;
  const char* Name;          // the category ("SMTPin"), as options and verdicts write it; nullptr: none
  const char* Label;         // in the performance data; nullptr: never shown
  const char* SummaryLabel;  // in the short OK text; nullptr: not there
  bool Detailed;             // in the detailed OK text, under Label
  TRole Role;
  TServer Server;
  int32_t TServicePorts::*Port;  // Inbound and Outbound rows
  // Where the port is configured: the key in Orvane.ini's [Ports] section
  // ("SMTPIn="), or the section of the component's file ("[SSL]").
  const char* PortKey;
  TCounter Total;  // the row it adds into; Connections adds into itself
  // The category label of the machine formats ("smtp_in"), shown where Label
  // is; lower-case letters and '_', each once.
  const char* Metric;
  TGroup Group;  // the service it is shown in
};

// Indexed by TCounter.
inline constexpr TCounterRow CounterRows[CounterCount] = {
    // Id, Name, Label, SummaryLabel, Detailed, Role, Server,
    //   Port, PortKey, Total, Metric, Group
    {Connections, "connections", "Connections", "Connections", true, TRole::All, TServer::Orvane,
     nullptr, nullptr, Connections, "all", TGroup::Connections},
    {SMTPin, "SMTPin", "SmtpIn", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::SmtpInPort, "SMTPIn=", SMTPTotal, "smtp_in", TGroup::Smtp},
    {SMTPout, "SMTPout", "SmtpOut", nullptr, true, TRole::Outbound, TServer::Orvane,
     &TServicePorts::SmtpOutPort, "SMTPOut=", SMTPTotal, "smtp_out", TGroup::Smtp},
    {SMTPSSL, "SMTPSSL", "SmtpSSL", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::SmtpSslPort, "SSL-SMTP=", SMTPTotal, "smtp_ssl", TGroup::Smtp},
    {SMTPTotal, "SMTPTotal", "SmtpTotal", "Smtp", false, TRole::Total, TServer::Orvane,
     nullptr, nullptr, Connections, "smtp_total", TGroup::Smtp},
    {POPin, "POPin", "PopIn", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::PopInPort, "POPIn=", POPTotal, "pop_in", TGroup::Pop},
    {POPout, "POPout", "PopOut", nullptr, true, TRole::Outbound, TServer::Orvane,
     &TServicePorts::PopOutPort, "POPOut=", POPTotal, "pop_out", TGroup::Pop},
    {POPSSL, "POPSSL", "PopSSL", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::PopSslPort, "SSL-POP=", POPTotal, "pop_ssl", TGroup::Pop},
    {POPTotal, "POPTotal", "PopTotal", "Pop", false, TRole::Total, TServer::Orvane,
     nullptr, nullptr, Connections, "pop_total", TGroup::Pop},
    {IMAPin, "IMAPin", "ImapIn", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::ImapInPort, "IMAPIn=", IMAPTotal, "imap_in", TGroup::Imap},
    {IMAPSSL, "IMAPSSL", "ImapSSL", nullptr, true, TRole::Inbound, TServer::Orvane,
     &TServicePorts::ImapSslPort, "SSL-IMAP=", IMAPTotal, "imap_ssl", TGroup::Imap},
    {IMAPTotal, "IMAPTotal", "ImapTotal", "Imap", false, TRole::Total, TServer::Orvane,
     nullptr, nullptr, Connections, "imap_total", TGroup::Imap},
    {Other, nullptr, "Other", nullptr, true, TRole::Rest, TServer::Orvane,
     nullptr, nullptr, Connections, "other", TGroup::Connections},
    {LCin, "LCin", "LCin", nullptr, true, TRole::Inbound, TServer::Lumicourt,
     &TServicePorts::LumicourtPort, "[WebServer]", LCTotal, "lumicourt_in", TGroup::Lumicourt},
    {LCSSL, "LCSSL", "LCSSL", nullptr, true, TRole::Inbound, TServer::Lumicourt,
     &TServicePorts::LumicourtSslPort, "[SSL]", LCTotal, "lumicourt_ssl", TGroup::Lumicourt},
    // Part of the web-mail total only.
    {LCOther, nullptr, nullptr, nullptr, false, TRole::Rest, TServer::Lumicourt,
     nullptr, nullptr, LCTotal, nullptr, TGroup::Lumicourt},
    {LCTotal, "LCTotal", "LCTotal", "Lumicourt", false, TRole::Total, TServer::Lumicourt,
     nullptr, nullptr, Connections, "lumicourt_total", TGroup::Lumicourt},
    {HSin, "HSin", "HSin", nullptr, true, TRole::Inbound, TServer::Helmstead,
     &TServicePorts::HelmsteadPort, "[WebServer]", HSTotal, "helmstead_in", TGroup::Helmstead},
    {HSSSL, "HSSSL", "HSSSL", nullptr, true, TRole::Inbound, TServer::Helmstead,
     &TServicePorts::HelmsteadSslPort, "[SSL]", HSTotal, "helmstead_ssl", TGroup::Helmstead},
    {HSTotal, "HSTotal", "HSTotal", "Helmstead", false, TRole::Total, TServer::Helmstead,
     nullptr, nullptr, Connections, "helmstead_total", TGroup::Helmstead},
};

// Whether the row is a connection category, with options of its own.
constexpr bool IsCategory(const TCounterRow& Row) {
  return Row.Role == TRole::Inbound || Row.Role == TRole::Outbound || Row.Role == TRole::Total;
}

constexpr int CountCategories() {
  int Count = 0;
  for (const TCounterRow& Row : CounterRows) Count += IsCategory(Row);
  return Count;
}
constexpr int CategoryCount = CountCategories();

struct TCategoryList {
  TCounter Ids[CategoryCount] = {};
  constexpr const TCounter* begin() const { return Ids; }
  constexpr const TCounter* end() const { return Ids + CategoryCount; }
  constexpr TCounter operator[](int Index) const { return Ids[Index]; }
};

constexpr TCategoryList CategoryList() {
  TCategoryList List;
  int Found = 0;
  for (const TCounterRow& Row : CounterRows)
    if (IsCategory(Row)) List.Ids[Found++] = Row.Id;
  return List;
}

// The connection categories in their order.
inline constexpr TCategoryList Categories = CategoryList();

// The category a command line names (case ignored); false for none.
bool FindCategory(const std::string& Name, TCounter& Category);

// The category of a connection of Server by its ports: the first of the
// server's inbound rows on its local port, else (unless LocalOnly) the first
// outbound row on its remote port; CounterCount for none.
TCounter PortCategory(TServer Server, const TServicePorts& Ports, int32_t LocalPort, int32_t RemotePort,
                      bool LocalOnly = false);

