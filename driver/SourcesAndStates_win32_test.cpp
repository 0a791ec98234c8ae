// Connections per source and TCP states on Windows, from owner tables as a
// busy server's system gives them, through the production table reader:
// TIME_WAIT and half-open rows carry process id 0 there, IPv4 clients of a
// dual-stack listener stand in the IPv6 table. (Under Wine these rows cannot
// be made live: its tables name an owner only for its own sockets.)
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "census/GetConnections_win32.h"
#include "driver/nagios_orvane_check.h"
#include "testing/CheckOutput.h"
#include "testing/FakeCensus.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

namespace {

using TAddress6 = TTableBytes::TAddress6;

// GetExtendedTcpTable and GetExtendedUdpTable over recorded tables.
struct TOwnerTables {
  std::vector<uint8_t> Tcp4, Tcp6, Udp4 = TTableBytes().Bytes, Udp6 = TTableBytes().Bytes;

  static DWORD Serve(const std::vector<uint8_t>& Table, void* Buffer, DWORD* Size) {
    if (Buffer == nullptr || *Size < Table.size()) {
      *Size = static_cast<DWORD>(Table.size());
      return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(Buffer, Table.data(), Table.size());
    return NO_ERROR;
  }
  TIpHelperFunctions Functions() {
    TIpHelperFunctions F;
    F.GetExtendedTcpTable = [this](void* Buffer, DWORD* Size, BOOL, ULONG Family, DWORD) {
      return Serve(Family == 23 ? Tcp6 : Tcp4, Buffer, Size);
    };
    F.GetExtendedUdpTable = [this](void* Buffer, DWORD* Size, BOOL, ULONG Family, DWORD) {
      return Serve(Family == 23 ? Udp6 : Udp4, Buffer, Size);
    };
    return F;
  }
};

TAddress6 Mapped(uint8_t A, uint8_t B, uint8_t C, uint8_t D) {
  return {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, A, B, C, D};
}

// The mail server (1234) on 10.0.0.5:25 and on [::]:143; another program
// (4242) on 10.0.0.6:25.
TEST(SourcesAndStatesWin32, OwnerTablesGiveBothMeasures) {
  TTableBytes Tcp4, Tcp6;
  Tcp4.Tcp(TcpStateListening, {10, 0, 0, 5}, 25, {0, 0, 0, 0}, 0, 1234);
  Tcp4.Tcp(TcpStateListening, {10, 0, 0, 6}, 25, {0, 0, 0, 0}, 0, 4242);
  for (uint16_t Port = 50000; Port < 50004; ++Port)
    Tcp4.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 25, {203, 0, 113, 9}, Port, 1234);
  for (uint16_t Port = 50010; Port < 50012; ++Port)
    Tcp4.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 25, {198, 51, 100, 7}, Port, 1234);
  for (uint16_t Port = 50020; Port < 50023; ++Port)
    Tcp4.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 25, {198, 51, 100, 8}, Port, 0);
  for (uint16_t Port = 50030; Port < 50032; ++Port)
    Tcp4.Tcp(TcpStateSynReceived, {10, 0, 0, 5}, 25, {198, 51, 100, 9}, Port, 0);
  // The other program's: neither its connections nor its TIME_WAIT count.
  Tcp4.Tcp(TcpStateEstablished, {10, 0, 0, 6}, 25, {203, 0, 113, 9}, 50040, 4242);
  Tcp4.Tcp(TcpStateCloseWait, {10, 0, 0, 6}, 25, {203, 0, 113, 9}, 50041, 4242);
  Tcp4.Tcp(TcpStateTimeWait, {10, 0, 0, 6}, 25, {203, 0, 113, 9}, 50042, 0);
  // The server as client: one attempt under way, one its peer closed.
  Tcp4.Tcp(TcpStateSynSent, {10, 0, 0, 5}, 50050, {192, 0, 2, 25}, 25, 1234);
  Tcp4.Tcp(TcpStateCloseWait, {10, 0, 0, 5}, 50051, {192, 0, 2, 25}, 25, 1234);
  Tcp6.Tcp6(TcpStateListening, {}, 0, 143, {}, 0, 0, 1234);
  Tcp6.Tcp6(TcpStateEstablished, Mapped(10, 0, 0, 5), 0, 143, Mapped(203, 0, 113, 9), 0, 50060,
            1234);
  Tcp6.Tcp6(TcpStateTimeWait, Mapped(10, 0, 0, 5), 0, 143, Mapped(203, 0, 113, 9), 0, 50061, 0);
  TOwnerTables Tables;
  Tables.Tcp4 = Tcp4.Bytes;
  Tables.Tcp6 = Tcp6.Bytes;
  TWin32TableSource Sockets([&] { return Tables.Functions(); });

  const std::string App = "C:\\Orvane\\App\\";
  TFakeFileSystem Files;
  Files.Files[App + "Orvane.ini"] = "[Ports]\r\nSMTPIn=25\r\n";
  Files.Files[App + "..\\Lumicourt\\Lumicourt.ini"] = "";
  Files.Files[App + "..\\Helmstead\\Helmstead.ini"] = "";
  TFakeRegistry Registry;
  TFakeProcessSource Processes;
  Processes.Processes = {{1234, "Orvane.exe"}, {4242, "other.exe"}};
  const TProgramResult Result =
      RunProgram({"-p", App, "-w", "0", "-c", "0", "--per-source=SMTPin:4", "--per-source=IMAPin",
                  "--states=SMTPin,SMTPout,IMAPin", "--state-crit=SMTPin:TimeWait:4"},
                 "nagios_orvane_check.exe", TCheckSystem{&Files, &Registry, &Sockets, &Processes});
  EXPECT_EQ(StatusOf(Result.Output), "WARNING - SMTPin 4 connections from 203.0.113.9 ");
  EXPECT_EQ(Result.ExitStatus, ExitWarning);
  EXPECT_EQ(CountsOf(Result.Output), (TCounts{{"Connections", 7},
                                              {"SmtpIn", 6},
                                              {"SmtpTotal", 6},
                                              {"ImapIn", 1},
                                              {"ImapTotal", 1},
                                              {"SmtpInMaxPerSrc", 4},
                                              {"SmtpInSources", 2},
                                              {"ImapInMaxPerSrc", 1},
                                              {"ImapInSources", 1},
                                              {"SmtpInSynRecv", 2},
                                              {"SmtpInTimeWait", 3},
                                              {"SmtpOutCloseWait", 1},
                                              {"SmtpOutSynSent", 1},
                                              {"ImapInTimeWait", 1}}));
}

}  // namespace
