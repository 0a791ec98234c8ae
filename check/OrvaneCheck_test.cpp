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
  EXPECT_EQ(C->WarnTotal, 0);
  EXPECT_EQ(C->CritTotal, 0);
  for (int Index = 0; Index < CategoryCount; ++Index) {
    EXPECT_EQ(C->WarnLevels[Index], 0);
    EXPECT_EQ(C->CritLevels[Index], 0);
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

using TCounterField = int32_t TOrvaneCheck::*;
const std::array<TCounterField, CategoryCount> CategoryFields = {
    &TOrvaneCheck::SmtpInCount,      &TOrvaneCheck::SmtpOutCount,
    &TOrvaneCheck::SmtpSslCount,     &TOrvaneCheck::SmtpTotal,
    &TOrvaneCheck::PopInCount,       &TOrvaneCheck::PopOutCount,
    &TOrvaneCheck::PopSslCount,      &TOrvaneCheck::PopTotal,
    &TOrvaneCheck::ImapInCount,      &TOrvaneCheck::ImapSslCount,
    &TOrvaneCheck::ImapTotal,        &TOrvaneCheck::LumicourtInCount,
    &TOrvaneCheck::LumicourtSslCount, &TOrvaneCheck::LumicourtTotal,
    &TOrvaneCheck::HelmsteadInCount, &TOrvaneCheck::HelmsteadSslCount,
    &TOrvaneCheck::HelmsteadTotal,
};

TEST_F(OrvaneCheck, EachCategoryTestsItsOwnCounterUnderItsName) {
  for (int Index = 0; Index < CategoryCount; ++Index) {
    auto C = NewCheck();
    (*C).*CategoryFields[Index] = 7;
    C->WarnLevels[Index] = 7;
    C->CritLevels[Index] = 8;
    C->EvaluateThresholds();
    EXPECT_EQ(C->WarningText, std::string(Categories[Index]->Name) + "=7 ") << Index;
    EXPECT_FALSE(C->IsCritical) << Index;
    EXPECT_EQ(C->CategoryCounter(Index), 7);
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
                         C.TotalConnections = 100;
                         C.SmtpInCount = 100;
                       },
                       false, false, "", ""},
        TThresholdCase{"EqualReaches",
                       [](TOrvaneCheck& C) {
                         C.TotalConnections = 5;
                         C.WarnTotal = 5;
                         C.CritTotal = 5;
                       },
                       true, true, "connections=5 ", "connections=5 "},
        TThresholdCase{"OneBelowDoesNot",
                       [](TOrvaneCheck& C) {
                         C.TotalConnections = 4;
                         C.WarnTotal = 5;
                         C.PopInCount = 0;
                         C.WarnLevels[POPin] = 1;
                       },
                       false, false, "", ""},
        TThresholdCase{"NegativeNeverReached",
                       [](TOrvaneCheck& C) {
                         C.WarnTotal = -1;
                         C.CritLevels[SMTPin] = -3;
                         C.SmtpInCount = 0;
                       },
                       false, false, "", ""},
        TThresholdCase{"TotalThenCategoriesInOrder",
                       [](TOrvaneCheck& C) {
                         C.TotalConnections = 25;
                         C.SmtpInCount = 12;
                         C.SmtpTotal = 3;
                         C.PopInCount = 40;
                         C.WarnTotal = 20;
                         C.WarnLevels[POPin] = 10;
                         C.WarnLevels[SMTPTotal] = 2;
                         C.WarnLevels[SMTPin] = 10;
                       },
                       true, false, "connections=25 SMTPin=12 SMTPTotal=3 POPin=40 ", ""},
        TThresholdCase{"CriticalWithoutWarning",
                       [](TOrvaneCheck& C) {
                         C.TotalConnections = 20;
                         C.WarnTotal = 50;
                         C.CritTotal = 10;
                       },
                       false, true, "", "connections=20 "},
        TThresholdCase{"PassesAreIndependent",
                       [](TOrvaneCheck& C) {
                         C.LumicourtTotal = 9;
                         C.HelmsteadTotal = 2;
                         C.WarnLevels[LCTotal] = 3;
                         C.CritLevels[LCTotal] = 9;
                         C.CritLevels[HSTotal] = 1;
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
  uint32_t Expected;
  uint32_t Own = 0;  // the program's own process
};
// Test names, not bytes, in the test listing.
void PrintTo(const TFindCase& Case, std::ostream* Out) { *Out << Case.Name; }

class OrvaneCheckFindProcess : public OrvaneCheck, public ::testing::WithParamInterface<TFindCase> {};

TEST_P(OrvaneCheckFindProcess, EqualNameBeforeLastSubstringMatchNeverItself) {
  Processes.Processes = GetParam().List;
  Processes.OwnId = GetParam().Own;
  auto C = NewCheck();
  EXPECT_EQ(C->FindProcessId(GetParam().Wanted), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    OrvaneCheck, OrvaneCheckFindProcess,
    ::testing::Values(
        TFindCase{"NotRunning", {{4, "System"}, {8, "Lumicourt.exe"}}, "Orvane.exe", 0},
        TFindCase{"Exact", {{4, "System"}, {12, "Orvane.exe"}, {8, "x.exe"}}, "Orvane.exe", 12},
        TFindCase{"AnyCase", {{12, "oRVANE.EXE"}}, "Orvane.exe", 12},
        TFindCase{"Substring", {{13, "MyOrvane.exe.old"}}, "Orvane.exe", 13},
        TFindCase{"LastMatchWins", {{12, "Orvane.exe"}, {5, "x"}, {9, "ORVANE.exe"}},
                  "Orvane.exe", 9},
        TFindCase{"PrefixOnlyDoesNotMatch", {{12, "Orvane.ex"}, {13, "Orvane_exe"}},
                  "Orvane.exe", 0},
        // The program installed as orvane.exe or check_orvane.exe.
        TFindCase{"NeverItself", {{12, "Orvane.exe"}, {30, "orvane.exe"}}, "Orvane.exe", 12, 30},
        TFindCase{"NeverItselfAsNamesake", {{30, "check_orvane.exe"}}, "Orvane.exe", 0, 30},
        TFindCase{"EqualNameBeatsLaterNamesakes",
                  {{9, "orvane.EXE"}, {12, "Orvane.exe"}, {40, "BackupOrvane.exe"}}, "Orvane.exe",
                  12},
        TFindCase{"LastNamesakeWithoutEqualName", {{13, "MyOrvane.exe"}, {14, "xORVANE.EXE"}},
                  "Orvane.exe", 14},
        TFindCase{"OnlyAsciiLettersFolded", {{12, "\xC3\x84rvane.exe"}}, "\xC3\xA4rvane.exe",
                  0}),
    [](const ::testing::TestParamInfo<TFindCase>& Info) { return std::string(Info.param.Name); });

TEST_F(OrvaneCheck, RefusedProcessListFindsNothing) {
  Processes.Processes = {{12, "Orvane.exe"}};
  Processes.RefuseList = true;
  EXPECT_EQ(NewCheck()->FindProcessId("Orvane.exe"), 0u);
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
  return {C.SmtpInCount, C.SmtpOutCount,     C.SmtpSslCount,      C.PopInCount,
          C.PopOutCount, C.PopSslCount,      C.ImapInCount,       C.ImapSslCount,
          C.OtherCount,  C.LumicourtInCount, C.LumicourtSslCount, C.LumicourtOtherCount,
          C.HelmsteadInCount, C.HelmsteadSslCount};
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
  EXPECT_EQ(C->TotalConnections, Case.Expected == LNone ? 0 : 1);
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
    C.WarnTotal = 13;
    C.CritLevels[LCTotal] = 2;
  });
  EXPECT_EQ(C->SmtpTotal, 5);
  EXPECT_EQ(C->PopTotal, 2);
  EXPECT_EQ(C->ImapTotal, 2);
  EXPECT_EQ(C->OtherCount, 1);
  EXPECT_EQ(C->LumicourtTotal, 2);
  EXPECT_EQ(C->HelmsteadTotal, 1);
  EXPECT_EQ(C->TotalConnections, 13);
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
  EXPECT_EQ(C->TotalConnections, 0);
  EXPECT_EQ(C->DebugDump, "");
  EXPECT_FALSE(C->IsWarning || C->IsCritical);
}

TEST_F(OrvaneCheckRun, ServerDownCountsNothingEvenForUnknownOwners) {
  Processes.Processes = {{LumicourtPid, "Lumicourt.exe"}};  // Orvane and Helmstead down
  Connection(0, 25, 40000);
  Connection(0, 1000, 40000);
  Connection(OrvanePid, 25, 40000);  // a stale id: not the running server
  Connection(LumicourtPid, 3000, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->SmtpInCount, 0);
  EXPECT_EQ(C->HelmsteadInCount, 0);
  EXPECT_EQ(C->LumicourtInCount, 1);
  EXPECT_EQ(C->TotalConnections, 1);
}

TEST_F(OrvaneCheckRun, NoProcessListCountsNothing) {
  Processes.RefuseList = true;
  Connection(0, 25, 40000);
  Connection(OrvanePid, 25, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->TotalConnections, 0);
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

TEST_F(OrvaneCheckRun, OnlyTheLastMatchingProcessIsCounted) {
  Processes.Processes = {{OrvanePid, "Orvane.exe"}, {OrvanePid + 1, "ORVANE.EXE"}};
  Connection(OrvanePid, 25, 40000);
  Connection(OrvanePid + 1, 110, 40000);
  Connection(OrvanePid + 1, 143, 40000);
  auto C = RunCheck();
  EXPECT_EQ(C->SmtpInCount, 0);
  EXPECT_EQ(C->PopInCount, 1);
  EXPECT_EQ(C->ImapInCount, 1);
  EXPECT_EQ(C->TotalConnections, 2);
}

TEST_F(OrvaneCheckRun, DebugDumpListsEveryCountedEntry) {
  Processes.ModulePaths[OrvanePid] = "C:\\Orvane\\App\\Orvane.exe";
  Connection(OrvanePid, 25, 40000);
  Connection(OrvanePid, 25, 0, Listening);
  Connection(HelmsteadPid, 8080, 50000);
  Connection(OtherPid, 25, 40000);
  auto C = RunCheck([](TOrvaneCheck& C) { C.Verbosity = 2; });
  EXPECT_EQ(C->DebugDump,
            "TCP|192.168.1.5|25|10.0.0.7|40000|ESTABLISHED|C:\\Orvane\\App\\Orvane.exe|100|"
            "TCP|192.168.1.5|8080|10.0.0.7|50000|ESTABLISHED|Helmstead.exe|300|");
  EXPECT_EQ(C->TotalConnections, 1);
}

TEST_F(OrvaneCheckRun, NoDumpBelowVerbosityTwo) {
  Connection(OrvanePid, 25, 40000);
  auto C = RunCheck([](TOrvaneCheck& C) { C.Verbosity = 1; });
  EXPECT_EQ(C->DebugDump, "");
  EXPECT_EQ(C->SmtpInCount, 1);
}

TEST_F(OrvaneCheckRun, EmptySnapshotGivesZeroesAndNoVerdict) {
  auto C = RunCheck([](TOrvaneCheck& C) {
    C.WarnTotal = 1;
    C.CritLevels.fill(1);
    C.SmtpInCount = 9;  // left from before: Run starts from zero
  });
  EXPECT_EQ(Leaves(*C), std::vector<int32_t>(LNone, 0));
  for (int Index = 0; Index < CategoryCount; ++Index) EXPECT_EQ(C->CategoryCounter(Index), 0);
  EXPECT_EQ(C->TotalConnections, 0);
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
