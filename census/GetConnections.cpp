#include "census/GetConnections.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

const char* const ProtocolNames[2] = {"TCP", "UDP"};

// Indexed by the system's TCP state numbers; 0 is what UDP entries carry.
const char* const TcpStateNames[13] = {
    "?",           "CLOSED",    "LISTENING", "SYN_SENT", "SYN_RECEIVED",
    "ESTABLISHED", "FIN_WAIT",  "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
    "LAST_ACK",    "TIME_WAIT", "DELETE_TCB",
};

namespace {

// Appends the decimal digits of V (0..255).
void AppendOctet(std::string& Text, unsigned V) {
  if (V >= 100) Text.push_back(char('0' + V / 100));
  if (V >= 10) Text.push_back(char('0' + V / 10 % 10));
  Text.push_back(char('0' + V % 10));
}

// A little-endian 32-bit field of a row.
uint32_t Field(const uint8_t* Row, size_t Offset) {
  const uint8_t* p = Row + Offset;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The whole rows of a table that its bytes hold, at most as many as it claims.
size_t RowsThatFit(const TRowLayout& Layout, const uint8_t* Table, size_t Size) {
  if (Table == nullptr || Size < 4) return 0;
  return std::min<size_t>(Field(Table, 0), (Size - 4) / Layout.Size);
}

bool AllZero(const uint8_t* Bytes, size_t Count) {
  for (size_t i = 0; i < Count; ++i)
    if (Bytes[i]) return false;
  return true;
}

}  // namespace

std::string IpAddressToText(uint32_t Field) {
  std::string text;
  text.reserve(15);
  for (int i = 0; i < 4; ++i) {
    if (i) text.push_back('.');
    AppendOctet(text, (Field >> (8 * i)) & 0xFF);
  }
  return text;
}

std::string Ipv6AddressToText(const uint8_t Address[16]) {
  static const uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(Address, mappedPrefix, sizeof mappedPrefix) == 0) {
    return "::ffff:" + IpAddressToText(Field(Address, 12));
  }
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = unsigned(Address[2 * i]) << 8 | Address[2 * i + 1];
  // The longest run of zero groups, the first of equal ones; a lone zero
  // group stays as it is.
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end;
  }
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(39);
  for (int i = 0; i < 8;) {
    if (i == bestStart) {
      text += "::";
      i += bestLength;
      continue;
    }
    if (!text.empty() && text.back() != ':') text.push_back(':');
    bool leading = true;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = groups[i] >> shift & 0xF;
      if (leading && digit == 0 && shift != 0) continue;
      leading = false;
      text.push_back(digits[digit]);
    }
    ++i;
  }
  return text;
}

int32_t PortFromNetworkOrder(uint32_t Field) {
  return int32_t((Field & 0xFF) << 8 | (Field >> 8 & 0xFF));
}

// ---- Process names ----------------------------------------------------------

const std::string& TProcessNamer::Name(uint32_t ProcessId) {
  auto known = Names.find(ProcessId);
  if (known != Names.end()) return known->second;

  if (!Listed) {
    Listed = true;
    try {
      if (!Processes.ListProcesses(List)) List.clear();
    } catch (const std::exception&) {
      List.clear();  // a list that cannot be read names nobody
    }
    FirstIndex.reserve(List.size());
    for (size_t i = 0; i < List.size(); ++i) FirstIndex.emplace(List[i].ProcessId, i);
  }

  std::string name = "?";
  auto found = FirstIndex.find(ProcessId);
  if (found != FirstIndex.end()) {
    const std::string& exeFile = List[found->second].ExeFile;
    name = exeFile;
    try {
      std::string path;
      if (Processes.ModuleExePath(ProcessId, exeFile, path)) name = std::move(path);
    } catch (const std::exception&) {
      // an unreadable module list leaves the file name
    }
  }
  return Names.emplace(ProcessId, std::move(name)).first->second;
}

std::string ProcessNameFromId(uint32_t ProcessId, TProcessSource& Processes) {
  TProcessNamer namer(Processes);
  return namer.Name(ProcessId);
}

// ---- Connection tables ----------------------------------------------------

const TRowLayout& RowLayout(TTableKind Kind, bool Extended) {
  switch (Kind) {
    case TTableKind::Tcp4: return Extended ? TcpRowExtended : TcpRowPlain;
    case TTableKind::Tcp6: return Extended ? Tcp6RowExtended : Tcp6RowPlain;
    case TTableKind::Udp6: return Extended ? Udp6RowExtended : Udp6RowPlain;
    case TTableKind::Udp4: break;
  }
  return Extended ? UdpRowExtended : UdpRowPlain;
}

size_t TableRowSize(TTableKind Kind, bool Extended) { return RowLayout(Kind, Extended).Size; }

void AppendTableSockets(TTableKind Kind, bool Extended, const uint8_t* Table, size_t Size,
                        TSocketList& Sockets) {
  const TRowLayout& layout = RowLayout(Kind, Extended);
  const size_t rows = RowsThatFit(layout, Table, Size);
  const size_t addressSize = layout.Ipv6 ? 16 : 4;
  Sockets.reserve(Sockets.size() + rows);
  for (size_t i = 0; i < rows; ++i) {
    const uint8_t* row = Table + 4 + i * layout.Size;
    Sockets.emplace_back();
    TSocketRecord& socket = Sockets.back();
    socket.Protocol = layout.Tcp ? 0 : 1;
    socket.Ipv6 = layout.Ipv6;
    std::memcpy(socket.LocalAddress, row + layout.LocalAddress, addressSize);
    socket.LocalPort = uint16_t(PortFromNetworkOrder(Field(row, layout.LocalPort)));
    if (layout.Tcp) {
      std::memcpy(socket.RemoteAddress, row + layout.RemoteAddress, addressSize);
      socket.RemotePort = uint16_t(PortFromNetworkOrder(Field(row, layout.RemotePort)));
      socket.State = int32_t(Field(row, layout.State));
    }
    if (layout.ProcessId >= 0) {
      socket.ProcessId = Field(row, layout.ProcessId);
      // The system gives process id 0 to what no process holds: TIME_WAIT,
      // half-open connections.
      socket.Owner = socket.ProcessId != 0 ? TOwner::Process : TOwner::Nobody;
    }
  }
}

namespace {

std::string AddressText(const uint8_t Address[16], bool Ipv6) {
  return Ipv6 ? Ipv6AddressToText(Address) : IpAddressToText(Field(Address, 0));
}

}  // namespace

void SnapshotConnections(TConnectionList& List, TSocketSource& Sockets, TProcessSource& Processes,
                         const std::vector<uint32_t>& Owners, bool NameOwners) {
  TSocketList sockets;
  std::exception_ptr failure;
  try {
    Sockets.ReadSockets(Owners, sockets);
  } catch (...) {
    failure = std::current_exception();  // the tables read before it still count
  }

  List.reserve(List.size() + sockets.size());
  TProcessNamer namer(Processes);
  for (const TSocketRecord& socket : sockets) {
    List.emplace_back();
    TListEntry& entry = List.back();
    entry.Protocol = socket.Protocol;
    entry.LocalAddress = AddressText(socket.LocalAddress, socket.Ipv6);
    entry.LocalPort = socket.LocalPort;
    if (socket.Protocol == 0) {
      entry.RemoteAddress = AddressText(socket.RemoteAddress, socket.Ipv6);
      // A listening row's remote port field can hold anything.
      entry.RemotePort = AllZero(socket.RemoteAddress, socket.Ipv6 ? 16 : 4) ? 0 : socket.RemotePort;
      entry.State = socket.State;
    }
    entry.ProcessId = socket.ProcessId;
    entry.Owner = socket.Owner;
    entry.Ipv6 = socket.Ipv6;
    std::memcpy(entry.LocalBytes, socket.LocalAddress, sizeof entry.LocalBytes);
    std::memcpy(entry.RemoteBytes, socket.RemoteAddress, sizeof entry.RemoteBytes);
    if (socket.Owner == TOwner::Process) {
      if (!std::binary_search(Owners.begin(), Owners.end(), socket.ProcessId))
        entry.Owner = TOwner::Other;
      else if (NameOwners)
        entry.ProcessName = namer.Name(socket.ProcessId);
    }
  }
  if (failure) std::rethrow_exception(failure);
}
