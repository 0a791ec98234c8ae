#include "check/StateCounts.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/FakeCensus.h"

namespace {

// The server runs as processes 100 and 101, web mail as 200; 500 is another
// program; the administration component is not running. The ports are the
// defaults: SMTP 25 in and out, POP 110 in and out, IMAP 143, IMAP over SSL
// 993, web mail 3000 and 443, administration 1000 and 443.
const TServerIds Servers = {{{100, 101}, {200}, {}}};
const TServicePorts DefaultPorts;

using TAddress6 = std::array<uint8_t, 16>;
const TAddress6 Any6{};
const TAddress6 Server6 = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
const TAddress6 Client6 = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20};

TConnectionList Snapshot(TFakeSocketSource& Sockets) {
  TFakeProcessSource Processes;
  TConnectionList List;
  SnapshotConnections(List, Sockets, Processes, {100, 101, 200});
  return List;
}

std::string CountsText(const TStateCounts& Counts) {
  std::string Text;
  for (int Category = 0; Category < CounterCount; ++Category)
    for (int State = 0; State < ServiceStateCount; ++State)
      if (Counts[Category][State] != 0)
        Text += std::string(CounterRows[Category].Name) + ":" + ServiceStateNames[State] + "=" +
                std::to_string(Counts[Category][State]) + " ";
  return Text;
}

// Each row below, with what it adds.
TEST(StateCounts, EachSocketCountsWhereItsOwnerOrItsListenerSays) {
  const std::array<uint8_t, 4> Any{0, 0, 0, 0}, Host{10, 0, 0, 5}, Client{198, 51, 100, 7};
  TFakeSocketSource S;
  // Listeners: the server on every IPv4 address for IMAP, its second process
  // on 127.0.0.1 alone for SMTP, on :: for IMAP over SSL; another program on
  // 127.0.0.2:143; POP shared by the server and a program the census could
  // not name; web mail on every address for its SSL port (443, as
  // administration's, which is not running).
  S.Tcp(TcpStateListening, Any, 143, Any, 0, 100);
  S.Tcp(TcpStateListening, {127, 0, 0, 1}, 25, Any, 0, 101);
  S.Tcp6(TcpStateListening, Any6, 993, Any6, 0, 100);
  S.Tcp(TcpStateListening, {127, 0, 0, 2}, 143, Any, 0, 500);
  S.Tcp(TcpStateListening, Any, 110, Any, 0, 100);
  S.Tcp(TcpStateListening, Any, 110, Any, 0, 0).Owned(TOwner::Other);
  S.Tcp(TcpStateListening, Any, 443, Any, 0, 200);
  // Through the IMAP listener, by the wildcard: one of each state.
  S.Tcp(TcpStateSynReceived, Host, 143, Client, 40001, 0);  // IMAPin SynRecv
  S.Tcp(TcpStateEstablished, Host, 143, Client, 40002, 0);  // IMAPin Queued
  S.Tcp(TcpStateEstablished, Host, 143, Client, 40003, 0);  // IMAPin Queued
  S.Tcp(TcpStateTimeWait, Host, 143, Client, 40004, 0);     // IMAPin TimeWait
  S.Tcp(TcpStateCloseWait, Host, 143, Client, 40005, 0);    // IMAPin CloseWait: closed while queued
  S.Tcp(TcpStateCloseWait, Host, 143, Client, 40006, 100);  // IMAPin CloseWait: held
  S.Tcp(TcpStateEstablished, Host, 143, Client, 40007, 100);  // the classic count, no state
  S.Tcp(TcpStateFinWait2, Host, 143, Client, 40008, 0);       // no state of ours
  // The other program's listener on the same port number takes its own.
  S.Tcp(TcpStateTimeWait, {127, 0, 0, 2}, 143, Client, 40010, 0);
  S.Tcp(TcpStateCloseWait, {127, 0, 0, 2}, 143, Client, 40011, 500);
  S.Tcp(TcpStateCloseWait, Host, 143, Client, 40012, 500);  // held by another: never
  S.Tcp(TcpStateCloseWait, Host, 143, Client, 40013, 0).Owned(TOwner::Other);
  // SMTP: the second server process; a listener on one address only.
  S.Tcp(TcpStateTimeWait, {127, 0, 0, 1}, 25, Client, 40020, 0);  // SMTPin TimeWait
  S.Tcp(TcpStateTimeWait, {127, 0, 0, 3}, 25, Client, 40021, 0);  // no listener there
  S.Tcp(TcpStateCloseWait, {127, 0, 0, 1}, 25, Client, 25, 101);  // SMTPin: local port first
  // IPv6: the wildcard takes its own family only.
  S.Tcp6(TcpStateSynReceived, Server6, 993, Client6, 40030, 0);  // IMAPSSL SynRecv
  S.Tcp(TcpStateSynReceived, Host, 993, Client, 40031, 0);       // no IPv4 listener
  // The server as client: its own sockets alone, by the remote port.
  S.Tcp(TcpStateSynSent, Host, 40040, Client, 25, 100);     // SMTPout SynSent
  S.Tcp(TcpStateCloseWait, Host, 40041, Client, 110, 101);  // POPout CloseWait
  S.Tcp(TcpStateTimeWait, Host, 40042, Client, 25, 0);      // never by the remote port
  S.Tcp(TcpStateSynSent, Host, 40043, Client, 25, 0);
  S.Tcp(TcpStateTimeWait, Host, 40044, Client, 25, 100);  // SMTPout has no TimeWait
  // A listener of the server on no service port: what it takes is no
  // category's, whatever the remote port says.
  S.Tcp(TcpStateListening, Any, 2000, Any, 0, 100);
  S.Tcp(TcpStateCloseWait, Host, 2000, Client, 110, 0);
  // A listener that two programs hold: nobody can tell whose.
  S.Tcp(TcpStateTimeWait, Host, 110, Client, 40050, 0);
  // Web mail, on the port it shares with administration.
  S.Tcp(TcpStateTimeWait, Host, 443, Client, 40060, 0);     // LCSSL TimeWait
  S.Tcp(TcpStateTimeWait, Host, 3000, Client, 40061, 200);  // LCin TimeWait: held
  S.Udp(Host, 143, 0);

  EXPECT_EQ(CountsText(CountStates(Snapshot(S), Servers, DefaultPorts)),
            "SMTPin:CloseWait=1 SMTPin:TimeWait=1 SMTPout:SynSent=1 POPout:CloseWait=1 "
            "IMAPin:SynRecv=1 IMAPin:Queued=2 IMAPin:CloseWait=2 IMAPin:TimeWait=1 "
            "IMAPSSL:SynRecv=1 LCin:TimeWait=1 LCSSL:TimeWait=1 ");
}

TEST(StateCounts, NothingWithoutOwnersOrServers) {
  TFakeSocketSource S;
  S.Tcp(TcpStateListening, {0, 0, 0, 0}, 143, {0, 0, 0, 0}, 0, 100);
  S.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 143, {198, 51, 100, 7}, 40000, 0);
  S.Tcp(TcpStateCloseWait, {10, 0, 0, 5}, 143, {198, 51, 100, 7}, 40001, 100);
  const TConnectionList Entries = Snapshot(S);
  ASSERT_EQ(CountsText(CountStates(Entries, Servers, DefaultPorts)),
            "IMAPin:CloseWait=1 IMAPin:TimeWait=1 ");

  // The server not running: its ids are none.
  EXPECT_EQ(CountsText(CountStates(Entries, TServerIds{}, DefaultPorts)), "");
  // Tables without owners: no listener is anyone's, no row held.
  for (TSocketRecord& Socket : S.Sockets) Socket.Owner = TOwner::Unknown;
  EXPECT_EQ(CountsText(CountStates(Snapshot(S), Servers, DefaultPorts)), "");
}

// Configured ports decide, with the classifier's order where two are equal.
TEST(StateCounts, ConfiguredPortsAndSharedPorts) {
  TFakeSocketSource S;
  S.Tcp(TcpStateListening, {0, 0, 0, 0}, 2525, {0, 0, 0, 0}, 0, 100);
  S.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 2525, {198, 51, 100, 7}, 40000, 0);
  S.Tcp(TcpStateCloseWait, {10, 0, 0, 5}, 40001, {198, 51, 100, 7}, 2525, 100);
  S.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 25, {198, 51, 100, 7}, 40002, 0);
  const TConnectionList Entries = Snapshot(S);
  TServicePorts Unused;
  for (int32_t TServicePorts::*Port :
       {&TServicePorts::SmtpInPort, &TServicePorts::SmtpOutPort, &TServicePorts::SmtpSslPort,
        &TServicePorts::PopInPort, &TServicePorts::PopOutPort, &TServicePorts::PopSslPort,
        &TServicePorts::ImapInPort, &TServicePorts::ImapSslPort})
    Unused.*Port = 1;
  const struct {
    const char* What;
    std::vector<std::pair<int32_t TServicePorts::*, int32_t>> Ports;
    const char* Counts;
  } Cases[] = {
      {"SMTP in and out on 2525",
       {{&TServicePorts::SmtpInPort, 2525}, {&TServicePorts::SmtpOutPort, 2525}},
       "SMTPin:TimeWait=1 SMTPout:CloseWait=1 "},
      {"POP in on the SMTP port: SMTP first",
       {{&TServicePorts::SmtpInPort, 2525},
        {&TServicePorts::PopInPort, 2525},
        {&TServicePorts::PopOutPort, 2525}},
       "SMTPin:TimeWait=1 POPout:CloseWait=1 "},
      {"POP alone on it", {{&TServicePorts::PopInPort, 2525}}, "POPin:TimeWait=1 "},
      {"a port nobody listens on", {{&TServicePorts::SmtpInPort, 25}}, ""},
  };
  for (const auto& Case : Cases) {
    TServicePorts Ports = Unused;
    for (const auto& [Port, Number] : Case.Ports) Ports.*Port = Number;
    EXPECT_EQ(CountsText(CountStates(Entries, Servers, Ports)), Case.Counts) << Case.What;
  }
}

}  // namespace
