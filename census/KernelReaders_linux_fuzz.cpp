// Fuzz targets of the Linux socket table readers: /proc/net text, as text
// and read from a file, and netlink socket diagnostics datagrams. Every
// socket they find must convert into exactly one entry.
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "testing/FakeCensus.h"
#include "census/GetConnections.h"
#include "census/KernelSockets_linux.h"
#include "census/ProcNet_linux.h"
#include "census/SockDiag_linux.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

// What a reader found converts into exactly as many entries, each with the
// found socket's ports and a state the system knows.
void CheckEntries(bool Tcp, bool Ipv6, const TKernelSockets& Found) {
  TFakeSocketSource Sockets;
  AppendKernelSockets(Tcp, Ipv6, Found, TSocketOwners(), Sockets.Sockets);
  TFakeProcessSource Processes;
  TConnectionList List;
  SnapshotConnections(List, Sockets, Processes, {});
  if (List.size() != Found.size()) Fail("entries differ from sockets", std::to_string(List.size()));
  for (size_t Index = 0; Index < List.size(); ++Index) {
    const TListEntry& Entry = List[Index];
    const TSocketRecord& Socket = Found[Index].Socket;
    if (Entry.LocalPort != Socket.LocalPort) Fail("local port changed", std::to_string(Entry.LocalPort));
    if (Tcp) {
      if (Entry.State < 0 || Entry.State > 12) Fail("state out of range", std::to_string(Entry.State));
      if (Entry.State != Socket.State) Fail("state changed", std::to_string(Entry.State));
      // A remote address of 0 reads as port 0, whatever was found.
      if (Entry.RemotePort != Socket.RemotePort && Entry.RemotePort != 0)
        Fail("remote port changed", std::to_string(Entry.RemotePort));
    } else if (Entry.State != 0) {
      Fail("UDP entry with a state", std::to_string(Entry.State));
    }
  }
}

bool SameSocket(const TKernelSocket& A, const TKernelSocket& B) {
  return A.Inode == B.Inode && A.Socket.State == B.Socket.State &&
         A.Socket.LocalPort == B.Socket.LocalPort && A.Socket.RemotePort == B.Socket.RemotePort &&
         std::memcmp(A.Socket.LocalAddress, B.Socket.LocalAddress, 16) == 0 &&
         std::memcmp(A.Socket.RemoteAddress, B.Socket.RemoteAddress, 16) == 0;
}

// The sockets of the socket lines of Text, one line at a time.
TKernelSockets LineSockets(std::string_view Text, bool Ipv6) {
  TKernelSockets Found;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string_view::npos) End = Text.size();
    TKernelSocket Socket;
    if (ParseProcNetLine(Text.substr(Start, End - Start), Ipv6, Socket))
      Found.push_back(Socket);
    Start = End + 1;
  }
  return Found;
}

std::string TempRoot() {
  static std::string Root;
  if (Root.empty()) {
    const char* Base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    Root = std::string(Base) + "/orvane-fuzz-proc-" + std::to_string(getpid());
    std::string Net = Root + "/net";
    if ((mkdir(Root.c_str(), 0700) != 0 && errno != EEXIST) ||
        (mkdir(Net.c_str(), 0700) != 0 && errno != EEXIST))
      Fail("cannot make a scratch directory", Root);
    std::atexit([] {
      unlink((Root + "/net/tcp").c_str());
      rmdir((Root + "/net").c_str());
      rmdir(Root.c_str());
    });
  }
  return Root;
}

void WriteFile(const std::string& Path, const std::string& Bytes) {
  FILE* File = std::fopen(Path.c_str(), "wb");
  if (File == nullptr || std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size() ||
      std::fclose(File) != 0)
    Fail("cannot write the scratch file", Path);
}

}  // namespace

// The first byte picks the protocol (bit 0: UDP) and the family (bit 1:
// IPv6); the second gives how often the text is repeated in the file (so
// that the file is larger than the reader's first 64 KiB); the rest is text.
int FuzzProcNetText(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const bool Tcp = (Data[0] & 1) == 0;
  const bool Ipv6 = (Data[0] & 2) != 0;
  const std::string_view Text(reinterpret_cast<const char*>(Data + 2), Size - 2);
  // Enough to pass 64 KiB, not so much that each run crawls.
  const size_t MostRepeats = Text.empty() ? 1 : 1 + (160 * 1024) / Text.size();
  const size_t Repeats = std::min<size_t>(1 + Data[1], MostRepeats);

  // Line by line.
  const TKernelSockets Lines = LineSockets(Text, Ipv6);
  for (const TKernelSocket& Socket : Lines)
    if (Socket.Socket.State < 0 || Socket.Socket.State > 12)
      Fail("state out of range", std::to_string(Socket.Socket.State));

  // The whole text.
  TKernelSockets Whole;
  const size_t Added = ParseProcNetText(Text, Ipv6, Whole);
  if (Added != Lines.size() || Whole.size() != Added ||
      !std::equal(Whole.begin(), Whole.end(), Lines.begin(), SameSocket))
    Fail("whole text and its lines disagree", std::to_string(Added));
  CheckEntries(Tcp, Ipv6, Whole);

  // The same text repeated in a file.
  std::string File;
  for (size_t Index = 0; Index < Repeats; ++Index) File.append(Text.data(), Text.size());
  const std::string Root = TempRoot();
  WriteFile(Root + "/net/tcp", File);
  TKernelSockets Read;
  if (!ReadProcNetTable(Root, "tcp", Ipv6, Read)) Fail("file not read", Root);
  const TKernelSockets Expected = LineSockets(File, Ipv6);
  if (Read.size() != Expected.size() ||
      !std::equal(Read.begin(), Read.end(), Expected.begin(), SameSocket))
    Fail("file read differs from its lines", std::to_string(Read.size()));
  return 0;
}

// The first byte picks the family (bit 0: IPv6) and the protocol (bit 1:
// UDP); the rest is one received datagram of the dump with sequence number
// 7, handed over in a buffer of exactly its size.
int FuzzDiagMessages(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const bool Ipv6 = (Data[0] & 1) != 0;
  const bool Tcp = (Data[0] & 2) == 0;
  const size_t DatagramSize = Size - 1;
  std::unique_ptr<uint8_t[]> Datagram(new uint8_t[DatagramSize ? DatagramSize : 1]);
  if (DatagramSize) std::memcpy(Datagram.get(), Data + 1, DatagramSize);

  TKernelSockets Found;
  const TDiagResult Result =
      ParseDiagMessages(Datagram.get(), DatagramSize, 7, Ipv6 ? AF_INET6 : AF_INET, Tcp, Found);
  if ((Result.Status == TDiagResult::Failed) != (Result.Error > 0))
    Fail("error code and status disagree", std::to_string(Result.Error));
  if (Found.size() > DatagramSize / 16) Fail("more sockets than messages fit", "");
  CheckEntries(Tcp, Ipv6, Found);
  return 0;
}
