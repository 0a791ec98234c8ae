// Fuzz targets of the command-line parser: the splitting of a whole command
// line, the parse over the program's own options, and LeadingInteger.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "cmdline/CommandLineParser.h"
#include "driver/nagios_orvane_check.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool StartsWith(const std::string& Text, const std::string& Prefix) {
  return Text.compare(0, Prefix.size(), Prefix) == 0;
}

bool EndsWith(const std::string& Text, const std::string& Suffix) {
  return Text.size() >= Suffix.size() &&
         Text.compare(Text.size() - Suffix.size(), Suffix.size(), Suffix) == 0;
}

// Without quotes the splitting is nothing but cutting at separators.
std::vector<std::string> SplitWithoutQuotes(const std::string& Text) {
  std::vector<std::string> Parts;
  std::string Part;
  for (char c : Text) {
    if (IsSeparator(c)) {
      if (!Part.empty()) Parts.push_back(Part);
      Part.clear();
    } else {
      Part += c;
    }
  }
  if (!Part.empty()) Parts.push_back(Part);
  if (Parts.empty()) Parts.emplace_back();
  return Parts;
}

void CheckSplit(const std::string& Text, const std::vector<std::string>& Split) {
  if (Split.empty()) Fail("split gave no program name", Text);
  size_t Total = 0;
  for (size_t Index = 0; Index < Split.size(); ++Index) {
    if (Index > 0 && Split[Index].empty()) Fail("split kept an empty argument", Text);
    if (Split[Index].find('"') != std::string::npos) Fail("split kept a quote", Text);
    Total += Split[Index].size();
  }
  if (Total > Text.size()) Fail("split made text up", Text);
  if (Text.find('"') == std::string::npos && Split != SplitWithoutQuotes(Text))
    Fail("split differs from cutting at separators", Text);
}

void CheckParse(const std::vector<std::string>& Arguments, const TCommandLineParser& Parser,
                bool Parsed) {
  size_t Given = 0;
  for (const std::string& Argument : Arguments) Given += Argument.empty() ? 0 : 1;
  size_t Counted = 0;
  for (const TCommandLineArgument& Option : Parser.Arguments) {
    if (Option.Count < 0) Fail("negative count", Option.LongName);
    Counted += static_cast<size_t>(Option.Count);
    if (!Option.NeedsValue && !Option.Value.empty()) Fail("value on a flag", Option.LongName);
    if (Option.Count == 0 && !Option.Value.empty()) Fail("value without occurrence", Option.LongName);
    (void)Option.AsInteger();
  }
  if (Counted > Given) Fail("more occurrences than arguments", std::to_string(Counted));

  const std::string& Message = Parser.ErrorMessage;
  if (!Parsed) {
    const bool Known = StartsWith(Message, "Unknown parameter ") ||
                       StartsWith(Message, "Wrong value for parameter ") ||
                       (StartsWith(Message, "Param ") && EndsWith(Message, " needs a value"));
    if (!Known) Fail("unexpected error message", Message);
    if (Parser.ParameterMissing || !Parser.MissingParameters.empty())
      Fail("required check ran after an error", Parser.MissingParameters);
    return;
  }
  if (!Message.empty()) Fail("message on success", Message);
  // Only -w and -c are required, in that order.
  std::string Missing;
  for (const char* Name : {"warn", "crit"}) {
    const TCommandLineArgument* Option = Parser.FindArgument("", Name);
    if (Option == nullptr) Fail("option not declared", Name);
    if (Option->Count == 0) Missing += "\"" + Option->ShortName + "\" ";
  }
  if (Parser.MissingParameters != Missing) Fail("wrong missing list", Parser.MissingParameters);
  if (Parser.ParameterMissing != !Missing.empty()) Fail("wrong missing flag", Missing);
}

}  // namespace

// The input is a whole command line, program name first, as the system hands
// it over on Windows; split, then parsed over the program's options.
int FuzzCommandLine(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const std::vector<std::string> Split = SplitCommandLine(Text);
  CheckSplit(Text, Split);

  const std::vector<std::string> Arguments(Split.begin() + 1, Split.end());
  TCommandLineParser Parser;
  DeclareOptions(Parser);
  const bool Parsed = Parser.Parse(Arguments);
  CheckParse(Arguments, Parser, Parsed);
  return 0;
}

// LeadingInteger against the standard library's digit reading.
int FuzzLeadingInteger(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const int64_t Value = LeadingInteger(Text);

  size_t At = Text.find_first_not_of(' ');
  if (At == std::string::npos) At = Text.size();
  bool Negative = false;
  if (At < Text.size() && (Text[At] == '-' || Text[At] == '+')) Negative = Text[At++] == '-';
  int Base = 10;
  if (At < Text.size() && (Text[At] == '$' || Text[At] == 'x' || Text[At] == 'X')) {
    Base = 16;
    At += 1;
  } else if (Text.compare(At, 2, "0x") == 0 || Text.compare(At, 2, "0X") == 0) {
    Base = 16;
    At += 2;
  }
  uint64_t Digits = 0;
  const char* Begin = Text.data() + At;
  const char* End = Text.data() + Text.size();
  const std::from_chars_result Read = std::from_chars(Begin, End, Digits, Base);
  if (Read.ec == std::errc::invalid_argument) {
    if (Value != 0) Fail("digits made up", Text);
  } else if (Read.ec == std::errc()) {
    const uint64_t Expected = Negative ? 0 - Digits : Digits;
    if (static_cast<uint64_t>(Value) != Expected) Fail("wrong value", Text);
  }
  // Beyond 64 bits the value wraps; it must still be the same for the same digits.
  if (LeadingInteger(" " + Text) != Value) Fail("leading blank changed the value", Text);
  return 0;
}
