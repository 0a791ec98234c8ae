#include "tools/StandIn.h"

#include <cstdlib>
#include <stdexcept>

namespace {

// "ADDR:PORT" or "[ADDR6]:PORT".
TStandInEndpoint ParseEndpoint(const std::string& Text) {
  const size_t Colon = Text.rfind(':');
  if (Colon == std::string::npos || Colon + 1 == Text.size())
    throw std::invalid_argument("no port in " + Text);
  char* End = nullptr;
  const long Port = std::strtol(Text.c_str() + Colon + 1, &End, 10);
  if (*End != '\0' || Port < 0 || Port > 65535) throw std::invalid_argument("bad port in " + Text);
  TStandInEndpoint Endpoint;
  Endpoint.Host = Text.substr(0, Colon);
  Endpoint.Port = static_cast<uint16_t>(Port);
  if (Endpoint.Host.size() >= 2 && Endpoint.Host.front() == '[' && Endpoint.Host.back() == ']') {
    Endpoint.Host = Endpoint.Host.substr(1, Endpoint.Host.size() - 2);
    Endpoint.Ipv6 = true;
  }
  return Endpoint;
}

}  // namespace

std::vector<TStandInStep> ParseStandInArguments(const std::vector<std::string>& Arguments) {
  std::vector<TStandInStep> Steps;
  for (size_t At = 0; At < Arguments.size(); At += 2) {
    const std::string& Option = Arguments[At];
    if (At + 1 == Arguments.size()) throw std::invalid_argument("no value for " + Option);
    std::string Value = Arguments[At + 1];
    TStandInStep Step;
    if (Option == "--listen") {
      Step.Kind = TStandInStep::Listen;
    } else if (Option == "--listen6only") {
      Step.Kind = TStandInStep::Listen6Only;
    } else if (Option == "--udp") {
      Step.Kind = TStandInStep::Udp;
    } else if (Option == "--listen-no-accept") {
      Step.Kind = TStandInStep::ListenNoAccept;
    } else if (Option == "--connect" || Option == "--connect-pending" ||
               Option == "--connect-spread") {
      Step.Kind = Option == "--connect"           ? TStandInStep::Connect
                  : Option == "--connect-pending" ? TStandInStep::ConnectPending
                                                  : TStandInStep::ConnectSpread;
      const size_t Star = Value.rfind('*');
      if (Star != std::string::npos) {
        Step.Count = std::atol(Value.c_str() + Star + 1);
        if (Step.Count < 1) throw std::invalid_argument("bad count in " + Value);
        Value.resize(Star);
      }
      const size_t Comma = Value.find(',');
      // Spread connections come in turn from Sources addresses: "FIRST+SOURCES,".
      if (Step.Kind == TStandInStep::ConnectSpread) {
        const size_t Plus = Value.find('+');
        if (Comma == std::string::npos || Plus == std::string::npos || Plus > Comma)
          throw std::invalid_argument("no sources in " + Value);
        Step.From.Host = Value.substr(0, Plus);
        Step.Sources = std::atol(Value.c_str() + Plus + 1);
        if (Step.Sources < 1) throw std::invalid_argument("bad source count in " + Value);
        Step.HasFrom = true;
        Value.erase(0, Comma + 1);
      }
      // A pending connection may come from an address of its own.
      if (Step.Kind == TStandInStep::ConnectPending && Comma != std::string::npos) {
        Step.From = ParseEndpoint(Value.substr(0, Comma));
        Step.HasFrom = true;
        Value.erase(0, Comma + 1);
      }
    } else if (Option == "--connect-from") {
      Step.Kind = TStandInStep::ConnectFrom;
      const size_t Comma = Value.find(',');
      if (Comma == std::string::npos) throw std::invalid_argument("no peer in " + Value);
      Step.From = ParseEndpoint(Value.substr(0, Comma));
      Value.erase(0, Comma + 1);
    } else {
      throw std::invalid_argument("unknown option " + Option);
    }
    Step.Target = ParseEndpoint(Value);
    Steps.push_back(Step);
  }
  return Steps;
}
