#include "census/ProcNet_linux.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "census/ProcScan_linux.h"
#include "common/BoundedRead_linux.h"
#include "common/Digits.h"
#include "common/FileDescriptor_linux.h"

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
// Far more than the socket table of any machine (some seven million
// sockets); what is larger is no kernel's table and is not read to its end.
constexpr size_t ProcNetSizeLimit = size_t(1) << 30;

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
  const std::string path = ProcPath(Root, std::string("net/") + Name);
  // The kernel's files are regular files that end. Anything else standing
  // in their place (a FIFO, a device) could hold the run up or never end:
  // it is not opened in blocking mode and not read.
  TFileDescriptor file(OpenRegularFile(path));
  if (file.Fd < 0) return false;
  // Complete lines are parsed as they come; a line cut by the end of a piece
  // waits for the next one.
  std::vector<char> buffer(64 * 1024);
  size_t held = 0;
  bool skipping = false;  // within a line too long to be a socket's
  bool ok = true;
  size_t total = 0;
  for (;;) {
    if (held == buffer.size()) {
      held = 0;
      skipping = true;
    }
    const ssize_t n = read(file.Fd, buffer.data() + held, buffer.size() - held);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) {
      if (!skipping) ParseProcNetText(std::string_view(buffer.data(), held), Ipv6, Out);
      break;
    }
    held += size_t(n);
    total += size_t(n);
    if (total > ProcNetSizeLimit) {
      errno = EFBIG;
      ok = false;
      break;
    }
    if (skipping) {
      const char* lineBreak = static_cast<const char*>(std::memchr(buffer.data(), '\n', held));
      if (lineBreak == nullptr) {
        held = 0;
        continue;
      }
      const size_t rest = held - size_t(lineBreak + 1 - buffer.data());
      std::memmove(buffer.data(), lineBreak + 1, rest);
      held = rest;
      skipping = false;
    }
    size_t complete = held;
    while (complete > 0 && buffer[complete - 1] != '\n') --complete;
    if (complete == 0) continue;
    ParseProcNetText(std::string_view(buffer.data(), complete), Ipv6, Out);
    std::memmove(buffer.data(), buffer.data() + complete, held - complete);
    held -= complete;
  }
  return ok;
}
