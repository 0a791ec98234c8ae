// End to end on Linux: stand-ins named like the mail server's processes hold
// real connections on the ports of a generated installation, and the built
// program counts them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "testing/CheckOutput.h"
#include "testing/ChildProcess.h"
#include "testing/DebugDump.h"
#include "testing/InstallationVerdicts.h"

namespace fs = std::filesystem;

namespace {

// Can this port be bound on every address, IPv4 and IPv6, right now?
bool Bindable(int port) {
  int fd = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_any;
  a.sin6_port = htons(uint16_t(port));
  bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return bound;
}

// Free ports below the kernel's ephemeral range: a port the kernel handed out
// and took back could go to one of the connections made before its listener
// binds (the stand-ins connect out first). The start comes from the process
// id, which keeps tests that run side by side apart.
class TFreePorts {
public:
  TFreePorts() {
    int low = 32768, high = 0;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low >> high;
    Low = 10000;
    Count = std::max(low - Low, 1000);
    Next = int(getpid() * 211 % Count);
  }
  int Take() {
    for (int tried = 0; tried < Count; ++tried) {
      int port = Low + Next++ % Count;
      if (Bindable(port)) return port;
    }
    return 0;
  }

private:
  int Low, Count, Next;
};

// A client socket of the test process: a connection of "another process".
class TClient {
public:
  TClient(int family, const std::string& address, int port) {
    Fd = socket(family, SOCK_STREAM, 0);
    sockaddr_storage s{};
    socklen_t length;
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&s);
      a->sin_family = AF_INET;
      a->sin_port = htons(uint16_t(port));
      inet_pton(AF_INET, address.c_str(), &a->sin_addr);
      length = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in6*>(&s);
      a->sin6_family = AF_INET6;
      a->sin6_port = htons(uint16_t(port));
      inet_pton(AF_INET6, address.c_str(), &a->sin6_addr);
      length = sizeof *a;
    }
    Connected = connect(Fd, reinterpret_cast<sockaddr*>(&s), length) == 0;
  }
  ~TClient() { close(Fd); }
  int Fd;
  bool Connected;
};

std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

class EndToEnd : public ::testing::Test {
protected:
  std::map<std::string, int> Port;
  fs::path Root;
  std::string DataPath;
  std::vector<std::unique_ptr<TChildProcess>> Servers;
  std::vector<std::unique_ptr<TClient>> Clients;
  std::vector<int> Listeners;  // the remote mail servers the server connects out to

  void SetUp() override {
    TFreePorts ports;
    Root = fs::temp_directory_path() / ("orvane-e2e-" + std::to_string(getpid()));
    fs::remove_all(Root);
    for (const char* dir : {"Orvane/App", "Orvane/Lumicourt", "Orvane/Helmstead", "bin"})
      fs::create_directories(Root / dir);
    for (const char* name : {"SMTPIn", "SMTPOut", "SSL-SMTP", "POPIn", "POPOut", "SSL-POP", "IMAPIn",
                             "SSL-IMAP", "LC", "LCSSL", "HS", "HSSSL", "OrvaneOther", "LCOther",
                             "HSOther", "Dual", "V6Only"})
      Port[name] = ports.Take();
    std::ofstream(Root / "Orvane/App/Orvane.ini")
        << "[General]\r\nSMTPIn=1\r\n[Ports]\r\nSMTPIn=" << Port["SMTPIn"] << "\r\nSMTPOut="
        << Port["SMTPOut"] << "\r\nSSL-SMTP=" << Port["SSL-SMTP"] << "\r\nPOPIn=" << Port["POPIn"]
        << "\r\nPOPOut=" << Port["POPOut"] << "\r\nSSL-POP=" << Port["SSL-POP"]
        << "\r\nIMAPIn=" << Port["IMAPIn"] << "\r\nSSL-IMAP=" << Port["SSL-IMAP"] << "\r\n";
    std::ofstream(Root / "Orvane/Lumicourt/Lumicourt.ini")
        << "[WebServer]\nPort=" << Port["LC"] << "\n[SSL]\nPort=" << Port["LCSSL"] << "\n";
    std::ofstream(Root / "Orvane/Helmstead/Helmstead.ini")
        << "; web administration\n[WebServer]\nPort=" << Port["HS"] << "\n[SSL]\nPort="
        << Port["HSSSL"] << "\n";
    DataPath = (Root / "Orvane/App").string() + "/";
    // Copies, not links: the process then reports its executable under the
    // server's name, and the check names it with its full path.
    for (const char* name : {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"})
      fs::copy_file(ORVANE_STAND_IN, Root / "bin" / name);
  }

  void TearDown() override {
    Clients.clear();
    Servers.clear();
    for (int fd : Listeners) close(fd);
    fs::remove_all(Root);
  }

  std::string Exe(const std::string& name) { return (Root / "bin" / name).string(); }

  TChildProcess& Start(const std::string& name, std::vector<std::string> arguments) {
    Servers.push_back(std::make_unique<TChildProcess>(Exe(name), arguments));
    EXPECT_TRUE(Servers.back()->AwaitLine("ready")) << name << " did not come up";
    return *Servers.back();
  }

  void Listen(int port) {  // a remote mail server, played by the test itself
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 64), 0);
    Listeners.push_back(fd);
  }

  void Connect(const std::string& port, int count, int family = AF_INET,
               const std::string& address = "127.0.0.1") {
    for (int i = 0; i < count; ++i) {
      Clients.push_back(std::make_unique<TClient>(family, address, Port[port]));
      ASSERT_TRUE(Clients.back()->Connected) << port;
    }
  }

  TCommandResult Check(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-p", DataPath});
    return RunCommand(ORVANE_PROGRAM, arguments,
                      {"ORVANE_REGISTRY_FILE=" + (Root / "no-registry.reg").string()});
  }

  // The mail server's three processes with the connections every test counts:
  // SMTP in 3 / out 2 / SSL 1, POP in 2 / out 1 / SSL 1, IMAP 2 / SSL 1,
  // other 1; web mail 2 / SSL 1 / other port 1; web admin 1 / SSL 1 / other 2.
  void StartInstallation() {
    Listen(Port["SMTPOut"]);
    Listen(Port["POPOut"]);
    auto& orvane = Start("Orvane.exe",
                         {"--listen", Loopback(Port["SMTPIn"]), "--listen", Loopback(Port["SSL-SMTP"]),
                          "--listen", Loopback(Port["POPIn"]), "--listen", Loopback(Port["SSL-POP"]),
                          "--listen", Loopback(Port["IMAPIn"]), "--listen", Loopback(Port["SSL-IMAP"]),
                          "--listen", Loopback(Port["OrvaneOther"]),
                          "--connect", Loopback(Port["SMTPOut"]) + "*2",
                          "--connect", Loopback(Port["POPOut"])});
    auto& lumicourt = Start("Lumicourt.exe", {"--listen", Loopback(Port["LC"]), "--listen",
                                              Loopback(Port["LCSSL"]), "--listen", Loopback(Port["LCOther"])});
    auto& helmstead = Start("Helmstead.exe", {"--listen", Loopback(Port["HS"]), "--listen",
                                              Loopback(Port["HSSSL"]), "--listen", Loopback(Port["HSOther"])});
    Connect("SMTPIn", 3);
    Connect("SSL-SMTP", 1);
    Connect("POPIn", 2);
    Connect("SSL-POP", 1);
    Connect("IMAPIn", 2);
    Connect("SSL-IMAP", 1);
    Connect("OrvaneOther", 1);
    Connect("LC", 2);
    Connect("LCSSL", 1);
    Connect("LCOther", 1);
    Connect("HS", 1);
    Connect("HSSSL", 1);
    Connect("HSOther", 2);
    ASSERT_TRUE(orvane.AwaitLine("accepted 11"));
    ASSERT_TRUE(lumicourt.AwaitLine("accepted 4"));
    ASSERT_TRUE(helmstead.AwaitLine("accepted 4"));
  }
};

// The answer to "-w 1 -c 5" when the server holds two inbound SMTP
// connections and nothing else is counted.
const TCounts TwoSmtpIn = {{"Connections", 2}, {"SmtpIn", 2}, {"SmtpTotal", 2}};
::testing::AssertionResult WarnsOfTwoSmtpIn(const TCommandResult& r) {
  return Counted(r, "WARNING - connections=2 ", TwoSmtpIn, 1);
}

TEST_F(EndToEnd, CountsTheServersConnectionsAndJudgesThem) {
  ASSERT_NO_FATAL_FAILURE(StartInstallation());
  for (const TVerdictCase& c : InstallationVerdicts())
    EXPECT_TRUE(Counted(Check(c.Arguments), c.Status, InstallationCounts(), c.ExitStatus))
        << ::testing::PrintToString(c.Arguments);
}

TEST_F(EndToEnd, DebugDumpListsEveryCountedConnectionBeforeTheStatusLine) {
  ASSERT_NO_FATAL_FAILURE(StartInstallation());
  TCommandResult r = Check({"-w", "0", "-c", "0", "-v", "-v"});
  ASSERT_EQ(r.ExitStatus, 0);
  // The status stands on the dump's line: the counts are read from its end.
  auto at = r.Out.find("OK - ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(CountsOf(r.Out), InstallationCounts());

  std::vector<std::vector<std::string>> records = DumpRecords(r.Out.substr(0, at));
  // 20 counted, plus the two web administration connections on another port.
  ASSERT_EQ(records.size(), 22u) << r.Out;

  std::map<std::string, int> perOwnerAndPort;
  for (const auto& rec : records) {
    EXPECT_EQ(rec[0], "TCP");
    EXPECT_EQ(rec[1], "127.0.0.1");
    EXPECT_EQ(rec[3], "127.0.0.1");
    EXPECT_EQ(rec[5], "ESTABLISHED");
    std::string owner = fs::path(rec[6]).filename().string();
    EXPECT_EQ(rec[6], Exe(owner)) << "the full path of the executable";
    bool outbound = owner == "Orvane.exe" &&
                    (rec[4] == std::to_string(Port["SMTPOut"]) || rec[4] == std::to_string(Port["POPOut"]));
    ++perOwnerAndPort[owner + ":" + (outbound ? "out" + rec[4] : rec[2])];
    int pid = std::stoi(rec[7]);
    bool known = false;
    for (auto& s : Servers) known |= s->Pid() == pid;
    EXPECT_TRUE(known) << "pid " << pid;
  }
  auto key = [&](const char* owner, const char* port) {
    return std::string(owner) + ":" + std::to_string(Port[port]);
  };
  std::map<std::string, int> expected = {
      {key("Orvane.exe", "SMTPIn"), 3},   {key("Orvane.exe", "SSL-SMTP"), 1},
      {key("Orvane.exe", "POPIn"), 2},    {key("Orvane.exe", "SSL-POP"), 1},
      {key("Orvane.exe", "IMAPIn"), 2},   {key("Orvane.exe", "SSL-IMAP"), 1},
      {key("Orvane.exe", "OrvaneOther"), 1},
      {"Orvane.exe:out" + std::to_string(Port["SMTPOut"]), 2},
      {"Orvane.exe:out" + std::to_string(Port["POPOut"]), 1},
      {key("Lumicourt.exe", "LC"), 2},    {key("Lumicourt.exe", "LCSSL"), 1},
      {key("Lumicourt.exe", "LCOther"), 1},
      {key("Helmstead.exe", "HS"), 1},    {key("Helmstead.exe", "HSSSL"), 1},
      {key("Helmstead.exe", "HSOther"), 2},
  };
  EXPECT_EQ(perOwnerAndPort, expected);
}

TEST_F(EndToEnd, CountsIpv6AndDualStackConnections) {
  // One dual-stack listener that IPv4 clients reach too, and one IPv6-only.
  std::ofstream(Root / "Orvane/App/Orvane.ini")
      << "[Ports]\nSMTPIn=" << Port["Dual"] << "\nIMAPIn=" << Port["V6Only"] << "\n";
  TChildProcess& orvane =
      Start("Orvane.exe", {"--listen", "[::]:" + std::to_string(Port["Dual"]), "--listen6only",
                           "[::1]:" + std::to_string(Port["V6Only"])});
  Connect("Dual", 2, AF_INET, "127.0.0.1");
  Connect("Dual", 1, AF_INET6, "::1");
  Connect("V6Only", 2, AF_INET6, "::1");
  ASSERT_TRUE(orvane.AwaitLine("accepted 5"));

  TCommandResult r = Check({"-w", "5", "-c", "0", "-v", "-v"});
  const size_t at = r.Out.find("WARNING - ");
  ASSERT_NE(at, std::string::npos) << r.Out;
  EXPECT_EQ(StatusOf(r.Out.substr(at)), "WARNING - connections=5 ");
  EXPECT_EQ(CountsOf(r.Out),
            (TCounts{{"Connections", 5}, {"SmtpIn", 3}, {"SmtpTotal", 3}, {"ImapIn", 2}, {"ImapTotal", 2}}));
  EXPECT_EQ(r.ExitStatus, 1);

  std::map<std::string, int> seen;
  for (const auto& rec : DumpRecords(r.Out.substr(0, at))) {
    EXPECT_EQ(rec[1], rec[3]) << "loopback: both ends on one address";
    ++seen[rec[1] + " " + rec[2]];
  }
  std::map<std::string, int> expected = {
      {"::ffff:127.0.0.1 " + std::to_string(Port["Dual"]), 2},
      {"::1 " + std::to_string(Port["Dual"]), 1},
      {"::1 " + std::to_string(Port["V6Only"]), 2},
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(EndToEnd, ServersThatAreDownCountNothing) {
  // Only the clients' ends exist now, owned by the test process: nothing of
  // the mail server's, and nothing ownerless attributed to a missing process.
  TChildProcess& orvane = Start("Orvane.exe", {"--listen", Loopback(Port["SMTPIn"])});
  Connect("SMTPIn", 2);
  ASSERT_TRUE(orvane.AwaitLine("accepted 2"));
  EXPECT_TRUE(WarnsOfTwoSmtpIn(Check({"-w", "1", "-c", "5"})));
}

// The check itself, installed under a name like the server's, never stands
// in for it, and a namesake started later doesn't either; a lone namesake
// still counts. (The kernel keeps 15 bytes of a process name.)
TEST_F(EndToEnd, TheServerIsFoundByNameAndNeverTheCheckOrALaterNamesake) {
  const struct {
    const char* Check;  // the name the program is started under
    bool Link;          // a symbolic link to the program, else a copy
    const char* Server;
    const char* Later;  // started after the server, without connections
  } Cases[] = {
      {"orvane.exe", true, "Orvane.exe", nullptr},
      {"check_orvane.exe", false, "Orvane.exe", nullptr},
      {"nagios_orvane_check", true, "Orvane.exe", "MyOrvane.exe"},
      {"nagios_orvane_check", true, "MyOrvane.exe", nullptr},
  };
  fs::create_directories(Root / "agent");
  fs::copy_file(ORVANE_STAND_IN, Root / "bin" / "MyOrvane.exe");
  for (const auto& Case : Cases) {
    const std::string Trace = std::string(Case.Check) + " " + Case.Server;
    Servers.clear();
    Clients.clear();
    TChildProcess& Server = Start(Case.Server, {"--listen", Loopback(Port["SMTPIn"])});
    Connect("SMTPIn", 2);
    ASSERT_TRUE(Server.AwaitLine("accepted 2")) << Trace;
    if (Case.Later) Start(Case.Later, {});
    const fs::path Check = Root / "agent" / Case.Check;
    fs::remove(Check);
    if (Case.Link)
      fs::create_symlink(fs::absolute(ORVANE_PROGRAM), Check);
    else
      fs::copy_file(ORVANE_PROGRAM, Check);
    EXPECT_TRUE(WarnsOfTwoSmtpIn(RunCommand(Check.string(), {"-p", DataPath, "-w", "1", "-c", "5"},
                                            {"ORVANE_REGISTRY_FILE=" + (Root / "no-registry.reg").string()})))
        << Trace;
  }
}

// Another instance of the check (the same file under any name), busy
// retrying a held file while the server is stopped, is no running server; a
// second, idle process of the server's own name hides nothing.
TEST_F(EndToEnd, NeitherABusyCheckNorAnIdleTwinHidesTheServer) {
  fs::create_directories(Root / "agent");
  fs::create_directories(Root / "Other/App");
  fs::copy_file(Root / "Orvane/App/Orvane.ini", Root / "Other/App/Orvane.ini");
  fs::create_symlink(fs::absolute(ORVANE_PROGRAM), Root / "agent" / "orvane.exe");
  const int Held = open((Root / "Other/App/Orvane.ini").c_str(), O_RDONLY);
  ASSERT_EQ(flock(Held, LOCK_EX | LOCK_NB), 0);
  TChildProcess Busy((Root / "agent" / "orvane.exe").string(),
                     {"-p", (Root / "Other/App").string() + "/", "-w", "1", "-c", "2", "-r", "100", "-d", "100"});
  usleep(300 * 1000);
  EXPECT_TRUE(Counted(Check({"-w", "0", "-c", "0", "--require-running=Orvane"}),
                      "CRITICAL - Orvane.exe not running Connections=0 Smtp=0 Pop=0 Imap=0 Lumicourt=0 Helmstead=0",
                      {}, 2));
  close(Held);

  fs::copy_file(ORVANE_STAND_IN, Root / "bin" / "ORVANE.EXE");
  TChildProcess& Server = Start("Orvane.exe", {"--listen", Loopback(Port["SMTPIn"])});
  // Started before the clients connect, so that it inherits none of their ends.
  Start("ORVANE.EXE", {});
  Connect("SMTPIn", 2);
  ASSERT_TRUE(Server.AwaitLine("accepted 2"));
  EXPECT_TRUE(WarnsOfTwoSmtpIn(Check({"-w", "1", "-c", "5", "--require-listening=SMTPin", "--require-running=Orvane"})));
}

// The last process named like the server is taken as the server, but an
// unreaped child of that name is no process that holds anything.
TEST_F(EndToEnd, AZombieNamedLikeTheServerHidesNothing) {
  TChildProcess& orvane = Start("Orvane.exe", {"--listen", Loopback(Port["SMTPIn"])});
  Connect("SMTPIn", 2);
  ASSERT_TRUE(orvane.AwaitLine("accepted 2"));

  const std::string exe = Exe("Orvane.exe");
  const pid_t zombie = fork();
  if (zombie == 0) {  // ends at once: its standard input is empty
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    execl(exe.c_str(), "Orvane.exe", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(zombie, 0);
  std::string stat;
  for (int i = 0; i < 1000 && stat.find(") Z ") == std::string::npos; ++i) {
    usleep(10000);
    std::ifstream in("/proc/" + std::to_string(zombie) + "/stat");
    std::getline(in, stat);
  }
  const bool ready = stat.find("(Orvane.exe) Z ") != std::string::npos;
  const bool higher = zombie > orvane.Pid();
  TCommandResult r;
  if (ready && higher) r = Check({"-w", "1", "-c", "5"});
  waitpid(zombie, nullptr, 0);
  ASSERT_TRUE(ready) << "no zombie named Orvane.exe: " << stat;
  if (!higher) GTEST_SKIP() << "process ids wrapped: the zombie's id is not the higher one";
  EXPECT_TRUE(WarnsOfTwoSmtpIn(r));
}

// The check as an agent runs it: as an ordinary user (nobody), while the
// server runs as root. What it may not see is UNKNOWN, never zero.
class EndToEndAsAnotherUser : public EndToEnd {
protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "only root can run the check as another user";
    for (const char* tool : {Setpriv, Unshare})
      if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is missing";
    EndToEnd::SetUp();
    Server = &Start("Orvane.exe", {"--listen", Loopback(Port["SMTPIn"])});
    Connect("SMTPIn", 2);
    ASSERT_TRUE(Server->AwaitLine("accepted 2"));
  }
  // Runs Program as nobody (and, with Mount, in a mount namespace of its own
  // where /proc is mounted anew with those options; "" leaves /proc alone).
  TCommandResult CheckAs(const std::string& Program, bool AsRoot, const std::string& Mount) {
    std::vector<std::string> command = {
        "--mount", "--propagation", "private", "/bin/sh", "-c",
        "[ -z \"$0\" ] || mount -t proc -o \"$0\" proc /proc || exit 99; shift; exec \"$@\"", Mount,
        "-"};
    if (!AsRoot)
      command.insert(command.end(), {Setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    command.insert(command.end(), {Program, "-p", DataPath, "-w", "1", "-c", "5"});
    return RunCommand(Unshare, command,
                      {"ORVANE_REGISTRY_FILE=" + (Root / "no-registry.reg").string()});
  }
  static constexpr const char* Setpriv = "/usr/bin/setpriv";
  static constexpr const char* Unshare = "/usr/bin/unshare";
  TChildProcess* Server = nullptr;
  std::string Denied() const {
    return "process " + std::to_string(Server->Pid()) + " (Orvane.exe): Permission denied";
  }
};

TEST_F(EndToEndAsAnotherUser, TheServersDescriptorsMustBeReadable) {
  EXPECT_TRUE(Answers(CheckAs(ORVANE_PROGRAM, false, ""), Denied()));

  // The capabilities the README names let an ordinary user count them:
  // reading another user's fd directory, and reading its links.
  const std::string capable = (Root / "bin" / "nagios_orvane_check").string();
  fs::copy_file(ORVANE_PROGRAM, capable);
  const TCommandResult setcap =
      RunCommand("/usr/sbin/setcap", {"cap_dac_read_search,cap_sys_ptrace+ep", capable});
  if (setcap.ExitStatus != 0) GTEST_SKIP() << "setcap refused: " << setcap.Err;
  EXPECT_TRUE(WarnsOfTwoSmtpIn(CheckAs(capable, false, "")));
  // Either one alone is not enough.
  for (const char* one : {"cap_dac_read_search+ep", "cap_sys_ptrace+ep"}) {
    ASSERT_EQ(RunCommand("/usr/sbin/setcap", {one, capable}).ExitStatus, 0);
    EXPECT_TRUE(Answers(CheckAs(capable, false, ""), Denied())) << one;
  }
}

TEST_F(EndToEndAsAnotherUser, HiddenProcessesAreNotMissingProcesses) {
  const TCommandResult probe = CheckAs("/bin/true", true, "hidepid=2");
  if (probe.ExitStatus != 0) GTEST_SKIP() << "no proc mount in a mount namespace here: " << probe.Err;
  // The server is hidden from nobody.
  const TCommandResult r = CheckAs(ORVANE_PROGRAM, false, "hidepid=2");
  EXPECT_EQ(r.Out.rfind("Unknown - Orvane.exe not found: /proc is mounted with hidepid=", 0), 0u) << r.Out;
  EXPECT_TRUE(IsOneLine(r.Out, "\n"));
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(r.ExitStatus, 3);
  // Root sees every process.
  EXPECT_TRUE(WarnsOfTwoSmtpIn(CheckAs(ORVANE_PROGRAM, true, "hidepid=2")));
  // nobody's group is exempt from hidepid: the server is seen, its
  // descriptors not.
  EXPECT_TRUE(Answers(CheckAs(ORVANE_PROGRAM, false, "hidepid=2,gid=65534"), Denied()));
}

// What must be there and is not, and a run that outlives its timeout: one
// line each, the status as chosen.
TEST_F(EndToEnd, MissingProcessesSilentListenersAndTimeoutsEndTheVerdict) {
  TChildProcess& orvane = Start("Orvane.exe", {"--listen", Loopback(Port["SMTPIn"]), "--listen",
                                               "[::]:" + std::to_string(Port["SSL-IMAP"])});
  Connect("SMTPIn", 2);
  ASSERT_TRUE(orvane.AwaitLine("accepted 2"));
  const std::string counts = "Connections=2 Smtp=2 Pop=0 Imap=0 Lumicourt=0 Helmstead=0";
  const std::string imap = "IMAPin port " + std::to_string(Port["IMAPIn"]) + " not listening ";
  const struct {
    std::vector<std::string> Arguments;
    std::string Status;
    int ExitStatus;
  } cases[] = {
      {{"--require-running=orvane.exe,Helmstead"}, "CRITICAL - Helmstead.exe not running " + counts, 2},
      {{"--require-running=Orvane"}, "OK - " + counts, 0},
      // SMTP and IMAP SSL listen (the latter on IPv6), IMAP does not; the
      // web mail's port is nobody's while Lumicourt.exe is down.
      {{"--require-listening=SMTPin,IMAPSSL,IMAPin:warning"}, "WARNING - " + imap + counts, 1},
      // The worst wins: UNKNOWN over WARNING, CRITICAL over UNKNOWN.
      {{"--require-listening=LCin,SMTPin:warning", "--require-running=Lumicourt:unknown", "-w", "2"},
       "Unknown - Lumicourt.exe not running LCin port " + std::to_string(Port["LC"]) +
           " not listening connections=2 ",
       3},
      {{"--require-running=Lumicourt:unknown", "-c", "2"}, "CRITICAL - Lumicourt.exe not running connections=2 ",
       2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"-w", "0", "-c", "0"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    EXPECT_TRUE(Counted(Check(arguments), c.Status, TwoSmtpIn, c.ExitStatus))
        << ::testing::PrintToString(c.Arguments);
  }

  // Retries of a held file for ten seconds, cut after one.
  const int held = open((Root / "Orvane/App/Orvane.ini").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  for (const auto& [timeout, out, status] :
       {std::tuple<std::string, std::string, int>{"1", "Unknown - Timeout after 1 seconds\n", 3},
        {"1:critical", "CRITICAL - Timeout after 1 seconds\n", 2}}) {
    TCommandResult r = Check({"-w", "1", "-c", "2", "-r", "50", "-d", "200", "-t", timeout, "-v", "-v"});
    EXPECT_EQ(r.Out, out);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.ExitStatus, status);
  }
  close(held);
}

// Long output at a thousand connections: the classic status line first, the
// categories and connections below it, cut to the budget with a count of what
// was left out.
TEST_F(EndToEnd, DetailsOfAThousandConnectionsStayWithinTheBudget) {
  TChildProcess& lumicourt = Start("Lumicourt.exe", {"--listen", Loopback(Port["LC"])});
  Start("Orvane.exe", {"--connect", Loopback(Port["LC"]) + "*500"});
  ASSERT_TRUE(lumicourt.AwaitLine("accepted 500"));
  const TCommandResult classic = Check({"-w", "0", "-c", "0", "-v"});
  ASSERT_EQ(classic.ExitStatus, 0) << classic.Out;
  for (size_t budget : {4096u, 1024u, 200000u}) {
    const TCommandResult r = Check({"-w", "0", "-c", "0", "-v", "-v", "--details",
                                    "--max-output=" + std::to_string(budget)});
    EXPECT_EQ(r.ExitStatus, 0);
    std::vector<std::string> lines;
    std::istringstream in(r.Out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GT(lines.size(), 20u) << r.Out;
    EXPECT_EQ(lines[0] + "\n", classic.Out);
    EXPECT_EQ(lines[13], "LCin port " + std::to_string(Port["LC"]) + ": 500");
    // Windows ends each line with two bytes; the budget holds for both.
    EXPECT_LE(r.Out.size() + lines.size(), budget);
    size_t dumped = 0;
    for (size_t i = 19; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].find('|'), std::string::npos) << lines[i];
      if (lines[i].rfind("TCP 127.0.0.1 ", 0) == 0) ++dumped;
    }
    const size_t left = 1000 - dumped;
    if (left == 0) EXPECT_EQ(lines.size(), 19u + 1000u);
    else EXPECT_EQ(lines.back(), "... " + std::to_string(left) + " more lines left out");
  }
}

TEST_F(EndToEnd, UnreadableConfigurationIsUnknown) {
  fs::remove(Root / "Orvane/Helmstead/Helmstead.ini");
  EXPECT_TRUE(Answers(Check({"-w", "1", "-c", "2", "-r", "1", "-d", "10"}), DataPath + "..\\Helmstead\\Helmstead.ini"));
}

}  // namespace
