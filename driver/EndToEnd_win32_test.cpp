// End to end on Windows: stand-ins named like the mail server's processes hold
// live connections on the ports of a generated installation, and the built
// program counts them from the system's owner tables and process list.
//
// Under Wine a socket is reported with its owner only when the owning process
// itself connected it (the stand-in then makes one call on it), never when it
// accepted it. So the server's connections are made by the stand-ins from the
// server's ports out to listeners of this test, one listener per connection;
// the check classifies by ports and counts them as if they had been accepted.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "census/GetConnections_win32.h"
#include "driver/ProgramIo_win32.h"
#include "testing/CheckOutput.h"
#include "testing/ChildProcess.h"
#include "testing/DebugDump.h"
#include "testing/InstallationVerdicts.h"
#include "testing/TempDirectory_win32.h"

namespace {

// The program and the stand-in are built beside this test program.
std::string BesideThisProgram(const std::string& Name) {
  const std::string Own = OwnExecutablePath();
  return Own.substr(0, Own.rfind('\\') + 1) + Name;
}

struct TWinsock {
  TWinsock() {
    WSADATA Data;
    WSAStartup(MAKEWORD(2, 2), &Data);
  }
  ~TWinsock() { WSACleanup(); }
};

sockaddr_in Loopback(uint16_t Port) {
  sockaddr_in Address = {};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(Port);
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return Address;
}

uint16_t PortOf(SOCKET Socket) {
  sockaddr_in Address = {};
  int Length = sizeof Address;
  getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Length);
  return ntohs(Address.sin_port);
}

std::string Endpoint(uint16_t Port) { return "127.0.0.1:" + std::to_string(Port); }

// A generated installation, the stand-ins that play its processes, and the
// sockets this test holds as their peers and clients.
class TInstallation {
public:
  TTempDirectory Dir;
  std::map<std::string, uint16_t> Port;
  std::string DataPath;
  std::map<std::string, std::unique_ptr<TChildProcess>> Running;

  TInstallation() {
    // The server's ports lie below the system's range of ephemeral ports,
    // from which this test's listeners take theirs, so the two never meet;
    // the test runs in a network namespace of its own. Each installation
    // takes ports of its own, away from the last one's closing connections.
    static int Installations = 0;
    uint16_t Next =
        static_cast<uint16_t>(10000 + GetCurrentProcessId() % 200 * 100 + Installations++ % 5 * 20);
    for (const char* Name : {"SMTPIn", "SMTPOut", "SSL-SMTP", "POPIn", "POPOut", "SSL-POP", "IMAPIn",
                             "SSL-IMAP", "LC", "LCSSL", "HS", "HSSSL", "OrvaneOther", "LCOther",
                             "HSOther", "OrvaneListen", "OrvaneUdp"})
      Port[Name] = Next++;
    std::string Ports = "[Ports]\r\n";
    for (const char* Name :
         {"SMTPIn", "SMTPOut", "SSL-SMTP", "POPIn", "POPOut", "SSL-POP", "IMAPIn", "SSL-IMAP"})
      Ports += std::string(Name) + "=" + std::to_string(Port[Name]) + "\r\n";
    Dir.Write("Orvane\\App\\Orvane.ini", Ports);
    Dir.Write("Orvane\\Lumicourt\\Lumicourt.ini", "[WebServer]\r\nPort=" + std::to_string(Port["LC"]) +
                                                      "\r\n[SSL]\r\nPort=" +
                                                      std::to_string(Port["LCSSL"]) + "\r\n");
    Dir.Write("Orvane\\Helmstead\\Helmstead.ini", "[WebServer]\r\nPort=" + std::to_string(Port["HS"]) +
                                                      "\r\n[SSL]\r\nPort=" +
                                                      std::to_string(Port["HSSSL"]) + "\r\n");
    DataPath = Dir / "Orvane\\App\\";
    TTempDirectory::MakeDirectories(Dir / "bin");
  }

  ~TInstallation() {
    Running.clear();
    for (SOCKET Socket : Sockets) closesocket(Socket);
  }

  std::string Exe(const std::string& Name) const { return Dir / ("bin\\" + Name); }

  // Starts a copy of the stand-in under Name (the running copy of that name
  // is ended first) and waits until it holds what Arguments ask for.
  TChildProcess& Start(const std::string& Name, const std::vector<std::string>& Arguments) {
    Running.erase(Name);
    const std::wstring Copy = WideFromUtf8(Exe(Name));
    CopyFileW(WideFromUtf8(BesideThisProgram("orvane_stand_in.exe")).c_str(), Copy.c_str(), FALSE);
    auto& Process = Running[Name] = std::make_unique<TChildProcess>(Exe(Name), Arguments);
    EXPECT_TRUE(Process->AwaitLine("ready", 30000)) << Name << " did not come up";
    return *Process;
  }

  // Stand-in arguments for Count connections from the named server port,
  // each to a listener of its own.
  std::vector<std::string> From(const std::string& Name, int Count) {
    std::vector<std::string> Arguments;
    for (int I = 0; I < Count; ++I)
      Arguments.insert(Arguments.end(),
                       {"--connect-from", Endpoint(Port.at(Name)) + "," + Endpoint(Listen(0))});
    return Arguments;
  }

  // A listener of this test (a remote mail server, or the far end of a
  // connection from a server port); gives its port.
  uint16_t Listen(uint16_t At) {
    const SOCKET Socket = Bound(At);
    EXPECT_EQ(listen(Socket, SOMAXCONN), 0);
    return PortOf(Socket);
  }

  // A client of this test connected to the named port.
  void Connect(const std::string& Name) {
    const SOCKET Socket = Keep(socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in To = Loopback(Port.at(Name));
    EXPECT_EQ(connect(Socket, reinterpret_cast<const sockaddr*>(&To), sizeof To), 0) << Name;
  }

  TCommandResult Check(std::vector<std::string> Arguments) const {
    Arguments.insert(Arguments.begin(), {"-p", DataPath});
    return RunCommand(BesideThisProgram("nagios_orvane_check.exe"), Arguments);
  }

private:
  TWinsock Winsock;
  std::vector<SOCKET> Sockets;

  SOCKET Keep(SOCKET Socket) {
    EXPECT_NE(Socket, INVALID_SOCKET);
    Sockets.push_back(Socket);
    return Socket;
  }
  SOCKET Bound(uint16_t At) {
    const SOCKET Socket = Keep(socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in Address = Loopback(At);
    EXPECT_EQ(bind(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address), 0);
    return Socket;
  }
};

std::vector<std::string> Joined(std::vector<std::vector<std::string>> Parts) {
  std::vector<std::string> All;
  for (auto& Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

// The whole installation, started once for the tests that share it. Beside
// the counted connections it holds what must not be counted: a listener and
// the connections it accepted (no owner under Wine), a datagram socket, and
// connections from a server port held by a process of another name.
class EndToEndWin32 : public ::testing::Test {
protected:
  static std::unique_ptr<TInstallation> Installation;

  static void SetUpTestSuite() {
    Installation = std::make_unique<TInstallation>();
    TInstallation& I = *Installation;
    I.Listen(I.Port["SMTPOut"]);
    I.Listen(I.Port["POPOut"]);
    TChildProcess& Orvane = I.Start(
        "Orvane.exe",
        Joined({I.From("SMTPIn", 3), I.From("SSL-SMTP", 1), I.From("POPIn", 2), I.From("SSL-POP", 1),
                I.From("IMAPIn", 2), I.From("SSL-IMAP", 1), I.From("OrvaneOther", 1),
                {"--connect", Endpoint(I.Port["SMTPOut"]) + "*2", "--connect",
                 Endpoint(I.Port["POPOut"]), "--listen", Endpoint(I.Port["OrvaneListen"]), "--udp",
                 Endpoint(I.Port["OrvaneUdp"])}}));
    I.Start("Lumicourt.exe", Joined({I.From("LC", 2), I.From("LCSSL", 1), I.From("LCOther", 1)}));
    I.Start("Helmstead.exe", Joined({I.From("HS", 1), I.From("HSSSL", 1), I.From("HSOther", 2)}));
    I.Start("Relay.exe", Joined({I.From("SMTPIn", 2), {"--connect", Endpoint(I.Port["SMTPOut"])}}));
    I.Connect("OrvaneListen");
    I.Connect("OrvaneListen");
    EXPECT_TRUE(Orvane.AwaitLine("accepted 2", 30000));
  }
  static void TearDownTestSuite() { Installation.reset(); }
};

std::unique_ptr<TInstallation> EndToEndWin32::Installation;

TEST_F(EndToEndWin32, CountsEveryCategoryAndJudgesThem) {
  for (const TVerdictCase& Case : InstallationVerdicts())
    EXPECT_TRUE(Counted(Installation->Check(Case.Arguments), Case.Status, InstallationCounts(),
                        Case.ExitStatus, "\r\n"))
        << ::testing::PrintToString(Case.Arguments);
}

TEST_F(EndToEndWin32, DebugDumpNamesTheWindowsProcessesAndTheirExecutables) {
  TInstallation& I = *Installation;
  const TCommandResult Run = I.Check({"-w", "0", "-c", "0", "-v", "-v"});
  ASSERT_EQ(Run.ExitStatus, 0);
  const size_t At = Run.Out.find("OK - ");
  ASSERT_NE(At, std::string::npos) << Run.Out;
  // The status stands on the dump's line: the counts are read from its end.
  EXPECT_EQ(CountsOf(Run.Out), InstallationCounts());

  // The 20 counted, and the two web administration connections on another
  // port, which are listed but counted nowhere.
  std::map<std::string, int> PerOwnerAndPort;
  for (const auto& Record : DumpRecords(Run.Out.substr(0, At))) {
    EXPECT_EQ(Record[0], "TCP");
    EXPECT_EQ(Record[1] + Record[3], "127.0.0.1127.0.0.1");
    EXPECT_EQ(Record[5], "ESTABLISHED");
    const std::string Owner = Record[6].substr(Record[6].rfind('\\') + 1);
    EXPECT_EQ(Record[6], I.Exe(Owner)) << "the full path of the executable";
    ASSERT_EQ(I.Running.count(Owner), 1u) << Record[6];
    EXPECT_EQ(Record[7], std::to_string(I.Running[Owner]->Pid())) << Owner;
    const bool Outbound = Owner == "Orvane.exe" && (Record[4] == std::to_string(I.Port["SMTPOut"]) ||
                                                    Record[4] == std::to_string(I.Port["POPOut"]));
    ++PerOwnerAndPort[Owner + ":" + (Outbound ? "out" + Record[4] : Record[2])];
  }
  auto Key = [&](const char* Owner, const char* Port) {
    return std::string(Owner) + ":" + std::to_string(I.Port[Port]);
  };
  const std::map<std::string, int> Expected = {
      {Key("Orvane.exe", "SMTPIn"), 3},   {Key("Orvane.exe", "SSL-SMTP"), 1},
      {Key("Orvane.exe", "POPIn"), 2},    {Key("Orvane.exe", "SSL-POP"), 1},
      {Key("Orvane.exe", "IMAPIn"), 2},   {Key("Orvane.exe", "SSL-IMAP"), 1},
      {Key("Orvane.exe", "OrvaneOther"), 1},
      {"Orvane.exe:out" + std::to_string(I.Port["SMTPOut"]), 2},
      {"Orvane.exe:out" + std::to_string(I.Port["POPOut"]), 1},
      {Key("Lumicourt.exe", "LC"), 2},    {Key("Lumicourt.exe", "LCSSL"), 1},
      {Key("Lumicourt.exe", "LCOther"), 1},
      {Key("Helmstead.exe", "HS"), 1},    {Key("Helmstead.exe", "HSSSL"), 1},
      {Key("Helmstead.exe", "HSOther"), 2},
  };
  EXPECT_EQ(PerOwnerAndPort, Expected);
}

// What most tests have the server hold: two inbound SMTP connections and
// one IMAP connection.
const TCounts TwoSmtpOneImap = {
    {"Connections", 3}, {"SmtpIn", 2}, {"SmtpTotal", 2}, {"ImapIn", 1}, {"ImapTotal", 1}};

// The answer to "-w 3 -c 0" over them.
::testing::AssertionResult WarnsOfTwoSmtpOneImap(const TCommandResult& Run) {
  return Counted(Run, "WARNING - connections=3 ", TwoSmtpOneImap, 1, "\r\n");
}

// Only the mail server runs. Its listener on the web-mail port has accepted a
// connection, which Wine reports without an owner: the missing web-mail
// process must not take it (nor any other ownerless row) as its own.
TEST(EndToEndWin32Processes, ServersThatAreDownCountNothing) {
  TInstallation I;
  TChildProcess& Orvane = I.Start(
      "Orvane.exe", Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1), {"--listen", Endpoint(I.Port["LC"])}}));
  I.Start("Relay.exe", I.From("HS", 1));
  I.Connect("LC");
  ASSERT_TRUE(Orvane.AwaitLine("accepted 1", 30000));
  EXPECT_TRUE(Counted(I.Check({"-w", "4", "-c", "0"}),
                      "OK - Connections=3 Smtp=2 Pop=0 Imap=1 Lumicourt=0 Helmstead=0", TwoSmtpOneImap, 0,
                      "\r\n"));
}

// The server is found by its name in any case and within longer names; the
// check itself, installed under a name like the server's, never stands in for
// it, and a namesake started later doesn't either.
TEST(EndToEndWin32Processes, TheServerIsFoundByNameAndNeverTheCheckOrALaterNamesake) {
  const struct {
    const char* Check;            // the name the program is installed under
    const char* Server;           // the stand-in holding the connections
    const char* Later = nullptr;  // a stand-in without connections started after it
  } Cases[] = {
      {"nagios_orvane_check.exe", "orvane.exe"},
      {"nagios_orvane_check.exe", "MyOrvane.exe"},
      {"nagios_orvane_check.exe", "ORVANE.EXE.bak"},
      {"check_orvane.exe", "Orvane.exe"},
      {"orvane.exe", "Orvane.exe"},
      {"nagios_orvane_check.exe", "Orvane.exe", "BackupOrvane.exe"},
  };
  TInstallation I;
  TTempDirectory::MakeDirectories(I.Dir / "agent");
  for (const auto& Case : Cases) {
    const std::string Trace = std::string(Case.Check) + " " + Case.Server;
    I.Running.clear();
    I.Start(Case.Server, Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1)}));
    if (Case.Later) I.Start(Case.Later, {});
    const std::string Check = I.Dir / ("agent\\" + std::string(Case.Check));
    CopyFileW(WideFromUtf8(BesideThisProgram("nagios_orvane_check.exe")).c_str(),
              WideFromUtf8(Check).c_str(), FALSE);
    EXPECT_TRUE(WarnsOfTwoSmtpOneImap(RunCommand(Check, {"-p", I.DataPath, "-w", "3", "-c", "0"}))) << Trace;
    DeleteFileW(WideFromUtf8(Check).c_str());
  }
}

// Another instance of the check (the same file, installed under the server's
// own name), busy retrying a held file while the server is stopped,
// is no running server; an idle second process of the server's own name,
// started after it, hides nothing.
TEST(EndToEndWin32Processes, NeitherABusyCheckNorAnIdleTwinHidesTheServer) {
  TInstallation I;
  I.Dir.Write("Other\\App\\Orvane.ini", "[Ports]\r\n");
  const std::string Check = I.Dir / "agent\\orvane.exe";
  TTempDirectory::MakeDirectories(I.Dir / "agent");
  CopyFileW(WideFromUtf8(BesideThisProgram("nagios_orvane_check.exe")).c_str(),
            WideFromUtf8(Check).c_str(), FALSE);
  // Held as the server holds it: open, sharing nothing.
  const HANDLE Held = CreateFileW(WideFromUtf8(I.Dir / "Other\\App\\Orvane.ini").c_str(), GENERIC_READ,
                                  0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(Held, INVALID_HANDLE_VALUE);
  {
    TChildProcess Busy(Check, {"-p", I.Dir / "Other\\App\\", "-w", "1", "-c", "2", "-r", "100", "-d", "100"});
    Sleep(2000);
    EXPECT_TRUE(Counted(RunCommand(Check, {"-p", I.DataPath, "-w", "0", "-c", "0", "--require-running=Orvane"}),
                        "CRITICAL - Orvane.exe not running Connections=0 Smtp=0 Pop=0 Imap=0 Lumicourt=0 Helmstead=0",
                        {}, 2, "\r\n"));
  }
  CloseHandle(Held);

  I.Start("Orvane.exe", Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1),
                                {"--listen", Endpoint(I.Port["SSL-SMTP"])}}));
  // The twin lives in a folder of its own: file names ignore case.
  const std::string Twin = I.Dir / "twin\\ORVANE.EXE";
  TTempDirectory::MakeDirectories(I.Dir / "twin");
  CopyFileW(WideFromUtf8(BesideThisProgram("orvane_stand_in.exe")).c_str(), WideFromUtf8(Twin).c_str(), FALSE);
  TChildProcess Idle(Twin, {});
  ASSERT_TRUE(Idle.AwaitLine("ready", 30000));
  EXPECT_TRUE(WarnsOfTwoSmtpOneImap(
      I.Check({"-w", "3", "-c", "0", "--require-listening=SMTPSSL", "--require-running=Orvane"})));
}

// Wine's per-program library settings in this test's prefix, for the time
// of one test (a child ignores WINEDLLOVERRIDES in the environment block it
// is given).
class TWineDllOverride {
public:
  TWineDllOverride(const wchar_t* Program, const wchar_t* Library, const wchar_t* Order)
      : Path(std::wstring(L"Software\\Wine\\AppDefaults\\") + Program + L"\\DllOverrides") {
    HKEY Key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &Key,
                        nullptr) != ERROR_SUCCESS)
      return;
    RegSetValueExW(Key, Library, 0, REG_SZ, reinterpret_cast<const BYTE*>(Order),
                   static_cast<DWORD>((wcslen(Order) + 1) * sizeof(wchar_t)));
    RegCloseKey(Key);
  }
  ~TWineDllOverride() { RegDeleteTreeW(HKEY_CURRENT_USER, Path.c_str()); }

private:
  std::wstring Path;
};

// Agents run checks with their own rights: a library named like one of the
// system's and planted beside the program must never be loaded. Wine takes it
// from the program's folder first only when told to ("native, then
// builtin"), as Windows does.
TEST(EndToEndWin32Processes, ALibraryPlantedBesideTheProgramIsNeverLoaded) {
  const TWineDllOverride WindowsOrder(L"nagios_orvane_check.exe", L"iphlpapi", L"native,builtin");
  TInstallation I;
  const std::string Agent = I.Dir / "agent";
  TTempDirectory::MakeDirectories(Agent);
  for (const char* File : {"nagios_orvane_check.exe", "planted\\iphlpapi.dll"}) {
    const std::string Name = std::string(File).substr(std::string(File).rfind('\\') + 1);
    ASSERT_TRUE(CopyFileW(WideFromUtf8(BesideThisProgram(File)).c_str(),
                          WideFromUtf8(Agent + "\\" + Name).c_str(), FALSE))
        << File;
  }
  I.Start("Orvane.exe", Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1)}));
  const TCommandResult Run =
      RunCommand(Agent + "\\nagios_orvane_check.exe", {"-p", I.DataPath, "-w", "3", "-c", "0"});
  EXPECT_EQ(GetFileAttributesW(WideFromUtf8(Agent + "\\planted-library-loaded").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << "the planted library was loaded";
  EXPECT_TRUE(WarnsOfTwoSmtpOneImap(Run));
}

// The IP helper library that cannot be loaded (here kept from this program
// by Wine's per-program settings) leaves no connection table to read: the
// check is UNKNOWN, naming the library and the system's reason, never a
// count of zero.
TEST(EndToEndWin32Processes, AnIpHelperLibraryThatCannotBeLoadedIsUnknown) {
  const TWineDllOverride Disabled(L"nagios_orvane_check.exe", L"iphlpapi", L"");
  TInstallation I;
  I.Start("Orvane.exe", Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1)}));
  EXPECT_TRUE(Answers(I.Check({"-w", "3", "-c", "0"}),
                      "iphlpapi.dll: " + SystemErrorMessage(ERROR_MOD_NOT_FOUND), "\r\n"));
}

// What must be there and is not: the stand-ins' listeners carry their owner
// (each made one call on it), so a listener counts as its process's; a
// category's port without one is named. A held file retried past the
// timeout ends in the timeout's one line.
TEST(EndToEndWin32Processes, MissingProcessesSilentListenersAndTimeouts) {
  TInstallation I;
  I.Start("Orvane.exe", Joined({I.From("SMTPIn", 2), I.From("IMAPIn", 1),
                                {"--listen", Endpoint(I.Port["SSL-SMTP"])}}));
  const std::string Imap = "IMAPin port " + std::to_string(I.Port["IMAPIn"]) + " not listening ";
  const struct {
    std::vector<std::string> Arguments;
    std::string Status;
    int ExitStatus;
  } Cases[] = {
      {{"--require-running=orvane.exe,Helmstead"}, "CRITICAL - Helmstead.exe not running connections=3 ", 2},
      {{"--require-listening=SMTPSSL,IMAPin:warning"}, "WARNING - " + Imap + "connections=3 ", 1},
      {{"--require-listening=SMTPSSL"}, "WARNING - connections=3 ", 1},
  };
  for (const auto& Case : Cases) {
    std::vector<std::string> Arguments = {"-w", "3", "-c", "0"};
    Arguments.insert(Arguments.end(), Case.Arguments.begin(), Case.Arguments.end());
    EXPECT_TRUE(Counted(I.Check(Arguments), Case.Status, TwoSmtpOneImap, Case.ExitStatus, "\r\n"))
        << ::testing::PrintToString(Case.Arguments);
  }

  // Held as the server holds it: open, sharing nothing.
  const HANDLE Held = CreateFileW(WideFromUtf8(I.DataPath + "Orvane.ini").c_str(), GENERIC_READ, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(Held, INVALID_HANDLE_VALUE);
  for (const auto& [Timeout, Out, Status] :
       {std::tuple<std::string, std::string, int>{"2", "Unknown - Timeout after 2 seconds\r\n", 3},
        {"2:critical", "CRITICAL - Timeout after 2 seconds\r\n", 2}}) {
    const TCommandResult Run = I.Check({"-w", "1", "-c", "2", "-r", "100", "-d", "200", "-t", Timeout});
    EXPECT_EQ(Run.Out, Out);
    EXPECT_EQ(Run.Err, "");
    EXPECT_EQ(Run.ExitStatus, Status);
  }
  CloseHandle(Held);
}

// Long output of a thousand connections: the classic status line first,
// everything within the budget as written (line ends LF, as the Linux
// program writes them: a monitoring system that splits on CR and on LF
// alike gets no empty lines).
TEST(EndToEndWin32Processes, DetailsOfAThousandConnectionsStayWithinTheBudget) {
  TInstallation I;
  I.Listen(I.Port["SMTPOut"]);
  I.Start("Orvane.exe", {"--connect", Endpoint(I.Port["SMTPOut"]) + "*1000"});
  const TCommandResult Classic = I.Check({"-w", "0", "-c", "0", "-v"});
  ASSERT_EQ(Classic.ExitStatus, 0) << Classic.Out;
  ASSERT_NE(Classic.Out.find(" SmtpOut=1000 "), std::string::npos) << Classic.Out;
  // The classic answer is one line, ended by CR LF as ever.
  ASSERT_TRUE(IsOneLine(Classic.Out, "\r\n")) << Classic.Out;
  const std::string StatusLine = Classic.Out.substr(0, Classic.Out.size() - 2) + "\n";
  for (size_t Budget : {4096u, 1023u}) {
    const TCommandResult Run = I.Check(
        {"-w", "0", "-c", "0", "-v", "-v", "--details", "--max-output=" + std::to_string(Budget)});
    EXPECT_EQ(Run.ExitStatus, 0);
    EXPECT_LE(Run.Out.size(), Budget);
    EXPECT_EQ(Run.Out.substr(0, StatusLine.size()), StatusLine);
    EXPECT_EQ(Run.Out.find('|', StatusLine.size()), std::string::npos);
    EXPECT_EQ(Run.Out.find('\r'), std::string::npos);
    EXPECT_EQ(Run.Out.find("\n\n"), std::string::npos);
    EXPECT_NE(Run.Out.find("\nSMTPout remote port " + std::to_string(I.Port["SMTPOut"]) + ": 1000\n"),
              std::string::npos);
    EXPECT_NE(Run.Out.find(" more lines left out\n"), std::string::npos) << Run.Out;
  }
}

}  // namespace
