// A small parser of short and long options with values, repeat counts and
// required options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Digits.h"

// Splits a whole command-line text into arguments: characters up to U+0020
// separate arguments, a double quote opens a stretch (which may hold blanks)
// up to the next double quote or the end, quotes are removed, and there is no
// escape character, so a backslash before a quote is kept as it stands. Empty
// arguments are dropped, except the first element: it is always present and
// is the program name as it stands in the text (empty for an empty text or an
// empty quoted name), so the caller can drop it without losing an argument.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

class TCommandLineArgument {
public:
  std::string ShortName;
  std::string LongName;
  std::string Value;     // of the last occurrence
  std::vector<std::string> Values;  // of every occurrence, in order
  bool NeedsValue = false;
  int32_t Count = 0;     // occurrences seen by the parse
  bool Optional = false;

  int64_t AsInteger() const { return LeadingInteger(Value); }
};

class TCommandLineParser {
public:
  std::vector<TCommandLineArgument> Arguments;  // in declaration order
  std::string ErrorMessage;
  std::string MissingParameters;  // "\"w\" \"c\" " for each required option not seen
  bool ParameterMissing = false;

  void AddArgument(const std::string& ShortName, const std::string& LongName,
                   bool NeedsValue, bool Required);

  // Parses the arguments after the program name. Empty arguments are dropped
  // first. False when an error stopped the parse (see ErrorMessage).
  bool Parse(const std::vector<std::string>& arguments);

  // The last declared option whose short name (if given) or long name (if
  // given) matches exactly; nullptr when none does.
  TCommandLineArgument* FindArgument(const std::string& ShortName,
                                     const std::string& LongName);
  const TCommandLineArgument* FindArgument(const std::string& ShortName,
                                           const std::string& LongName) const;
  bool HasArgument(const std::string& ShortName, const std::string& LongName) const;
};
