// Addresses and networks as bytes, for grouping the sources of connections:
// the text an administrator writes, the key a census row gives, and the text
// a verdict names.
#pragma once

#include <cstdint>
#include <string>

// An IPv4 address in the first four bytes (the rest 0), or an IPv6 address;
// network order. Keys order IPv4 before IPv6, then by their bytes, so the
// lower of two addresses is the one a verdict names.
struct TAddressKey {
  bool Ipv6 = false;
  uint8_t Bytes[16] = {};
};

bool operator<(const TAddressKey& A, const TAddressKey& B);
bool operator==(const TAddressKey& A, const TAddressKey& B);
inline bool operator!=(const TAddressKey& A, const TAddressKey& B) { return !(A == B); }

struct TNetwork {
  TAddressKey Address;  // host bits 0
  int PrefixLength = 0;
};

// The address a census row gives (Ipv6, sixteen bytes), an IPv4-mapped IPv6
// address taken as its IPv4 address: a dual-stack listener's IPv4 client is
// the same client as over IPv4.
TAddressKey AddressKeyOf(bool Ipv6, const uint8_t Bytes[16]);

// The first Length bits of Address, the rest 0.
TAddressKey Masked(const TAddressKey& Address, int Length);

// Whether Address lies in Network; families never mix.
bool InNetwork(const TAddressKey& Address, const TNetwork& Network);

// Dotted IPv4 or canonical IPv6 text.
std::string AddressText(const TAddressKey& Address);
// A group of sources: the address alone for a full-length prefix, else
// "network/length".
std::string GroupText(const TAddressKey& Network, int Length);

// A dotted IPv4 address (four decimal numbers 0..255, no leading zeros) or
// an IPv6 address as RFC 4291 writes them (hex groups, one "::", a dotted
// IPv4 tail). False for anything else, zone ids included.
bool ParseAddress(const std::string& Text, TAddressKey& Address);

// "ADDRESS[/LENGTH]": without a length, the address alone. An IPv4-mapped
// network of length 96 or more becomes the IPv4 network it maps. The reason
// it is refused, empty when it is taken: "no address", "bad prefix length",
// "prefix over 32", "prefix over 128", "host bits set".
std::string ParseNetwork(const std::string& Text, TNetwork& Network);
