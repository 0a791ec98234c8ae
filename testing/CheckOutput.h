// What a test judges of a check's answer when its point is what a run found,
// not how the answer is spelled: the whole status line and the message of a
// file that cannot be read are spelled out once, in
// driver/nagios_orvane_check_test.cpp.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "testing/ChildProcess.h"

using TCounts = std::map<std::string, long>;

// The status before the performance data.
inline std::string StatusOf(const std::string& Output) { return Output.substr(0, Output.find('|')); }

// The performance data of the first line (a "-v -v" dump stands before the
// status on it).
inline std::string PerfDataOf(const std::string& Output) {
  const std::string Line = Output.substr(0, Output.find_first_of("\r\n"));
  return Line.find('|') == std::string::npos ? "" : Line.substr(Line.rfind('|') + 1);
}

// The counts of the performance data other than 0, by label: a test names
// what it made and sees in the same comparison that nothing else was counted.
inline TCounts CountsOf(const std::string& Output) {
  TCounts Counts;
  std::istringstream Items(PerfDataOf(Output));
  std::string Item;
  while (Items >> Item) {
    const size_t Equals = Item.find('=');
    char* End = nullptr;
    const long Value = Equals == std::string::npos ? 0 : std::strtol(&Item[Equals + 1], &End, 10);
    if (End == nullptr || End == &Item[Equals + 1] || (*End != '\0' && *End != ';'))
      ADD_FAILURE() << "no count in " << Item;
    else if (Value != 0)
      Counts[Item.substr(0, Equals)] = Value;
  }
  if (PerfDataOf(Output).empty()) ADD_FAILURE() << "no performance data in " << Output;
  return Counts;
}

// Whether Output is one line, ended by LineEnd.
inline bool IsOneLine(const std::string& Output, const std::string& LineEnd) {
  return Output.size() >= LineEnd.size() && Output.find_first_of("\r\n") == Output.size() - LineEnd.size() &&
         Output.compare(Output.size() - LineEnd.size(), LineEnd.size(), LineEnd) == 0;
}

// Whether Output is one UNKNOWN line whose message ends by naming What (a
// file, or a process and the reason).
inline ::testing::AssertionResult IsUnknownNaming(const std::string& Output, const std::string& What,
                                                  const std::string& LineEnd = "\n") {
  const std::string Tail = " " + What + LineEnd;
  if (IsOneLine(Output, LineEnd) && Output.rfind("Unknown - ", 0) == 0 && Output.size() >= Tail.size() &&
      Output.compare(Output.size() - Tail.size(), Tail.size(), Tail) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << ::testing::PrintToString(Output) << " names no " << What;
}

// Whether a run of the built program gave one line with Status before its
// performance data and Counts in it, nothing on standard error, and
// ExitStatus.
inline ::testing::AssertionResult Counted(const TCommandResult& Run, const std::string& Status,
                                          const TCounts& Counts, int ExitStatus,
                                          const std::string& LineEnd = "\n") {
  if (IsOneLine(Run.Out, LineEnd) && StatusOf(Run.Out) == Status && CountsOf(Run.Out) == Counts &&
      Run.Err.empty() && Run.ExitStatus == ExitStatus)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit status " << Run.ExitStatus << " after "
                                       << ::testing::PrintToString(Run.Out) << Run.Err;
}

// Whether a run of the built program answered as a check with no process of
// the mail server running: an OK line that counted nothing, or with Unknown
// given, the UNKNOWN line that names it; nothing on standard error.
inline ::testing::AssertionResult Answers(const TCommandResult& Run, const std::string& Unknown = "",
                                          const std::string& LineEnd = "\n") {
  if (Unknown.empty())
    return Counted(Run, "OK - Connections=0 Smtp=0 Pop=0 Imap=0 Lumicourt=0 Helmstead=0", {}, 0, LineEnd);
  if (!Run.Err.empty() || Run.ExitStatus != 3)
    return ::testing::AssertionFailure() << "exit status " << Run.ExitStatus << " and " << Run.Err;
  return IsUnknownNaming(Run.Out, Unknown, LineEnd);
}
