// Recorded sockets, connection tables and process lists for tests: the same
// conversion code that production uses reads them.
#pragma once

#include <cstdint>
#include <array>
#include <cstring>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "census/GetConnections.h"

// Builds a table in the system's byte layout: a little-endian row count, then
// the rows.
class TTableBytes {
public:
  std::vector<uint8_t> Bytes{0, 0, 0, 0};

  TTableBytes& U32(uint32_t v) {  // a little-endian number
    for (int i = 0; i < 4; ++i) Bytes.push_back(uint8_t(v >> (8 * i)));
    return *this;
  }
  TTableBytes& Raw(std::initializer_list<uint8_t> b) {  // bytes as they stand in memory
    Bytes.insert(Bytes.end(), b);
    return *this;
  }
  TTableBytes& Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return Raw({a, b, c, d}); }
  TTableBytes& Port(uint16_t port) {  // network order in the first two bytes
    return Raw({uint8_t(port >> 8), uint8_t(port & 0xFF), 0, 0});
  }
  TTableBytes& Row() {  // counts one more row
    uint32_t n;
    std::memcpy(&n, Bytes.data(), 4);
    ++n;
    for (int i = 0; i < 4; ++i) Bytes[i] = uint8_t(n >> (8 * i));
    return *this;
  }
  // One extended TCP row; addresses as four bytes in network order.
  TTableBytes& Tcp(uint32_t state, std::array<uint8_t, 4> local, uint16_t localPort,
                   std::array<uint8_t, 4> remote, uint16_t remotePort, uint32_t pid) {
    U32(state).Address(local[0], local[1], local[2], local[3]).Port(localPort);
    Address(remote[0], remote[1], remote[2], remote[3]).Port(remotePort).U32(pid);
    return Row();
  }
  TTableBytes& Udp(std::array<uint8_t, 4> local, uint16_t localPort, uint32_t pid) {
    Address(local[0], local[1], local[2], local[3]).Port(localPort).U32(pid);
    return Row();
  }

  // IPv6 rows; addresses as sixteen bytes in network order.
  using TAddress6 = std::array<uint8_t, 16>;
  TTableBytes& Address6(const TAddress6& a) {
    Bytes.insert(Bytes.end(), a.begin(), a.end());
    return *this;
  }
  // One extended TCP6 row: address, scope id and port on each side, then
  // state and pid.
  TTableBytes& Tcp6(uint32_t state, const TAddress6& local, uint32_t localScope, uint16_t localPort,
                    const TAddress6& remote, uint32_t remoteScope, uint16_t remotePort,
                    uint32_t pid) {
    Address6(local).U32(localScope).Port(localPort);
    Address6(remote).U32(remoteScope).Port(remotePort).U32(state).U32(pid);
    return Row();
  }
  // One plain TCP6 row: the state comes first and there is no pid.
  TTableBytes& PlainTcp6(uint32_t state, const TAddress6& local, uint32_t localScope,
                         uint16_t localPort, const TAddress6& remote, uint32_t remoteScope,
                         uint16_t remotePort) {
    U32(state).Address6(local).U32(localScope).Port(localPort);
    Address6(remote).U32(remoteScope).Port(remotePort);
    return Row();
  }
  TTableBytes& Udp6(const TAddress6& local, uint32_t localScope, uint16_t localPort, uint32_t pid) {
    Address6(local).U32(localScope).Port(localPort).U32(pid);
    return Row();
  }
  TTableBytes& PlainUdp6(const TAddress6& local, uint32_t localScope, uint16_t localPort) {
    Address6(local).U32(localScope).Port(localPort);
    return Row();
  }
};

// Sockets as a census gives them; addresses as four (IPv6: sixteen) bytes in
// network order. A row of process id 0 belongs to nobody, any other to its
// process, unless Owned says otherwise.
class TFakeSocketSource : public TSocketSource {
public:
  TSocketList Sockets;   // every snapshot's sockets
  std::string Failure;   // when not empty, thrown after the sockets are given
  int Reads = 0;
  std::vector<uint32_t> LastOwners;

  TFakeSocketSource& Tcp(int32_t State, std::array<uint8_t, 4> Local, uint16_t LocalPort,
                         std::array<uint8_t, 4> Remote, uint16_t RemotePort, uint32_t Pid) {
    TSocketRecord& socket = Add(0, Local, LocalPort, Pid);
    std::memcpy(socket.RemoteAddress, Remote.data(), 4);
    socket.RemotePort = RemotePort;
    socket.State = State;
    return *this;
  }
  TFakeSocketSource& Tcp6(int32_t State, const std::array<uint8_t, 16>& Local, uint16_t LocalPort,
                          const std::array<uint8_t, 16>& Remote, uint16_t RemotePort,
                          uint32_t Pid) {
    Tcp(State, {}, LocalPort, {}, RemotePort, Pid);
    TSocketRecord& socket = Sockets.back();
    socket.Ipv6 = true;
    std::memcpy(socket.LocalAddress, Local.data(), 16);
    std::memcpy(socket.RemoteAddress, Remote.data(), 16);
    return *this;
  }
  TFakeSocketSource& Udp(std::array<uint8_t, 4> Local, uint16_t LocalPort, uint32_t Pid) {
    Add(1, Local, LocalPort, Pid);
    return *this;
  }
  // The last row's owner as the source tells it: Other for a process the
  // source knows held it without its id (Linux), Unknown for tables
  // without owners.
  TFakeSocketSource& Owned(TOwner Owner) {
    Sockets.back().Owner = Owner;
    if (Owner != TOwner::Process) Sockets.back().ProcessId = 0;
    return *this;
  }

  void ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Out) override {
    ++Reads;
    LastOwners = Owners;
    Out.insert(Out.end(), Sockets.begin(), Sockets.end());
    if (!Failure.empty()) throw std::runtime_error(Failure);
  }

private:
  TSocketRecord& Add(int32_t Protocol, std::array<uint8_t, 4> Local, uint16_t LocalPort,
                     uint32_t Pid) {
    Sockets.emplace_back();
    TSocketRecord& socket = Sockets.back();
    socket.Protocol = Protocol;
    std::memcpy(socket.LocalAddress, Local.data(), 4);
    socket.LocalPort = LocalPort;
    socket.ProcessId = Pid;
    socket.Owner = Pid != 0 ? TOwner::Process : TOwner::Nobody;
    return socket;
  }
};

// Entries one line each, to compare whole lists: "TCP <local> <port> <remote>
// <port> <state> <pid>[ <name>]", UDP without the remote end and the state.
inline std::vector<std::string> EntryTexts(const TConnectionList& List) {
  std::vector<std::string> texts;
  for (const TListEntry& e : List) {
    std::string text = std::string(ProtocolNames[e.Protocol & 1]) + " " + e.LocalAddress + " " +
                       std::to_string(e.LocalPort);
    if (e.Protocol == 0)
      text += " " + e.RemoteAddress + " " + std::to_string(e.RemotePort) + " " +
              (e.State >= 0 && e.State <= 12 ? TcpStateNames[e.State] : std::to_string(e.State));
    text += " " + std::to_string(e.ProcessId);
    if (!e.ProcessName.empty()) text += " " + e.ProcessName;
    texts.push_back(text);
  }
  return texts;
}

class TFakeProcessSource : public TProcessSource {
public:
  std::vector<TProcessInfo> Processes;
  std::map<uint32_t, std::string> ModulePaths;  // pid -> full path of its main module
  bool RefuseList = false;
  std::string Hidden;  // what HiddenProcesses answers
  int ListCalls = 0;
  int ModuleCalls = 0;

  bool ListProcesses(std::vector<TProcessInfo>& List) override {
    ++ListCalls;
    if (RefuseList) return false;
    List = Processes;
    return true;
  }
  std::string HiddenProcesses() override { return Hidden; }
  uint32_t OwnId = 0;  // what OwnProcessId answers
  uint32_t OwnProcessId() override { return OwnId; }
  std::vector<uint32_t> OwnImageIds;  // the processes RunsOwnImage answers true for
  bool RunsOwnImage(uint32_t ProcessId) override {
    for (uint32_t Id : OwnImageIds)
      if (Id == ProcessId) return true;
    return false;
  }
  bool ModuleExePath(uint32_t ProcessId, const std::string&, std::string& Path) override {
    ++ModuleCalls;
    auto module = ModulePaths.find(ProcessId);
    if (module == ModulePaths.end()) return false;
    Path = module->second;
    return true;
  }
};
