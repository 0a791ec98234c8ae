#include "install/uTRegistryMgr.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TRegistryValue Value(uint32_t type, std::initializer_list<uint8_t> data) {
  TRegistryValue value;
  value.Type = type;
  value.Data = data;
  return value;
}

// "C:\A\" as the registry stores it, terminating NUL included.
const std::initializer_list<uint8_t> kPath = {'C', 0, ':', 0, '\\', 0, 'A', 0, '\\', 0, 0, 0};

TEST(RegistryValueText, TextsAndMissingValues) {
  const struct {
    const char* What;
    TRegistryQuery Result;
    TRegistryValue Value;
    std::string Expected;
  } cases[] = {
      {"missing key", TRegistryQuery::KeyMissing, Value(RegistryTypeSz, kPath), ""},
      {"missing value", TRegistryQuery::ValueMissing, {}, ""},
      {"REG_SZ", TRegistryQuery::Found, Value(RegistryTypeSz, kPath), "C:\\A\\"},
      {"REG_EXPAND_SZ, unexpanded", TRegistryQuery::Found,
       Value(RegistryTypeExpandSz, {'%', 0, 'X', 0, '%', 0, 0, 0}), "%X%"},
      {"cut at the first NUL", TRegistryQuery::Found,
       Value(RegistryTypeSz, {'a', 0, 0, 0, 'b', 0, 0, 0}), "a"},
      {"no terminating NUL", TRegistryQuery::Found, Value(RegistryTypeSz, {'a', 0, 'b', 0}), "ab"},
      {"odd last byte", TRegistryQuery::Found, Value(RegistryTypeSz, {'a', 0, 'b'}), "a"},
      {"non-ASCII", TRegistryQuery::Found, Value(RegistryTypeSz, {0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE}),
       "\xC3\xA9\xF0\x9F\x98\x80"},
      {"only a NUL", TRegistryQuery::Found, Value(RegistryTypeSz, {0, 0}), ""},
      {"empty text", TRegistryQuery::Found, Value(RegistryTypeSz, {}), ""},
      // Empty data gives empty text before its type is looked at.
      {"empty number", TRegistryQuery::Found, Value(RegistryTypeDword, {}), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RegistryValueText(c.Result, c.Value, "AppPath"), c.Expected) << c.What;
}

TEST(RegistryValueText, OtherTypesAndFailedReadsRaise) {
  const struct {
    TRegistryQuery Result;
    TRegistryValue Value;
    const char* Message;
  } cases[] = {
      {TRegistryQuery::Found, Value(RegistryTypeDword, {1, 0, 0, 0}), "Invalid data type for 'AppPath'"},
      {TRegistryQuery::Found, Value(RegistryTypeBinary, {'a', 0}), "Invalid data type for 'AppPath'"},
      {TRegistryQuery::Found, Value(RegistryTypeNone, {'a', 0}), "Invalid data type for 'AppPath'"},
      {TRegistryQuery::Found, Value(7, {'a', 0, 0, 0, 0, 0}), "Invalid data type for 'AppPath'"},
      {TRegistryQuery::ReadFailed, {}, "Failed to get data for 'AppPath'"},
  };
  for (const auto& c : cases) {
    try {
      RegistryValueText(c.Result, c.Value, "AppPath");
      ADD_FAILURE() << "no error for " << c.Message;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }
}

}  // namespace
