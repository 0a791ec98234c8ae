// Connections per source and the services' TCP states from the command line
// to the verdict: the golden of their output, the verdicts they reach, and
// every refusal before anything is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "driver/nagios_orvane_check.h"
#include "testing/CheckOutput.h"
#include "testing/FakeCensus.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeInstallation.h"
#include "testing/FakeRegistry.h"

namespace {

const std::string App = FakeApp;
using TAddress4 = std::array<uint8_t, 4>;
const TAddress4 Any{0, 0, 0, 0}, Host{10, 1, 1, 1};

class SourcesAndStates : public ::testing::Test, protected TFakeInstallation {
 protected:
  // Count established connections of the server from Remote to LocalPort.
  void From(TAddress4 Remote, int Count, uint16_t LocalPort = 143, uint32_t Pid = 100) {
    for (int Index = 0; Index < Count; ++Index)
      Sockets.Tcp(TcpStateEstablished, Host, LocalPort, Remote, uint16_t(40000 + Next++), Pid);
  }
  void Row(int32_t State, uint16_t LocalPort, uint16_t RemotePort, uint32_t Pid) {
    Sockets.Tcp(State, Host, LocalPort, {198, 51, 100, 1}, RemotePort, Pid);
  }
  TProgramResult Run(std::vector<std::string> Arguments) {
    Arguments.insert(Arguments.begin(), {"-p", App, "-w", "0", "-c", "0"});
    return RunOver(Arguments);
  }

 private:
  int Next = 0;
};

// The golden of both measures in the Nagios output: the verdict names the
// worst reached one, each category gives one pair of per-source items and
// one item per state, and the long output lists the sources and states.
TEST_F(SourcesAndStates, Golden) {
  Row(TcpStateListening, 143, 0, 100);
  From({203, 0, 113, 10}, 3);
  From({203, 0, 113, 9}, 2);
  // A dual-stack listener's IPv4 client: the same source as over IPv4.
  Sockets.Tcp6(TcpStateEstablished, {}, 143,
               {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 203, 0, 113, 9}, 41000, 100);
  From({198, 51, 100, 7}, 1);
  Row(TcpStateTimeWait, 143, 41001, 0);
  Row(TcpStateTimeWait, 143, 41002, 0);
  Row(TcpStateSynReceived, 143, 41003, 0);
  Row(TcpStateEstablished, 143, 41004, 0);  // not accepted yet
  Row(TcpStateCloseWait, 143, 41005, 100);
  Row(TcpStateSynSent, 41006, 25, 100);
  const TProgramResult Result =
      Run({"--per-source=IMAPin:3:5", "--top-sources=2", "--states=IMAPin,SMTPout",
           "--state-crit=IMAPin:TimeWait:2", "--details"});
  EXPECT_EQ(Result.Output,
            "CRITICAL - IMAPin 2 TimeWait |Connections=7 SmtpIn=0 SmtpOut=0 SmtpSSL=0 "
            "SmtpTotal=0 PopIn=0 PopOut=0 PopSSL=0 PopTotal=0 ImapIn=7 ImapSSL=0 ImapTotal=7 "
            "Other=0 LCin=0 LCSSL=0 LCTotal=0 HSin=0 HSSSL=0 HSTotal=0 "
            "ImapInMaxPerSrc=3;2;4;0; ImapInSources=3;;;0; SmtpOutCloseWait=0;;;0; "
            "SmtpOutSynSent=1;;;0; ImapInSynRecv=1;;;0; ImapInQueued=1;;;0; "
            "ImapInCloseWait=1;;;0; ImapInTimeWait=2;;1;0;\n"
            "SMTPin port 25: 0\n"
            "SMTPout remote port 25: 0\n"
            "SMTPSSL port 465: 0\n"
            "SMTPTotal ports 25, 465, remote 25: 0\n"
            "POPin port 110: 0\n"
            "POPout remote port 110: 0\n"
            "POPSSL port 995: 0\n"
            "POPTotal ports 110, 995, remote 110: 0\n"
            "IMAPin port 143: 7\n"
            "IMAPSSL port 993: 0\n"
            "IMAPTotal ports 143, 993: 7\n"
            "Other ports of Orvane.exe: 0\n"
            "LCin port 3000: 0\n"
            "LCSSL port 443: 0\n"
            "LCTotal ports 3000, 443 and any other of Lumicourt.exe: 0\n"
            "HSin port 1000: 0\n"
            "HSSSL port 443: 0\n"
            "HSTotal ports 1000, 443: 0\n"
            "IMAPin sources: 3, most from one: 3 (203.0.113.9)\n"
            "IMAPin from 203.0.113.9: 3\n"
            "IMAPin from 203.0.113.10: 3\n"
            "SMTPout states: CloseWait 0, SynSent 1\n"
            "IMAPin states: SynRecv 1, Queued 1, CloseWait 1, TimeWait 2\n");
  EXPECT_EQ(Result.ExitStatus, ExitCritical);
}

class SourcesAndStatesVerdict : public SourcesAndStates,
                                public ::testing::WithParamInterface<TRunCase> {};

// Seventeen IMAP connections from 203.0.113.9, five each from two addresses
// of 198.51.100.0/24, one from 192.0.2.1; SMTP from 192.0.2.1 twice; twelve
// IMAP connections in CLOSE_WAIT.
TEST_P(SourcesAndStatesVerdict, ReachedThresholdsNameWhatReachedThem) {
  From({203, 0, 113, 9}, 17);
  From({198, 51, 100, 8}, 5);
  From({198, 51, 100, 7}, 5);
  From({192, 0, 2, 1}, 1);
  From({192, 0, 2, 1}, 2, 25);
  for (int Index = 0; Index < 12; ++Index) Row(TcpStateCloseWait, 143, 42000 + Index, 100);
  const TProgramResult Result = Run(GetParam().Arguments);
  EXPECT_EQ(StatusOf(Result.Output), GetParam().StatusPart);
  EXPECT_EQ(Result.ExitStatus, GetParam().Status);
}

const char* const OkText = "OK - Connections=30 Smtp=2 Pop=0 Imap=28 Lumicourt=0 Helmstead=0";

INSTANTIATE_TEST_SUITE_P(
    SourcesAndStates, SourcesAndStatesVerdict,
    ::testing::Values(
        TRunCase{"Quiet", {"--per-source=IMAPin:18:20"}, OkText, 0},
        TRunCase{"Warning",
                     {"--per-source=IMAPin:15:20"},
                     "WARNING - IMAPin 17 connections from 203.0.113.9 ",
                     1},
        TRunCase{"Critical",
                     {"--per-source=SMTPin,IMAPin:2:17"},
                     "CRITICAL - IMAPin 17 connections from 203.0.113.9 ",
                     2},
        TRunCase{"EachOccurrenceItsOwnThresholds",
                     {"--per-source=SMTPin:2", "--per-source=IMAPin:15"},
                     "WARNING - SMTPin 2 connections from 192.0.2.1 IMAPin 17 connections from "
                     "203.0.113.9 ",
                     1},
        TRunCase{"TieGoesToTheLowerAddress",
                     {"--per-source=IMAPin:5", "--per-source-exclude=203.0.113.9"},
                     "WARNING - IMAPin 5 connections from 198.51.100.7 ",
                     1},
        TRunCase{"GroupedByNetwork",
                     {"--per-source=IMAPin:10", "--per-source-exclude=203.0.113.0/24",
                      "--per-source-prefix=24,64"},
                     "WARNING - IMAPin 10 connections from 198.51.100.0/24 ",
                     1},
        TRunCase{"RangeOnTheBusiest",
                     {"--per-source=SMTPin:@1:2"},
                     "WARNING - SMTPin 2 connections from 192.0.2.1 ",
                     1},
        TRunCase{"StateCritical",
                     {"--states=IMAPin", "--state-crit=IMAPin:CloseWait:10"},
                     "CRITICAL - IMAPin 12 CloseWait ",
                     2},
        TRunCase{
            "StateQuiet", {"--states=IMAPin", "--state-warn=IMAPin:TimeWait:1"}, OkText, 0},
        // The worst state wins; its texts stand, the classic ones first.
        TRunCase{"WorstOfAll",
                     {"--critIMAPin=20", "--per-source=IMAPin:10:17", "--states=IMAPin",
                      "--state-warn=IMAPin:CloseWait:1", "--state-crit=IMAPin:CloseWait:12"},
                     "CRITICAL - IMAPin=28 IMAPin 17 connections from 203.0.113.9 IMAPin 12 "
                     "CloseWait ",
                     2},
        TRunCase{"ClassicWarningBesideAStateCritical",
                     {"--warnSMTPin=1", "--states=IMAPin", "--state-crit=IMAPin:CloseWait:12"},
                     "CRITICAL - IMAPin 12 CloseWait ",
                     2},
        TRunCase{
            "RequirementStillFirst",
            {"--require-running=Helmstead", "--states=IMAPin", "--state-warn=IMAPin:CloseWait:12"},
            "CRITICAL - Helmstead.exe not running IMAPin 12 CloseWait ",
            2}),
    [](const ::testing::TestParamInfo<TRunCase>& Info) {
      return std::string(Info.param.Name);
    });

struct TRefusal {
  const char* Name;
  std::vector<std::string> Arguments;
  std::string Message;  // after "Unknown - "
};
void PrintTo(const TRefusal& Case, std::ostream* Out) { *Out << Case.Name; }

class SourcesAndStatesRefusal : public SourcesAndStates,
                                public ::testing::WithParamInterface<TRefusal> {};

// Every kind of value the options refuse, before anything is read.
TEST_P(SourcesAndStatesRefusal, RefusedBeforeAnythingIsRead) {
  const TProgramResult Result = Run(GetParam().Arguments);
  EXPECT_EQ(Result.Output, "Unknown - " + GetParam().Message + "\n");
  EXPECT_EQ(Result.ExitStatus, ExitUnknown);
  EXPECT_EQ(Registry.Queries, 0);
  EXPECT_TRUE(Files.Attempts.empty());
  EXPECT_EQ(Sockets.Reads, 0);
}

INSTANTIATE_TEST_SUITE_P(
    SourcesAndStates, SourcesAndStatesRefusal,
    ::testing::Values(
        TRefusal{"UnknownCategory", {"--per-source=IMAPout"}, "Invalid value --per-source=IMAPout"},
        TRefusal{"ATotal", {"--states=SMTPTotal"}, "Invalid value --states=SMTPTotal"},
        TRefusal{"UnknownState",
                 {"--states=IMAPin", "--state-warn=IMAPin:Closing:5"},
                 "Invalid value --state-warn=IMAPin:Closing:5"},
        TRefusal{"StateTheDirectionCannotTell",
                 {"--states=SMTPout", "--state-crit=SMTPout:TimeWait:5"},
                 "Invalid value --state-crit=SMTPout:TimeWait:5 (SMTPout has SynSent and "
                 "CloseWait only)"},
        TRefusal{"StateThresholdWithoutItsCategory",
                 {"--states=SMTPin", "--state-crit=IMAPin:CloseWait:100"},
                 "--state-crit=IMAPin:CloseWait:100 without IMAPin in --states"},
        TRefusal{"TopSourcesWithoutPerSource",
                 {"--top-sources=3"},
                 "--top-sources=3 without --per-source"},
        TRefusal{
            "MalformedThreshold", {"--per-source=IMAPin:x"}, "Invalid value --per-source=IMAPin:x"},
        TRefusal{"MalformedRange",
                 {"--states=IMAPin", "--state-warn=IMAPin:CloseWait:20:10"},
                 "Invalid range --state-warn=IMAPin:CloseWait:20:10"},
        TRefusal{"TooManyTopSources",
                 {"--per-source=IMAPin", "--top-sources=21"},
                 "Invalid value --top-sources=21"},
        TRefusal{"PrefixTooLong",
                 {"--per-source=IMAPin", "--per-source-prefix=32,129"},
                 "Invalid value --per-source-prefix=32,129"},
        TRefusal{"HostBits",
                 {"--per-source=IMAPin", "--per-source-exclude=192.0.2.1/24"},
                 "Invalid value --per-source-exclude=192.0.2.1/24 (192.0.2.1/24: host bits set)"},
        TRefusal{"NetworkPrefixTooLong",
                 {"--per-source=IMAPin", "--per-source-exclude=2001:db8::/129"},
                 "Invalid value --per-source-exclude=2001:db8::/129 (2001:db8::/129: prefix over "
                 "128)"},
        TRefusal{"EmptyElement",
                 {"--per-source=IMAPin", "--per-source-exclude=192.0.2.0/24,"},
                 "Invalid value --per-source-exclude=192.0.2.0/24, (empty element)"},
        TRefusal{"NoAddress",
                 {"--per-source=IMAPin", "--per-source-exclude=relay"},
                 "Invalid value --per-source-exclude=relay (relay: no address)"}),
    [](const ::testing::TestParamInfo<TRefusal>& Info) { return std::string(Info.param.Name); });

// The performance data stays bounded and free of addresses however many
// clients there are, and its labels are unique within the 19 characters some
// graphing tools keep.
TEST_F(SourcesAndStates, PerformanceDataBoundedAndLabelsUnique) {
  for (int Index = 0; Index < 3000; ++Index)
    From({10, uint8_t(Index >> 8), uint8_t(Index), 1}, 1, Index % 2 ? 143 : 995);
  const std::string Everything =
      "SMTPin,SMTPout,SMTPSSL,POPin,POPout,POPSSL,IMAPin,IMAPSSL,LCin,"
      "LCSSL,HSin,HSSSL";
  const TProgramResult Result = Run({"--per-source=" + Everything, "--states=" + Everything});
  const std::string PerfData = PerfDataOf(Result.Output);
  EXPECT_EQ(PerfData.find("10."), std::string::npos);
  std::vector<std::string> Labels;
  for (size_t Start = 0; Start < PerfData.size();) {
    const size_t End = PerfData.find(' ', Start);
    const std::string Item = PerfData.substr(Start, End - Start);
    Labels.push_back(Item.substr(0, std::min<size_t>(Item.find('='), 19)));
    Start = End == std::string::npos ? PerfData.size() : End + 1;
  }
  // The nineteen counters shown, two per category, and the states: four for
  // each of ten inbound categories, two for each of two outbound ones.
  EXPECT_EQ(Labels.size(), 19u + 2 * 12 + 4 * 10 + 2 * 2);
  std::vector<std::string> Sorted = Labels;
  std::sort(Sorted.begin(), Sorted.end());
  EXPECT_EQ(std::adjacent_find(Sorted.begin(), Sorted.end()), Sorted.end());
  EXPECT_EQ(CountsOf(Result.Output).at("ImapInSources"), 1500);
  EXPECT_EQ(CountsOf(Result.Output).at("PopSSLSources"), 1500);
}

}  // namespace
