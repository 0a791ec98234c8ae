#include "cmdline/CommandLineParser.h"

#include <utility>

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> result;
  const size_t n = commandLine.size();
  size_t i = 0;
  for (;;) {
    while (i < n && IsSeparator(commandLine[i])) ++i;
    if (i >= n) break;

    std::string argument;
    while (i < n && !IsSeparator(commandLine[i])) {
      if (commandLine[i] == '"') {
        // A quoted stretch keeps blanks and runs to the next quote or the end;
        // a backslash is an ordinary character, so "C:\dir\" ends at its quote.
        ++i;
        const size_t close = commandLine.find('"', i);
        const size_t end = close == std::string::npos ? n : close;
        argument.append(commandLine, i, end - i);
        i = close == std::string::npos ? n : close + 1;
      } else {
        argument += commandLine[i++];
      }
    }
    // The program name always takes the first place, even when it is an empty
    // quoted pair, so that dropping it can never drop a real argument.
    if (!argument.empty() || result.empty()) result.push_back(std::move(argument));
  }
  if (result.empty()) result.emplace_back();
  return result;
}

void TCommandLineParser::AddArgument(const std::string& ShortName, const std::string& LongName,
                                     bool NeedsValue, bool Required) {
  TCommandLineArgument argument;
  argument.ShortName = ShortName;
  argument.LongName = LongName;
  argument.NeedsValue = NeedsValue;
  argument.Optional = !Required;
  Arguments.push_back(std::move(argument));
}

bool TCommandLineParser::Parse(const std::vector<std::string>& arguments) {
  std::vector<const std::string*> args;
  args.reserve(arguments.size());
  for (const std::string& a : arguments)
    if (!a.empty()) args.push_back(&a);

  const size_t n = args.size();
  for (size_t i = 0; i < n; ++i) {
    const std::string& s = *args[i];
    if (s[0] != '-' && s[0] != '/') {
      ErrorMessage = "Unknown parameter " + s;
      return false;
    }

    const bool isLong = s.size() > 1 && s[1] == '-';
    const std::string rest = s.substr(isLong ? 2 : 1);

    std::string name, value;
    const size_t eq = rest.find('=');
    if (eq == std::string::npos) {
      name = rest;
    } else {
      name = rest.substr(0, eq);
      value = rest.substr(eq + 1);
    }

    TCommandLineArgument* option = isLong ? FindArgument("", name) : FindArgument(name, "");
    if (option == nullptr) {
      ErrorMessage = "Unknown parameter " + name;
      return false;
    }
    if (!option->NeedsValue && !value.empty()) {
      ErrorMessage = "Wrong value for parameter " + name;
      return false;
    }
    if (option->NeedsValue && value.empty()) {
      if (i + 1 == n) {
        ErrorMessage = "Param " + name + " needs a value";
        return false;
      }
      // The next argument is the value whatever it looks like, so "-w -5"
      // works and "-c --warn" gives c the text "--warn".
      value = *args[++i];
    }

    ++option->Count;
    if (option->NeedsValue) option->Values.push_back(value);
    option->Value = std::move(value);
  }

  for (const TCommandLineArgument& option : Arguments) {
    if (!option.Optional && option.Count == 0) {
      MissingParameters += "\"" + option.ShortName + "\" ";
      ParameterMissing = true;
    }
  }
  return true;
}

TCommandLineArgument* TCommandLineParser::FindArgument(const std::string& ShortName,
                                                       const std::string& LongName) {
  const auto* self = this;
  return const_cast<TCommandLineArgument*>(self->FindArgument(ShortName, LongName));
}

const TCommandLineArgument* TCommandLineParser::FindArgument(const std::string& ShortName,
                                                             const std::string& LongName) const {
  const TCommandLineArgument* found = nullptr;
  for (const TCommandLineArgument& option : Arguments) {
    if ((!ShortName.empty() && ShortName == option.ShortName) ||
        (!LongName.empty() && LongName == option.LongName))
      found = &option;
  }
  return found;
}

bool TCommandLineParser::HasArgument(const std::string& ShortName, const std::string& LongName) const {
  const TCommandLineArgument* option = FindArgument(ShortName, LongName);
  return option != nullptr && option->Count != 0;
}
