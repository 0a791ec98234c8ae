#include "driver/nagios_orvane_check.h"

#include "driver/NagiosOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/CheckOutput.h"
#include "testing/FakeCensus.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeInstallation.h"
#include "testing/FakeRegistry.h"

namespace {

// ---- Options and usage --------------------------------------------------------

TEST(NagiosOrvaneCheckOptions, FortyTwoOptionsInOrder) {
  TCommandLineParser Parser;
  DeclareOptions(Parser);
  ASSERT_GE(Parser.Arguments.size(), 42u);
  const struct {
    const char *Short, *Long;
    bool NeedsValue, Required;
  } Head[] = {{"h", "help", false, false},  {"V", "version", false, false},
              {"d", "delay", true, false},  {"r", "retry", true, false},
              {"v", "verbose", false, false}, {"p", "path", true, false},
              {"w", "warn", true, true},    {"c", "crit", true, true}};
  for (size_t Index = 0; Index < 8; ++Index) {
    const TCommandLineArgument& Option = Parser.Arguments[Index];
    EXPECT_EQ(Option.ShortName, Head[Index].Short);
    EXPECT_EQ(Option.LongName, Head[Index].Long);
    EXPECT_EQ(Option.NeedsValue, Head[Index].NeedsValue) << Option.LongName;
    EXPECT_EQ(Option.Optional, !Head[Index].Required) << Option.LongName;
  }
  for (int Category = 0; Category < CategoryCount; ++Category) {
    const TCommandLineArgument& Warn = Parser.Arguments[8 + 2 * Category];
    const TCommandLineArgument& Crit = Parser.Arguments[9 + 2 * Category];
    const std::string Name = CounterRows[Categories[Category]].Name;
    EXPECT_EQ(Warn.ShortName, "w" + Name);
    EXPECT_EQ(Warn.LongName, "warn" + Name);
    EXPECT_EQ(Crit.ShortName, "c" + Name);
    EXPECT_EQ(Crit.LongName, "crit" + Name);
    EXPECT_TRUE(Warn.NeedsValue && Crit.NeedsValue && Warn.Optional && Crit.Optional);
  }
  EXPECT_EQ(Parser.Arguments[41].LongName, "critHSTotal");
}

// The usage text's golden is driver/testdata/usage.txt.
TEST(NagiosOrvaneCheckOptions, UsageText) {
  std::ifstream File(ORVANE_SOURCE_DIR "/driver/testdata/usage.txt", std::ios::binary);
  ASSERT_TRUE(File) << "the golden usage text is missing";
  const std::string Golden{std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
  EXPECT_EQ(UsageText("/opt/orvane/nagios_orvane_check"), Golden);
}

// ---- Status line ------------------------------------------------------------------

// The golden of the status line: the summary, the detail of -v and the
// performance data.
TEST(NagiosOrvaneCheckStatus, OkSummaryOrDetailAndPerformanceData) {
  // Every counter distinct, so a swapped field shows.
  TCheckResult Result;
  for (int Counter = 0; Counter < CounterCount; ++Counter) Result.Measures[Counter].Count = Counter + 1;
  Result.Measures[LCOther].Count = 99;
  Result.Measures[HSTotal].Count = -20;
  const std::string Summary = "OK - Connections=1 Smtp=5 Pop=9 Imap=12 Lumicourt=17 Helmstead=-20";
  const std::string Detail =
      "OK - Connections=1 SmtpIn=2 SmtpOut=3 SmtpSSL=4 PopIn=6 PopOut=7 PopSSL=8 ImapIn=10 "
      "ImapSSL=11 Other=13 LCin=14 LCSSL=15 HSin=18 HSSSL=19";
  const std::string Performance =
      "|Connections=1 SmtpIn=2 SmtpOut=3 SmtpSSL=4 SmtpTotal=5 PopIn=6 PopOut=7 PopSSL=8 "
      "PopTotal=9 ImapIn=10 ImapSSL=11 ImapTotal=12 Other=13 LCin=14 LCSSL=15 LCTotal=17 "
      "HSin=18 HSSSL=19 HSTotal=-20\n";
  for (int32_t Verbosity : {0, 1, 2, 3}) {
    Result.Verbosity = Verbosity;
    const TProgramResult Output = NagiosOutput(Result, TSettings());
    EXPECT_EQ(Output.Output, (Verbosity == 0 ? Summary : Detail) + Performance) << Verbosity;
    EXPECT_EQ(Output.ExitStatus, ExitOk);
  }
}

// Long output is cut at a line end, the cut counted in a last line; the
// status line stays whatever the budget. Line ends count two bytes.
TEST(LongOutput, LinesFitTheBudget) {
  const std::string Long(40, 'c');
  const std::vector<std::string> Lines = {"status", "aaaa", "bbbb", Long};
  const std::string Note1 = "... 1 more line left out", Note2 = "... 2 more lines left out",
                    Note3 = "... 3 more lines left out";
  const struct {
    size_t Budget;
    std::string Output;
  } Cases[] = {
      {8 + 6 * 2 + 42, "status\naaaa\nbbbb\n" + Long + "\n"},
      {8 + 6 * 2 + 41, "status\naaaa\nbbbb\n" + Note1 + "\n"},
      {8 + 6 * 2 + Note1.size() + 2, "status\naaaa\nbbbb\n" + Note1 + "\n"},
      {8 + 6 * 2 + Note1.size() + 1, "status\naaaa\n" + Note2 + "\n"},
      {8 + Note3.size() + 2, "status\n" + Note3 + "\n"},
      {8 + Note3.size() + 1, "status\n"},
      {1, "status\n"},
  };
  for (const auto& Case : Cases) EXPECT_EQ(FitLines(Lines, Case.Budget), Case.Output) << Case.Budget;
}

// ---- Whole runs -------------------------------------------------------------------

const std::string Exe = FakeExe;
const std::string App = FakeApp;

class NagiosOrvaneCheckRun : public ::testing::Test, protected TFakeInstallation {
protected:
  void Connections(int Count, uint16_t LocalPort, uint16_t RemotePort = 40000,
                   uint32_t Pid = 100) {
    for (int i = 0; i < Count; ++i)
      Sockets.Tcp(5, {10, 1, 1, 1}, LocalPort, {10, 2, 2, 2}, RemotePort, Pid);
  }
  TProgramResult Run(std::vector<std::string> Arguments) { return RunOver(Arguments); }
};

struct TOutcome {
  const char* Name;
  std::vector<std::string> Arguments;
  std::string Output;
  int Status;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TOutcome& Case, std::ostream* Out) { *Out << Case.Name; }

class NagiosOrvaneCheckCommandLine : public NagiosOrvaneCheckRun,
                                     public ::testing::WithParamInterface<TOutcome> {};

TEST_P(NagiosOrvaneCheckCommandLine, EndsBeforeTheCheck) {
  const TProgramResult Result = Run(GetParam().Arguments);
  EXPECT_EQ(Result.Output, GetParam().Output);
  EXPECT_EQ(Result.ExitStatus, GetParam().Status);
  EXPECT_EQ(Registry.Queries, 0) << "no registry value is read";
  EXPECT_TRUE(Files.Attempts.empty()) << "no configuration file is read";
  EXPECT_EQ(Sockets.Reads, 0) << "no connection table is read";
}

INSTANTIATE_TEST_SUITE_P(
    NagiosOrvaneCheck, NagiosOrvaneCheckCommandLine,
    ::testing::Values(
        TOutcome{"NoArguments", {},
                 UsageText(Exe) + "\nError:\nMissing parameter \"w\" \"c\" \n", 3},
        TOutcome{"CriticalMissing", {"-w", "10"},
                 UsageText(Exe) + "\nError:\nMissing parameter \"c\" \n", 3},
        TOutcome{"Help", {"-h"}, UsageText(Exe), 0},
        TOutcome{"LongHelpWithThresholds", {"--help", "-w", "1", "-c", "2"}, UsageText(Exe), 0},
        TOutcome{"Version", {"-V"}, "Orvane Check Plugin for Nagios v1.0/Win32\n", 0},
        TOutcome{"HelpBeforeVersion", {"-V", "-h"}, UsageText(Exe), 0},
        TOutcome{"ErrorBeforeHelp", {"-h", "-x"}, "Unknown parameter x\n", 3},
        TOutcome{"OptionNamesAreCaseSensitive", {"-W", "5"}, "Unknown parameter W\n", 3},
        TOutcome{"NotAnOption", {"-w", "5", "-c", "6", "C:\\dir"},
                 "Unknown parameter C:\\dir\n", 3},
        TOutcome{"PathWithoutValue", {"-w", "5", "-c", "6", "-p"}, "Param p needs a value\n",
                 3},
        TOutcome{"ValueForAFlag", {"--help=1"}, "Wrong value for parameter help\n", 3},
        // The message quotes the argument; its line breaks must not make a
        // second line that Nagios could read as a status.
        TOutcome{"LineBreakInAnOption", {"-x\nOK - all fine"},
                 "Unknown parameter x OK - all fine\n", 3},
        TOutcome{"LineBreakInAnArgument", {"-w", "1", "-c", "2", "a\r\nOK - b"},
                 "Unknown parameter a  OK - b\n", 3},
        // What starts like a range must be one; nothing is read as 0 in silence.
        TOutcome{"MalformedRange", {"-w", "10:abc", "-c", "0"},
                 "Unknown - Invalid range --warn=10:abc\n", 3},
        TOutcome{"MalformedCategoryRange", {"-w", "1", "-c", "2", "--critIMAPin", "@"},
                 "Unknown - Invalid range --critIMAPin=@\n", 3},
        TOutcome{"MalformedTimeout", {"-w", "1", "-c", "2", "-t", "5:later"},
                 "Unknown - Invalid value --timeout=5:later\n", 3},
        TOutcome{"NoServerProcess", {"-w", "1", "-c", "2", "--require-running=Orvane,httpd"},
                 "Unknown - Invalid value --require-running=Orvane,httpd\n", 3},
        TOutcome{"NoListenerCategory", {"-w", "1", "-c", "2", "--require-listening=SMTPout"},
                 "Unknown - Invalid value --require-listening=SMTPout\n", 3},
        TOutcome{"RequirementRepeatedMalformed",
                 {"-w", "1", "-c", "2", "--require-running=Orvane", "--require-running=Orvane:later"},
                 "Unknown - Invalid value --require-running=Orvane:later\n", 3},
        TOutcome{"NoOutputBudget", {"-w", "1", "-c", "2", "--max-output=0"},
                 "Unknown - Invalid value --max-output=0\n", 3},
        // Counts have at most six digits: nothing wraps on the way to the watchdog.
        TOutcome{"TimeoutOfSevenDigits", {"-w", "1", "-c", "2", "-t", "0000005:critical"},
                 "Unknown - Invalid value --timeout=0000005:critical\n", 3},
        TOutcome{"OutputBudgetOfSevenDigits", {"-w", "1", "-c", "2", "--max-output=1000000"},
                 "Unknown - Invalid value --max-output=1000000\n", 3},
        TOutcome{"SignedTimeout", {"-w", "1", "-c", "2", "-t", "+5"},
                 "Unknown - Invalid value --timeout=+5\n", 3},
        // A control character would cut a Checkmk line or hide in a service's name.
        TOutcome{"ServicePrefixWithTab", {"-w", "1", "-c", "2", "--service-prefix=Mail\tA"},
                 "Unknown - Invalid value --service-prefix=Mail\tA\n", 3},
        TOutcome{"ServicePrefixWithDelete", {"-w", "1", "-c", "2", "--service-prefix=Mail\x7f"},
                 "Unknown - Invalid value --service-prefix=Mail\x7f\n", 3},
        TOutcome{"ServicePrefixWithNextLine", {"-w", "1", "-c", "2", "--service-prefix=Mail\xc2\x85"},
                 "Unknown - Invalid value --service-prefix=Mail\xc2\x85\n", 3}),
    [](const ::testing::TestParamInfo<TOutcome>& Info) { return std::string(Info.param.Name); });

TEST_F(NagiosOrvaneCheckRun, OkCheck) {
  Connections(2, 25);
  Connections(1, 143);
  Connections(1, 3000, 40000, 200);
  const TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App});
  EXPECT_TRUE(IsOneLine(Result.Output, "\n"));
  EXPECT_EQ(StatusOf(Result.Output), "OK - Connections=4 Smtp=2 Pop=0 Imap=1 Lumicourt=1 Helmstead=0");
  EXPECT_EQ(CountsOf(Result.Output), (TCounts{{"Connections", 4}, {"SmtpIn", 2}, {"SmtpTotal", 2}, {"ImapIn", 1},
                                              {"ImapTotal", 1}, {"LCin", 1}, {"LCTotal", 1}}));
  EXPECT_EQ(Result.ExitStatus, 0);
  EXPECT_EQ(Files.Attempts, (std::vector<std::string>{App + "Orvane.ini",
                                                      App + "..\\Lumicourt\\Lumicourt.ini",
                                                      App + "..\\Helmstead\\Helmstead.ini"}));
}

TEST_F(NagiosOrvaneCheckRun, ConfiguredPortsApply) {
  Files.Files[App + "Orvane.ini"] = "[Ports]\nSMTPIn=2525\n";
  Connections(3, 2525);
  Connections(1, 25);
  const TProgramResult Result = Run({"-w", "3", "-c", "10", "-p", App});
  EXPECT_EQ(Result.ExitStatus, 1);
  EXPECT_EQ(StatusOf(Result.Output), "WARNING - connections=4 ");
  EXPECT_EQ(CountsOf(Result.Output),
            (TCounts{{"Connections", 4}, {"SmtpIn", 3}, {"SmtpTotal", 3}, {"Other", 1}}));
}

class NagiosOrvaneCheckVerdict : public NagiosOrvaneCheckRun,
                                 public ::testing::WithParamInterface<TRunCase> {};

// Five inbound SMTP and four outbound POP connections.
TEST_P(NagiosOrvaneCheckVerdict, SettingsReachTheCheck) {
  Connections(5, 25);
  Connections(4, 50000, 110);
  std::vector<std::string> Arguments = {"-p", App};
  Arguments.insert(Arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  const TProgramResult Result = Run(Arguments);
  ASSERT_NE(Result.Output.find('|'), std::string::npos) << Result.Output;
  EXPECT_EQ(Result.Output.substr(0, Result.Output.find('|')), GetParam().StatusPart);
  EXPECT_EQ(Result.ExitStatus, GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(
    NagiosOrvaneCheck, NagiosOrvaneCheckVerdict,
    ::testing::Values(
        TRunCase{"Ok", {"-w", "10", "-c", "20"},
                     "OK - Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 0},
        TRunCase{"Warning", {"-w", "9", "-c", "20"}, "WARNING - connections=9 ", 1},
        TRunCase{"CriticalOverWarning", {"-w", "1", "-c", "9"}, "CRITICAL - connections=9 ",
                     2},
        TRunCase{"LowThirtyTwoBits", {"--warn=4294967305", "-c", "0"},
                     "WARNING - connections=9 ", 1},
        TRunCase{"LowThirtyTwoBitsNegative", {"-w", "4294967295", "-c", "0"},
                     "OK - Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 0},
        TRunCase{"NonNumericIsOff", {"-w", "abc", "-c", "none"},
                     "OK - Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 0},
        TRunCase{"CategoryLongForm", {"-w", "0", "-c", "0", "--warnPOPout=4"},
                     "WARNING - POPout=4 ", 1},
        TRunCase{"CategoryShortForm", {"-w", "0", "-c", "0", "-wPOPout", "4"},
                     "WARNING - POPout=4 ", 1},
        TRunCase{"CategoryBelowThreshold", {"-w", "0", "-c", "0", "-wPOPout", "5"},
                     "OK - Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 0},
        TRunCase{"CategoryCritical", {"-w", "0", "-c", "0", "-cSMTPTotal", "5",
                                          "-wPOPTotal", "1", "--critSMTPin=6"},
                     "CRITICAL - SMTPTotal=5 ", 2},
        TRunCase{"CriticalTextsInOrder", {"-w", "5", "-c", "9", "-cSMTPin", "5"},
                     "CRITICAL - connections=9 SMTPin=5 ", 2},
        // A range in each threshold slot, for the total and for a category.
        TRunCase{"RangeWarnsTotal", {"-w", "10:", "-c", "0"}, "WARNING - connections=9 ", 1},
        TRunCase{"RangeCriticalTotal", {"-w", "0", "-c", "@5:9"}, "CRITICAL - connections=9 ", 2},
        TRunCase{"RangeQuietTotal", {"-w", "~:9", "-c", "@10:20"},
                     "OK - Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 0},
        TRunCase{"RangeWarnsCategory", {"-w", "0", "-c", "0", "--warnSMTPin=~:4"},
                     "WARNING - SMTPin=5 ", 1},
        TRunCase{"RangeCriticalCategory", {"-w", "0", "-c", "0", "-cPOPout", "5:"},
                     "CRITICAL - POPout=4 ", 2},
        // Each occurrence of a requirement is a group with its own state.
        TRunCase{"RequirementsCombine",
                     {"-w", "0", "-c", "0", "--require-running=Helmstead",
                      "--require-running=Lumicourt,Orvane:warning"},
                     "CRITICAL - Helmstead.exe not running Connections=9 Smtp=5 Pop=4 Imap=0 "
                     "Lumicourt=0 Helmstead=0", 2},
        TRunCase{"RequirementsKeepTheirStates",
                     {"-w", "0", "-c", "0", "--require-running=Helmstead:warning",
                      "--require-listening=SMTPin:unknown", "--require-running=Orvane"},
                     "Unknown - Helmstead.exe not running SMTPin port 25 not listening "
                     "Connections=9 Smtp=5 Pop=4 Imap=0 Lumicourt=0 Helmstead=0", 3},
        TRunCase{"VerboseDetail", {"-w", "0", "-c", "0", "--verbose"},
                     "OK - Connections=9 SmtpIn=5 SmtpOut=0 SmtpSSL=0 PopIn=0 PopOut=4 "
                     "PopSSL=0 ImapIn=0 ImapSSL=0 Other=0 LCin=0 LCSSL=0 HSin=0 HSSSL=0",
                     0}),
    [](const ::testing::TestParamInfo<TRunCase>& Info) {
      return std::string(Info.param.Name);
    });

TEST_F(NagiosOrvaneCheckRun, TwoVerboseOptionsDumpBeforeTheStatus) {
  Connections(1, 25);
  Sockets.Tcp(2, {0, 0, 0, 0}, 25, {0, 0, 0, 0}, 0, 100);  // listening: not dumped
  const TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App, "-v", "-v"});
  EXPECT_EQ(Result.Output.substr(0, Result.Output.rfind('|')),
            "TCP|10.1.1.1|25|10.2.2.2|40000|ESTABLISHED|Orvane.exe|100|OK - Connections=1 "
            "SmtpIn=1 SmtpOut=0 SmtpSSL=0 PopIn=0 PopOut=0 PopSSL=0 ImapIn=0 ImapSSL=0 Other=0 "
            "LCin=0 LCSSL=0 HSin=0 HSSSL=0");
  EXPECT_TRUE(IsOneLine(Result.Output, "\n"));
  EXPECT_EQ(Result.ExitStatus, 0);
}

TEST_F(NagiosOrvaneCheckRun, DumpedPathWithLineBreakStaysOnTheStatusLine) {
  Processes.ModulePaths[100] = "/srv/a\nOK - b\r/Orvane.exe";
  Connections(1, 25);
  const TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App, "-v", "-v"});
  EXPECT_EQ(Result.Output.substr(0, Result.Output.find("|OK - ")),
            "TCP|10.1.1.1|25|10.2.2.2|40000|ESTABLISHED|/srv/a OK - b /Orvane.exe|100");
  EXPECT_TRUE(IsOneLine(Result.Output, "\n"));
}

// A listener counts only as a TCP listening row of one of its own server's
// processes on its port; a server that does not run listens nowhere, not
// even where a row of unknown owner holds its port.
TEST_F(NagiosOrvaneCheckRun, ListenersAreTheServersOwn) {
  auto Listener = [](bool Ipv6, int32_t Protocol, uint16_t Port, int32_t State, uint32_t Pid) {
    TSocketRecord Socket;
    Socket.Protocol = Protocol;
    Socket.Ipv6 = Ipv6;
    Socket.LocalPort = Port;
    Socket.State = State;
    Socket.ProcessId = Pid;
    return Socket;
  };
  const struct {
    const char* What;
    TSocketRecord Socket;
    bool ServerRuns, Listening;
  } Cases[] = {
      {"IPv4", Listener(false, 0, 143, TcpStateListening, 100), true, true},
      {"IPv6", Listener(true, 0, 143, TcpStateListening, 100), true, true},
      {"a second process of the name", Listener(false, 0, 143, TcpStateListening, 101), true, true},
      {"established only", Listener(false, 0, 143, TcpStateEstablished, 100), true, false},
      {"UDP", Listener(false, 1, 143, 0, 100), true, false},
      {"another process", Listener(false, 0, 143, TcpStateListening, 200), true, false},
      {"owner unknown", Listener(false, 0, 143, TcpStateListening, 0), true, false},
      {"another port", Listener(false, 0, 993, TcpStateListening, 100), true, false},
      {"server stopped, owner unknown", Listener(false, 0, 143, TcpStateListening, 0), false, false},
  };
  for (const auto& Case : Cases) {
    Sockets.Sockets = {Case.Socket};
    Processes.Processes = {{200, "Lumicourt.exe"}};
    if (Case.ServerRuns) Processes.Processes.insert(Processes.Processes.end(), {{100, "Orvane.exe"}, {101, "ORVANE.EXE"}});
    const TProgramResult Result = Run({"-w", "0", "-c", "0", "-p", App, "--require-listening=imapin:warning"});
    const std::string Head = Case.Listening ? "OK - Connections=" : "WARNING - IMAPin port 143 not listening Connections=";
    EXPECT_EQ(Result.Output.substr(0, Head.size()), Head) << Case.What;
    EXPECT_EQ(Result.ExitStatus, Case.Listening ? ExitOk : ExitWarning) << Case.What;
  }
}

// Only a process of the server's own name is a running server; a namesake
// still counts its connections, as it always has.
TEST_F(NagiosOrvaneCheckRun, ANamesakeIsNoRunningServer) {
  Processes.Processes = {{100, "xOrvane.exe"}, {200, "Lumicourt.exe"}};
  Connections(2, 25);
  const TProgramResult Result = Run({"-w", "0", "-c", "0", "-p", App, "--require-running=Orvane"});
  EXPECT_EQ(StatusOf(Result.Output),
            "CRITICAL - Orvane.exe not running Connections=2 Smtp=2 Pop=0 Imap=0 Lumicourt=0 Helmstead=0");
  EXPECT_EQ(Result.ExitStatus, ExitCritical);
}

// The golden of the performance data with thresholds: each alerts where the
// status does for a reader that takes it as a range alerting outside itself.
TEST_F(NagiosOrvaneCheckRun, PerformanceDataThresholds) {
  Connections(9, 25);
  Connections(1, 110);
  Connections(2, 143);
  const TProgramResult Result =
      Run({"-p", App, "-w", "10", "-c", " @5:20", "-cSMTPin", "-3", "--warnIMAPin=~:1", "--critPOPin=@1",
           "--warnPOPTotal=:3", "--critIMAPTotal=@2:", "--perfdata-thresholds", "--require-running=Helmstead,Orvane"});
  EXPECT_EQ(Result.Output,
            "CRITICAL - Helmstead.exe not running connections=12 POPin=1 IMAPTotal=2 |Connections=12;9;;0; "
            "SmtpIn=9;;;0; SmtpOut=0;;;0; SmtpSSL=0;;;0; SmtpTotal=9;;;0; PopIn=1;;2:;0; "
            "PopOut=0;;;0; PopSSL=0;;;0; PopTotal=1;3;;0; ImapIn=2;~:1;;0; ImapSSL=0;;;0; "
            "ImapTotal=2;;~:1;0; Other=0;;;0; LCin=0;;;0; LCSSL=0;;;0; LCTotal=0;;;0; HSin=0;;;0; "
            "HSSSL=0;;;0; HSTotal=0;;;0;\n");
  EXPECT_EQ(Result.ExitStatus, ExitCritical);
}

// The golden of the long output: the status line, one line per category with
// its ports and count, and at -v -v one line per connection of a server, the
// owner's path last.
TEST_F(NagiosOrvaneCheckRun, LongOutput) {
  Files.Files[App + "Orvane.ini"] = "[Ports]\nSMTPIn=2525\nPOPOut=1110\n";
  Processes.ModulePaths[100] = "C:\\Program Files\\Orvane|x\\Orvane.exe";
  Connections(1, 2525);
  Connections(1, 50000, 1110);
  Connections(1, 3000, 40000, 200);
  const TProgramResult Result = Run({"-p", App, "-w", "0", "-c", "0", "--details", "-v", "-v"});
  EXPECT_EQ(Result.Output,
            "OK - Connections=3 SmtpIn=1 SmtpOut=0 SmtpSSL=0 PopIn=0 PopOut=1 PopSSL=0 ImapIn=0 "
            "ImapSSL=0 Other=0 LCin=1 LCSSL=0 HSin=0 HSSSL=0|Connections=3 SmtpIn=1 SmtpOut=0 "
            "SmtpSSL=0 SmtpTotal=1 PopIn=0 PopOut=1 PopSSL=0 PopTotal=1 ImapIn=0 ImapSSL=0 "
            "ImapTotal=0 Other=0 LCin=1 LCSSL=0 LCTotal=1 HSin=0 HSSSL=0 HSTotal=0\n"
            "SMTPin port 2525: 1\n"
            "SMTPout remote port 25: 0\n"
            "SMTPSSL port 465: 0\n"
            "SMTPTotal ports 2525, 465, remote 25: 1\n"
            "POPin port 110: 0\n"
            "POPout remote port 1110: 1\n"
            "POPSSL port 995: 0\n"
            "POPTotal ports 110, 995, remote 1110: 1\n"
            "IMAPin port 143: 0\n"
            "IMAPSSL port 993: 0\n"
            "IMAPTotal ports 143, 993: 0\n"
            "Other ports of Orvane.exe: 0\n"
            "LCin port 3000: 1\n"
            "LCSSL port 443: 0\n"
            "LCTotal ports 3000, 443 and any other of Lumicourt.exe: 1\n"
            "HSin port 1000: 0\n"
            "HSSSL port 443: 0\n"
            "HSTotal ports 1000, 443: 0\n"
            "TCP 10.1.1.1 2525 10.2.2.2 40000 ESTABLISHED 100 C:\\Program Files\\Orvane!x\\Orvane.exe\n"
            "TCP 10.1.1.1 50000 10.2.2.2 1110 ESTABLISHED 100 C:\\Program Files\\Orvane!x\\Orvane.exe\n"
            "TCP 10.1.1.1 3000 10.2.2.2 40000 ESTABLISHED 200 Lumicourt.exe\n");
  EXPECT_EQ(Result.ExitStatus, ExitOk);
}

// The -v -v dump stays before the status with an extended option that asks
// for no lines below it; with long output or a byte budget it goes below,
// within the budget.
TEST_F(NagiosOrvaneCheckRun, DumpKeptWithExtendedOptions) {
  Connections(2, 25);
  const std::string Record = "TCP 10.1.1.1 25 10.2.2.2 40000 ESTABLISHED 100 Orvane.exe";
  const std::string Classic = "TCP|10.1.1.1|25|10.2.2.2|40000|ESTABLISHED|Orvane.exe|100|";
  const struct {
    const char* Option;
    std::string Head;    // what stands before the status
    size_t LinesBelow;   // connection lines below the status line
  } Cases[] = {
      {"--perfdata-thresholds", Classic + Classic, 0},
      {"--require-running=Orvane", Classic + Classic, 0},
      {"--max-output=4000", "", 2},
      {"--max-output=400", "", 1},
  };
  for (const auto& Case : Cases) {
    const TProgramResult Result = Run({"-p", App, "-w", "0", "-c", "0", "-v", "-v", Case.Option});
    EXPECT_EQ(Result.Output.substr(0, Result.Output.find("OK - ")), Case.Head) << Case.Option;
    size_t Below = 0;
    for (size_t At = Result.Output.find("\n" + Record); At != std::string::npos;
         At = Result.Output.find("\n" + Record, At + 1))
      ++Below;
    EXPECT_EQ(Below, Case.LinesBelow) << Case.Option;
    // Each line end counts as the two bytes Windows writes.
    EXPECT_LE(Result.Output.size() + std::count(Result.Output.begin(), Result.Output.end(), '\n'),
              Case.Option == std::string("--max-output=400") ? 400u : 4096u) << Case.Option;
  }
}

TEST_F(NagiosOrvaneCheckRun, RetrySettingsReachTheReader) {
  Files.BusyAttempts[App + "Orvane.ini"] = 2;
  TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App, "-d", "0x10", "-r", "2"});
  EXPECT_EQ(Result.ExitStatus, 0) << Result.Output;
  EXPECT_EQ(Files.Sleeps, (std::vector<int32_t>{16, 16}));

  Files.BusyAttempts[App + "Orvane.ini"] = 2;
  Files.Sleeps.clear();
  Result = Run({"-w", "5", "-c", "10", "-p", App, "--delay=7", "--retry", "1"});
  EXPECT_TRUE(IsUnknownNaming(Result.Output, App + "Orvane.ini"));
  EXPECT_EQ(Result.ExitStatus, 3);
  EXPECT_EQ(Files.Sleeps, std::vector<int32_t>{7});
}

// The golden of the message of a file that cannot be read.
TEST_F(NagiosOrvaneCheckRun, UnreadableConfigurationIsUnknown) {
  Files.Files.erase(App + "Orvane.ini");
  const TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App, "-r", "0"});
  EXPECT_EQ(Result.Output, "Unknown - Can not read /srv/orvane/App/Orvane.ini\n");
  EXPECT_EQ(Result.ExitStatus, 3);
  EXPECT_EQ(Sockets.Reads, 0) << "no check without the port configuration";
}

TEST_F(NagiosOrvaneCheckRun, UnreadableComponentConfigurationIsUnknown) {
  Files.Files.erase(App + "..\\Helmstead\\Helmstead.ini");
  const TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", App, "-r", "0"});
  EXPECT_TRUE(IsUnknownNaming(Result.Output, App + "..\\Helmstead\\Helmstead.ini"));
  EXPECT_EQ(Result.ExitStatus, 3);
}

TEST_F(NagiosOrvaneCheckRun, FailingTableIsUnknown) {
  Connections(20, 25);
  Sockets.Failure = "The parameter is incorrect.";
  const TProgramResult Result = Run({"-w", "1", "-c", "2", "-p", App, "-v", "-v"});
  EXPECT_EQ(Result.Output, "Unknown - The parameter is incorrect.\n");
  EXPECT_EQ(Result.ExitStatus, 3);
}

// Found by fuzzing: a path with a line break made the UNKNOWN status two lines.
TEST_F(NagiosOrvaneCheckRun, UnknownStatusStaysOneLine) {
  TProgramResult Result = Run({"-w", "5", "-c", "10", "-p", "/srv/orvane/App\n", "-r", "0"});
  EXPECT_TRUE(IsUnknownNaming(Result.Output, "/srv/orvane/App Orvane.ini"));
  EXPECT_EQ(Result.ExitStatus, 3);

  Sockets.Failure = "Table gone.\r\nTry again";
  Result = Run({"-w", "5", "-c", "10", "-p", App});
  EXPECT_EQ(Result.Output, "Unknown - Table gone.  Try again\n");
}

// Whatever breaks the check ends as UNKNOWN, never as a verdict.
class TThrowingTables : public TSocketSource {
public:
  std::function<void()> Throw;
  void ReadSockets(const std::vector<uint32_t>&, TSocketList&) override { Throw(); }
};

TEST_F(NagiosOrvaneCheckRun, UnexpectedFailuresAreUnknown) {
  const struct {
    std::function<void()> Throw;
    std::string Output;
  } Cases[] = {
      {[] { throw std::bad_alloc(); }, "Unknown - Out of memory\n"},
      {[] { throw std::logic_error("broken table"); }, "Unknown - broken table\n"},
      {[] { throw 42; }, "Unknown - Unexpected failure\n"},
  };
  for (const auto& Case : Cases) {
    TThrowingTables Throwing;
    Throwing.Throw = Case.Throw;
    const TProgramResult Result = RunProgram({"-w", "1", "-c", "1", "-p", App}, Exe,
                                             {&Files, &Registry, &Throwing, &Processes});
    EXPECT_EQ(Result.Output, Case.Output);
    EXPECT_EQ(Result.ExitStatus, 3);
  }
}

}  // namespace
