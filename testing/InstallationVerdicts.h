// What the Linux and the Windows end-to-end tests both count: an
// installation whose processes hold SMTP in 3 / out 2 / SSL 1, POP in 2 /
// out 1 / SSL 1, IMAP 2 / SSL 1, other 1; web mail 2 / SSL 1 / other port 1;
// web administration 1 / SSL 1 / other port 2. Both builds must judge it alike.
#pragma once

#include <map>
#include <string>
#include <vector>

struct TVerdictCase {
  std::vector<std::string> Arguments;
  std::string Status;  // the status line up to its performance data
  int ExitStatus;
};

inline const std::vector<TVerdictCase>& InstallationVerdicts() {
  static const std::vector<TVerdictCase> Cases = {
      {{"-w", "21", "-c", "30"}, "OK - Connections=20 Smtp=6 Pop=4 Imap=3 Lumicourt=4 Helmstead=2", 0},
      {{"-w", "21", "-c", "30", "-v"},
       "OK - Connections=20 SmtpIn=3 SmtpOut=2 SmtpSSL=1 PopIn=2 PopOut=1 PopSSL=1 ImapIn=2 ImapSSL=1 "
       "Other=1 LCin=2 LCSSL=1 HSin=1 HSSSL=1",
       0},
      {{"-w", "20", "-c", "30", "--warnSMTPin=3", "-wPOPout", "2"}, "WARNING - connections=20 SMTPin=3 ", 1},
      {{"-w", "5", "-c", "0", "-cLCTotal", "4", "-cHSTotal", "3"}, "CRITICAL - LCTotal=4 ", 2},
  };
  return Cases;
}

// The counts of the performance data: every category has some.
inline const std::map<std::string, long>& InstallationCounts() {
  static const std::map<std::string, long> Counts = {
      {"Connections", 20},
      {"SmtpIn", 3}, {"SmtpOut", 2}, {"SmtpSSL", 1}, {"SmtpTotal", 6},
      {"PopIn", 2}, {"PopOut", 1}, {"PopSSL", 1}, {"PopTotal", 4},
      {"ImapIn", 2}, {"ImapSSL", 1}, {"ImapTotal", 3}, {"Other", 1},
      {"LCin", 2}, {"LCSSL", 1}, {"LCTotal", 4},
      {"HSin", 1}, {"HSSSL", 1}, {"HSTotal", 2},
  };
  return Counts;
}
