// The low 32 bits of a number, read as a signed number: how an option's value
// and a configured port are stored.
#pragma once

#include <cstdint>

constexpr int32_t Low32(int64_t Value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value)));
}
