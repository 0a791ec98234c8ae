// The formats read by other programs: one golden each, the run that could not
// be made in each, and Checkmk's services judged against the Nagios verdict
// of the same run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/CheckmkOutput.h"
#include "driver/JsonOutput.h"
#include "driver/PrometheusOutput.h"
#include "driver/nagios_orvane_check.h"
#include "testing/FakeCensus.h"
#include "testing/FakeInstallation.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

namespace {

// Every count distinct, so that a swapped field shows; thresholds of each
// kind (plain, a range, unset), one reached at warning and one at critical;
// a server not running and a port not listening, each in its own service.
struct TGoldenRun {
  TCheckResult Result;
  TSettings Settings;

  TGoldenRun() {
    for (int Counter = 0; Counter < CounterCount; ++Counter) Result.Measures[Counter].Count = Counter + 1;
    Result.Measures[LCOther].Count = 99;
    Result.Ports.SmtpInPort = 2525;
    ParseThreshold("200", Settings.Warn[Connections]);
    ParseThreshold("400", Settings.Crit[Connections]);
    ParseThreshold("5", Settings.Crit[SMTPTotal]);
    ParseThreshold("6", Settings.Warn[POPin]);
    ParseThreshold("@5:20", Settings.Warn[IMAPin]);
    for (int Counter = 0; Counter < CounterCount; ++Counter) {
      TMeasure& M = Result.Measures[Counter];
      M.Warn = Settings.Warn[Counter];
      M.Crit = Settings.Crit[Counter];
      M.WarnReached = M.Warn.Reached(M.Count);
      M.CritReached = M.Crit.Reached(M.Count);
    }
    Result.Status = ExitCritical;
    Result.Running = {true, true, false};
    Result.NotRunning = {{TServer::Helmstead, ExitWarning}};
    Result.Listeners = {{SMTPin, 2525, true, ExitCritical}, {LCSSL, 443, false, ExitCritical}};
    Result.CriticalText = "SMTPTotal=5 ";
    Result.WarningText = "POPin=6 IMAPin=10 ";
    // SMTPin asked twice: one series, one key.
    Settings.RequiredListening = {{{SMTPin, LCSSL}, ExitCritical}, {{SMTPin}, ExitWarning}};
    // The measures beyond the counters, each reached in its service.
    TPerSourceCategory PerSource{IMAPin, {}, {}};
    ParseThreshold("17", PerSource.Crit);
    Settings.Measures.PerSource = {PerSource};
    TMeasure Busiest{17, {}, PerSource.Crit, false, true};
    Result.Sources = {{IMAPin, Busiest, "203.0.113.9", 42, {}}};
    TStateThreshold CloseWait{POPout, TServiceState::CloseWait, {}};
    ParseThreshold("3", CloseWait.Threshold);
    Settings.Measures.States = {POPout};
    Settings.Measures.StateCrit = {CloseWait};
    Result.States = {{POPout, TServiceState::CloseWait, {3, {}, CloseWait.Threshold, false, true}},
                     {POPout, TServiceState::SynSent, {}}};
    Settings.ServicePrefix = "Mail";
    Settings.Details = true;
  }
};

TEST(OutputFormats, CheckmkLocalGolden) {
  const TGoldenRun Run;
  const TProgramResult Output = CheckmkOutput(Run.Result, Run.Settings);
  EXPECT_EQ(Output.Output,
            "2 \"Mail SMTP\" SmtpIn=2;;;0;|SmtpOut=3;;;0;|SmtpSSL=4;;;0;|SmtpTotal=5;;5;0; "
            "SMTPTotal=5 critical; SmtpIn=2 SmtpOut=3 SmtpSSL=4 SmtpTotal=5"
            "\\nSMTPin port 2525: 2\\nSMTPout remote port 25: 3\\nSMTPSSL port 465: 4"
            "\\nSMTPTotal ports 2525, 465, remote 25: 5\n"
            "2 \"Mail POP\" PopIn=6;6;;0;|PopOut=7;;;0;|PopSSL=8;;;0;|PopTotal=9;;;0;"
            "|PopOutCloseWait=3;;3;0;|PopOutSynSent=0;;;0; "
            "POPin=6 warning, POPout 3 CloseWait critical; PopIn=6 PopOut=7 PopSSL=8 PopTotal=9"
            "\\nPOPin port 110: 6\\nPOPout remote port 110: 7\\nPOPSSL port 995: 8"
            "\\nPOPTotal ports 110, 995, remote 110: 9\\nPOPout states: CloseWait 3, SynSent 0\n"
            "2 \"Mail IMAP\" ImapIn=10;;;0;|ImapSSL=11;;;0;|ImapTotal=12;;;0;|ImapInMaxPerSrc=17;;17;0;"
            "|ImapInSources=42;;;0; IMAPin=10 warning, IMAPin 17 connections from 203.0.113.9 critical; "
            "ImapIn=10 ImapSSL=11 ImapTotal=12"
            "\\nIMAPin port 143: 10\\nIMAPSSL port 993: 11\\nIMAPTotal ports 143, 993: 12"
            "\\nIMAPin sources: 42, most from one: 17 (203.0.113.9)\n"
            "2 \"Mail Lumicourt\" LCin=14;;;0;|LCSSL=15;;;0;|LCTotal=17;;;0; "
            "LCSSL port 443 not listening; LCin=14 LCSSL=15 LCTotal=17"
            "\\nLCin port 3000: 14\\nLCSSL port 443: 15"
            "\\nLCTotal ports 3000, 443 and any other of Lumicourt.exe: 17\n"
            "1 \"Mail Helmstead\" HSin=18;;;0;|HSSSL=19;;;0;|HSTotal=20;;;0; "
            "Helmstead.exe not running; HSin=18 HSSSL=19 HSTotal=20"
            "\\nHSin port 1000: 18\\nHSSSL port 443: 19\\nHSTotal ports 1000, 443: 20\n"
            "0 \"Mail connections\" Connections=1;200;400;0;|Other=13;;;0; Connections=1 Other=13"
            "\\nOther ports of Orvane.exe: 13\n");
  EXPECT_EQ(Output.ExitStatus, ExitCritical);
  EXPECT_TRUE(Output.Verbatim);
}

TEST(OutputFormats, PrometheusGolden) {
  const TGoldenRun Run;
  EXPECT_EQ(PrometheusText(Run.Result, Run.Settings, 1700000000),
            "# HELP orvane_check_status The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n"
            "# TYPE orvane_check_status gauge\n"
            "orvane_check_status 2\n"
            "# HELP orvane_connections Established connections of the mail server's processes by "
            "category; all is every counted one, *_total the sum of a service.\n"
            "# TYPE orvane_connections gauge\n"
            "orvane_connections{category=\"all\"} 1\n"
            "orvane_connections{category=\"smtp_in\"} 2\n"
            "orvane_connections{category=\"smtp_out\"} 3\n"
            "orvane_connections{category=\"smtp_ssl\"} 4\n"
            "orvane_connections{category=\"smtp_total\"} 5\n"
            "orvane_connections{category=\"pop_in\"} 6\n"
            "orvane_connections{category=\"pop_out\"} 7\n"
            "orvane_connections{category=\"pop_ssl\"} 8\n"
            "orvane_connections{category=\"pop_total\"} 9\n"
            "orvane_connections{category=\"imap_in\"} 10\n"
            "orvane_connections{category=\"imap_ssl\"} 11\n"
            "orvane_connections{category=\"imap_total\"} 12\n"
            "orvane_connections{category=\"other\"} 13\n"
            "orvane_connections{category=\"lumicourt_in\"} 14\n"
            "orvane_connections{category=\"lumicourt_ssl\"} 15\n"
            "orvane_connections{category=\"lumicourt_total\"} 17\n"
            "orvane_connections{category=\"helmstead_in\"} 18\n"
            "orvane_connections{category=\"helmstead_ssl\"} 19\n"
            "orvane_connections{category=\"helmstead_total\"} 20\n"
            "# HELP orvane_process_running Whether a process of the server's own file name runs.\n"
            "# TYPE orvane_process_running gauge\n"
            "orvane_process_running{process=\"Orvane.exe\"} 1\n"
            "orvane_process_running{process=\"Lumicourt.exe\"} 1\n"
            "orvane_process_running{process=\"Helmstead.exe\"} 0\n"
            "# HELP orvane_source_connections_max The most connections that one remote address (or "
            "network, as --per-source-prefix groups them) holds in the category.\n"
            "# TYPE orvane_source_connections_max gauge\n"
            "orvane_source_connections_max{category=\"imap_in\"} 17\n"
            "# HELP orvane_sources Remote addresses (or networks) with connections in the category.\n"
            "# TYPE orvane_sources gauge\n"
            "orvane_sources{category=\"imap_in\"} 42\n"
            "# HELP orvane_state_connections Connections of the category in the TCP state.\n"
            "# TYPE orvane_state_connections gauge\n"
            "orvane_state_connections{category=\"pop_out\",state=\"close_wait\"} 3\n"
            "orvane_state_connections{category=\"pop_out\",state=\"syn_sent\"} 0\n"
            "# HELP orvane_listening Whether the category's port has a TCP listener of its process, "
            "for the categories asked.\n"
            "# TYPE orvane_listening gauge\n"
            "orvane_listening{category=\"smtp_in\",port=\"2525\"} 1\n"
            "orvane_listening{category=\"lumicourt_ssl\",port=\"443\"} 0\n"
            "# HELP orvane_last_run_timestamp_seconds When the check ran, in seconds since 1970.\n"
            "# TYPE orvane_last_run_timestamp_seconds gauge\n"
            "orvane_last_run_timestamp_seconds 1700000000\n"
            "# EOF\n");
}

TEST(OutputFormats, JsonGolden) {
  TGoldenRun Run;
  // Beyond ASCII (and beyond the 16-bit plane) only as escapes.
  Run.Result.CriticalText = "SMTPTotal=5 \xC3\xBC\xF0\x9F\x93\xAE\"\\ ";
  const TProgramResult Output = JsonOutput(Run.Result, Run.Settings);
  EXPECT_EQ(Output.Output,
            "{\"version\":1,\"status\":\"CRITICAL\",\"exit\":2,"
            "\"summary\":\"CRITICAL - Helmstead.exe not running LCSSL port 443 not listening "
            "SMTPTotal=5 \\u00fc\\ud83d\\udcee\\\"\\\\ \",\"reason\":null,\"categories\":{"
            "\"all\":{\"count\":1,\"state\":\"OK\",\"warn\":\"200\",\"crit\":\"400\"},"
            "\"smtp_in\":{\"count\":2,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"smtp_out\":{\"count\":3,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"smtp_ssl\":{\"count\":4,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"smtp_total\":{\"count\":5,\"state\":\"CRITICAL\",\"warn\":null,\"crit\":\"5\"},"
            "\"pop_in\":{\"count\":6,\"state\":\"WARNING\",\"warn\":\"6\",\"crit\":null},"
            "\"pop_out\":{\"count\":7,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"pop_ssl\":{\"count\":8,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"pop_total\":{\"count\":9,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"imap_in\":{\"count\":10,\"state\":\"WARNING\",\"warn\":\"@5:20\",\"crit\":null},"
            "\"imap_ssl\":{\"count\":11,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"imap_total\":{\"count\":12,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"other\":{\"count\":13,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"lumicourt_in\":{\"count\":14,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"lumicourt_ssl\":{\"count\":15,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"lumicourt_total\":{\"count\":17,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"helmstead_in\":{\"count\":18,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"helmstead_ssl\":{\"count\":19,\"state\":\"OK\",\"warn\":null,\"crit\":null},"
            "\"helmstead_total\":{\"count\":20,\"state\":\"OK\",\"warn\":null,\"crit\":null}},"
            "\"processes\":{\"Orvane.exe\":true,\"Lumicourt.exe\":true,\"Helmstead.exe\":false},"
            "\"listeners\":{\"smtp_in\":{\"port\":2525,\"listening\":true},"
            "\"lumicourt_ssl\":{\"port\":443,\"listening\":false}},"
            "\"sources\":{\"imap_in\":{\"sources\":42,\"max\":17,\"state\":\"CRITICAL\",\"warn\":null,\"crit\":\"17\"}},"
            "\"states\":{\"pop_out\":{\"close_wait\":{\"count\":3,\"state\":\"CRITICAL\",\"warn\":null,\"crit\":\"3\"},"
            "\"syn_sent\":{\"count\":0,\"state\":\"OK\",\"warn\":null,\"crit\":null}}}}\n");
  EXPECT_EQ(Output.ExitStatus, ExitCritical);
}

// A run that could not be made: no counts in any format, the reason in each,
// and the same services and keys as a run that was made.
TEST(OutputFormats, RunThatCouldNotBeMade) {
  TGoldenRun Made;
  const TCheckResult Failed = FailedResult("Can not read C:\\new\\\"Orvane\".ini");

  const std::string Checkmk = CheckmkOutput(Failed, Made.Settings).Output;
  // Checkmk would break the text at the path's "\n".
  const std::string Reason = "Can not read C:\\\xE2\x80\x8Bnew\\\"Orvane\".ini";
  std::string Expected;
  for (const char* Group : {"SMTP", "POP", "IMAP", "Lumicourt", "Helmstead", "connections"})
    Expected += std::string("3 \"Mail ") + Group + "\" - " + Reason + "\n";
  EXPECT_EQ(Checkmk, Expected);

  EXPECT_EQ(PrometheusText(Failed, Made.Settings, 1700000000),
            "# HELP orvane_check_status The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. "
            "This run: Unknown - Can not read C:\\\\new\\\\'Orvane'.ini\n"
            "# TYPE orvane_check_status gauge\n"
            "orvane_check_status 3\n"
            "# HELP orvane_last_run_timestamp_seconds When the check ran, in seconds since 1970.\n"
            "# TYPE orvane_last_run_timestamp_seconds gauge\n"
            "orvane_last_run_timestamp_seconds 1700000000\n"
            "# EOF\n");

  // The same keys as a run that was made (compared whole by
  // scripts/test-formats.sh), null where there is no value.
  const std::string FailedJson = JsonOutput(Failed, Made.Settings).Output;
  for (const char* Part : {"\"status\":\"UNKNOWN\",\"exit\":3,",
                           "\"reason\":\"Can not read C:\\\\new\\\\\\\"Orvane\\\".ini\"",
                           "\"all\":{\"count\":null,\"state\":null,\"warn\":\"200\",\"crit\":\"400\"}",
                           "\"processes\":{\"Orvane.exe\":null,\"Lumicourt.exe\":null,\"Helmstead.exe\":null}",
                           "\"listeners\":{\"smtp_in\":{\"port\":null,\"listening\":null},"
                           "\"lumicourt_ssl\":{\"port\":null,\"listening\":null}}",
                           "\"sources\":{\"imap_in\":{\"sources\":null,\"max\":null,\"state\":null,\"warn\":null,"
                           "\"crit\":\"17\"}}",
                           "\"close_wait\":{\"count\":null,\"state\":null,\"warn\":null,\"crit\":\"3\"}"})
    EXPECT_NE(FailedJson.find(Part), std::string::npos) << Part << " not in " << FailedJson;
}

// What the watchdog writes when -t cuts the run short: in the format that
// reads standard output, with -t's state.
TEST(OutputFormats, TimeoutInTheFormatAsked) {
  std::string Checkmk;
  for (const char* Group : {"SMTP", "POP", "IMAP", "Lumicourt", "Helmstead", "connections"})
    Checkmk += std::string("2 \"Orvane ") + Group + "\" - Timeout after 5 seconds\n";
  const struct {
    std::vector<std::string> Arguments;
    std::string Line;  // the whole, or with Part its beginning
    bool Part, Verbatim;
  } Cases[] = {
      {{"-t", "5"}, "Unknown - Timeout after 5 seconds\n", false, false},
      {{"-t", "5:critical", "--output-format=checkmk-local"}, Checkmk, false, true},
      {{"-t", "5", "--output-format=json"},
       "{\"version\":1,\"status\":\"UNKNOWN\",\"exit\":3,\"summary\":\"Unknown - Timeout after 5 seconds\","
       "\"reason\":\"Timeout after 5 seconds\",\"categories\":{\"all\":{\"count\":null,",
       true, true},
      {{"-t", "5:warning", "--output-format=prometheus"},
       "# HELP orvane_check_status The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. This run: "
       "WARNING - Timeout after 5 seconds\n# TYPE orvane_check_status gauge\norvane_check_status 1\n",
       true, true},
  };
  for (const auto& Case : Cases) {
    std::vector<std::string> Arguments = {"-w", "1", "-c", "2"};
    Arguments.insert(Arguments.end(), Case.Arguments.begin(), Case.Arguments.end());
    const TTimeout Timeout = TimeoutOf(ParseCommandLine(Arguments, "/opt/orvane/nagios_orvane_check"));
    EXPECT_EQ(Case.Part ? Timeout.Line.substr(0, Case.Line.size()) : Timeout.Line, Case.Line) << Case.Arguments[1];
    EXPECT_EQ(Timeout.Verbatim, Case.Verbatim) << Case.Arguments[1];
    EXPECT_EQ(Timeout.Seconds, 5);
  }
}

// ---- Checkmk's services against the Nagios verdict ----------------------------

const std::string App = FakeApp;

struct TServiceCase {
  const char* Name;
  std::vector<std::string> Arguments;
  std::string States;  // of SMTP, POP, IMAP, Lumicourt, Helmstead, connections
  bool MailServerRuns = true;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TServiceCase& Case, std::ostream* Out) { *Out << Case.Name; }

class CheckmkServices : public ::testing::TestWithParam<TServiceCase>, protected TFakeInstallation {
protected:

  // Five inbound SMTP from one address, four outbound POP (and one more in
  // CLOSE_WAIT), two web-mail connections; the mail server and web mail run,
  // Helmstead does not; SMTPin listens.
  void SetUp() override {
    Processes.Processes = {{200, "Lumicourt.exe"}};
    if (GetParam().MailServerRuns) Processes.Processes.push_back({100, "Orvane.exe"});
    for (int Index = 0; Index < 5; ++Index) Sockets.Tcp(5, {10, 1, 1, 1}, 25, {10, 2, 2, 2}, 40000, 100);
    for (int Index = 0; Index < 4; ++Index) Sockets.Tcp(5, {10, 1, 1, 1}, 50000, {10, 2, 2, 2}, 110, 100);
    for (int Index = 0; Index < 2; ++Index) Sockets.Tcp(5, {10, 1, 1, 1}, 3000, {10, 2, 2, 2}, 40000, 200);
    Sockets.Tcp(2, {0, 0, 0, 0}, 25, {0, 0, 0, 0}, 0, 100);
    Sockets.Tcp(8, {10, 1, 1, 1}, 50001, {10, 2, 2, 2}, 110, 100);  // POPout in CLOSE_WAIT
  }
  TProgramResult Run(std::vector<std::string> Arguments) {
    Arguments.insert(Arguments.begin(), {"-p", App});
    return RunOver(Arguments);
  }
};

// Each service's state, and the worst of them is the Nagios verdict and the
// exit status of both runs.
TEST_P(CheckmkServices, EachServiceJudgesItsOwn) {
  std::vector<std::string> Arguments = GetParam().Arguments;
  const TProgramResult Nagios = Run(Arguments);
  Arguments.push_back("--output-format=checkmk-local");
  const TProgramResult Checkmk = Run(Arguments);
  std::istringstream Lines(Checkmk.Output);
  std::string Line, States;
  TStatus Worst = ExitOk;
  while (std::getline(Lines, Line)) {
    States += Line.substr(0, 1);
    Worst = WorstStatus(Worst, TStatus(Line[0] - '0'));
  }
  EXPECT_EQ(States, GetParam().States) << Checkmk.Output;
  EXPECT_EQ(Worst, Nagios.ExitStatus) << Nagios.Output;
  EXPECT_EQ(Checkmk.ExitStatus, Nagios.ExitStatus);
}

INSTANTIATE_TEST_SUITE_P(
    OutputFormats, CheckmkServices,
    ::testing::Values(
        TServiceCase{"NothingReached", {"-w", "20", "-c", "30"}, "000000"},
        TServiceCase{"TotalAloneInConnections", {"-w", "11", "-c", "30"}, "000001"},
        TServiceCase{"CategoryInItsService", {"-w", "0", "-c", "0", "--critPOPout=4", "-wLCin", "2"},
                     "020100"},
        TServiceCase{"RangeInItsService", {"-w", "0", "-c", "0", "--warnSMTPin=6:"}, "100000"},
        TServiceCase{"ServerNotRunningInItsServices",
                     {"-w", "0", "-c", "0", "--require-running=Helmstead", "--require-running=Orvane:warning"},
                     "000020"},
        TServiceCase{"MailServerServesThree", {"-w", "0", "-c", "0", "--require-running=orvane"}, "222000",
                     false},
        TServiceCase{"SourceInItsService", {"-w", "0", "-c", "0", "--per-source=SMTPin,POPout:3:5"}, "210000"},
        TServiceCase{"StateInItsService", {"-w", "0", "-c", "0", "--states=POPout", "--state-warn=POPout:CloseWait:1"},
                     "010000"},
        TServiceCase{"SilentPortInItsService",
                     {"-w", "0", "-c", "0", "--require-listening=SMTPin,IMAPSSL:unknown"}, "003000"},
        TServiceCase{"CriticalAboveUnknown",
                     {"-w", "0", "-c", "0", "--require-listening=POPSSL:unknown", "--critSMTPTotal=5",
                      "--require-running=Helmstead:warning"},
                     "230010"}),
    [](const ::testing::TestParamInfo<TServiceCase>& Info) { return std::string(Info.param.Name); });

}  // namespace
