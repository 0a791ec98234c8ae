// A registry of the test's own values, so that no test reads the machine's.
#pragma once

#include <map>
#include <string>

#include "install/uTRegistryMgr.h"

class TFakeRegistry : public TRegistrySource {
public:
  // Values by "HKLM\\" or "HKCU\\" + key path + "\\" + value name; for any
  // other value the key is missing.
  std::map<std::string, TRegistryValue> Values;

  // An ASCII text as the registry stores it: UTF-16LE with its NUL.
  void SetText(const std::string& Path, const std::string& Text) {
    TRegistryValue& Value = Values[Path];
    Value.Type = RegistryTypeSz;
    Value.Data.clear();
    for (char c : Text) Value.Data.insert(Value.Data.end(), {static_cast<uint8_t>(c), 0});
    Value.Data.insert(Value.Data.end(), {0, 0});
  }

  int Queries = 0;

  TRegistryQuery Query(bool LocalMachine, const std::string& Key, const std::string& Name,
                       TRegistryValue& Value) override {
    ++Queries;
    const auto Found = Values.find((LocalMachine ? "HKLM\\" : "HKCU\\") + Key + "\\" + Name);
    if (Found == Values.end()) return TRegistryQuery::KeyMissing;
    Value = Found->second;
    return TRegistryQuery::Found;
  }
};
