#include "install/Orvane.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "common/Digits.h"
#include "install/uTRegistryMgr.h"

TOrvane::TOrvane(TConfigFileSystem& Files, TRegistrySource& Registry)
    : Files(Files), Registry(Registry) {
  ReadAppPath();
}

void TOrvane::ReadAppPath() {
  DataPath =
      TRegistryMgr(Registry).ReadString(true, "SOFTWARE\\Kestrix Technologies\\Orvane", "AppPath");
}

bool TOrvane::LoadConfigFile(const std::string& FileName, std::vector<std::string>& Lines) {
  int64_t failures = 0;  // wide enough that RetryCount INT32_MAX cannot overflow it
  for (;;) {
    // A negative delay must not become an endless wait on the system's sleep.
    if (failures > 0 && RetryDelay > 0) Files.Sleep(RetryDelay);
    try {
      std::string bytes;
      if (Files.ReadWholeFile(FileName, bytes)) {
        // The bytes become the text in place; the text lives only until the
        // kept lines are copied out of it.
        Lines = KeptConfigLines(DecodeConfigText(std::move(bytes)));
        return true;
      }
    } catch (const std::exception&) {
      // Out of memory on a huge file: one more failed attempt, nothing else.
    }
    ++failures;
    if (failures > RetryCount) break;
  }
  Lines.clear();
  Lines.shrink_to_fit();
  throw std::runtime_error("Can not read " + FileName);
}

bool TOrvane::Contains(const std::string& Line, const std::string& Fragment) {
  return !Fragment.empty() && Line.find(Fragment) != std::string::npos;
}

std::string TOrvane::KeyValueText(const std::string& Line, const std::string& Key) {
  const size_t at = Line.find(Key);
  if (at == std::string::npos) return {};
  return Line.substr(at + Key.size());
}

int64_t TOrvane::KeyValueInteger(const std::string& Line, const std::string& Key) {
  return LeadingInteger(KeyValueText(Line, Key));
}
