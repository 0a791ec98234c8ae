#include "install/uTRegistryMgr.h"

#include <stdexcept>

#include "common/TextCodec.h"

std::string RegistryValueText(TRegistryQuery Result, const TRegistryValue& Value,
                              const std::string& Name) {
  switch (Result) {
    case TRegistryQuery::KeyMissing:
    case TRegistryQuery::ValueMissing:
      return {};
    case TRegistryQuery::ReadFailed:
      throw std::runtime_error("Failed to get data for '" + Name + "'");
    case TRegistryQuery::Found:
      break;
  }
  // Empty data is empty text whatever its type.
  if (Value.Data.empty()) return {};
  if (Value.Type != RegistryTypeSz && Value.Type != RegistryTypeExpandSz)
    throw std::runtime_error("Invalid data type for '" + Name + "'");
  // Texts normally carry their terminating NUL, but nothing guarantees it:
  // the text ends at the first NUL or with the data, and an odd last byte is
  // no part of it.
  std::u16string text = Utf16FromBytes(reinterpret_cast<const char*>(Value.Data.data()),
                                       Value.Data.size(), false);
  const size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return Utf16ToUtf8(text);
}

std::string TRegistryMgr::ReadString(bool LocalMachine, const std::string& Key,
                                     const std::string& Name) {
  TRegistryValue value;
  const TRegistryQuery result = Source.Query(LocalMachine, Key, Name, value);
  return RegistryValueText(result, value, Name);
}
