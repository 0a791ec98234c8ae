// The command line of the stand-in for the mail server's processes, shared by
// its Linux and Windows builds (see orvane_stand_in_linux.cpp for the usage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TStandInEndpoint {
  std::string Host;  // address text without brackets
  bool Ipv6 = false;
  uint16_t Port = 0;
  // "ADDR:PORT", for messages.
  std::string Text() const { return Host + ":" + std::to_string(Port); }
};

struct TStandInStep {
  enum TKind {
    Listen, Listen6Only, ListenNoAccept, Connect, ConnectPending, ConnectFrom, ConnectSpread, Udp
  };
  TKind Kind = Listen;
  TStandInEndpoint Target;  // the listening, bound or dialled end
  TStandInEndpoint From;    // ConnectFrom, ConnectPending with HasFrom: the local end
  bool HasFrom = false;
  long Count = 1;           // Connect, ConnectPending, ConnectSpread: how many connections
  long Sources = 1;         // ConnectSpread: how many IPv4 addresses from From on
};

// The steps in the order given; throws std::invalid_argument naming the
// argument that is wrong.
std::vector<TStandInStep> ParseStandInArguments(const std::vector<std::string>& Arguments);
