// The kernel's netlink socket diagnostics: the dump request and its replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "census/KernelSockets_linux.h"

// The dump request for every socket of one family (AF_INET, AF_INET6) and
// protocol (IPPROTO_TCP, IPPROTO_UDP), in all states.
std::vector<uint8_t> BuildDiagRequest(uint8_t Family, uint8_t Protocol, uint32_t Sequence);

struct TDiagResult {
  enum { More, Done, Failed } Status = More;
  int Error = 0;  // errno value when Failed
};

// One received datagram of a dump: every socket message of that Sequence and
// Family is appended to Out. Done at the end of the dump; Failed for an error
// message or a malformed length. Any bytes are safe.
TDiagResult ParseDiagMessages(const uint8_t* Data, size_t Size, uint32_t Sequence,
                              uint8_t Family, bool Tcp, TKernelSockets& Out);
