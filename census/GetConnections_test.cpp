#include "census/GetConnections.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>

#include "testing/FakeCensus.h"

namespace {

// Tables in the system's byte layouts, read through the production decoder.
class TTableSockets : public TSocketSource {
public:
  bool Extended = true;
  std::map<TTableKind, std::vector<uint8_t>> Tables;
  std::map<TTableKind, std::string> Failures;  // kind -> message thrown
  std::vector<uint32_t> LastOwners;

  void ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Sockets) override {
    LastOwners = Owners;
    for (TTableKind kind :
         {TTableKind::Tcp4, TTableKind::Tcp6, TTableKind::Udp4, TTableKind::Udp6}) {
      auto failure = Failures.find(kind);
      if (failure != Failures.end()) throw std::runtime_error(failure->second);
      auto table = Tables.find(kind);
      if (table != Tables.end())
        AppendTableSockets(kind, Extended, table->second.data(), table->second.size(), Sockets);
    }
  }
};

const std::string OrvanePath = "D:\\Mail\\App\\Orvane.exe";

// Every owner the tests' rows carry, so that each is named.
const std::vector<uint32_t> Everyone{4, 77, 999, 1234};

// The example row: 10.0.0.5:25 <- 192.168.1.20:50000, ESTABLISHED, pid 1234.
TTableBytes ExampleTcpTable() {
  TTableBytes t;
  t.Tcp(5, {10, 0, 0, 5}, 25, {192, 168, 1, 20}, 50000, 1234);
  return t;
}

class SnapshotTest : public ::testing::Test {
protected:
  TTableSockets Tables;
  TFakeProcessSource Processes;
  TConnectionList List;

  void SetUp() override {
    Processes.Processes = {{4, "System"}, {1234, "ORVANE.EXE"}, {77, "svchost.exe"}};
    Processes.ModulePaths[1234] = "D:\\Mail\\App\\Orvane.exe";
  }
};

TEST(NameTablesTest, StatesAndProtocols) {
  EXPECT_STREQ(TcpStateNames[0], "?");
  EXPECT_STREQ(TcpStateNames[2], "LISTENING");
  EXPECT_STREQ(TcpStateNames[5], "ESTABLISHED");
  EXPECT_STREQ(TcpStateNames[11], "TIME_WAIT");
  EXPECT_STREQ(TcpStateNames[12], "DELETE_TCB");
  for (const char* name : TcpStateNames) EXPECT_LE(std::string(name).size(), 12u);
  EXPECT_STREQ(ProtocolNames[0], "TCP");
  EXPECT_STREQ(ProtocolNames[1], "UDP");
}

TEST(AddressTextTest, DottedFromMemoryOrder) {
  struct {
    uint32_t Field;
    const char* Text;
  } cases[] = {
      {0, "0.0.0.0"},
      {0x0100007F, "127.0.0.1"},      // bytes 127 0 0 1
      {0xFFFFFFFF, "255.255.255.255"},
      {0x0500000A, "10.0.0.5"},
      {0x1401A8C0, "192.168.1.20"},
      {0x64C80A09, "9.10.200.100"},
  };
  for (const auto& c : cases) EXPECT_EQ(IpAddressToText(c.Field), c.Text) << std::hex << c.Field;
}

TEST(PortTest, FirstTwoBytesHighFirst) {
  EXPECT_EQ(PortFromNetworkOrder(0x1900), 25);       // bytes 00 19
  EXPECT_EQ(PortFromNetworkOrder(0x50C3), 50000);    // bytes C3 50
  EXPECT_EQ(PortFromNetworkOrder(0xBEEF1900), 25);   // trailing bytes ignored
  EXPECT_EQ(PortFromNetworkOrder(0xFFFF), 65535);
  EXPECT_EQ(PortFromNetworkOrder(0), 0);
}

TEST_F(SnapshotTest, ExtendedTcpRowBecomesEntry) {
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 1u);
  const TListEntry& e = List[0];
  EXPECT_EQ(e.Protocol, 0);
  EXPECT_EQ(e.LocalAddress, "10.0.0.5");
  EXPECT_EQ(e.LocalPort, 25);
  EXPECT_EQ(e.RemoteAddress, "192.168.1.20");
  EXPECT_EQ(e.RemotePort, 50000);
  EXPECT_EQ(e.State, 5);
  EXPECT_EQ(e.ProcessId, 1234u);
  EXPECT_EQ(e.ProcessName, "D:\\Mail\\App\\Orvane.exe");
}

TEST_F(SnapshotTest, RowFieldQuirks) {
  TTableBytes tcp;
  // Listening: remote address 0 with a nonzero remote port field.
  tcp.Tcp(2, {0, 0, 0, 0}, 110, {0, 0, 0, 0}, 4711, 77);
  // Local port field with nonzero trailing bytes: 00 19 AB CD.
  tcp.U32(5).Address(255, 255, 255, 255).Raw({0x00, 0x19, 0xAB, 0xCD});
  tcp.Address(1, 2, 3, 4).Raw({0xC3, 0x50, 0x12, 0x34}).U32(77).Row();
  // A state the name table does not know is kept as it stands.
  tcp.Tcp(99, {1, 1, 1, 1}, 1, {2, 2, 2, 2}, 2, 77);
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 3u);
  EXPECT_EQ(List[0].RemoteAddress, "0.0.0.0");
  EXPECT_EQ(List[0].RemotePort, 0);
  EXPECT_EQ(List[0].State, 2);
  EXPECT_EQ(List[0].ProcessName, "svchost.exe");  // no module path: the file name
  EXPECT_EQ(List[1].LocalAddress, "255.255.255.255");
  EXPECT_EQ(List[1].LocalPort, 25);
  EXPECT_EQ(List[1].RemoteAddress, "1.2.3.4");
  EXPECT_EQ(List[1].RemotePort, 50000);
  EXPECT_EQ(List[2].State, 99);
}

TEST_F(SnapshotTest, UdpRowsAfterTcpRows) {
  TTableBytes udp;
  udp.Udp({0, 0, 0, 0}, 53, 77).Udp({127, 0, 0, 1}, 123, 4);
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  Tables.Tables[TTableKind::Udp4] = udp.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 3u);
  EXPECT_EQ(List[0].Protocol, 0);
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(List[i].Protocol, 1);
    EXPECT_EQ(List[i].RemoteAddress, "");
    EXPECT_EQ(List[i].RemotePort, 0);
    EXPECT_EQ(List[i].State, 0);
  }
  EXPECT_EQ(List[1].LocalAddress, "0.0.0.0");
  EXPECT_EQ(List[1].LocalPort, 53);
  EXPECT_EQ(List[1].ProcessName, "svchost.exe");
  EXPECT_EQ(List[2].LocalAddress, "127.0.0.1");
  EXPECT_EQ(List[2].ProcessId, 4u);
}

TEST_F(SnapshotTest, PlainTablesCarryNoOwner) {
  Tables.Extended = false;
  TTableBytes tcp, udp;
  tcp.U32(5).Address(10, 0, 0, 5).Port(25).Address(192, 168, 1, 20).Port(50000).Row();
  udp.Address(0, 0, 0, 0).Port(53).Row();
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  Tables.Tables[TTableKind::Udp4] = udp.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 2u);
  EXPECT_EQ(List[0].RemotePort, 50000);
  EXPECT_EQ(List[1].LocalPort, 53);
  for (const auto& e : List) {
    EXPECT_EQ(e.ProcessId, 0u);
    EXPECT_EQ(e.ProcessName, "");
  }
  EXPECT_EQ(Processes.ListCalls, 0);
}

TEST_F(SnapshotTest, UnknownOwnerIsQuestionMarkAndKeepsId) {
  TTableBytes tcp;
  tcp.Tcp(5, {10, 0, 0, 5}, 25, {10, 0, 0, 6}, 1000, 999);
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 1u);
  EXPECT_EQ(List[0].ProcessName, "?");
  EXPECT_EQ(List[0].ProcessId, 999u);
}

TEST_F(SnapshotTest, EmptyTcpTableThreeUdpRows) {
  TTableBytes udp;
  udp.Udp({1, 0, 0, 1}, 1, 4).Udp({1, 0, 0, 2}, 2, 4).Udp({1, 0, 0, 3}, 3, 4);
  Tables.Tables[TTableKind::Tcp4] = TTableBytes().Bytes;
  Tables.Tables[TTableKind::Udp4] = udp.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 3u);
  for (const auto& e : List) EXPECT_EQ(e.Protocol, 1);
  EXPECT_EQ(List[2].LocalPort, 3);
}

TEST_F(SnapshotTest, FailingTablesThrowWithMessage) {
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  Tables.Failures[TTableKind::Udp4] = "The parameter is incorrect";
  try {
    SnapshotConnections(List, Tables, Processes, Everyone);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "The parameter is incorrect");
  }
  ASSERT_EQ(List.size(), 1u);  // the TCP entries stay
  EXPECT_EQ(List[0].LocalPort, 25);

  // A failing TCP table leaves the UDP table unread.
  TTableSockets failing;
  failing.Failures[TTableKind::Tcp4] = "boom";
  TConnectionList other;
  EXPECT_THROW(SnapshotConnections(other, failing, Processes, Everyone), std::runtime_error);
  EXPECT_TRUE(other.empty());
}

TEST_F(SnapshotTest, SecondSnapshotAppends) {
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  Tables.Tables[TTableKind::Udp4] = TTableBytes().Udp({0, 0, 0, 0}, 53, 77).Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 4u);
  EXPECT_EQ(List[2].LocalPort, List[0].LocalPort);
  EXPECT_EQ(List[3].Protocol, 1);
  EXPECT_EQ(List[2].Protocol, 0);
}

// Row counts that promise more than the bytes hold, and cut rows.
TEST(ConversionBoundsTest, OnlyWholeRowsThatFit) {
  struct {
    const char* What;
    uint32_t ClaimedRows;
    size_t RowsPresent;
    size_t ExtraBytes;
    size_t Expected;
  } cases[] = {
      {"claims 2, holds 2", 2, 2, 0, 2},
      {"claims 1000, holds 2", 1000, 2, 0, 2},
      {"claims 0xFFFFFFFF, holds 1", 0xFFFFFFFF, 1, 0, 1},
      {"claims 3, holds 2 and part of a third", 3, 2, 23, 2},
      {"claims 1, holds 2", 1, 2, 0, 1},
  };
  for (const auto& c : cases) {
    TTableBytes t;
    for (size_t i = 0; i < c.RowsPresent; ++i)
      t.Tcp(5, {10, 0, 0, uint8_t(i)}, 25, {10, 0, 0, 9}, 1000, 0);
    t.Bytes.insert(t.Bytes.end(), c.ExtraBytes, 0xEE);
    for (int i = 0; i < 4; ++i) t.Bytes[i] = uint8_t(c.ClaimedRows >> (8 * i));
    // The table sits exactly at the end of its own allocation, so reading past
    // it is caught by the memory checkers.
    std::vector<uint8_t> exact(t.Bytes);
    TSocketList sockets;
    AppendTableSockets(TTableKind::Tcp4, true, exact.data(), exact.size(), sockets);
    EXPECT_EQ(sockets.size(), c.Expected) << c.What;
  }
  // Tables shorter than their row count field give nothing.
  TSocketList sockets;
  const uint8_t three[3] = {1, 0, 0};
  AppendTableSockets(TTableKind::Udp4, true, three, sizeof three, sockets);
  AppendTableSockets(TTableKind::Udp4, true, nullptr, 0, sockets);
  EXPECT_TRUE(sockets.empty());
}

// ---- IPv6 ---------------------------------------------------------------------

using TAddress6 = TTableBytes::TAddress6;

TAddress6 A6(std::initializer_list<uint16_t> Groups) {
  TAddress6 a{};
  size_t i = 0;
  for (uint16_t g : Groups) {
    a[i++] = uint8_t(g >> 8);
    a[i++] = uint8_t(g);
  }
  return a;
}

TEST(Ipv6TextTest, CanonicalForm) {
  struct {
    TAddress6 Address;
    const char* Text;
  } cases[] = {
      {A6({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
      {A6({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
      {A6({1, 0, 0, 0, 0, 0, 0, 0}), "1::"},
      {A6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}), "2001:db8::1"},
      {A6({0x2001, 0xDB8, 0, 0, 1, 0, 0, 1}), "2001:db8::1:0:0:1"},     // first of equal runs
      {A6({1, 0, 0, 2, 0, 0, 0, 3}), "1:0:0:2::3"},                     // longest run
      {A6({0x2001, 0xDB8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1"},  // a lone zero stays
      {A6({0xFE80, 0, 0, 0, 0x0A0B, 0x00C0, 0xABCD, 0xEF01}), "fe80::a0b:c0:abcd:ef01"},
      {A6({0, 0, 0, 0, 0, 0xFFFF, 0xC000, 0x0201}), "::ffff:192.0.2.1"},  // IPv4-mapped
      {A6({0, 0, 0, 0, 0, 0xFFFF, 0, 0}), "::ffff:0.0.0.0"},
      {A6({0, 0, 0, 0, 0, 0, 0xC000, 0x0201}), "::c000:201"},  // only mapped ones are dotted
      {A6({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}),
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {A6({1, 2, 3, 4, 5, 6, 7, 8}), "1:2:3:4:5:6:7:8"},
  };
  for (const auto& c : cases) EXPECT_EQ(Ipv6AddressToText(c.Address.data()), c.Text);
}

TEST_F(SnapshotTest, FamiliesInOrderTcpBeforeUdp) {
  const TAddress6 loopback = A6({0, 0, 0, 0, 0, 0, 0, 1});
  const TAddress6 linkLocal = A6({0xFE80, 0, 0, 0, 0, 0, 0, 0x25});
  const TAddress6 any{};
  TTableBytes tcp6, udp4, udp6;
  tcp6.Tcp6(5, linkLocal, 7, 25, A6({0xFE80, 0, 0, 0, 0, 0, 0, 0x26}), 7, 50000, 1234);
  tcp6.Tcp6(2, any, 0, 25, any, 0, 4711, 77);  // listening: remote port field ignored
  udp4.Udp({0, 0, 0, 0}, 53, 77);
  udp6.Udp6(loopback, 3, 546, 1234);
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  Tables.Tables[TTableKind::Tcp6] = tcp6.Bytes;
  Tables.Tables[TTableKind::Udp4] = udp4.Bytes;
  Tables.Tables[TTableKind::Udp6] = udp6.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  // The scope ids are not shown.
  EXPECT_EQ(EntryTexts(List), (std::vector<std::string>{
                                  "TCP 10.0.0.5 25 192.168.1.20 50000 ESTABLISHED 1234 " + OrvanePath,
                                  "TCP fe80::25 25 fe80::26 50000 ESTABLISHED 1234 " + OrvanePath,
                                  "TCP :: 25 :: 0 LISTENING 77 svchost.exe",
                                  "UDP 0.0.0.0 53 77 svchost.exe",
                                  "UDP ::1 546 1234 " + OrvanePath,
                              }));
}

TEST_F(SnapshotTest, PlainIpv6Rows) {
  Tables.Extended = false;
  TTableBytes tcp4, tcp6, udp4, udp6;
  tcp4.U32(5).Address(10, 0, 0, 5).Port(25).Address(10, 0, 0, 6).Port(1000).Row();
  tcp6.PlainTcp6(5, A6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}), 0, 993,
                 A6({0, 0, 0, 0, 0, 0xFFFF, 0x0A00, 0x0001}), 0, 40000);
  udp4.Address(0, 0, 0, 0).Port(53).Row();
  udp6.PlainUdp6(A6({0xFF02, 0, 0, 0, 0, 0, 0, 0xFB}), 2, 5353);
  Tables.Tables[TTableKind::Tcp4] = tcp4.Bytes;
  Tables.Tables[TTableKind::Tcp6] = tcp6.Bytes;
  Tables.Tables[TTableKind::Udp4] = udp4.Bytes;
  Tables.Tables[TTableKind::Udp6] = udp6.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 4u);
  EXPECT_EQ(List[1].LocalAddress, "2001:db8::1");
  EXPECT_EQ(List[1].LocalPort, 993);
  EXPECT_EQ(List[1].RemoteAddress, "::ffff:10.0.0.1");
  EXPECT_EQ(List[1].RemotePort, 40000);
  EXPECT_EQ(List[1].State, 5);
  EXPECT_EQ(List[3].LocalAddress, "ff02::fb");
  EXPECT_EQ(List[3].LocalPort, 5353);
  for (const auto& e : List) {
    EXPECT_EQ(e.ProcessId, 0u);
    EXPECT_EQ(e.ProcessName, "");
  }
}

TEST_F(SnapshotTest, MissingIpv6TablesAddNothing) {
  // No IPv6 on this system: the IPv4 tables alone.
  Tables.Tables[TTableKind::Tcp4] = ExampleTcpTable().Bytes;
  Tables.Tables[TTableKind::Udp4] = TTableBytes().Udp({0, 0, 0, 0}, 53, 77).Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  EXPECT_EQ(List.size(), 2u);

  // A failing IPv6 table fails the snapshot like any other.
  Tables.Failures[TTableKind::Udp6] = "no";
  TConnectionList failed;
  EXPECT_THROW(SnapshotConnections(failed, Tables, Processes, Everyone), std::runtime_error);
  EXPECT_EQ(failed.size(), 2u);
}

TEST(ConversionBoundsTest, Ipv6RowsThatFit) {
  const struct {
    TTableKind Kind;
    bool Extended;
    size_t RowSize;
  } kinds[] = {
      {TTableKind::Tcp6, true, 56}, {TTableKind::Tcp6, false, 52},
      {TTableKind::Udp6, true, 28}, {TTableKind::Udp6, false, 24},
  };
  for (const auto& k : kinds) {
    EXPECT_EQ(TableRowSize(k.Kind, k.Extended), k.RowSize);
    for (size_t extra : {size_t(0), k.RowSize - 1}) {
      std::vector<uint8_t> table{9, 0, 0, 0};  // claims nine rows
      table.resize(4 + 2 * k.RowSize + extra, 0x11);
      TSocketList sockets;
      AppendTableSockets(k.Kind, k.Extended, table.data(), table.size(), sockets);
      ASSERT_EQ(sockets.size(), 2u) << k.RowSize << " + " << extra;
      EXPECT_TRUE(sockets[0].Ipv6);
      EXPECT_EQ(sockets[0].LocalAddress[15], 0x11);
      EXPECT_EQ(sockets[0].LocalPort, 0x1111);
    }
  }
}

// ---- Owners and address bytes -------------------------------------------------

// Which of the three owners a row has, from the rows of one snapshot: the
// extended tables give process id 0 to what no process holds (TIME_WAIT,
// half-open), the plain tables give no owner at all.
TEST_F(SnapshotTest, OwnersTellNobodyFromAnotherProcess) {
  const TAddress6 server6 = A6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 5});
  const TAddress6 client6 = A6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 0x20});
  TTableBytes tcp, tcp6, udp;
  tcp.Tcp(TcpStateListening, {0, 0, 0, 0}, 143, {0, 0, 0, 0}, 0, 1234);
  tcp.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 143, {192, 168, 1, 20}, 50000, 1234);
  tcp.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 143, {192, 168, 1, 21}, 50001, 0);
  tcp.Tcp(TcpStateSynReceived, {10, 0, 0, 5}, 143, {192, 168, 1, 22}, 50002, 0);
  tcp.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 143, {192, 168, 1, 23}, 50003, 77);
  tcp6.Tcp6(TcpStateTimeWait, server6, 0, 993, client6, 0, 40000, 0);
  udp.Udp({0, 0, 0, 0}, 53, 77);
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  Tables.Tables[TTableKind::Tcp6] = tcp6.Bytes;
  Tables.Tables[TTableKind::Udp4] = udp.Bytes;
  const std::vector<uint32_t> owners{1234};
  const struct {
    TOwner Owner;
    uint32_t ProcessId;  // another process keeps its id: it is never 0 by accident
  } extended[] = {
      {TOwner::Process, 1234}, {TOwner::Process, 1234}, {TOwner::Nobody, 0}, {TOwner::Nobody, 0},
      {TOwner::Other, 77},     {TOwner::Nobody, 0},     {TOwner::Other, 77},
  };
  SnapshotConnections(List, Tables, Processes, owners);
  ASSERT_EQ(List.size(), std::size(extended));
  for (size_t Index = 0; Index < List.size(); ++Index) {
    EXPECT_EQ(List[Index].Owner, extended[Index].Owner) << Index;
    EXPECT_EQ(List[Index].ProcessId, extended[Index].ProcessId) << Index;
  }

  Tables.Extended = false;
  TTableBytes plain;
  plain.U32(TcpStateTimeWait).Address(10, 0, 0, 5).Port(143).Address(192, 168, 1, 21).Port(1).Row();
  Tables.Tables = {{TTableKind::Tcp4, plain.Bytes}};
  TConnectionList plainList;
  SnapshotConnections(plainList, Tables, Processes, owners);
  ASSERT_EQ(plainList.size(), 1u);
  EXPECT_EQ(plainList[0].Owner, TOwner::Unknown);
}

// The addresses come as the rows hold them, for grouping by network.
TEST_F(SnapshotTest, EntriesKeepTheAddressBytes) {
  const TAddress6 server6 = A6({0x2001, 0xDB8, 0, 0, 0, 0, 0, 5});
  const TAddress6 mapped = A6({0, 0, 0, 0, 0, 0xFFFF, 0xCB00, 0x7109});
  TTableBytes tcp, tcp6;
  tcp.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 143, {203, 0, 113, 9}, 50000, 1234);
  tcp6.Tcp6(TcpStateEstablished, server6, 0, 143, mapped, 0, 50001, 1234);
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  Tables.Tables[TTableKind::Tcp6] = tcp6.Bytes;
  SnapshotConnections(List, Tables, Processes, Everyone);
  ASSERT_EQ(List.size(), 2u);
  const uint8_t local4[16] = {10, 0, 0, 5};
  const uint8_t remote4[16] = {203, 0, 113, 9};
  EXPECT_FALSE(List[0].Ipv6);
  EXPECT_EQ(0, std::memcmp(List[0].LocalBytes, local4, 16));
  EXPECT_EQ(0, std::memcmp(List[0].RemoteBytes, remote4, 16));
  EXPECT_TRUE(List[1].Ipv6);
  EXPECT_EQ(0, std::memcmp(List[1].LocalBytes, server6.data(), 16));
  EXPECT_EQ(0, std::memcmp(List[1].RemoteBytes, mapped.data(), 16));
  EXPECT_EQ(List[1].RemoteAddress, "::ffff:203.0.113.9");
}

// ---- Process names ----------------------------------------------------------

TEST(ProcessNameTest, Contract) {
  TFakeProcessSource source;
  source.Processes = {{8, "ORVANE.EXE"}, {9, "other.exe"}, {8, "second.exe"}};
  source.ModulePaths[8] = "D:\\Mail\\App\\Orvane.exe";
  EXPECT_EQ(ProcessNameFromId(8, source), "D:\\Mail\\App\\Orvane.exe");
  EXPECT_EQ(ProcessNameFromId(9, source), "other.exe");  // no module: the file name
  EXPECT_EQ(ProcessNameFromId(10, source), "?");
  source.ModulePaths.clear();
  EXPECT_EQ(ProcessNameFromId(8, source), "ORVANE.EXE");  // first entry with the id wins
  source.RefuseList = true;
  EXPECT_EQ(ProcessNameFromId(8, source), "?");
}

// A source whose module lookups check the name they are given and may throw.
class TStrictProcessSource : public TFakeProcessSource {
public:
  std::vector<std::string> AskedFor;
  bool Throw = false;
  bool ListProcesses(std::vector<TProcessInfo>& List) override {
    if (Throw) throw std::runtime_error("list");
    return TFakeProcessSource::ListProcesses(List);
  }
  bool ModuleExePath(uint32_t Pid, const std::string& ExeFile, std::string& Path) override {
    AskedFor.push_back(ExeFile);
    return TFakeProcessSource::ModuleExePath(Pid, ExeFile, Path);
  }
};

TEST(ProcessNameTest, ModuleLookupGetsFileNameAndFailuresNeverEscape) {
  TStrictProcessSource source;
  source.Processes = {{8, "ORVANE.EXE"}};
  EXPECT_EQ(ProcessNameFromId(8, source), "ORVANE.EXE");
  EXPECT_EQ(source.AskedFor, std::vector<std::string>{"ORVANE.EXE"});
  source.Throw = true;
  EXPECT_EQ(ProcessNameFromId(8, source), "?");
}

TEST(ProcessNamerTest, OneListReadAndOneModuleLookupPerDistinctId) {
  TFakeProcessSource processes;
  for (uint32_t pid = 1; pid <= 500; ++pid) processes.Processes.push_back({pid, "p.exe"});
  processes.ModulePaths[3] = "/opt/p.exe";
  TTableSockets tables;
  TTableBytes tcp, udp;
  for (int i = 0; i < 3000; ++i)
    tcp.Tcp(5, {10, 0, 0, 1}, uint16_t(i), {10, 0, 0, 2}, 80, uint32_t(1 + i % 3));
  for (int i = 0; i < 100; ++i) udp.Udp({0, 0, 0, 0}, uint16_t(i), uint32_t(i % 2 ? 3 : 7777));
  tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  tables.Tables[TTableKind::Udp4] = udp.Bytes;
  TConnectionList list;
  const std::vector<uint32_t> owners{1, 2, 3, 7777};
  SnapshotConnections(list, tables, processes, owners);
  ASSERT_EQ(list.size(), 3100u);
  EXPECT_EQ(processes.ListCalls, 1);
  EXPECT_EQ(processes.ModuleCalls, 3);  // ids 1, 2, 3; 7777 is not running
  EXPECT_EQ(list[2].ProcessName, "/opt/p.exe");
  EXPECT_EQ(list[1].ProcessName, "p.exe");
  EXPECT_EQ(list[3000].ProcessName, "?");
  EXPECT_EQ(list[3001].ProcessName, "/opt/p.exe");

  // Each snapshot reads the list afresh.
  SnapshotConnections(list, tables, processes, owners);
  EXPECT_EQ(processes.ListCalls, 2);
}

TEST_F(SnapshotTest, OwnersNarrowNaming) {
  TTableBytes tcp;
  tcp.Tcp(5, {10, 0, 0, 5}, 25, {10, 0, 0, 6}, 1000, 1234);
  tcp.Tcp(5, {10, 0, 0, 5}, 80, {10, 0, 0, 6}, 1001, 77);
  tcp.Tcp(5, {10, 0, 0, 5}, 81, {10, 0, 0, 6}, 1002, 0);
  Tables.Tables[TTableKind::Tcp4] = tcp.Bytes;
  const std::vector<uint32_t> owners{555, 1234};
  SnapshotConnections(List, Tables, Processes, owners);
  EXPECT_EQ(Tables.LastOwners, owners);
  ASSERT_EQ(List.size(), 3u);
  EXPECT_EQ(List[0].ProcessName, "D:\\Mail\\App\\Orvane.exe");
  EXPECT_EQ(List[1].ProcessName, "");  // not asked for: not named
  EXPECT_EQ(List[1].ProcessId, 77u);
  EXPECT_EQ(List[2].ProcessName, "");
  EXPECT_EQ(Processes.ModuleCalls, 1);

  // No entry named at all: the process list is never read.
  TFakeProcessSource untouched;
  const std::vector<uint32_t> none{};
  TConnectionList other;
  SnapshotConnections(other, Tables, untouched, none);
  EXPECT_EQ(other.size(), 3u);
  EXPECT_EQ(untouched.ListCalls, 0);
}

}  // namespace
