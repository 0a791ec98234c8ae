// Registry export files as the registry editor writes them, for tests.
#pragma once

#include <string>

#include "common/TextCodec.h"

// UTF-16LE with its byte-order mark.
inline std::string Utf16File(const std::string& Text) {
  std::string Bytes = "\xFF\xFE";
  for (char16_t Unit : Utf8ToUtf16(Text)) {
    Bytes += static_cast<char>(Unit & 0xFF);
    Bytes += static_cast<char>(Unit >> 8);
  }
  return Bytes;
}
