// The Linux source and its readers of the kernel's tables, over recorded
// kernel output and /proc trees made for the test.
#include "census/GetConnections_linux.h"
#include "census/ProcNet_linux.h"
#include "census/ProcScan_linux.h"
#include "census/SockDiag_linux.h"
#include "census/KernelSockets_linux.h"

#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "testing/FakeCensus.h"
#include "testing/TempDirectory_linux.h"

namespace {

// ---- Recorded kernel output -------------------------------------------------

// /proc/net/tcp of a machine with a listener on 0.0.0.0:2024, one on
// 127.0.0.1:42025 with an accepted connection from 127.0.0.1:51000, and a
// TIME_WAIT connection nobody holds.
const char RecordedTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode                                                     \n"
    "   0: 00000000:07E8 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 "
    "1073 1 0000000026e3cbd1 100 0 0 10 0                      \n"
    "   1: 0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 "
    "31316 1 0000000055bd1b1f 100 0 0 10 0                     \n"
    "   2: 0100007F:A429 0100007F:C738 01 00000000:00000000 00:00000000 00000000  1000        0 "
    "31320 1 00000000d8f05e44 20 4 30 10 -1                    \n"
    "   3: 0100007F:C738 0100007F:A429 06 00000000:00000000 03:00001676 00000000     0        0 "
    "0 3 0000000045fcf3c2                                      \n";

// /proc/net/udp: a resolver stub on 127.0.0.53:53 and a wildcard on 68.
const char RecordedUdp[] =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode ref pointer drops             \n"
    "  310: 3500007F:0035 00000000:0000 07 00000000:00000000 00:00000000 00000000   101        0 "
    "20121 2 00000000a1b2c3d4 0         \n"
    " 1325: 00000000:0044 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "18002 2 00000000a1b2c3d5 0         \n";

// A netlink dump reply (one message of 124 bytes, with the attributes the
// kernel adds even unasked), for the listener on 127.0.0.1:42025, sequence 7,
// inode 31316; then the end of the dump.
const uint8_t RecordedListener[] = {
    0x7c, 0x00, 0x00, 0x00, 0x14, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0x08, 0x3d, 0x00, 0x00,
    0x02, 0x0a, 0x00, 0x00, 0xa4, 0x29, 0x00, 0x00, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x54, 0x7a, 0x00, 0x00, 0x05, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x15, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x16, 0x00, 0x52, 0x00, 0x00, 0x00,
};
const uint8_t RecordedDone[] = {
    0x14, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0x51, 0x3d, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,
};

// /proc/net/tcp6: a listener on [::]:22, one on [::1]:42025, a connection
// of a dual-stack listener from 127.0.0.1 (IPv4-mapped), and a link-local
// connection fe80::1:993 <- fe80::2:40000.
const char RecordedTcp6[] =
    "  sl  local_address                         remote_address                        st tx_queue "
    "rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000000000000000000000000000:0016 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000     0        0 2101 1 0000000000000000 100 0 0 10 0\n"
    "   1: 00000000000000000000000001000000:A429 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000  1000        0 2102 1 0000000000000000 100 0 0 10 0\n"
    "   2: 0000000000000000FFFF00000100007F:A429 0000000000000000FFFF00000100007F:CA52 01 "
    "00000000:00000000 00:00000000 00000000  1000        0 66198 1 0000000000000000 20 4 30 10 -1\n"
    "   3: 000080FE000000000000000001000000:03E1 000080FE000000000000000002000000:9C40 01 "
    "00000000:00000000 00:00000000 00000000  1000        0 2104 1 0000000000000000 20 4 30 10 -1\n";

const char RecordedUdp6[] =
    "  sl  local_address                         remote_address                        st tx_queue "
    "rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
    " 1188: 00000000000000000000000001000000:0222 00000000000000000000000000000000:0000 07 "
    "00000000:00000000 00:00000000 00000000     0        0 2105 2 0000000000000000 0\n";

// A netlink dump reply for AF_INET6, sequence 7: the connection to a
// dual-stack listener on [::]:42025 from 127.0.0.1:51794, inode 66198.
const uint8_t RecordedMapped[] = {
    0x7c, 0x00, 0x00, 0x00, 0x14, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0xcc, 0x58, 0x00, 0x00,
    0x0a, 0x01, 0x00, 0x00, 0xa4, 0x29, 0xca, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0xff, 0xff, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0xff, 0xff, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xe9, 0x10, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x96, 0x02, 0x01, 0x00, 0x05, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x15, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x16, 0x00, 0x12, 0x00, 0x00, 0x00,
};

// One service port as both readers saw it on one machine: a listener on
// 127.0.0.1:42143 (inode 41657) with one accepted connection (inode 41659);
// a half-open connection from 127.0.0.99, whose answers were dropped; a
// connection waiting to be accepted; one its client closed while it waited
// (CLOSE_WAIT); one the server closed first (TIME_WAIT); the client ends,
// held by another process. What no process holds has inode 0.
const char RecordedServiceTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout"
    " inode\n"
    "   0: 0100007F:A49F 00000000:0000 0A 00000000:00000002 00:00000000 00000000     0        0"
    " 41657 4 0000000040948b54 100 0 0 10 0\n"
    "   1: 0100007F:A49F 6300007F:C4A3 03 00000000:00000000 01:00000046 00000000     0        0"
    " 0 0 000000007d48a772\n"
    "   2: 0100007F:A49F 0100007F:B21C 08 00000000:00000001 00:00000000 00000000     0        0"
    " 0 1 00000000567b30ff 20 4 0 10 -1\n"
    "   3: 0100007F:A49F 0100007F:B1F8 01 00000000:00000000 00:00000000 00000000     0        0"
    " 41659 1 00000000c0f6580c 20 0 0 10 -1\n"
    "   4: 6300007F:C4A3 0100007F:A49F 02 00000001:00000000 01:00000046 00000000     0        0"
    " 41664 2 0000000097a418ad 100 0 0 10 -1\n"
    "   5: 0100007F:A49F 0100007F:B206 06 00000000:00000000 03:00001748 00000000     0        0"
    " 0 3 0000000019a09996\n"
    "   6: 0100007F:B1F8 0100007F:A49F 01 00000000:00000000 00:00000000 00000000     0        0"
    " 41658 2 00000000f3c6e8bd 20 0 0 10 -1\n"
    "   7: 0100007F:B212 0100007F:A49F 01 00000000:00000000 00:00000000 00000000     0        0"
    " 41662 2 00000000fccfe558 20 0 0 10 -1\n"
    "   8: 0100007F:B21C 0100007F:A49F 05 00000000:00000000 03:00001752 00000000     0        0"
    " 0 3 000000009e203771\n"
    "   9: 0100007F:A49F 0100007F:B212 01 00000000:00000000 00:00000000 00000000     0        0"
    " 0 1 00000000567f4aa6 20 0 0 10 -1\n";
// The same as a netlink dump, sequence 7, in hex; the end is RecordedDone.
const char RecordedServiceDump[] =
    "7c0000001400020007000000b1370000020a0000a49f00007f0000010000000000000000000000000000000000000000"
    "000000000000000000000000991400000000000000000000020000001000000000000000b9a200000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "600000001400020007000000b137000002030100a49fc4a37f0000010000000000000000000000007f00006300000000"
    "0000000000000000000000009a14000000000000b80200000000000000000000000000000000000008000f0000000000"
    "7c0000001400020007000000b137000002080000a49fb21c7f0000010000000000000000000000007f00000100000000"
    "0000000000000000000000009b1400000000000000000000010000000000000000000000000000000500080001000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "7c0000001400020007000000b137000002010000a49fb1f87f0000010000000000000000000000007f00000100000000"
    "0000000000000000000000009c1400000000000000000000000000000000000000000000bba200000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "7c0000001400020007000000b137000002020100c4a3a49f7f0000630000000000000000000000007f00000100000000"
    "0000000000000000000000009d14000000000000b8020000000000000100000000000000c0a200000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "600000001400020007000000b137000002060300a49fb2067f0000010000000000000000000000007f00000100000000"
    "0000000000000000000000009e14000000000000cce800000000000000000000000000000000000008000f0000000000"
    "7c0000001400020007000000b137000002010000b1f8a49f7f0000010000000000000000000000007f00000100000000"
    "0000000000000000000000009f1400000000000000000000000000000000000000000000baa200000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "7c0000001400020007000000b137000002010000b212a49f7f0000010000000000000000000000007f00000100000000"
    "000000000000000000000000a01400000000000000000000000000000000000000000000bea200000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000"
    "600000001400020007000000b137000002050300b21ca49f7f0000010000000000000000000000007f00000100000000"
    "000000000000000000000000a11400000000000034e900000000000000000000000000000000000008000f0000000000"
    "7c0000001400020007000000b137000002010000a49fb2127f0000010000000000000000000000007f00000100000000"
    "000000000000000000000000a21400000000000000000000000000000000000000000000000000000500080000000000"
    "08000f00000000000c00150001000000000000000600160052000000";

std::vector<uint8_t> Concat(std::initializer_list<std::pair<const uint8_t*, size_t>> Parts) {
  std::vector<uint8_t> all;
  for (auto& p : Parts) all.insert(all.end(), p.first, p.first + p.second);
  return all;
}

// An error reply for sequence Seq carrying -Error.
std::vector<uint8_t> ErrorMessage(uint32_t Seq, int32_t Code, uint16_t Type = NLMSG_ERROR) {
  std::vector<uint8_t> m(20, 0);
  m[0] = 20;
  m[4] = uint8_t(Type);
  std::memcpy(&m[8], &Seq, 4);
  std::memcpy(&m[16], &Code, 4);
  return m;
}

// The entries a snapshot makes of what a reader found in one table, with the
// owners of their inodes; process 4242 is "orvane".
TConnectionList ToEntries(bool Tcp, bool Ipv6, const TKernelSockets& Found,
                          const TSocketOwners& Owners = TSocketOwners()) {
  TFakeSocketSource sockets;
  AppendKernelSockets(Tcp, Ipv6, Found, Owners, sockets.Sockets);
  TFakeProcessSource processes;
  processes.Processes = {{4242, "orvane"}};
  TConnectionList list;
  SnapshotConnections(list, sockets, processes, {4242});
  return list;
}

std::vector<uint8_t> FromHex(const char* Text) {
  std::vector<uint8_t> bytes;
  for (const char* p = Text; p[0] && p[1]; p += 2)
    bytes.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
  return bytes;
}

// ---- States and rows ---------------------------------------------------------

TEST(KernelStateTest, MapsToTableNumbering) {
  const struct {
    unsigned Kernel;
    const char* Name;
  } cases[] = {
      {1, "ESTABLISHED"}, {2, "SYN_SENT"},  {3, "SYN_RECEIVED"}, {4, "FIN_WAIT"},
      {5, "FIN_WAIT2"},   {6, "TIME_WAIT"}, {7, "CLOSED"},       {8, "CLOSE_WAIT"},
      {9, "LAST_ACK"},    {10, "LISTENING"}, {11, "CLOSING"},    {12, "SYN_RECEIVED"},
      {0, "?"},           {13, "?"},         {255, "?"},         {0xFFFFFFFF, "?"},
  };
  for (const auto& c : cases) EXPECT_STREQ(TcpStateNames[TcpStateFromKernel(c.Kernel)], c.Name) << c.Kernel;
}

TEST(SocketOwnersTest, LookupAndSharedSockets) {
  TSocketOwners owners;
  owners.Add(500, 30);
  owners.Add(100, 20);
  owners.Add(500, 10);  // also held by a process with a lower id
  owners.Add(7, 99);
  owners.Seal();
  EXPECT_EQ(owners.Owner(500), 10u);
  EXPECT_EQ(owners.Owner(100), 20u);
  EXPECT_EQ(owners.Owner(7), 99u);
  EXPECT_EQ(owners.Owner(8), 0u);
  EXPECT_EQ(owners.Owner(0), 0u);
  EXPECT_EQ(owners.Owner(~uint64_t(0)), 0u);
}

// ---- /proc/net text -------------------------------------------------------------

// Both readers tell the three owners apart: the sockets of the scanned
// server, those no process holds (inode 0), and those of another process.
TEST(SocketOwnersTest, ServerSocketsThatNoProcessHoldsComeAsNobody) {
  TSocketOwners owners;
  owners.Add(41657, 4242);
  owners.Add(41659, 4242);
  owners.Seal();
  TKernelSockets fromText, fromDump;
  ParseProcNetText(RecordedServiceTcp, false, fromText);
  std::vector<uint8_t> dump = FromHex(RecordedServiceDump);
  dump.insert(dump.end(), RecordedDone, RecordedDone + sizeof RecordedDone);
  EXPECT_EQ(ParseDiagMessages(dump.data(), dump.size(), 7, AF_INET, true, fromDump).Status,
            TDiagResult::Done);
  const std::vector<std::string> expected = {
      "127.0.0.1:42143 0.0.0.0:0 LISTENING Process 4242",
      "127.0.0.1:42143 127.0.0.1:45560 ESTABLISHED Process 4242",
      "127.0.0.1:42143 127.0.0.1:45574 TIME_WAIT Nobody 0",
      "127.0.0.1:42143 127.0.0.1:45586 ESTABLISHED Nobody 0",  // waiting to be accepted
      "127.0.0.1:42143 127.0.0.1:45596 CLOSE_WAIT Nobody 0",
      "127.0.0.1:42143 127.0.0.99:50339 SYN_RECEIVED Nobody 0",
      "127.0.0.1:45560 127.0.0.1:42143 ESTABLISHED Other 0",
      "127.0.0.1:45586 127.0.0.1:42143 ESTABLISHED Other 0",
      "127.0.0.1:45596 127.0.0.1:42143 FIN_WAIT2 Nobody 0",
      "127.0.0.99:50339 127.0.0.1:42143 SYN_SENT Other 0",
  };
  const char* const ownerNames[] = {"Unknown", "Nobody", "Process", "Other"};
  for (const TKernelSockets* found : {&fromText, &fromDump}) {
    std::vector<std::string> texts;
    for (const TListEntry& e : ToEntries(true, false, *found, owners))
      texts.push_back(e.LocalAddress + ":" + std::to_string(e.LocalPort) + " " + e.RemoteAddress +
                      ":" + std::to_string(e.RemotePort) + " " + TcpStateNames[e.State] + " " +
                      ownerNames[int(e.Owner)] + " " + std::to_string(e.ProcessId));
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, expected) << (found == &fromText ? "/proc/net/tcp" : "netlink");
  }
}

TEST(ProcNetTextTest, RecordedTcpTable) {
  TKernelSockets found;
  EXPECT_EQ(ParseProcNetText(RecordedTcp, false, found), 4u);
  TSocketOwners owners;
  owners.Add(31316, 4242);
  owners.Add(31320, 4242);
  owners.Seal();

  const TConnectionList list = ToEntries(true, false, found, owners);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].LocalAddress, "0.0.0.0");
  EXPECT_EQ(list[0].LocalPort, 2024);
  EXPECT_EQ(list[0].State, TcpStateListening);
  EXPECT_EQ(list[0].ProcessId, 0u);  // inode 1073 is held by nobody we know
  EXPECT_EQ(list[1].LocalAddress, "127.0.0.1");
  EXPECT_EQ(list[1].LocalPort, 42025);
  EXPECT_EQ(list[1].ProcessId, 4242u);
  EXPECT_EQ(list[1].ProcessName, "orvane");
  EXPECT_EQ(list[2].State, TcpStateEstablished);
  EXPECT_EQ(list[2].RemoteAddress, "127.0.0.1");
  EXPECT_EQ(list[2].RemotePort, 51000);
  EXPECT_EQ(list[2].ProcessId, 4242u);
  EXPECT_EQ(list[3].State, 11);
  EXPECT_EQ(list[3].ProcessId, 0u);
}

TEST(ProcNetTextTest, RecordedUdpTable) {
  TKernelSockets found;
  EXPECT_EQ(ParseProcNetText(RecordedUdp, false, found), 2u);
  const TConnectionList list = ToEntries(false, false, found);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Protocol, 1);
  EXPECT_EQ(list[0].LocalAddress, "127.0.0.53");
  EXPECT_EQ(list[0].LocalPort, 53);
  EXPECT_EQ(list[0].State, 0);
  EXPECT_EQ(list[1].LocalPort, 68);
}

TEST(ProcNetTextTest, RecordedIpv6Tables) {
  TKernelSockets tcp, udp;
  EXPECT_EQ(ParseProcNetText(RecordedTcp6, true, tcp), 4u);
  EXPECT_EQ(ParseProcNetText(RecordedUdp6, true, udp), 1u);
  // IPv4 lines are no IPv6 lines, and the other way round.
  TKernelSockets other;
  EXPECT_EQ(ParseProcNetText(RecordedTcp6, false, other), 0u);
  EXPECT_EQ(ParseProcNetText(RecordedTcp, true, tcp), 0u);

  EXPECT_EQ(EntryTexts(ToEntries(true, true, tcp)),
            (std::vector<std::string>{
                "TCP :: 22 :: 0 LISTENING 0",
                "TCP ::1 42025 :: 0 LISTENING 0",
                "TCP ::ffff:127.0.0.1 42025 ::ffff:127.0.0.1 51794 ESTABLISHED 0",
                "TCP fe80::1 993 fe80::2 40000 ESTABLISHED 0",
            }));

  const TConnectionList udpList = ToEntries(false, true, udp);
  ASSERT_EQ(udpList.size(), 1u);
  EXPECT_EQ(udpList[0].LocalAddress, "::1");
  EXPECT_EQ(udpList[0].LocalPort, 546);
  EXPECT_EQ(udpList[0].Protocol, 1);
}

TEST(ProcNetTextTest, RejectsMalformedLines) {
  const char* const bad[] = {
      "",
      "  sl  local_address rem_address   st tx_queue",
      "   0: 0100007F:A429 00000000:0000 0A",                                             // cut short
      "   0: 0100007G:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5",  // hex
      "   0: 100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5",   // 7 digits
      "   0: 0100007F:A4290 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5",
      "   0: 0100007F-A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5",
      "   0: 0100007F:A429 00000000:0000 0A1 00000000:00000000 00:00000000 00000000 0 0 5",
      "   0: 0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 -5",
      "   0: 0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 "
      "99999999999999999999999",                                                          // overflow
      "   x: 0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5",
      "0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5 1",
  };
  TKernelSocket s;
  for (const char* line : bad) EXPECT_FALSE(ParseProcNetLine(line, false, s)) << line;
  EXPECT_TRUE(ParseProcNetLine(
      "0: 0100007F:A429 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 5", false, s));
  EXPECT_EQ(s.Inode, 5u);
  EXPECT_EQ(s.Socket.LocalPort, 42025);
  // Lines in a text may end in CR LF or lack the last break.
  TKernelSockets found;
  EXPECT_EQ(ParseProcNetText("garbage\n0: 0100007F:A429 00000000:0000 0A 0:0 0:0 0 0 0 5\r\n"
                             "1: 0100007F:A42A 00000000:0000 0A 0:0 0:0 0 0 0 6",
                             false, found),
            2u);
}

// ---- Netlink -------------------------------------------------------------------

TEST(DiagMessagesTest, RecordedDump) {
  TKernelSockets found;
  TDiagResult r = ParseDiagMessages(RecordedListener, sizeof RecordedListener, 7, AF_INET, true, found);
  EXPECT_EQ(r.Status, TDiagResult::More);
  r = ParseDiagMessages(RecordedDone, sizeof RecordedDone, 7, AF_INET, true, found);
  EXPECT_EQ(r.Status, TDiagResult::Done);
  TSocketOwners owners;
  owners.Add(31316, 4242);
  owners.Seal();

  const TConnectionList list = ToEntries(true, false, found, owners);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].LocalAddress, "127.0.0.1");
  EXPECT_EQ(list[0].LocalPort, 42025);
  EXPECT_EQ(list[0].RemoteAddress, "0.0.0.0");
  EXPECT_EQ(list[0].State, TcpStateListening);
  EXPECT_EQ(list[0].ProcessId, 4242u);

  // Both messages in one datagram, as the kernel may send them.
  TKernelSockets found2;
  auto both = Concat({{RecordedListener, sizeof RecordedListener}, {RecordedDone, sizeof RecordedDone}});
  EXPECT_EQ(ParseDiagMessages(both.data(), both.size(), 7, AF_INET, true, found2).Status,
            TDiagResult::Done);
  EXPECT_EQ(found2.size(), 1u);
}

TEST(DiagMessagesTest, RecordedIpv6Dump) {
  TKernelSockets found;
  auto both = Concat({{RecordedMapped, sizeof RecordedMapped}, {RecordedDone, sizeof RecordedDone}});
  EXPECT_EQ(ParseDiagMessages(both.data(), both.size(), 7, AF_INET6, true, found).Status,
            TDiagResult::Done);
  // The IPv4 family takes none of it.
  TKernelSockets found4;
  ParseDiagMessages(both.data(), both.size(), 7, AF_INET, true, found4);
  EXPECT_EQ(found4.size(), 0u);

  TSocketOwners owners;
  owners.Add(66198, 4242);
  owners.Seal();
  const TConnectionList list = ToEntries(true, true, found, owners);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].LocalAddress, "::ffff:127.0.0.1");
  EXPECT_EQ(list[0].LocalPort, 42025);
  EXPECT_EQ(list[0].RemoteAddress, "::ffff:127.0.0.1");
  EXPECT_EQ(list[0].RemotePort, 51794);
  EXPECT_EQ(list[0].State, TcpStateEstablished);
  EXPECT_EQ(list[0].ProcessId, 4242u);

  // UDP messages carry no state into the table.
  TKernelSockets udp;
  ParseDiagMessages(both.data(), both.size(), 7, AF_INET6, false, udp);
  const TConnectionList udpList = ToEntries(false, true, udp);
  ASSERT_EQ(udpList.size(), 1u);
  EXPECT_EQ(udpList[0].State, 0);
  EXPECT_EQ(udpList[0].LocalPort, 42025);
}

TEST(DiagMessagesTest, SkipsWhatIsNotOurs) {
  struct {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Change;
  } cases[] = {
      {"another sequence", [](std::vector<uint8_t>& m) { m[8] = 8; }},
      {"another family", [](std::vector<uint8_t>& m) { m[16] = AF_INET6; }},
      {"another message type", [](std::vector<uint8_t>& m) { m[4] = 0x15; }},
      {"payload shorter than a socket message",
       [](std::vector<uint8_t>& m) { m.resize(16 + 71); m[0] = 16 + 71; }},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> message(RecordedListener, RecordedListener + sizeof RecordedListener);
    c.Change(message);
    TKernelSockets found;
    EXPECT_EQ(ParseDiagMessages(message.data(), message.size(), 7, AF_INET, true, found).Status,
              TDiagResult::More)
        << c.What;
    EXPECT_EQ(found.size(), 0u) << c.What;
  }
}

TEST(DiagMessagesTest, ErrorsAndBadLengthsFail) {
  TKernelSockets writer;
  auto error = ErrorMessage(7, -ENOENT);
  TDiagResult r = ParseDiagMessages(error.data(), error.size(), 7, AF_INET, true, writer);
  EXPECT_EQ(r.Status, TDiagResult::Failed);
  EXPECT_EQ(r.Error, ENOENT);

  auto doneFailed = ErrorMessage(7, -EINTR, NLMSG_DONE);
  r = ParseDiagMessages(doneFailed.data(), doneFailed.size(), 7, AF_INET, true, writer);
  EXPECT_EQ(r.Status, TDiagResult::Failed);
  EXPECT_EQ(r.Error, EINTR);

  auto weird = ErrorMessage(7, INT32_MIN);
  r = ParseDiagMessages(weird.data(), weird.size(), 7, AF_INET, true, writer);
  EXPECT_EQ(r.Status, TDiagResult::Failed);
  EXPECT_EQ(r.Error, EPROTO);

  for (uint32_t length : {0u, 15u, 125u, 0xFFFFFFFFu, 0x80000000u}) {
    std::vector<uint8_t> m(RecordedListener, RecordedListener + sizeof RecordedListener);
    std::memcpy(m.data(), &length, 4);
    r = ParseDiagMessages(m.data(), m.size(), 7, AF_INET, true, writer);
    EXPECT_EQ(r.Status, TDiagResult::Failed) << length;
  }
  EXPECT_EQ(writer.size(), 0u);

  // A datagram that ends inside a header is not a message.
  r = ParseDiagMessages(RecordedListener, 15, 7, AF_INET, true, writer);
  EXPECT_EQ(r.Status, TDiagResult::More);
  r = ParseDiagMessages(nullptr, 100, 7, AF_INET, true, writer);
  EXPECT_EQ(r.Status, TDiagResult::More);
}

// Arbitrary bytes: every row added must come from a whole message inside
// the buffer, and nothing may be read past it.
TEST(DiagMessagesTest, SurvivesArbitraryBytes) {
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> data(RecordedListener, RecordedListener + sizeof RecordedListener);
    data.insert(data.end(), RecordedDone, RecordedDone + sizeof RecordedDone);
    const int flips = 1 + int(random() % 8);
    for (int i = 0; i < flips; ++i) data[random() % data.size()] = uint8_t(random());
    data.resize(random() % (data.size() + 1));
    std::vector<uint8_t> exact(data);  // the end of the buffer is the end of its allocation
    TKernelSockets found;
    ParseDiagMessages(exact.data(), exact.size(), 7, AF_INET, true, found);
    EXPECT_LE(found.size() * (16 + 72), exact.size());
  }
}

// ---- /proc trees ------------------------------------------------------------------

// A temporary directory standing in for /proc, removed at the end.
class ProcTreeTest : public ::testing::Test {
protected:
  TTempDirectory Tree;
  const std::string Root = Tree.Path;

  void Dir(const std::string& Path) { ASSERT_EQ(mkdir((Root + "/" + Path).c_str(), 0755), 0) << Path; }
  void File(const std::string& Path, const std::string& Text) { Tree.Write(Path, Text); }
  void Link(const std::string& Path, const std::string& Target) {
    ASSERT_EQ(symlink(Target.c_str(), (Root + "/" + Path).c_str()), 0) << Path;
  }
  // A process with a name and socket descriptors.
  void Process(uint32_t Pid, const std::string& Comm, std::initializer_list<const char*> Fds) {
    const std::string p = std::to_string(Pid);
    Dir(p);
    File(p + "/comm", Comm + "\n");
    Dir(p + "/fd");
    int fd = 0;
    for (const char* target : Fds) Link(p + "/fd/" + std::to_string(fd++), target);
  }
};

TEST_F(ProcTreeTest, ProcessListFromCommFiles) {
  Process(300, "Orvane.exe", {});
  Process(20, "bash", {});
  Process(4000000000u, "big", {});
  Dir("77");                    // ended while listed: no comm
  Dir("self");                  // not a process
  Dir("12a");
  Dir("0");
  File("45", "not a directory");
  File("20/comm_extra", "x");
  std::vector<TProcessInfo> list{{1, "stale"}};
  ASSERT_TRUE(ReadProcessList(Root, list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].ProcessId, 20u);
  EXPECT_EQ(list[0].ExeFile, "bash");
  EXPECT_EQ(list[1].ProcessId, 300u);
  EXPECT_EQ(list[1].ExeFile, "Orvane.exe");
  EXPECT_EQ(list[2].ProcessId, 4000000000u);
  EXPECT_FALSE(ReadProcessList(Root + "/missing", list));
}

TEST_F(ProcTreeTest, ZombiesAreNotRunningProcesses) {
  const struct {
    uint32_t Pid;
    const char* Stat;
    bool Listed;
  } cases[] = {
      {10, "10 (Orvane.exe) S 1 10 10 0 -1", true},
      {11, "11 (Orvane.exe) R 1", true},
      {12, "12 (Orvane.exe) Z 10 12", false},
      {13, "13 (Orvane.exe) X 10 13", false},
      {14, "14 (a) Z (b) S 1", true},  // the state follows the last ")"
      {15, "15 (a) R (b) Z 1", false},
      {16, "", true},                  // a stat without a state: listed as before
  };
  for (const auto& c : cases) {
    Process(c.Pid, "Orvane.exe", {});
    File(std::to_string(c.Pid) + "/stat", c.Stat);
  }
  std::vector<TProcessInfo> list;
  ASSERT_TRUE(ReadProcessList(Root, list));
  std::vector<uint32_t> listed, expected;
  for (const auto& p : list) listed.push_back(p.ProcessId);
  for (const auto& c : cases)
    if (c.Listed) expected.push_back(c.Pid);
  EXPECT_EQ(listed, expected);
}

TEST_F(ProcTreeTest, ExePathWhenNamesAgree) {
  Process(10, "Orvane.exe", {});
  Link("10/exe", "/srv/Mail/App/ORVANE.EXE");
  Process(11, "Orvane.exe", {});
  Link("11/exe", "/usr/lib/wine/wine64-preloader");  // under a compatibility layer
  Process(12, "systemd-journal", {});                 // the kernel keeps 15 characters
  Link("12/exe", "/usr/lib/systemd/systemd-journald");
  Process(13, "kworker/0:1", {});                    // kernel threads have no exe
  Process(14, "sh", {});
  Link("14/exe", "sh");

  std::string path = "unchanged";
  EXPECT_TRUE(ReadExePath(Root, 10, "Orvane.exe", path));
  EXPECT_EQ(path, "/srv/Mail/App/ORVANE.EXE");
  path = "unchanged";
  EXPECT_FALSE(ReadExePath(Root, 11, "Orvane.exe", path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_TRUE(ReadExePath(Root, 12, "systemd-journal", path));
  EXPECT_EQ(path, "/usr/lib/systemd/systemd-journald");
  EXPECT_FALSE(ReadExePath(Root, 13, "kworker/0:1", path));
  EXPECT_FALSE(ReadExePath(Root, 99, "x", path));
  EXPECT_TRUE(ReadExePath(Root, 14, "SH", path));
  EXPECT_EQ(path, "sh");
  EXPECT_FALSE(ReadExePath(Root, 10, "Orvane.ex", path));  // a shorter name is no match

  // Through the process source the names come out as the contract says.
  TLinuxProcessSource source(Root);
  EXPECT_EQ(ProcessNameFromId(10, source), "/srv/Mail/App/ORVANE.EXE");
  EXPECT_EQ(ProcessNameFromId(11, source), "Orvane.exe");
  EXPECT_EQ(ProcessNameFromId(13, source), "kworker/0:1");
  EXPECT_EQ(ProcessNameFromId(99, source), "?");
}

TEST_F(ProcTreeTest, SocketOwnersFromDescriptorLinks) {
  Process(100, "Orvane.exe", {"socket:[123]", "/dev/null", "pipe:[124]", "socket:[125]"});
  Process(200, "peer", {"socket:[126]", "socket:[123]", "socket:[]", "socket:[12x]",
                        "socket:[99999999999999999999]", "socket:[127"});
  Process(300, "closed", {});
  Dir("400");  // no fd directory (ended)

  TSocketOwners all;
  ScanSocketOwners(Root, {100, 200, 300, 400}, all);
  EXPECT_EQ(all.Owner(123), 100u);
  EXPECT_EQ(all.Owner(125), 100u);
  EXPECT_EQ(all.Owner(126), 200u);
  EXPECT_EQ(all.Owner(124), 0u);
  EXPECT_EQ(all.Owner(127), 0u);
  EXPECT_EQ(all.Size(), 3u);

  TSocketOwners narrowed;
  ScanSocketOwners(Root, {200, 400}, narrowed);
  EXPECT_EQ(narrowed.Owner(123), 200u);
  EXPECT_EQ(narrowed.Owner(125), 0u);
  EXPECT_EQ(narrowed.Owner(126), 200u);
}

// Only a process that has ended may be passed over: the descriptors of a
// server that cannot be read would count as no connections.
TEST_F(ProcTreeTest, ServerDescriptorsThatCannotBeReadEndTheScan) {
  Process(100, "Orvane.exe", {"socket:[123]"});
  Dir("200");                                // ended: its fd directory is gone
  File("300/comm", "Lumicourt.exe\n");
  File("300/fd", "");                       // unreadable as a directory (ENOTDIR)
  // A descriptor whose link cannot be read (a file stands in for a link
  // that may not be read: EINVAL), beside one that can.
  Process(500, "Helmstead.exe", {"socket:[501]"});
  File("500/fd/7", "");
  const struct {
    std::vector<uint32_t> Owners;
    std::string Failure;
  } cases[] = {
      {{100, 200}, ""},
      {{100, 300}, "Can not read the connections of process 300 (Lumicourt.exe): Not a directory"},
      {{100, 500}, "Can not read the connections of process 500 (Helmstead.exe): Invalid argument"},
  };
  for (const auto& c : cases) {
    TSocketOwners owners;
    try {
      ScanSocketOwners(Root, c.Owners, owners);
      EXPECT_EQ(c.Failure, "");
      EXPECT_EQ(owners.Owner(123), 100u);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.Failure);
    }
  }
  // A name that cannot be read for another reason than the process's end
  // fails the list, which would otherwise miss a running process.
  Dir("400");
  Dir("400/comm");  // EISDIR
  std::vector<TProcessInfo> list;
  try {
    ReadProcessList(Root, list);
    FAIL() << "a process list without process 400";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Can not read the process list: " + Root + "/400/comm: Is a directory");
  }
}

// On a /proc mounted hidepid=1 another user's processes are listed, but
// their names may not be read: they are passed over, not a failure.
TEST_F(ProcTreeTest, NamesThatMayNotBeReadAreNotListed) {
  Process(100, "Orvane.exe", {});
  Process(200, "secret", {});
  ASSERT_EQ(chmod((Root + "/200/comm").c_str(), 0), 0);
  ASSERT_EQ(chmod(Root.c_str(), 0755), 0);
  // In a child that is nobody, so that the mode holds even for root.
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(100);
    std::vector<TProcessInfo> list;
    try {
      if (!ReadProcessList(Root, list)) _exit(101);
    } catch (const std::exception&) {
      _exit(102);
    }
    _exit(list.size() == 1 && list[0].ProcessId == 100 ? 0 : 103);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "100: no nobody, 101: no list, 102: thrown, 103: wrong list";
}

// Whether the list may lack other users' processes: the proc mount's
// options, this process's capabilities and groups, together.
TEST_F(ProcTreeTest, HiddenProcessesByMountCapabilityAndGroup) {
  const std::string ours = std::to_string(getegid());
  const std::string mount = "22 1 0:21 / " + Root + " rw,nosuid shared:12 - proc proc rw";
  const std::string noTrace = "CapEff:\t0000000000000000\n", trace = "CapEff:\t0000000000080000\n";
  const std::string hidden = Root + " is mounted with hidepid=";
  const struct {
    const char* What;
    std::string MountInfo;
    std::string Status;
    std::string Hidden;  // the text that follows "hidden", or "" for none hidden
  } cases[] = {
      {"no hidepid", mount + "\n", noTrace, ""},
      {"hidepid=2", mount + ",hidepid=2\n", noTrace, "2"},
      {"hidepid=2 and CAP_SYS_PTRACE", mount + ",hidepid=2\n", trace, ""},
      {"another capability", mount + ",hidepid=2\n", "CapEff:\t0000000000040000\n", "2"},
      {"no CapEff line", mount + ",hidepid=invisible\n", "", "invisible"},
      {"hidepid=2 and our gid=", mount + ",hidepid=2,gid=" + ours + "\n", noTrace, ""},
      {"hidepid=ptraceable and our gid=", mount + ",hidepid=ptraceable,gid=" + ours + "\n",
       noTrace, "ptraceable"},
      {"hidepid=4 and our gid=", mount + ",hidepid=4,gid=" + ours + "\n", noTrace, "4"},
      {"another mount over it", mount + ",hidepid=2\n23 22 0:5 / " + Root + " rw - tmpfs t rw\n",
       noTrace, ""},
  };
  for (const auto& c : cases) {
    File("self/mountinfo", c.MountInfo);
    File("self/status", "Name:\tx\n" + c.Status + "CapBnd:\t000001ffffffffff\n");
    const std::string expected =
        c.Hidden.empty() ? "" : hidden + c.Hidden + " and hides other users' processes from this user";
    EXPECT_EQ(TLinuxProcessSource(Root).HiddenProcesses(), expected) << c.What;
  }
}

TEST(ProcMountTest, HidepidAndGidOfTheLastProcMountAtThePoint) {
  const std::string base = "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc ";
  const struct {
    std::string MountInfo;
    std::string Point;
    bool Found, Hides;
    std::string HidePid;
    bool HasGid;
    uint32_t Gid;
  } cases[] = {
      {base + "rw\n", "/proc", true, false, "", false, 0},
      {base + "rw,hidepid=2,gid=117\n", "/proc", true, true, "2", true, 117},
      {base + "rw,hidepid=invisible\n", "/proc", true, true, "invisible", false, 0},
      {base + "rw,hidepid=noaccess,subset=pid\n", "/proc", true, true, "noaccess", false, 0},
      {base + "rw,hidepid=off\n", "/proc", true, false, "off", false, 0},
      {base + "rw,hidepid=0\n", "/proc", true, false, "0", false, 0},
      {base + "rw,hidepid=2\n", "/srv", false, false, "", false, 0},
      // Later mounts cover earlier ones.
      {base + "rw\n" + base + "rw,hidepid=ptraceable\n", "/proc", true, true, "ptraceable", false, 0},
      {base + "rw,hidepid=2\n30 22 0:5 / /proc rw - tmpfs none rw\n", "/proc", false, false, "", false, 0},
      // A blank in a mount point is written \040.
      {"40 1 0:30 / /my\\040proc rw - proc proc rw,hidepid=2\n", "/my proc", true, true, "2", false, 0},
      {"broken line\n\n", "/proc", false, false, "", false, 0},
  };
  for (const auto& c : cases) {
    const TProcMountOptions options = ProcMountOptionsAt(c.MountInfo, c.Point);
    EXPECT_EQ(options.Found, c.Found) << c.MountInfo;
    EXPECT_EQ(options.HidePid, c.HidePid) << c.MountInfo;
    EXPECT_EQ(options.HasGid, c.HasGid) << c.MountInfo;
    EXPECT_EQ(options.Gid, c.Gid) << c.MountInfo;
    EXPECT_EQ(HidesOtherUsers(options), c.Hides) << c.MountInfo;
  }
}

TEST_F(ProcTreeTest, ProcNetFileReadWhole) {
  Dir("net");
  // More than one read's worth of lines, and a last line without its break.
  std::string text = "  sl  local_address rem_address   st ...\n";
  for (int i = 0; i < 3000; ++i) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%5d: 0100007F:%04X 0100007F:0019 01 00000000:00000000 00:00000000 00000000  "
                  "1000        0 %d 1 0000000000000000 20 4 30 10 -1                    \n",
                  i, 10000 + i, 50000 + i);
    text += line;
  }
  text += "3000: 0100007F:1F40 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 1";
  File("net/tcp", text);

  TKernelSockets found;
  ASSERT_TRUE(ReadProcNetTable(Root, "tcp", false, found));
  ASSERT_EQ(found.size(), 3001u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(found[i].Socket.LocalPort, 10000 + i) << i;
  EXPECT_EQ(found[3000].Socket.LocalPort, 8000);

  errno = 0;
  EXPECT_FALSE(ReadProcNetTable(Root, "udp", false, found));
  EXPECT_EQ(errno, ENOENT);
}

// A kernel's table files are regular files that end; whatever stands in their
// place fails at once instead of holding the check up.
TEST_F(ProcTreeTest, ProcNetFilesThatAreNotRegularFailAtOnce) {
  Dir("net");
  ASSERT_EQ(mkfifo((Root + "/net/tcp").c_str(), 0600), 0);  // no writer: a plain open waits
  ASSERT_EQ(mkfifo((Root + "/net/udp").c_str(), 0600), 0);  // a writer that never writes
  const int writer = open((Root + "/net/udp").c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  Link("net/tcp6", "/dev/zero");  // never ends
  for (const char* name : {"tcp", "udp", "tcp6"}) {
    // In a child, so that a read that hangs fails the test instead of hanging it.
    const pid_t child = fork();
    if (child == 0) {
      alarm(5);
      TKernelSockets out;
      _exit(ReadProcNetTable(Root, name, false, out) ? 1 : errno == ENOENT ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << name << (WIFSIGNALED(status) ? ": still reading after 5 seconds" : ": not refused");
  }
  close(writer);
}

// The whole Linux source over a recorded /proc tree.
TEST_F(ProcTreeTest, SocketSourceOverRecordedTree) {
  Dir("net");
  File("net/tcp", RecordedTcp);
  File("net/udp", RecordedUdp);
  Process(4242, "Orvane.exe", {"socket:[31316]", "socket:[31320]", "socket:[20121]"});
  Process(5000, "dhclient", {"socket:[18002]"});

  // A kernel without IPv6 has no tcp6 and udp6: the IPv4 tables alone.
  TLinuxSocketSource tables(Root, false);
  TLinuxProcessSource processes(Root);
  const std::vector<uint32_t> servers{4242, 5000, 6000};
  TConnectionList list;
  SnapshotConnections(list, tables, processes, servers);
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[1].ProcessId, 4242u);
  EXPECT_EQ(list[1].ProcessName, "Orvane.exe");
  EXPECT_EQ(list[2].State, TcpStateEstablished);
  EXPECT_EQ(list[2].ProcessId, 4242u);
  EXPECT_EQ(list[3].ProcessId, 0u);
  EXPECT_EQ(list[3].ProcessName, "");
  EXPECT_EQ(list[4].Protocol, 1);
  EXPECT_EQ(list[4].ProcessId, 4242u);
  EXPECT_EQ(list[5].ProcessId, 5000u);
  EXPECT_EQ(list[5].ProcessName, "dhclient");

  // Narrowed to the mail server: everyone else's sockets have no owner.
  const std::vector<uint32_t> owners{4242};
  TConnectionList narrowed;
  SnapshotConnections(narrowed, tables, processes, owners);
  ASSERT_EQ(narrowed.size(), 6u);
  EXPECT_EQ(narrowed[2].ProcessId, 4242u);
  EXPECT_EQ(narrowed[5].ProcessId, 0u);
  EXPECT_EQ(narrowed[5].ProcessName, "");
  // Held by a process that was not scanned, against held by none.
  EXPECT_EQ(narrowed[5].Owner, TOwner::Other);
  EXPECT_EQ(narrowed[3].Owner, TOwner::Nobody);
  EXPECT_EQ(narrowed[2].Owner, TOwner::Process);

  // With IPv6: IPv4 TCP, IPv6 TCP, IPv4 UDP, IPv6 UDP.
  File("net/tcp6", RecordedTcp6);
  File("net/udp6", RecordedUdp6);
  Process(6000, "Lumicourt.exe", {"socket:[66198]", "socket:[2105]"});
  TConnectionList all;
  SnapshotConnections(all, tables, processes, servers);
  ASSERT_EQ(all.size(), 11u);
  EXPECT_EQ(all[3].LocalAddress, "127.0.0.1");
  EXPECT_EQ(all[4].LocalAddress, "::");
  EXPECT_EQ(all[6].LocalAddress, "::ffff:127.0.0.1");
  EXPECT_EQ(all[6].ProcessName, "Lumicourt.exe");
  EXPECT_EQ(all[8].LocalAddress, "127.0.0.53");
  EXPECT_EQ(all[10].LocalAddress, "::1");
  EXPECT_EQ(all[10].Protocol, 1);
  EXPECT_EQ(all[10].ProcessId, 6000u);

  // An IPv6 table that is there but cannot be read fails the snapshot.
  std::remove((Root + "/net/udp6").c_str());
  Dir("net/udp6");
  TConnectionList unreadable;
  EXPECT_THROW(SnapshotConnections(unreadable, tables, processes, servers), std::runtime_error);
  EXPECT_EQ(unreadable.size(), 10u);  // the tables before it stay

  // Without the TCP table the snapshot fails with the reason.
  std::remove((Root + "/net/tcp").c_str());
  try {
    TConnectionList failed;
    SnapshotConnections(failed, tables, processes, servers);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Can not read " + Root + "/net/tcp: No such file or directory");
  }
}

// A dump that ends before its end message is read again from the file, and
// only from the file: the sockets it gave so far must not count twice.
TEST_F(ProcTreeTest, DumpCutShortIsReadFromTheFileAlone) {
  Dir("net");
  File("net/tcp", RecordedTcp);  // 4 sockets
  File("net/udp", RecordedUdp);  // 2 sockets; no IPv6 files
  // Each datagram of one dump; the dump of every table plays the same
  // datagrams under its own sequence number.
  enum TEvent { Listener, ForeignListener, Truncated, Done, Failure, Timeout, Closed };
  const struct {
    const char* What;
    std::vector<TEvent> Dump;
    size_t Sockets;  // of the whole snapshot
  } cases[] = {
      {"whole dump", {Listener, Done}, 2},
      {"a sender that is not the kernel", {ForeignListener, Listener, Done}, 2},
      {"a timeout", {Listener, Timeout}, 6},
      {"a truncated datagram", {Listener, Truncated}, 6},
      {"an error message", {Listener, Failure}, 6},
      {"the socket closed", {Listener, Closed}, 6},
  };
  for (const auto& c : cases) {
    uint32_t dump = 0;
    size_t next = 0;
    TLinuxSocketSource sockets(Root, true, [&](int, msghdr& message) -> ssize_t {
      if (next == 0) ++dump;  // the tables are dumped in order, numbered from 1
      const TEvent event = c.Dump[next];
      next = (next + 1) % c.Dump.size();
      std::vector<uint8_t> datagram =
          event == Done      ? std::vector<uint8_t>(RecordedDone, RecordedDone + sizeof RecordedDone)
          : event == Failure ? ErrorMessage(dump, -ENOBUFS)
                             : std::vector<uint8_t>(RecordedListener,
                                                    RecordedListener + sizeof RecordedListener);
      std::memcpy(&datagram[8], &dump, 4);  // the IPv4 listener: the IPv6 dumps take none
      if (event == Timeout) {
        next = 0;
        errno = EAGAIN;
        return -1;
      }
      if (event == Closed) {
        next = 0;
        return 0;
      }
      if (event == Done || event == Failure || event == Truncated) next = 0;
      std::memcpy(message.msg_iov[0].iov_base, datagram.data(), datagram.size());
      static_cast<sockaddr_nl*>(message.msg_name)->nl_pid = event == ForeignListener ? 999 : 0;
      message.msg_flags = event == Truncated ? MSG_TRUNC : 0;
      return ssize_t(datagram.size());
    });
    TSocketList found;
    sockets.ReadSockets({}, found);
    EXPECT_EQ(found.size(), c.Sockets) << c.What;
  }
}

}  // namespace
