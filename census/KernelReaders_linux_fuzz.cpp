// Fuzz targets of the Linux socket table readers: /proc/net text, read whole
// and in pieces from a file, and netlink socket diagnostics datagrams. Every
// table they write must convert back into exactly its rows.
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
#include "census/ProcNet_linux.h"
#include "census/SockDiag_linux.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

const TTableKind Kinds[] = {TTableKind::Tcp4, TTableKind::Tcp6, TTableKind::Udp4, TTableKind::Udp6};

bool IsTcp(TTableKind Kind) { return Kind == TTableKind::Tcp4 || Kind == TTableKind::Tcp6; }
bool IsIpv6(TTableKind Kind) { return Kind == TTableKind::Tcp6 || Kind == TTableKind::Udp6; }

// A table as the writer left it converts into exactly Rows entries, each
// with the written record's ports and a state the tables know.
void CheckTable(TTableKind Kind, bool Extended, const std::vector<uint8_t>& Table, size_t Rows,
                const std::vector<TSocketRecord>& Records) {
  const size_t RowSize = TableRowSize(Kind, Extended);
  if (Table.size() != 4 + Rows * RowSize) Fail("table size", std::to_string(Table.size()));
  std::unique_ptr<uint8_t[]> Exact(new uint8_t[Table.size()]);
  std::memcpy(Exact.get(), Table.data(), Table.size());
  TFakeProcessSource Processes;
  TProcessNamer Namer(Processes);
  TConnectionList List;
  AppendTableEntries(Kind, Exact.get(), Table.size(), Extended, Namer, nullptr, List);
  if (List.size() != Rows) Fail("entries differ from rows", std::to_string(List.size()));
  for (size_t Index = 0; Index < Rows && Index < Records.size(); ++Index) {
    const TListEntry& Entry = List[Index];
    const TSocketRecord& Record = Records[Index];
    if (Entry.LocalPort != Record.LocalPort) Fail("local port changed", std::to_string(Entry.LocalPort));
    if (IsTcp(Kind)) {
      if (Entry.State < 0 || Entry.State > 12) Fail("state out of range", std::to_string(Entry.State));
      if (Entry.State != Record.State) Fail("state changed", std::to_string(Entry.State));
      // A remote address of 0 reads as port 0, whatever was written.
      if (Entry.RemotePort != Record.RemotePort && Entry.RemotePort != 0)
        Fail("remote port changed", std::to_string(Entry.RemotePort));
    }
  }
}

// Collects what the writer is given, beside the table it writes.
struct TRecordingWriter {
  std::vector<uint8_t> Table;
  TTableWriter Writer;
  TRecordingWriter(TTableKind Kind, bool Extended) : Writer(Kind, Extended, Table) {}
};

// The records of the socket lines of Text, one line at a time.
std::vector<TSocketRecord> LineRecords(std::string_view Text, bool Ipv6, size_t LongestLine) {
  std::vector<TSocketRecord> Records;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string_view::npos) End = Text.size();
    TSocketRecord Record;
    if (End - Start <= LongestLine && ParseProcNetLine(Text.substr(Start, End - Start), Ipv6, Record))
      Records.push_back(Record);
    Start = End + 1;
  }
  return Records;
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

// The reader drops lines that do not fit its 64 KiB buffer: no socket line
// is anywhere near that long.
constexpr size_t LongestKeptLine = 64 * 1024 - 1;

}  // namespace

// The first byte picks the table kind (bits 0-1) and the extended layout
// (bit 2); the second gives how often the text is repeated in the file
// (so that lines fall across the reader's 64 KiB pieces); the rest is text.
int FuzzProcNetText(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const TTableKind Kind = Kinds[Data[0] & 3];
  const bool Extended = (Data[0] & 4) != 0;
  const bool Ipv6 = IsIpv6(Kind);
  const std::string_view Text(reinterpret_cast<const char*>(Data + 2), Size - 2);
  // Enough to span a few pieces, not so much that each run crawls.
  const size_t MostRepeats = Text.empty() ? 1 : 1 + (160 * 1024) / Text.size();
  const size_t Repeats = std::min<size_t>(1 + Data[1], MostRepeats);

  // Line by line.
  const std::vector<TSocketRecord> Records = LineRecords(Text, Ipv6, Text.size());
  for (const TSocketRecord& Record : Records)
    if (Record.State < 0 || Record.State > 12) Fail("state out of range", std::to_string(Record.State));

  // The whole text.
  TRecordingWriter Whole(Kind, Extended);
  const size_t Added = ParseProcNetText(Text, Ipv6, Whole.Writer);
  if (Added != Records.size() || Whole.Writer.Rows() != Added)
    Fail("whole text and its lines disagree", std::to_string(Added));
  CheckTable(Kind, Extended, Whole.Table, Added, Records);

  // The same text repeated in a file, read in pieces.
  std::string File;
  for (size_t Index = 0; Index < Repeats; ++Index) File.append(Text.data(), Text.size());
  const std::string Root = TempRoot();
  WriteFile(Root + "/net/tcp", File);
  TRecordingWriter Pieces(Kind, Extended);
  if (!ReadProcNetTable(Root, "tcp", Ipv6, Pieces.Writer)) Fail("file not read", Root);
  const std::vector<TSocketRecord> Expected = LineRecords(File, Ipv6, LongestKeptLine);
  TRecordingWriter Reference(Kind, Extended);
  for (const TSocketRecord& Record : Expected) Reference.Writer.Add(Record);
  if (Pieces.Table != Reference.Table)
    Fail("file read in pieces differs from its lines", std::to_string(Pieces.Writer.Rows()));
  return 0;
}

// The first byte picks the family (bit 0: IPv6), the protocol (bit 1: UDP)
// and the extended layout (bit 2); the rest is one received datagram of the
// dump with sequence number 7, handed over in a buffer of exactly its size.
int FuzzDiagMessages(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const bool Ipv6 = (Data[0] & 1) != 0;
  const bool Tcp = (Data[0] & 2) == 0;
  const bool Extended = (Data[0] & 4) != 0;
  const TTableKind Kind = Tcp ? (Ipv6 ? TTableKind::Tcp6 : TTableKind::Tcp4)
                              : (Ipv6 ? TTableKind::Udp6 : TTableKind::Udp4);
  const size_t DatagramSize = Size - 1;
  std::unique_ptr<uint8_t[]> Datagram(new uint8_t[DatagramSize ? DatagramSize : 1]);
  if (DatagramSize) std::memcpy(Datagram.get(), Data + 1, DatagramSize);

  TRecordingWriter Out(Kind, Extended);
  const TDiagResult Result =
      ParseDiagMessages(Datagram.get(), DatagramSize, 7, Ipv6 ? AF_INET6 : AF_INET, Tcp, Out.Writer);
  if ((Result.Status == TDiagResult::Failed) != (Result.Error > 0))
    Fail("error code and status disagree", std::to_string(Result.Error));
  if (Out.Writer.Rows() > DatagramSize / 16) Fail("more rows than messages fit", "");
  CheckTable(Kind, Extended, Out.Table, Out.Writer.Rows(), {});

  // Owners fill every extended row without touching anything else.
  TSocketOwners Owners;
  Owners.Add(1, 100);
  Owners.Seal();
  std::vector<uint8_t> Before = Out.Table;
  Out.Writer.SetOwners(Owners);
  if (Out.Table.size() != Before.size()) Fail("owners changed the table size", "");
  CheckTable(Kind, Extended, Out.Table, Out.Writer.Rows(), {});
  return 0;
}
