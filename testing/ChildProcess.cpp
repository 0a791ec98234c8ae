#include "testing/ChildProcess.h"

#include <chrono>

bool TChildProcess::AwaitLine(const std::string& Line, int TimeoutMs) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    for (size_t End; (End = Pending.find('\n')) != std::string::npos;) {
      std::string Got = Pending.substr(0, End);
      Pending.erase(0, End + 1);
      if (!Got.empty() && Got.back() == '\r') Got.pop_back();
      if (Got == Line) return true;
    }
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          Deadline - std::chrono::steady_clock::now())
                          .count();
    if (Left <= 0 || !ReadMore(static_cast<int>(Left))) return false;
  }
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& Inherited,
                                           const std::vector<std::string>& Additions) {
  std::vector<std::string> Merged;
  for (const std::string& Entry : Inherited) {
    const std::string Name = Entry.substr(0, Entry.find('=') + 1);
    bool Replaced = false;
    for (const std::string& Addition : Additions) Replaced |= Addition.compare(0, Name.size(), Name) == 0;
    if (!Replaced) Merged.push_back(Entry);
  }
  Merged.insert(Merged.end(), Additions.begin(), Additions.end());
  return Merged;
}
