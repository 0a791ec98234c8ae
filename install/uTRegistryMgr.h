// Reads one string value from the registry (on Linux: from a registry export
// file that stands in for it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Registry value types, with the system's numbers.
enum : uint32_t {
  RegistryTypeNone = 0,
  RegistryTypeSz = 1,
  RegistryTypeExpandSz = 2,
  RegistryTypeBinary = 3,
  RegistryTypeDword = 4,
};

// One value as the system hands it over: its type and its raw data bytes
// (texts are UTF-16LE, normally with their terminating NUL).
struct TRegistryValue {
  uint32_t Type = RegistryTypeNone;
  std::vector<uint8_t> Data;
};

enum class TRegistryQuery {
  Found,         // Value holds the type and data
  KeyMissing,    // the key is absent or cannot be opened for reading
  ValueMissing,  // the key exists, the value does not
  ReadFailed,    // the value exists but its data could not be read
};

// Where registry values come from: the system's registry, or a test's own.
class TRegistrySource {
public:
  virtual ~TRegistrySource() = default;
  // One value of HKEY_LOCAL_MACHINE (LocalMachine) or HKEY_CURRENT_USER, with
  // the key path relative to that root.
  virtual TRegistryQuery Query(bool LocalMachine, const std::string& Key, const std::string& Name,
                               TRegistryValue& Value) = 0;
};

// The running system's registry (platform code; on Linux the registry file
// the installation names).
TRegistrySource& SystemRegistrySource();

// Turns a queried value into the text ReadString gives: empty for a missing
// key or value or for empty data, the text up to its first NUL for string
// types; throws std::runtime_error "Invalid data type for '<Name>'" for any
// other type and "Failed to get data for '<Name>'" when the read failed.
std::string RegistryValueText(TRegistryQuery Result, const TRegistryValue& Value,
                              const std::string& Name);

class TRegistryMgr {
public:
  explicit TRegistryMgr(TRegistrySource& Source) : Source(Source) {}
  std::string ReadString(bool LocalMachine, const std::string& Key, const std::string& Name);

private:
  TRegistrySource& Source;
};
