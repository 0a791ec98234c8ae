// Fuzz target of a whole program run over hostile arguments, with the
// machine replaced by recorded tables, processes and configuration files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "testing/FakeCensus.h"
#include "cmdline/CommandLineParser.h"
#include "driver/nagios_orvane_check.h"
#include "testing/FakeRegistry.h"
#include "install/Orvane.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

// Configuration files by exact name. A file that never becomes readable is
// retried as often as -r says; past a few hundred attempts the run would
// only spin, so from then on it reads as empty.
class TFuzzFileSystem : public TConfigFileSystem {
public:
  std::map<std::string, std::string> Files;
  std::map<std::string, int> BusyAttempts;
  int Attempts = 0;

  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    if (++Attempts > 300) {
      Bytes.clear();
      return true;
    }
    auto Busy = BusyAttempts.find(FileName);
    if (Busy != BusyAttempts.end() && Busy->second > 0) {
      --Busy->second;
      return false;
    }
    auto File = Files.find(FileName);
    if (File == Files.end()) return false;
    Bytes = File->second;
    return true;
  }
  void Sleep(int32_t) override {}
};

const char OrvaneIni[] =
    "; sample\r\n[General]\r\nServerName=mail.example.test\r\n[Ports]\r\nSMTPIn=25\r\n"
    "SMTPOut=25\r\nSSL-SMTP=465\r\nPOPIn=110\r\nPOPOut=110\r\nSSL-POP=995\r\nIMAPIn=143\r\n"
    "SSL-IMAP=993\r\n";
const char LumicourtIni[] = "[WebServer]\r\nPort=3000\r\n[SSL]\r\nPort=443\r\n";
const char HelmsteadIni[] = "[WebServer]\r\nPort=1000\r\n[SSL]\r\nPort=8443\r\n";

void AddInstallation(TFuzzFileSystem& Files, const std::string& DataPath) {
  Files.Files[DataPath + "Orvane.ini"] = OrvaneIni;
  Files.Files[DataPath + "..\\Lumicourt\\Lumicourt.ini"] = LumicourtIni;
  Files.Files[DataPath + "..\\Helmstead\\Helmstead.ini"] = HelmsteadIni;
}

void AddSystem(TFakeSocketSource& Sockets, TFakeProcessSource& Processes) {
  Processes.Processes = {{4, "System"}, {100, "Orvane.exe"}, {200, "Lumicourt.exe"},
                         {300, "Helmstead.exe"}, {400, "mail-client"}};
  Processes.ModulePaths = {{100, "C:\\Orvane\\App\\Orvane.exe"}};
  const std::array<uint8_t, 4> Any{0, 0, 0, 0}, Server{10, 0, 0, 5}, Client{192, 168, 1, 20};
  Sockets.Tcp(2, Any, 25, Any, 0, 100)
      .Tcp(5, Server, 25, Client, 50000, 100)
      .Tcp(5, Server, 25, Client, 50001, 100)
      .Tcp(5, Server, 465, Client, 50002, 100)
      .Tcp(5, Server, 110, Client, 50003, 100)
      .Tcp(5, Server, 993, Client, 50004, 100)
      .Tcp(5, Server, 40000, Client, 25, 100)
      .Tcp(5, Server, 3000, Client, 50005, 200)
      .Tcp(5, Server, 443, Client, 50006, 200)
      .Tcp(5, Server, 1000, Client, 50007, 300)
      .Tcp(11, Server, 25, Client, 50008, 100)
      .Tcp(5, Client, 50000, Server, 25, 400)
      .Udp(Any, 53, 4);
}

// Arguments from the input: a leading 0 byte means NUL-separated arguments
// as a Linux program receives them (any bytes but NUL); otherwise the input
// is a whole command line that is split as on Windows.
std::vector<std::string> ArgumentsOf(const uint8_t* Data, size_t Size) {
  std::vector<std::string> Arguments;
  if (Size > 0 && Data[0] == 0) {
    std::string Argument;
    for (size_t Index = 1; Index < Size; ++Index) {
      if (Data[Index] == 0) {
        Arguments.push_back(Argument);
        Argument.clear();
      } else {
        Argument += static_cast<char>(Data[Index]);
      }
    }
    Arguments.push_back(Argument);
    return Arguments;
  }
  const std::vector<std::string> Split =
      SplitCommandLine(std::string(reinterpret_cast<const char*>(Data), Size));
  return std::vector<std::string>(Split.begin() + 1, Split.end());
}

size_t CountOf(const std::string& Text, char c) {
  size_t Count = 0;
  for (char Each : Text) Count += Each == c;
  return Count;
}

// The formats other programs read: no CR anywhere, and the state where each
// reader takes it: Checkmk's six lines (the worst of them), the Prometheus
// status gauge, the JSON's "exit", which is printable ASCII on one line.
void CheckMachineFormat(const TProgramResult& Result) {
  const std::string& Output = Result.Output;
  const std::string Status = std::to_string(Result.ExitStatus);
  if (CountOf(Output, '\r') != 0) Fail("carriage return in a machine format", Output);
  if (Output[0] == '{') {
    if (CountOf(Output, '\n') != 1 || Output.find("\"exit\":" + Status + ",") == std::string::npos)
      Fail("JSON not one line with its exit status", Output);
    for (size_t Index = 0; Index + 1 < Output.size(); ++Index)
      if (Output[Index] < 0x20 || Output[Index] > 0x7E) Fail("JSON beyond printable ASCII", Output);
  } else if (Output.compare(0, 7, "# HELP ") == 0) {
    if (Output.find("\norvane_check_status " + Status + "\n") == std::string::npos ||
        Output.size() < 6 || Output.compare(Output.size() - 6, 6, "# EOF\n") != 0)
      Fail("Prometheus text without its status or its end", Output);
  } else {
    // CRITICAL ranks above UNKNOWN, which ranks above WARNING.
    const std::string Rank = "0132";
    size_t Lines = 0, Start = 0;
    char Worst = '0';
    for (size_t End = Output.find('\n'); End != std::string::npos; End = Output.find('\n', Start = End + 1)) {
      const std::string Line = Output.substr(Start, End - Start);
      ++Lines;
      // State, blank, the name in quotes (neither kind of quote inside), blank.
      const size_t Close = Line.find('"', 3);
      if (Line.size() < 4 || Rank.find(Line[0]) == std::string::npos || Line.compare(1, 2, " \"") != 0 ||
          Close == std::string::npos || Close + 1 >= Line.size() || Line[Close + 1] != ' ' ||
          Line.find('\'', 3) < Close)
        Fail("not a Checkmk local line", Line);
      if (Rank.find(Line[0]) > Rank.find(Worst)) Worst = Line[0];
    }
    if (Lines != 6 || std::string(1, Worst) != Status) Fail("Checkmk services against the status", Output);
  }
}

}  // namespace

int FuzzRunProgram(const uint8_t* Data, size_t Size) {
  const std::vector<std::string> Arguments = ArgumentsOf(Data, Size);

  TFuzzFileSystem Files;
  AddInstallation(Files, "C:\\Orvane\\App\\");
  AddInstallation(Files, "");  // no -p and nothing in the registry
  Files.BusyAttempts["Orvane.ini"] = 2;
  TFakeRegistry Registry;
  TFakeSocketSource Sockets;
  TFakeProcessSource Processes;
  AddSystem(Sockets, Processes);
  const TCheckSystem System{&Files, &Registry, &Sockets, &Processes};

  TProgramResult Result;
  try {
    Result = RunProgram(Arguments, "C:\\Program Files\\nagios_orvane_check.exe", System);
  } catch (const std::exception& Failure) {
    Fail("exception escaped", Failure.what());
  } catch (...) {
    Fail("exception escaped", "");
  }

  const std::string& Output = Result.Output;
  if (Result.ExitStatus < ExitOk || Result.ExitStatus > ExitUnknown)
    Fail("exit status out of range", std::to_string(Result.ExitStatus));
  if (Output.empty() || Output.back() != '\n') Fail("output not ended by a line break", Output);
  if (Result.Verbatim) {
    CheckMachineFormat(Result);
    return 0;
  }
  // A status line (a verdict, or Unknown) may be followed by long output
  // (--details) alone, which never holds a "|" that would read as
  // performance data.
  const size_t FirstEnd = Output.find('\n');
  const std::string First = Output.substr(0, FirstEnd + 1);
  const bool Unknown = First.compare(0, 10, "Unknown - ") == 0;
  if (Unknown && Result.ExitStatus != ExitUnknown) Fail("Unknown with another status", Output);
  const char* Verdicts[] = {"OK - ", "WARNING - ", "CRITICAL - "};
  if (Result.ExitStatus == ExitWarning || Result.ExitStatus == ExitCritical) {
    const std::string Verdict = Verdicts[Result.ExitStatus];
    if (First.find(Verdict) == std::string::npos || First.find('|') == std::string::npos)
      Fail("status without its verdict line", Output);
  }
  if (Unknown || Result.ExitStatus == ExitWarning || Result.ExitStatus == ExitCritical) {
    if (CountOf(Output, '\r') != 0) Fail("carriage return in a status", Output);
    if (FirstEnd + 1 < Output.size()) {
      bool Asked = false;
      for (const std::string& Argument : Arguments)
        Asked = Asked || Argument.find("details") != std::string::npos;
      if (!Asked) Fail("status of more than one line without --details", Output);
      if (Output.find('|', FirstEnd) != std::string::npos) Fail("'|' in the long output", Output);
    }
  }
  return 0;
}
