#include "census/ProcNet_linux.h"

#include <cstring>

#include "census/ProcScan_linux.h"
#include "common/BoundedRead.h"
#include "common/Digits.h"

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\r'; }

// The next blank-separated field of Text from Pos on.
std::string_view NextField(std::string_view Text, size_t& Pos) {
  while (Pos < Text.size() && IsBlank(Text[Pos])) ++Pos;
  const size_t start = Pos;
  while (Pos < Text.size() && !IsBlank(Text[Pos])) ++Pos;
  return Text.substr(start, Pos - start);
}

// "0100007F:0277": the address as the kernel prints it (each 32-bit word of
// the address in this machine's byte order, as hex) and the port in hex.
bool ParseEndpoint(std::string_view Text, bool Ipv6, uint8_t Address[16], uint16_t& Port) {
  const size_t hexLength = Ipv6 ? 32 : 8;
  if (Text.size() != hexLength + 5 || Text[hexLength] != ':') return false;
  for (size_t word = 0; word < hexLength / 8; ++word) {
    uint32_t v;
    if (!ParseHex(Text.substr(word * 8, 8), 8, v)) return false;
    std::memcpy(Address + word * 4, &v, 4);  // back to the bytes the kernel holds
  }
  uint32_t port;
  if (!ParseHex(Text.substr(hexLength + 1, 4), 4, port)) return false;
  Port = uint16_t(port);
  return true;
}

}  // namespace

bool ParseProcNetLine(std::string_view Line, bool Ipv6, TKernelSocket& Socket) {
  // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
  size_t pos = 0;
  const std::string_view slot = NextField(Line, pos);
  uint32_t ignored;
  if (slot.size() < 2 || slot.back() != ':' || !ParseDecimal(slot.substr(0, slot.size() - 1), ignored))
    return false;
  TKernelSocket found;
  TSocketRecord& socket = found.Socket;
  if (!ParseEndpoint(NextField(Line, pos), Ipv6, socket.LocalAddress, socket.LocalPort) ||
      !ParseEndpoint(NextField(Line, pos), Ipv6, socket.RemoteAddress, socket.RemotePort))
    return false;
  const std::string_view state = NextField(Line, pos);
  uint32_t kernelState;
  if (!ParseHex(state, 2, kernelState)) return false;
  for (int skip = 0; skip < 5; ++skip)  // tx:rx tr:when retrnsmt uid timeout
    if (NextField(Line, pos).empty()) return false;
  if (!ParseDecimal(NextField(Line, pos), found.Inode)) return false;
  socket.State = TcpStateFromKernel(kernelState);
  Socket = found;
  return true;
}

size_t ParseProcNetText(std::string_view Text, bool Ipv6, TKernelSockets& Out) {
  size_t added = 0;
  size_t start = 0;
  TKernelSocket socket;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string_view::npos) end = Text.size();
    if (ParseProcNetLine(Text.substr(start, end - start), Ipv6, socket)) {
      Out.push_back(socket);
      ++added;
    }
    start = end + 1;
  }
  return added;
}

bool ReadProcNetTable(const std::string& Root, const char* Name, bool Ipv6, TKernelSockets& Out) {
  std::string text;
  if (!ReadBoundedFile(ProcPath(Root, std::string("net/") + Name), ProcNetSizeLimit, text))
    return false;
  ParseProcNetText(text, Ipv6, Out);
  return true;
}
