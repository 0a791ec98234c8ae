#include "check/Networks.h"

#include <cstring>
#include <vector>

#include "census/GetConnections.h"
#include "common/Digits.h"

namespace {

const uint8_t MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsMapped(const TAddressKey& Address) {
  return Address.Ipv6 && std::memcmp(Address.Bytes, MappedPrefix, sizeof MappedPrefix) == 0;
}

TAddressKey Ipv4Of(const uint8_t Bytes[4]) {
  TAddressKey Address;
  std::memcpy(Address.Bytes, Bytes, 4);
  return Address;
}

// Decimal digits only, at most MaxDigits of them; no sign, no leading zero
// unless the number is 0.
bool ReadDecimal(const std::string& Text, size_t MaxDigits, unsigned& Value) {
  return Text.size() <= MaxDigits && !(Text.size() > 1 && Text[0] == '0') && ParseDecimal(Text, Value);
}

bool ParseIpv4(const std::string& Text, uint8_t Bytes[4]) {
  size_t Start = 0;
  for (int Part = 0; Part < 4; ++Part) {
    const size_t Dot = Part < 3 ? Text.find('.', Start) : Text.size();
    if (Dot == std::string::npos) return false;
    unsigned Value;
    if (!ReadDecimal(Text.substr(Start, Dot - Start), 3, Value) || Value > 255) return false;
    Bytes[Part] = uint8_t(Value);
    Start = Dot + 1;
  }
  return true;
}

bool ParseIpv6(const std::string& Text, uint8_t Bytes[16]) {
  std::vector<uint16_t> Head, Tail;
  std::vector<uint16_t>* Groups = &Head;
  bool Gap = false;
  size_t At = 0;
  if (Text.compare(0, 2, "::") == 0) {
    Gap = true;
    Groups = &Tail;
    At = 2;
  } else if (!Text.empty() && Text[0] == ':') {
    return false;
  }
  while (At < Text.size()) {
    const size_t End = Text.find(':', At);
    const std::string Piece = Text.substr(At, End == std::string::npos ? End : End - At);
    if (Piece.find('.') != std::string::npos) {
      // A dotted IPv4 tail ends the address.
      uint8_t Four[4];
      if (End != std::string::npos || !ParseIpv4(Piece, Four)) return false;
      Groups->push_back(uint16_t(Four[0] << 8 | Four[1]));
      Groups->push_back(uint16_t(Four[2] << 8 | Four[3]));
      break;
    }
    if (Piece.empty() || Piece.size() > 4) return false;
    unsigned Value = 0;
    for (char C : Piece) {
      const int Digit = HexDigit(C);
      if (Digit < 0) return false;
      Value = Value << 4 | unsigned(Digit);
    }
    Groups->push_back(uint16_t(Value));
    if (End == std::string::npos) break;
    if (End + 1 < Text.size() && Text[End + 1] == ':') {
      if (Gap) return false;
      Gap = true;
      Groups = &Tail;
      At = End + 2;
    } else {
      At = End + 1;
      if (At == Text.size()) return false;  // a colon at the end
    }
  }
  const size_t Count = Head.size() + Tail.size();
  // "::" stands for one group of zeros at least.
  if (Gap ? Count > 7 : Count != 8) return false;
  std::memset(Bytes, 0, 16);
  for (size_t Index = 0; Index < Head.size(); ++Index) {
    Bytes[2 * Index] = uint8_t(Head[Index] >> 8);
    Bytes[2 * Index + 1] = uint8_t(Head[Index]);
  }
  const size_t TailStart = 8 - Tail.size();
  for (size_t Index = 0; Index < Tail.size(); ++Index) {
    Bytes[2 * (TailStart + Index)] = uint8_t(Tail[Index] >> 8);
    Bytes[2 * (TailStart + Index) + 1] = uint8_t(Tail[Index]);
  }
  return true;
}

}  // namespace

bool operator<(const TAddressKey& A, const TAddressKey& B) {
  if (A.Ipv6 != B.Ipv6) return B.Ipv6;
  return std::memcmp(A.Bytes, B.Bytes, sizeof A.Bytes) < 0;
}

bool operator==(const TAddressKey& A, const TAddressKey& B) {
  return A.Ipv6 == B.Ipv6 && std::memcmp(A.Bytes, B.Bytes, sizeof A.Bytes) == 0;
}

TAddressKey AddressKeyOf(bool Ipv6, const uint8_t Bytes[16]) {
  TAddressKey Address;
  Address.Ipv6 = Ipv6;
  std::memcpy(Address.Bytes, Bytes, Ipv6 ? 16 : 4);
  return IsMapped(Address) ? Ipv4Of(Address.Bytes + 12) : Address;
}

TAddressKey Masked(const TAddressKey& Address, int Length) {
  TAddressKey Network = Address;
  const int Bits = Address.Ipv6 ? 128 : 32;
  for (int Bit = Length < 0 ? 0 : Length; Bit < Bits; ++Bit)
    Network.Bytes[Bit / 8] &= uint8_t(~(0x80u >> (Bit % 8)));
  return Network;
}

bool InNetwork(const TAddressKey& Address, const TNetwork& Network) {
  return Address.Ipv6 == Network.Address.Ipv6 &&
         Masked(Address, Network.PrefixLength) == Network.Address;
}

std::string AddressText(const TAddressKey& Address) {
  if (Address.Ipv6) return Ipv6AddressToText(Address.Bytes);
  const uint8_t* B = Address.Bytes;
  return IpAddressToText(uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 |
                         uint32_t(B[3]) << 24);
}

std::string GroupText(const TAddressKey& Network, int Length) {
  const int Bits = Network.Ipv6 ? 128 : 32;
  if (Length >= Bits) return AddressText(Network);
  return AddressText(Network) + "/" + std::to_string(Length);
}

bool ParseAddress(const std::string& Text, TAddressKey& Address) {
  TAddressKey Parsed;
  if (Text.find(':') != std::string::npos) {
    if (!ParseIpv6(Text, Parsed.Bytes)) return false;
    Parsed.Ipv6 = true;
  } else if (!ParseIpv4(Text, Parsed.Bytes)) {
    return false;
  }
  Address = Parsed;
  return true;
}

std::string ParseNetwork(const std::string& Text, TNetwork& Network) {
  const size_t Slash = Text.find('/');
  TNetwork Parsed;
  if (!ParseAddress(Text.substr(0, Slash), Parsed.Address)) return "no address";
  const int Bits = Parsed.Address.Ipv6 ? 128 : 32;
  Parsed.PrefixLength = Bits;
  if (Slash != std::string::npos) {
    unsigned Length;
    if (!ReadDecimal(Text.substr(Slash + 1), 3, Length)) return "bad prefix length";
    if (Length > unsigned(Bits)) return Bits == 32 ? "prefix over 32" : "prefix over 128";
    Parsed.PrefixLength = int(Length);
  }
  if (Masked(Parsed.Address, Parsed.PrefixLength) != Parsed.Address) return "host bits set";
  if (IsMapped(Parsed.Address) && Parsed.PrefixLength >= 96) {
    Parsed.Address = Ipv4Of(Parsed.Address.Bytes + 12);
    Parsed.PrefixLength -= 96;
  }
  Network = Parsed;
  return {};
}
