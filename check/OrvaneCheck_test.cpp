#include "check/OrvaneCheck.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/FakeCensus.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

namespace {

const std::string App = "C:\\Orvane\\App\\";
const std::string OrvaneIni = App + "Orvane.ini";
const std::string LumicourtIni = App + "..\\Lumicourt\\Lumicourt.ini";
const std::string HelmsteadIni = App + "..\\Helmstead\\Helmstead.ini";

using TPorts = std::array<int32_t, 12>;
const TPorts DefaultPorts = {25, 25, 465, 110, 110, 995, 143, 993, 3000, 443, 1000, 443};

TPorts PortsOf(const TOrvaneCheck& C) {
  return {C.SmtpInPort,    C.SmtpOutPort,      C.SmtpSslPort,   C.PopInPort,
          C.PopOutPort,    C.PopSslPort,       C.ImapInPort,    C.ImapSslPort,
          C.LumicourtPort, C.LumicourtSslPort, C.HelmsteadPort, C.HelmsteadSslPort};
}

TPorts With(TPorts Ports, std::initializer_list<std::pair<int, int32_t>> Changes) {
  for (const auto& Change : Changes) Ports[Change.first] = Change.second;
  return Ports;
}

class OrvaneCheck : public ::testing::Test {
protected:
  TFakeFileSystem Files;
  TFakeRegistry Registry;
  TFakeSocketSource Sockets;
  TFakeProcessSource Processes;
  TCheckSystem System{&Files, &Registry, &Sockets, &Processes};

  std::unique_ptr<TOrvaneCheck> NewCheck() {
    auto Check = std::make_unique<TOrvaneCheck>(System);
    Check->DataPath = App;
    Check->RetryCount = 0;
    return Check;
  }
};

// ---- Construction -----------------------------------------------------------

TEST_F(OrvaneCheck, FreshObjectHasDefaultsAndNothingCounted) {
  auto C = NewCheck();
  EXPECT_EQ(PortsOf(*C), DefaultPorts);
  EXPECT_EQ(C->RetryDelay, 500);
  EXPECT_EQ(C->RetryCount, 0);  // set by the fixture
  EXPECT_EQ(C->Verbosity, 0);
  EXPECT_TRUE(C->ConnectionList.empty());
  for (int Counter = 0; Counter < CounterCount; ++Counter) {
    EXPECT_FALSE(C->Warn[Counter].IsSet());
    EXPECT_FALSE(C->Crit[Counter].IsSet());
  }
  EXPECT_FALSE(C->IsWarning);
  EXPECT_FALSE(C->IsCritical);
  EXPECT_TRUE(Files.Attempts.empty()) << "construction reads no configuration file";
}

// The installation is found through the registry handed in, under the
// server's key of the local machine, and nowhere else.
TEST_F(OrvaneCheck, DataPathIsAppPathOfTheGivenRegistry) {
  EXPECT_EQ(TOrvaneCheck(System).DataPath, "");
  Registry.SetText("HKCU\\SOFTWARE\\Kestrix Technologies\\Orvane\\AppPath", "C:\\User\\");
  EXPECT_EQ(TOrvaneCheck(System).DataPath, "");
  Registry.SetText("HKLM\\SOFTWARE\\Kestrix Technologies\\Orvane\\AppPath", App);
  EXPECT_EQ(TOrvaneCheck(System).DataPath, App);
}

// ---- Port configuration -------------------------------------------------------

struct TPortCase {
  const char* Name;
  std::string Orvane, Lumicourt, Helmstead;
  TPorts Expected;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TPortCase& Case, std::ostream* Out) { *Out << Case.Name; }

class OrvaneCheckPorts : public OrvaneCheck, public ::testing::WithParamInterface<TPortCase> {};

TEST_P(OrvaneCheckPorts, ReadsConfiguredPorts) {
  const TPortCase& Case = GetParam();
  Files.Files[OrvaneIni] = Case.Orvane;
  Files.Files[LumicourtIni] = Case.Lumicourt;
  Files.Files[HelmsteadIni] = Case.Helmstead;
  auto C = NewCheck();
  C->LoadPorts();
  EXPECT_EQ(PortsOf(*C), Case.Expected);
  EXPECT_EQ(Files.Attempts, (std::vector<std::string>{OrvaneIni, LumicourtIni, HelmsteadIni}));
}

INSTANTIATE_TEST_SUITE_P(
    OrvaneCheck, OrvaneCheckPorts,
    ::testing::Values(
        TPortCase{"NoKeysKeepDefaults", "", "# nothing\n", "\n", DefaultPorts},
        TPortCase{"AllMailServerKeys",
                  "[Ports]\r\nSMTPIn=2525\r\nSMTPOut=2526\r\nSSL-SMTP=4650\r\nPOPIn=1100\r\n"
                  "POPOut=1101\r\nSSL-POP=9950\r\nIMAPIn=1430\r\nSSL-IMAP=9930\r\n",
                  "", "",
                  {2525, 2526, 4650, 1100, 1101, 9950, 1430, 9930, 3000, 443, 1000, 443}},
        TPortCase{"KeysOutsideTheSectionIgnored",
                  "SMTPIn=1\n[Other]\nSMTPIn=2\n[Ports]\nPOPIn=3\n[Next]\nIMAPIn=4\n", "", "",
                  With(DefaultPorts, {{3, 3}})},
        TPortCase{"HeaderAndKeysAreCaseSensitive",
                  "[ports]\nSMTPIn=1\n[Ports]\nsmtpin=2\nPopIn=3\n", "[webserver]\nPort=1\n",
                  "[WebServer]\nport=2\n", DefaultPorts},
        TPortCase{"SubstringTestsAndTrailingText",
                  "x[Ports]y\n  junk SMTPIn=26 ;c\nXSSL-POP=0x3E5\nIMAPIn= $90 rest\n", "", "",
                  With(DefaultPorts, {{0, 26}, {5, 997}, {6, 144}})},
        TPortCase{"LaterLinesWinAndZeroKeeps",
                  "[Ports]\nSMTPIn=26\nSMTPIn=27\nSMTPIn=0\nSMTPIn=abc\nSMTPIn=\n", "", "",
                  With(DefaultPorts, {{0, 27}})},
        TPortCase{"LowThirtyTwoBitsStored",
                  "[Ports]\nSMTPIn=4294967296\nPOPIn=4294968396\nIMAPIn=-5\n", "", "",
                  With(DefaultPorts, {{0, 0}, {3, 1100}, {6, -5}})},
        TPortCase{"HeaderLineMayCarryAKey", "[Ports] SMTPIn=30\n", "", "",
                  With(DefaultPorts, {{0, 30}})},
        TPortCase{"ComponentSections", "",
                  "Port=1\n[WebServer]\nPort=3100\n[SSL]\nPort=8443\n[Other]\nPort=2\n",
                  "[SSL]\nPort=9443\n[WebServer]\nPort=1001\n",
                  With(DefaultPorts, {{8, 3100}, {9, 8443}, {10, 1001}, {11, 9443}})},
        TPortCase{"IndentedHeaderKeepsBothSectionsOpen", "", "[WebServer]\n  [SSL]\nPort=9000\n",
                  "[WebServer]\n [SSL]\nPort=9001\n[x]\nPort=5\n",
                  With(DefaultPorts, {{8, 9000}, {9, 9000}, {10, 9001}, {11, 9001}})},
        TPortCase{"WebServerSectionReopened", "",
                  "[WebServer]\nPort=1\n[SSL]\nPort=2\n[WebServer]\nPort=3\n", "",
                  With(DefaultPorts, {{8, 3}, {9, 2}})},
        TPortCase{"LongerKeyEndingInPort", "", "[SSL]\nSSLPort=8444\n",
                  "[WebServer]\nHTTPPort=8081\n",
                  With(DefaultPorts, {{9, 8444}, {10, 8081}})},
        TPortCase{"CommentedKeysIgnored", "[Ports]\n  ;SMTPIn=1\n# POPIn=2\n",
                  "[WebServer]\n;Port=1\n", "", DefaultPorts}),
    [](const ::testing::TestParamInfo<TPortCase>& Info) { return std::string(Info.param.Name); });

TEST_F(OrvaneCheck, UnreadableComponentFileStopsTheLoad) {
  Files.Files[OrvaneIni] = "[Ports]\nSMTPIn=2525\n";
  Files.Files[HelmsteadIni] = "[WebServer]\nPort=1001\n";
  auto C = NewCheck();
  try {
    C->LoadPorts();
    FAIL() << "LoadPorts succeeded without the web-mail configuration";
  } catch (const std::runtime_error& Failure) {
    EXPECT_EQ(std::string(Failure.what()), "Can not read " + LumicourtIni);
  }
  EXPECT_EQ(PortsOf(*C), With(DefaultPorts, {{0, 2525}}));
  EXPECT_EQ(Files.Attempts, (std::vector<std::string>{OrvaneIni, LumicourtIni}));
}

TEST_F(OrvaneCheck, FileNamesAreDataPathAndRelativeNameRunTogether) {
  auto C = NewCheck();
  C->DataPath = "C:\\Orvane\\App";
  EXPECT_THROW(C->LoadPorts(), std::runtime_error);
  EXPECT_EQ(Files.Attempts, std::vector<std::string>{"C:\\Orvane\\AppOrvane.ini"});
}

// ---- Threshold evaluation -----------------------------------------------------

TEST_F(OrvaneCheck, EachCategoryTestsItsOwnCounterUnderItsName) {
  for (TCounter Category : Categories) {
    auto C = NewCheck();
    C->Counts[Category] = 7;
    C->Warn[Category].Level = 7;
    C->Crit[Category].Level = 8;
    C->EvaluateThresholds();
    EXPECT_EQ(C->WarningText, std::string(CounterRows[Category].Name) + "=7 ") << Category;
    EXPECT_FALSE(C->IsCritical) << Category;
  }
}

struct TThresholdCase {
  const char* Name;
  std::function<void(TOrvaneCheck&)> Setup;
  bool Warning, Critical;
  std::string WarningText, CriticalText;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TThresholdCase& Case, std::ostream* Out) { *Out << Case.Name; }

class OrvaneCheckThresholds : public OrvaneCheck, public ::testing::WithParamInterface<TThresholdCase> {};

TEST_P(OrvaneCheckThresholds, SetsFlagsAndTexts) {
  const TThresholdCase& Case = GetParam();
  auto C = NewCheck();
  // Left over from an earlier evaluation: must not survive the next one.
  C->IsWarning = C->IsCritical = true;
  C->WarningText = C->CriticalText = "stale ";
  Case.Setup(*C);
  C->EvaluateThresholds();
  EXPECT_EQ(C->IsWarning, Case.Warning);
  EXPECT_EQ(C->IsCritical, Case.Critical);
  EXPECT_EQ(C->WarningText, Case.WarningText);
  EXPECT_EQ(C->CriticalText, Case.CriticalText);
}

INSTANTIATE_TEST_SUITE_P(
    OrvaneCheck, OrvaneCheckThresholds,
    ::testing::Values(
        TThresholdCase{"NoThresholdSet",
                       [](TOrvaneCheck& C) {
                         C.Counts[Connections] = 100;
                         C.Counts[SMTPin] = 100;
                       },
                       false, false, "", ""},
        TThresholdCase{"EqualReaches",
                       [](TOrvaneCheck& C) {
                         C.Counts[Connections] = 5;
                         C.Warn[Connections].Level = 5;
                         C.Crit[Connections].Level = 5;
                       },
                       true, true, "connections=5 ", "connections=5 "},
        TThresholdCase{"OneBelowDoesNot",
                       [](TOrvaneCheck& C) {
                         C.Counts[Connections] = 4;
                         C.Warn[Connections].Level = 5;
                         C.Counts[POPin] = 0;
                         C.Warn[POPin].Level = 1;
                       },
                       false, false, "", ""},
        TThresholdCase{"NegativeNeverReached",
                       [](TOrvaneCheck& C) {
                         C.Warn[Connections].Level = -1;
                         C.Crit[SMTPin].Level = -3;
                         C.Counts[SMTPin] = 0;
                       },
                       false, false, "", ""},
        TThresholdCase{"TotalThenCategoriesInOrder",
                       [](TOrvaneCheck& C) {
                         C.Counts[Connections] = 25;
                         C.Counts[SMTPin] = 12;
                         C.Counts[SMTPTotal] = 3;
                         C.Counts[POPin] = 40;
                         C.Warn[Connections].Level = 20;
                         C.Warn[POPin].Level = 10;
                         C.Warn[SMTPTotal].Level = 2;
                         C.Warn[SMTPin].Level = 10;
                       },
                       true, false, "connections=25 SMTPin=12 SMTPTotal=3 POPin=40 ", ""},
        TThresholdCase{"CriticalWithoutWarning",
                       [](TOrvaneCheck& C) {
                         C.Counts[Connections] = 20;
                         C.Warn[Connections].Level = 50;
                         C.Crit[Connections].Level = 10;
                       },
                       false, true, "", "connections=20 "},
        TThresholdCase{"PassesAreIndependent",
                       [](TOrvaneCheck& C) {
                         C.Counts[LCTotal] = 9;
                         C.Counts[HSTotal] = 2;
                         C.Warn[LCTotal].Level = 3;
                         C.Crit[LCTotal].Level = 9;
                         C.Crit[HSTotal].Level = 1;
                       },
                       true, true, "LCTotal=9 ", "LCTotal=9 HSTotal=2 "}),
    [](const ::testing::TestParamInfo<TThresholdCase>& Info) {
      return std::string(Info.param.Name);
    });

// ---- Process look-up ------------------------------------------------------------

struct TFindCase {
  const char* Name;
  std::vector<TProcessInfo> List;
  std::string Wanted;
  std::vector<uint32_t> Expected;
  bool Exact;
  uint32_t Own = 0;                  // the program's own process
  std::vector<uint32_t> OwnImage{};  // other instances of the program
};
// Test names, not bytes, in the test listing.
void PrintTo(const TFindCase& Case, std::ostream* Out) { *Out << Case.Name; }

class OrvaneCheckFindProcess : public OrvaneCheck, public ::testing::WithParamInterface<TFindCase> {};

TEST_P(OrvaneCheckFindProcess, EveryEqualNameElseLastSubstringMatchNeverTheProgram) {
  Processes.Processes = GetParam().List;
  Processes.OwnId = GetParam().Own;
  Processes.OwnImageIds = GetParam().OwnImage;
  const TServerProcesses Found = NewCheck()->FindServerProcesses(GetParam().Wanted);
  EXPECT_EQ(Found.Ids, GetParam().Expected);
  EXPECT_EQ(Found.Exact, GetParam().Exact);
}

INSTANTIATE_TEST_SUITE_P(
    OrvaneCheck, OrvaneCheckFindProcess,
    ::testing::Values(
        TFindCase{"NotRunning", {{4, "System"}, {8, "Lumicourt.exe"}}, "Orvane.exe", {}, false},
        TFindCase{"Exact", {{4, "System"}, {12, "Orvane.exe"}, {8, "x.exe"}}, "Orvane.exe", {12}, true},
        TFindCase{"AnyCase", {{12, "oRVANE.EXE"}}, "Orvane.exe", {12}, true},
        TFindCase{"Substring", {{13, "MyOrvane.exe.old"}}, "Orvane.exe", {13}, false},
        TFindCase{"EveryEqualName", {{12, "Orvane.exe"}, {5, "x"}, {9, "ORVANE.exe"}},
                  "Orvane.exe", {12, 9}, true},
        TFindCase{"PrefixOnlyDoesNotMatch", {{12, "Orvane.ex"}, {13, "Orvane_exe"}},
                  "Orvane.exe", {}, false},
        // The program installed as orvane.exe or check_orvane.exe.
        TFindCase{"NeverItself", {{12, "Orvane.exe"}, {30, "orvane.exe"}}, "Orvane.exe", {12}, true, 30},
        TFindCase{"NeverItselfAsNamesake", {{30, "check_orvane.exe"}}, "Orvane.exe", {}, false, 30},
        // Another instance of the check, busy retrying a held file.
        TFindCase{"NeverAnotherInstance", {{12, "Orvane.exe"}, {31, "check_orvane.exe"}, {32, "ORVANE.EXE"}},
                  "Orvane.exe", {12}, true, 30, {31, 32}},
        TFindCase{"AnotherInstanceAloneIsNoServer", {{31, "check_orvane.exe"}}, "Orvane.exe", {},
                  false, 30, {31}},
        TFindCase{"EqualNamesBeatNamesakes",
                  {{9, "orvane.EXE"}, {12, "Orvane.exe"}, {40, "BackupOrvane.exe"}}, "Orvane.exe",
                  {9, 12}, true},
        TFindCase{"LastNamesakeWithoutEqualName", {{13, "MyOrvane.exe"}, {14, "xORVANE.EXE"}},
                  "Orvane.exe", {14}, false},
        TFindCase{"OnlyAsciiLettersFolded", {{12, "\xC3\x84rvane.exe"}}, "\xC3\xA4rvane.exe",
                  {}, false}),
    [](const ::testing::TestParamInfo<TFindCase>& Info) { return std::string(Info.param.Name); });

TEST_F(OrvaneCheck, RefusedProcessListFindsNothing) {
  Processes.Processes = {{12, "Orvane.exe"}};
  Processes.RefuseList = true;
  EXPECT_TRUE(NewCheck()->FindServerProcesses("Orvane.exe").Ids.empty());
}

// ---- The classifier ---------------------------------------------------------------

constexpr uint32_t OrvanePid = 100, LumicourtPid = 200, HelmsteadPid = 300, OtherPid = 400;
const std::array<uint8_t, 4> Here = {192, 168, 1, 5};
const std::array<uint8_t, 4> Peer = {10, 0, 0, 7};
constexpr int32_t Established = 5, Listening = 2, TimeWait = 11;

class OrvaneCheckRun : public OrvaneCheck {
protected:
  void SetUp() override {
    Processes.Processes = {{4, "System"},
                           {OrvanePid, "Orvane.exe"},
                           {LumicourtPid, "Lumicourt.exe"},
                           {HelmsteadPid, "Helmstead.exe"},
                           {OtherPid, "other.exe"}};
  }
  void Connection(uint32_t Pid, uint16_t LocalPort, uint16_t RemotePort,
                  int32_t State = Established) {
    Sockets.Tcp(State, Here, LocalPort, Peer, RemotePort, Pid);
  }
  std::unique_ptr<TOrvaneCheck> RunCheck(const std::function<void(TOrvaneCheck&)>& Setup = {}) {
    auto C = NewCheck();
    if (Setup) Setup(*C);
    C->Run();
    return C;
  }
};

// The counters that individual connections go to (no totals).
std::vector<int32_t> Leaves(const TOrvaneCheck& C) {
  return {C.Counts[SMTPin], C.Counts[SMTPout], C.Counts[SMTPSSL], C.Counts[POPin],
          C.Counts[POPout], C.Counts[POPSSL],  C.Counts[IMAPin],  C.Counts[IMAPSSL],
          C.Counts[Other],  C.Counts[LCin],    C.Counts[LCSSL],   C.Counts[LCOther],
          C.Counts[HSin],   C.Counts[HSSSL]};
}
enum TLeaf { LSmtpIn, LSmtpOut, LSmtpSsl, LPopIn, LPopOut, LPopSsl, LImapIn, LImapSsl, LOther,
             LLcIn, LLcSsl, LLcOther, LHsIn, LHsSsl, LNone };

struct TSortCase {
  const char* Name;
  uint32_t Pid;
  uint16_t LocalPort, RemotePort;
  TLeaf Expected;
  std::function<void(TOrvaneCheck&)> Ports;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TSortCase& Case, std::ostream* Out) { *Out << Case.Name; }

class OrvaneCheckSorting : public OrvaneCheckRun, public ::testing::WithParamInterface<TSortCase> {};

TEST_P(OrvaneCheckSorting, OneConnectionGoesToOneCounter) {
  const TSortCase& Case = GetParam();
  Connection(Case.Pid, Case.LocalPort, Case.RemotePort);
  auto C = RunCheck(Case.Ports);
  std::vector<int32_t> Expected(LNone, 0);
  if (Case.Expected != LNone) Expected[Case.Expected] = 1;
  EXPECT_EQ(Leaves(*C), Expected);
  EXPECT_EQ(C->Counts[Connections], Case.Expected == LNone ? 0 : 1);
}

void SameSmtpAndPopPorts(TOrvaneCheck& C) {
  C.PopInPort = 25;
  C.PopOutPort = 2525;
  C.SmtpOutPort = 2525;
}

INSTANTIATE_TEST_SUITE_P(
    OrvaneCheck, OrvaneCheckSorting,
    ::testing::Values(
        TSortCase{"SmtpIn", OrvanePid, 25, 40000, LSmtpIn, {}},
        TSortCase{"SmtpInBeatsSmtpOut", OrvanePid, 25, 25, LSmtpIn, {}},
        TSortCase{"SmtpSsl", OrvanePid, 465, 40000, LSmtpSsl, {}},
        TSortCase{"PopIn", OrvanePid, 110, 40000, LPopIn, {}},
        TSortCase{"PopSsl", OrvanePid, 995, 40000, LPopSsl, {}},
        TSortCase{"ImapIn", OrvanePid, 143, 40000, LImapIn, {}},
        TSortCase{"ImapSsl", OrvanePid, 993, 40000, LImapSsl, {}},
        TSortCase{"SmtpOut", OrvanePid, 50000, 25, LSmtpOut, {}},
        TSortCase{"PopOut", OrvanePid, 50000, 110, LPopOut, {}},
        TSortCase{"NoOutboundSsl", OrvanePid, 50000, 465, LOther, {}},
        TSortCase{"ComponentPortIsOtherForServer", OrvanePid, 3000, 40000, LOther, {}},
        TSortCase{"EarlierRowWinsLocal", OrvanePid, 25, 40000, LSmtpIn, SameSmtpAndPopPorts},
        TSortCase{"EarlierRowWinsRemote", OrvanePid, 50000, 2525, LSmtpOut, SameSmtpAndPopPorts},
        TSortCase{"ConfiguredPortIsUsed", OrvanePid, 25, 40000, LOther,
                  [](TOrvaneCheck& C) { C.SmtpInPort = 2525; }},
        TSortCase{"LumicourtIn", LumicourtPid, 3000, 40000, LLcIn, {}},
        TSortCase{"LumicourtSsl", LumicourtPid, 443, 40000, LLcSsl, {}},
        TSortCase{"LumicourtOther", LumicourtPid, 25, 40000, LLcOther, {}},
        TSortCase{"LumicourtPlainBeatsSsl", LumicourtPid, 8443, 40000, LLcIn,
                  [](TOrvaneCheck& C) { C.LumicourtPort = C.LumicourtSslPort = 8443; }},
        TSortCase{"HelmsteadIn", HelmsteadPid, 1000, 40000, LHsIn, {}},
        TSortCase{"HelmsteadSsl", HelmsteadPid, 443, 40000, LHsSsl, {}},
        TSortCase{"HelmsteadOtherCountsNowhere", HelmsteadPid, 25, 40000, LNone, {}},
        TSortCase{"OtherProcessIgnored", OtherPid, 25, 40000, LNone, {}},
        TSortCase{"UnknownOwnerIgnored", 0, 25, 40000, LNone, {}}),
    [](const ::testing::TestParamInfo<TSortCase>& Info) { return std::string(Info.param.Name); });

TEST_F(OrvaneCheckRun, TotalsAndThresholds) {
  for (int i = 0; i < 3; ++i) Connection(OrvanePid, 25, 40000 + i);
  Connection(OrvanePid, 50000, 25);
  Connection(OrvanePid, 465, 40000);
  Connection(OrvanePid, 110, 40000);
  Connection(OrvanePid, 50001, 110);
  Connection(OrvanePid, 143, 40000);
  Connection(OrvanePid, 993, 40000);
  Connection(OrvanePid, 50002, 80);
  Connection(LumicourtPid, 3000, 40000);
  Connection(LumicourtPid, 8080, 40000);
  Connection(HelmsteadPid, 443, 40000);
  Connection(HelmsteadPid, 8080, 40000);
  auto C = RunCheck([](TOrvaneCheck& C) {
    C.Warn[Connections].Level = 13;
    C.Crit[LCTotal].Level = 2;
  });
  EXPECT_EQ(C->Counts[SMTPTotal], 5);
  EXPECT_EQ(C->Counts[POPTotal], 2);
  EXPECT_EQ(C->Counts[IMAPTotal], 2);
  EXPECT_EQ(C->Counts[Other], 1);
  EXPECT_EQ(C->Counts[LCTotal], 2);
  EXPECT_EQ(C->Counts[HSTotal], 1);
  EXPECT_EQ(C->Counts[Connections], 13);
  EXPECT_EQ(C->WarningText, "connections=13 ");
  EXPECT_EQ(C->CriticalText, "LCTotal=2 ");
  EXPECT_TRUE(C->IsWarning);
  EXPECT_TRUE(C->IsCritical);
}

TEST_F(OrvaneCheckRun, OnlyEstablishedTcpCounts) {
  Connection(OrvanePid, 25, 0, Listening);
  Connection(OrvanePid, 25, 40000, TimeWait);
  Connection(LumicourtPid, 3000, 40000, 4);
  Sockets.Udp(Here, 25, OrvanePid);
  Sockets.Udp(Here, 3000, LumicourtPid);
  auto C = RunCheck([](TOrvaneCheck& C) { C.Verbosity = 2; });
  EXPECT_EQ(Leaves(*C), std::vector<int32_t>(LNone, 0));
  EXPECT_EQ(C->Counts[Connections], 0);
  EXPECT_TRUE(C->ServerConnections.empty());
  EXPECT_FALSE(C->IsWarning || C->IsCritical);
}

TEST_F(OrvaneCheckRun, ServerDownCountsNothingEvenForUnknownOwners) {
  Processes.Processes = {{LumicourtPid, "Lumicourt.exe"}};  // Orvane and Helmstead down
  Connection(0, 25, 40000);
  Connection(0, 1000, 40000);
  Connection(OrvanePid, 25, 40000);  // a stale id: not the running server
  Connection(LumicourtPid, 3000, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->Counts[SMTPin], 0);
  EXPECT_EQ(C->Counts[HSin], 0);
  EXPECT_EQ(C->Counts[LCin], 1);
  EXPECT_EQ(C->Counts[Connections], 1);
}

TEST_F(OrvaneCheckRun, NoProcessListCountsNothing) {
  Processes.RefuseList = true;
  Connection(0, 25, 40000);
  Connection(OrvanePid, 25, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->Counts[Connections], 0);
}

// Where other users' processes are hidden, a server that is not found may be
// running: the run fails rather than count zero. Found servers, or a system
// that hides nothing, count as ever.
TEST_F(OrvaneCheckRun, AServerNotFoundWhereProcessesAreHiddenEndsTheRun) {
  const std::string Hidden = "/proc is mounted with hidepid=2 and hides other users' processes";
  Connection(OrvanePid, 25, 40000);
  const struct {
    const char* What;
    std::vector<TProcessInfo> Running;
    std::string Hidden;
    std::string Failure;  // empty: the run counts
  } Cases[] = {
      {"all found", {{OrvanePid, "Orvane.exe"}, {LumicourtPid, "Lumicourt.exe"},
                     {HelmsteadPid, "Helmstead.exe"}}, Hidden, ""},
      {"one missing", {{OrvanePid, "Orvane.exe"}, {LumicourtPid, "Lumicourt.exe"}}, Hidden,
       "Helmstead.exe not found: " + Hidden},
      {"none visible", {}, Hidden, "Orvane.exe not found: " + Hidden},
      {"nothing hidden", {{LumicourtPid, "Lumicourt.exe"}}, "", ""},
  };
  for (const auto& Case : Cases) {
    Processes.Processes = Case.Running;
    Processes.Hidden = Case.Hidden;
    try {
      auto C = RunCheck();
      EXPECT_EQ(Case.Failure, "") << Case.What << ": the run counted";
    } catch (const std::runtime_error& Failure) {
      EXPECT_EQ(Failure.what(), Case.Failure) << Case.What;
    }
  }
}

// Every process of the server's own name is the server: a second, idle one
// hides nothing.
TEST_F(OrvaneCheckRun, EveryProcessOfTheServersNameIsCounted) {
  Processes.Processes = {{OrvanePid, "Orvane.exe"}, {OrvanePid + 1, "ORVANE.EXE"}};
  Connection(OrvanePid, 25, 40000);
  Connection(OrvanePid + 1, 110, 40000);
  Connection(OrvanePid + 1, 143, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->Counts[SMTPin], 1);
  EXPECT_EQ(C->Counts[POPin], 1);
  EXPECT_EQ(C->Counts[IMAPin], 1);
  EXPECT_EQ(C->Counts[Connections], 3);
}

// The counted entries are kept for the -v -v dump; owners are named (and
// their modules read) only then.
TEST_F(OrvaneCheckRun, CountedEntriesKeptAndNamedOnlyAtVerbosityTwo) {
  Processes.ModulePaths[OrvanePid] = "C:\\Orvane\\App\\Orvane.exe";
  Connection(OrvanePid, 25, 40000);
  Connection(OrvanePid, 25, 0, Listening);
  Connection(HelmsteadPid, 8080, 50000);
  Connection(OtherPid, 25, 40000);
  auto C = RunCheck([](TOrvaneCheck& C) { C.Verbosity = 2; });
  EXPECT_EQ(C->ServerConnections, (std::vector<size_t>{0, 2}));
  EXPECT_EQ(C->ConnectionList[0].ProcessName, "C:\\Orvane\\App\\Orvane.exe");

  const int ModuleCalls = Processes.ModuleCalls;
  C = RunCheck([](TOrvaneCheck& C) { C.Verbosity = 1; });
  EXPECT_EQ(C->ServerConnections, (std::vector<size_t>{0, 2}));
  EXPECT_EQ(C->ConnectionList[0].ProcessName, "");
  EXPECT_EQ(Processes.ModuleCalls, ModuleCalls) << "no module read below -v -v";
}

TEST_F(OrvaneCheckRun, EmptySnapshotGivesZeroesAndNoVerdict) {
  auto C = RunCheck([](TOrvaneCheck& C) {
    C.Warn[Connections].Level = 1;
    for (TThreshold& Threshold : C.Crit) Threshold.Level = 1;
    C.Counts[SMTPin] = 9;  // left from before: Run starts from zero
  });
  EXPECT_EQ(Leaves(*C), std::vector<int32_t>(LNone, 0));
  for (TCounter Category : Categories) EXPECT_EQ(C->Counts[Category], 0);
  EXPECT_EQ(C->Counts[Connections], 0);
  EXPECT_FALSE(C->IsWarning || C->IsCritical);
  EXPECT_EQ(C->WarningText + C->CriticalText, "");
}

TEST_F(OrvaneCheckRun, FailingTableEndsTheRunWithItsMessage) {
  Sockets.Failure = "The network path was not found.";
  auto C = NewCheck();
  try {
    C->Run();
    FAIL() << "Run succeeded without a connection table";
  } catch (const std::runtime_error& Failure) {
    EXPECT_EQ(std::string(Failure.what()), "The network path was not found.");
  }
}

}  // namespace
