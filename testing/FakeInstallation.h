// A whole check over fakes of its seams, for tests that run the program from
// its command line: an installation at FakeApp (SMTPIn=25, the components'
// files empty) whose mail server (id 100) and web mail (id 200) run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "driver/nagios_orvane_check.h"
#include "testing/FakeCensus.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

inline const std::string FakeExe = "/opt/orvane/nagios_orvane_check";
inline const std::string FakeApp = "/srv/orvane/App/";

// A command line and the verdict it must reach, for tables of runs.
struct TRunCase {
  const char* Name;
  std::vector<std::string> Arguments;
  std::string StatusPart;  // up to the performance data
  int Status;
};
// Test names, not bytes, in the test listing.
inline void PrintTo(const TRunCase& Case, std::ostream* Out) { *Out << Case.Name; }

class TFakeInstallation {
public:
  TFakeFileSystem Files;
  TFakeRegistry Registry;
  TFakeSocketSource Sockets;
  TFakeProcessSource Processes;

  TFakeInstallation() {
    Files.Files[FakeApp + "Orvane.ini"] = "[Ports]\r\nSMTPIn=25\r\n";
    Files.Files[FakeApp + "..\\Lumicourt\\Lumicourt.ini"] = "";
    Files.Files[FakeApp + "..\\Helmstead\\Helmstead.ini"] = "";
    Processes.Processes = {{100, "Orvane.exe"}, {200, "Lumicourt.exe"}};
  }

  // The program over these arguments (after the program name).
  TProgramResult RunOver(const std::vector<std::string>& Arguments) {
    return RunProgram(Arguments, FakeExe, TCheckSystem{&Files, &Registry, &Sockets, &Processes});
  }
};
