#include "census/ProcParsers.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/BoundedRead_linux.h"
#include "common/Digits.h"
#include "common/FileDescriptor_linux.h"
#include "common/TextCodec.h"

namespace {

// ---- Small helpers for the byte layouts -------------------------------------

void PutU32(std::vector<uint8_t>& Out, uint32_t V) {
  const uint8_t b[4] = {uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16), uint8_t(V >> 24)};
  Out.insert(Out.end(), b, b + 4);
}

void PutPort(std::vector<uint8_t>& Out, uint16_t Port) {
  const uint8_t b[4] = {uint8_t(Port >> 8), uint8_t(Port), 0, 0};
  Out.insert(Out.end(), b, b + 4);
}

void PutBytes(std::vector<uint8_t>& Out, const uint8_t* Bytes, size_t Count) {
  Out.insert(Out.end(), Bytes, Bytes + Count);
}

void SetU32(uint8_t* At, uint32_t V) {
  for (int i = 0; i < 4; ++i) At[i] = uint8_t(V >> (8 * i));
}

// Offset of the owning process id within an extended row.
size_t ProcessIdOffset(TTableKind Kind) {
  switch (Kind) {
    case TTableKind::Tcp4: return 20;
    case TTableKind::Tcp6: return 52;
    case TTableKind::Udp6: return 24;
    case TTableKind::Udp4: break;
  }
  return 8;
}

// ---- Text helpers -------------------------------------------------------------

// Decimal digits only, without overflow.
template <typename T>
bool ParseDecimal(std::string_view Text, T& V) {
  if (Text.empty()) return false;
  V = 0;
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
    const T digit = T(c - '0');
    if (V > (T(~T(0)) - digit) / 10) return false;
    V = V * 10 + digit;
  }
  return true;
}

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

std::string Join(const std::string& Root, const std::string& Name) {
  return Root.empty() || Root.back() == '/' ? Root + Name : Root + "/" + Name;
}

// A /proc entry name that is a process id.
bool ProcessIdFromName(const char* Name, uint32_t& ProcessId) {
  return ParseDecimal(std::string_view(Name), ProcessId) && ProcessId != 0;
}

// Far more than the socket table of any machine (some seven million
// sockets); what is larger is no kernel's table and is not read to its end.
constexpr size_t ProcNetSizeLimit = size_t(1) << 30;

// A process's name or stat line is far shorter.
constexpr size_t SmallFileLimit = 4096;

// The kernel keeps 15 bytes of a process's name.
constexpr size_t KernelNameLength = 15;

// Reads a small file whole (a name, not a file to swallow: what is longer is
// cut); false, with errno set, when it cannot be opened or read.
bool ReadSmallFile(const std::string& Path, std::string& Text) {
  TFileDescriptor file(open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  return file.Fd >= 0 && ReadUpTo(file.Fd, SmallFileLimit, Text);
}

// The process has ended (or never was): nothing of it is left to read.
bool Gone(int Error) { return Error == ENOENT || Error == ESRCH; }

// The name a process goes by, for messages; "?" when it cannot be read.
std::string CommOf(const std::string& Root, uint32_t ProcessId) {
  std::string comm;
  if (!ReadSmallFile(Join(Root, std::to_string(ProcessId) + "/comm"), comm)) return "?";
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

[[noreturn]] void CannotReadConnections(const std::string& Root, uint32_t ProcessId, int Error) {
  throw std::runtime_error("Can not read the connections of process " +
                           std::to_string(ProcessId) + " (" + CommOf(Root, ProcessId) +
                           "): " + std::strerror(Error));
}

// False for a process in state Z (zombie) or X (dead) by its stat line,
// "pid (name) S ...": the state follows the last ")", since the name may
// hold one.
bool RunningState(const std::string& Stat) {
  const size_t close = Stat.rfind(')');
  if (close == std::string::npos || close + 2 >= Stat.size()) return true;
  const char state = Stat[close + 2];
  return state != 'Z' && state != 'X';
}

// The socket inodes one process holds: its fd directory's links that read
// "socket:[N]". Strict: any failure but the process having ended throws,
// since skipping it would count the process's connections as none.
void ScanProcessFds(const std::string& Root, uint32_t ProcessId, TSocketOwners& Out,
                    bool Strict) {
  const std::string dir = Join(Root, std::to_string(ProcessId) + "/fd");
  TFileDescriptor directory(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Fd < 0) {
    // Another user's process (EACCES) is as unreadable as one that is short
    // of descriptors (EMFILE); only an ended one has nothing to count.
    if (Strict && !Gone(errno)) CannotReadConnections(Root, ProcessId, errno);
    return;
  }
  DIR* entries = fdopendir(directory.Fd);
  if (entries == nullptr) {
    const int error = errno;
    if (Strict && !Gone(error)) CannotReadConnections(Root, ProcessId, error);
    return;
  }
  const int dirFd = directory.Fd;
  directory.Fd = -1;  // closedir closes it
  static constexpr char prefix[] = "socket:[";
  constexpr size_t prefixLength = sizeof prefix - 1;
  char link[64];
  int failure = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(entries);
    if (entry == nullptr) {
      if (errno != 0 && !Gone(errno)) failure = errno;
      break;
    }
    if (entry->d_name[0] == '.') continue;
    const ssize_t n = readlinkat(dirFd, entry->d_name, link, sizeof link);
    if (n < 0) {
      // A descriptor closed meanwhile is gone; a link that may not be read
      // (no right to look into the process) is a failure.
      if (!Gone(errno)) {
        failure = errno;
        if (Strict) break;
      }
      continue;
    }
    if (n <= ssize_t(prefixLength) + 1 || size_t(n) >= sizeof link) continue;
    if (std::memcmp(link, prefix, prefixLength) != 0 || link[n - 1] != ']') continue;
    uint64_t inode;
    if (ParseDecimal(std::string_view(link + prefixLength, size_t(n) - prefixLength - 1), inode) &&
        inode != 0)
      Out.Add(inode, ProcessId);
  }
  closedir(entries);
  if (Strict && failure != 0) CannotReadConnections(Root, ProcessId, failure);
}

}  // namespace

// ---- States ---------------------------------------------------------------------

int32_t TcpStateFromKernel(unsigned KernelState) {
  // ESTABLISHED, SYN_SENT, SYN_RECV, FIN_WAIT1, FIN_WAIT2, TIME_WAIT, CLOSE,
  // CLOSE_WAIT, LAST_ACK, LISTEN, CLOSING, NEW_SYN_RECV (a half-open
  // connection waiting on a listener)
  static constexpr int32_t states[13] = {0, 5, 3, 4, 6, 7, 11, 1, 8, 10, 2, 9, 4};
  return KernelState < 13 ? states[KernelState] : 0;
}

// ---- Owners ---------------------------------------------------------------------

void TSocketOwners::Seal() {
  std::sort(Pairs.begin(), Pairs.end());
  Pairs.erase(std::unique(Pairs.begin(), Pairs.end(),
                          [](const auto& A, const auto& B) { return A.first == B.first; }),
              Pairs.end());
}

uint32_t TSocketOwners::Owner(uint64_t Inode) const {
  if (Inode == 0) return 0;
  auto it = std::lower_bound(Pairs.begin(), Pairs.end(), std::make_pair(Inode, uint32_t(0)));
  return it != Pairs.end() && it->first == Inode ? it->second : 0;
}

// ---- Table writer -----------------------------------------------------------------

TTableWriter::TTableWriter(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table)
    : Kind(Kind), Extended(Extended), Table(Table) {
  Reset();
}

void TTableWriter::Reset() {
  Table.assign(4, 0);
  RowCount = 0;
  Inodes.clear();
}

void TTableWriter::Add(const TSocketRecord& Socket) {
  switch (Kind) {
    case TTableKind::Tcp4:
      PutU32(Table, uint32_t(Socket.State));
      PutBytes(Table, Socket.LocalAddress, 4);
      PutPort(Table, Socket.LocalPort);
      PutBytes(Table, Socket.RemoteAddress, 4);
      PutPort(Table, Socket.RemotePort);
      break;
    case TTableKind::Udp4:
      PutBytes(Table, Socket.LocalAddress, 4);
      PutPort(Table, Socket.LocalPort);
      break;
    case TTableKind::Tcp6:
      if (!Extended) PutU32(Table, uint32_t(Socket.State));
      PutBytes(Table, Socket.LocalAddress, 16);
      PutU32(Table, Socket.LocalScope);
      PutPort(Table, Socket.LocalPort);
      PutBytes(Table, Socket.RemoteAddress, 16);
      PutU32(Table, Socket.RemoteScope);
      PutPort(Table, Socket.RemotePort);
      if (Extended) PutU32(Table, uint32_t(Socket.State));
      break;
    case TTableKind::Udp6:
      PutBytes(Table, Socket.LocalAddress, 16);
      PutU32(Table, Socket.LocalScope);
      PutPort(Table, Socket.LocalPort);
      break;
  }
  if (Extended) {
    PutU32(Table, 0);  // the owner, once known
    Inodes.push_back(Socket.Inode);
  }
  ++RowCount;
  SetU32(Table.data(), uint32_t(RowCount));
}

void TTableWriter::SetOwners(const TSocketOwners& Owners) {
  if (!Extended) return;
  const size_t rowSize = TableRowSize(Kind, true);
  const size_t offset = 4 + ProcessIdOffset(Kind);
  for (size_t i = 0; i < RowCount; ++i)
    SetU32(Table.data() + offset + i * rowSize, Owners.Owner(Inodes[i]));
}

// ---- /proc/net text -----------------------------------------------------------------

bool ParseProcNetLine(std::string_view Line, bool Ipv6, TSocketRecord& Socket) {
  // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
  size_t pos = 0;
  const std::string_view slot = NextField(Line, pos);
  uint32_t ignored;
  if (slot.size() < 2 || slot.back() != ':' || !ParseDecimal(slot.substr(0, slot.size() - 1), ignored))
    return false;
  TSocketRecord socket;
  if (!ParseEndpoint(NextField(Line, pos), Ipv6, socket.LocalAddress, socket.LocalPort) ||
      !ParseEndpoint(NextField(Line, pos), Ipv6, socket.RemoteAddress, socket.RemotePort))
    return false;
  const std::string_view state = NextField(Line, pos);
  uint32_t kernelState;
  if (!ParseHex(state, 2, kernelState)) return false;
  for (int skip = 0; skip < 5; ++skip)  // tx:rx tr:when retrnsmt uid timeout
    if (NextField(Line, pos).empty()) return false;
  if (!ParseDecimal(NextField(Line, pos), socket.Inode)) return false;
  socket.State = TcpStateFromKernel(kernelState);
  Socket = socket;
  return true;
}

size_t ParseProcNetText(std::string_view Text, bool Ipv6, TTableWriter& Out) {
  size_t added = 0;
  size_t start = 0;
  TSocketRecord socket;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string_view::npos) end = Text.size();
    if (ParseProcNetLine(Text.substr(start, end - start), Ipv6, socket)) {
      Out.Add(socket);
      ++added;
    }
    start = end + 1;
  }
  return added;
}

bool ReadProcNetTable(const std::string& Root, const char* Name, bool Ipv6, TTableWriter& Out) {
  const std::string path = Join(Root, std::string("net/") + Name);
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

// ---- Netlink ------------------------------------------------------------------------

std::vector<uint8_t> BuildDiagRequest(uint8_t Family, uint8_t Protocol, uint32_t Sequence) {
  struct {
    nlmsghdr Header;
    inet_diag_req_v2 Request;
  } message;
  std::memset(&message, 0, sizeof message);
  message.Header.nlmsg_len = sizeof message;
  message.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.Header.nlmsg_seq = Sequence;
  message.Request.sdiag_family = Family;
  message.Request.sdiag_protocol = Protocol;
  message.Request.idiag_states = ~0u;  // every state
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&message);
  return std::vector<uint8_t>(bytes, bytes + sizeof message);
}

TDiagResult ParseDiagMessages(const uint8_t* Data, size_t Size, uint32_t Sequence,
                              uint8_t Family, bool Tcp, TTableWriter& Out) {
  TDiagResult result;
  if (Data == nullptr) return result;
  size_t offset = 0;
  while (Size - offset >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    std::memcpy(&header, Data + offset, sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > Size - offset) {
      result.Status = TDiagResult::Failed;
      result.Error = EPROTO;
      return result;
    }
    const uint8_t* payload = Data + offset + sizeof header;
    const size_t payloadSize = header.nlmsg_len - sizeof header;
    if (header.nlmsg_seq == Sequence) {
      if (header.nlmsg_type == NLMSG_DONE) {
        // Since 4.x the end carries the dump's outcome.
        int32_t status = 0;
        if (payloadSize >= sizeof status) std::memcpy(&status, payload, sizeof status);
        if (status < 0) {
          result.Status = TDiagResult::Failed;
          result.Error = status == INT32_MIN ? EPROTO : -status;
        } else {
          result.Status = TDiagResult::Done;
        }
        return result;
      }
      if (header.nlmsg_type == NLMSG_ERROR) {
        int32_t error = 0;
        if (payloadSize >= sizeof error) std::memcpy(&error, payload, sizeof error);
        if (error == 0) {
          result.Status = TDiagResult::Done;  // a bare acknowledgement: nothing more comes
        } else {
          result.Status = TDiagResult::Failed;
          result.Error = error < 0 && error != INT32_MIN ? -error : EPROTO;
        }
        return result;
      }
      if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && payloadSize >= sizeof(inet_diag_msg)) {
        inet_diag_msg message;
        std::memcpy(&message, payload, sizeof message);
        if (message.idiag_family == Family) {
          TSocketRecord socket;
          const size_t addressSize = Family == AF_INET6 ? 16 : 4;
          std::memcpy(socket.LocalAddress, message.id.idiag_src, addressSize);
          std::memcpy(socket.RemoteAddress, message.id.idiag_dst, addressSize);
          socket.LocalPort = ntohs(message.id.idiag_sport);
          socket.RemotePort = ntohs(message.id.idiag_dport);
          socket.LocalScope = message.id.idiag_if;
          socket.State = Tcp ? TcpStateFromKernel(message.idiag_state) : 0;
          socket.Inode = message.idiag_inode;
          Out.Add(socket);
        }
      }
    }
    const size_t step = NLMSG_ALIGN(header.nlmsg_len);
    if (step > Size - offset) break;
    offset += step;
  }
  return result;
}

// ---- Processes ------------------------------------------------------------------------

bool ReadProcessList(const std::string& Root, std::vector<TProcessInfo>& List) {
  DIR* entries = opendir(Root.c_str());
  if (entries == nullptr) return false;
  List.clear();
  std::string comm, stat;
  while (const dirent* entry = readdir(entries)) {
    uint32_t pid;
    if (!ProcessIdFromName(entry->d_name, pid)) continue;
    const std::string commPath = Join(Root, std::string(entry->d_name) + "/comm");
    if (!ReadSmallFile(commPath, comm)) {
      // Ended meanwhile, no process directory, or hidden from this user
      // (hidepid=noaccess): not listed. Anything else, such as no
      // descriptor left, would make a running server look absent.
      const int error = errno;
      if (Gone(error) || error == ENOTDIR || error == EACCES || error == EPERM) continue;
      closedir(entries);
      throw std::runtime_error("Can not read the process list: " + commPath + ": " +
                               std::strerror(error));
    }
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    // A zombie keeps its name but runs no more: an unreaped child named like
    // the server must not stand in for the server. A stat that cannot be read
    // leaves the process listed, as it was a moment ago.
    if (ReadSmallFile(Join(Root, std::string(entry->d_name) + "/stat"), stat) &&
        !RunningState(stat))
      continue;
    List.push_back(TProcessInfo{pid, comm});
  }
  closedir(entries);
  std::stable_sort(List.begin(), List.end(),
                   [](const TProcessInfo& A, const TProcessInfo& B) { return A.ProcessId < B.ProcessId; });
  return true;
}

bool ReadExePath(const std::string& Root, uint32_t ProcessId, const std::string& ExeFile,
                 std::string& Path) {
  if (ExeFile.empty()) return false;
  const std::string link = Join(Root, std::to_string(ProcessId) + "/exe");
  std::vector<char> target(256);
  for (;;) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n < 0) return false;  // a kernel thread, another user's process, or gone
    if (size_t(n) < target.size()) {
      target.resize(size_t(n));
      break;
    }
    if (target.size() >= 64 * 1024) return false;
    target.resize(target.size() * 2);
  }
  const std::string_view full(target.data(), target.size());
  const size_t slash = full.rfind('/');
  const std::string_view fileName = slash == std::string_view::npos ? full : full.substr(slash + 1);
  const bool matches =
      EqualsIgnoringAsciiCase(fileName, ExeFile) ||
      (ExeFile.size() == KernelNameLength && fileName.size() > KernelNameLength &&
       EqualsIgnoringAsciiCase(fileName.substr(0, KernelNameLength), ExeFile));
  if (!matches) return false;
  Path.assign(full);
  return true;
}

// ---- Mounts ---------------------------------------------------------------------------

namespace {

// A mountinfo path field: blanks and backslashes are written as octal escapes.
std::string UnescapeMountField(std::string_view Field) {
  std::string out;
  for (size_t i = 0; i < Field.size(); ++i) {
    const bool escape = Field[i] == '\\' && i + 3 < Field.size() && Field[i + 1] >= '0' &&
                        Field[i + 1] <= '3' && Field[i + 2] >= '0' && Field[i + 2] <= '7' &&
                        Field[i + 3] >= '0' && Field[i + 3] <= '7';
    if (escape) {
      out += char((Field[i + 1] - '0') * 64 + (Field[i + 2] - '0') * 8 + (Field[i + 3] - '0'));
      i += 3;
    } else {
      out += Field[i];
    }
  }
  return out;
}

}  // namespace

TProcMountOptions ProcMountOptionsAt(std::string_view MountInfo, const std::string& MountPoint) {
  // id parent major:minor root mount-point options [optional...] - type source super-options
  TProcMountOptions found;
  size_t start = 0;
  while (start < MountInfo.size()) {
    size_t end = MountInfo.find('\n', start);
    if (end == std::string_view::npos) end = MountInfo.size();
    const std::string_view line = MountInfo.substr(start, end - start);
    start = end + 1;
    std::vector<std::string_view> fields;
    for (size_t pos = 0; pos < line.size();) {
      const size_t blank = std::min(line.find(' ', pos), line.size());
      if (blank > pos) fields.push_back(line.substr(pos, blank - pos));
      pos = blank + 1;
    }
    if (fields.size() < 5 || UnescapeMountField(fields[4]) != MountPoint) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 3 >= fields.size() || fields[dash + 1] != "proc") {
      found = TProcMountOptions();  // something else covers the point now
      continue;
    }
    TProcMountOptions options;
    options.Found = true;
    for (size_t pos = 0; pos <= fields[dash + 3].size();) {
      const std::string_view all = fields[dash + 3];
      const size_t comma = std::min(all.find(',', pos), all.size());
      const std::string_view option = all.substr(pos, comma - pos);
      pos = comma + 1;
      if (option.substr(0, 8) == "hidepid=") options.HidePid = std::string(option.substr(8));
      if (option.substr(0, 4) == "gid=")
        options.HasGid = ParseDecimal(option.substr(4), options.Gid);
    }
    found = options;
  }
  return found;
}

bool HidesOtherUsers(const TProcMountOptions& Options) {
  return Options.Found && !Options.HidePid.empty() && Options.HidePid != "0" &&
         Options.HidePid != "off";
}

void ScanSocketOwners(const std::string& Root, const std::vector<uint32_t>* Owners,
                      TSocketOwners& Out) {
  if (Owners) {
    std::vector<uint32_t> ids(*Owners);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (uint32_t pid : ids)
      if (pid != 0) ScanProcessFds(Root, pid, Out, true);
  } else if (DIR* entries = opendir(Root.c_str())) {
    while (const dirent* entry = readdir(entries)) {
      uint32_t pid;
      if (ProcessIdFromName(entry->d_name, pid)) ScanProcessFds(Root, pid, Out, false);
    }
    closedir(entries);
  }
  Out.Seal();
}
