#include "check/Networks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TAddressKey Address(const std::string& Text) {
  TAddressKey Parsed;
  EXPECT_TRUE(ParseAddress(Text, Parsed)) << Text;
  return Parsed;
}

// What an administrator may write, and how it reads back.
TEST(Networks, AddressesAsWrittenAndAsShown) {
  const struct {
    const char* Text;
    const char* Shown;  // nullptr: refused
  } Cases[] = {
      {"203.0.113.9", "203.0.113.9"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"2001:DB8::1", "2001:db8::1"},
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:2:3:4:5:6::8", "1:2:3:4:5:6:0:8"},
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
      {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
      {"256.0.0.1", nullptr},
      {"10.0.0", nullptr},
      {"10.0.0.1.", nullptr},
      {"10.0.0.01", nullptr},  // a leading zero reads as octal elsewhere
      {"10.0.0.-1", nullptr},
      {"", nullptr},
      {"example.org", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4:5:6:7", nullptr},
      {"1:2:3:4:5:6:7:8::", nullptr},  // "::" must stand for a group
      {"1::2::3", nullptr},
      {":1::", nullptr},
      {"1::2:", nullptr},
      {":::", nullptr},
      {"12345::", nullptr},
      {"fe80::1%eth0", nullptr},
      {"::1.2.3.4:5", nullptr},
      {"g::", nullptr},
  };
  for (const auto& Case : Cases) {
    TAddressKey Parsed;
    const bool Taken = ParseAddress(Case.Text, Parsed);
    EXPECT_EQ(Taken, Case.Shown != nullptr) << Case.Text;
    if (Taken && Case.Shown) {
      EXPECT_EQ(AddressText(Parsed), Case.Shown) << Case.Text;
    }
  }
}

TEST(Networks, NetworksAsWrittenAndWhyRefused) {
  const struct {
    const char* Text;
    const char* Shown;  // GroupText of the network, or the reason it is refused
  } Cases[] = {
      {"192.0.2.0/24", "192.0.2.0/24"},
      {"192.0.2.7", "192.0.2.7"},
      {"192.0.2.7/32", "192.0.2.7"},
      {"0.0.0.0/0", "0.0.0.0/0"},
      {"2001:db8::/32", "2001:db8::/32"},
      {"::/0", "::/0"},
      {"2001:db8::1", "2001:db8::1"},
      // A mapped network is the IPv4 network, as sources are.
      {"::ffff:192.0.2.0/120", "192.0.2.0/24"},
      {"::ffff:0:0/96", "0.0.0.0/0"},
      {"192.0.2.1/24", "host bits set"},
      {"2001:db8::1/64", "host bits set"},
      {"192.0.2.0/33", "prefix over 32"},
      {"2001:db8::/129", "prefix over 128"},
      {"192.0.2.0/", "bad prefix length"},
      {"192.0.2.0/-1", "bad prefix length"},
      {"192.0.2.0/024", "bad prefix length"},
      {"192.0.2.0/24/8", "bad prefix length"},
      {"", "no address"},
      {"/24", "no address"},
      {"host.example/24", "no address"},
  };
  for (const auto& Case : Cases) {
    TNetwork Network;
    const std::string Why = ParseNetwork(Case.Text, Network);
    const std::string Shown = Why.empty() ? GroupText(Network.Address, Network.PrefixLength) : Why;
    EXPECT_EQ(Shown, Case.Shown) << Case.Text;
  }
}

TEST(Networks, SourcesKeysGroupsAndOrder) {
  // A dual-stack listener's IPv4 client is its IPv4 address.
  const uint8_t Mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 203, 0, 113, 9};
  EXPECT_EQ(AddressKeyOf(true, Mapped), Address("203.0.113.9"));
  const uint8_t Compatible[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 203, 0, 113, 9};
  EXPECT_TRUE(AddressKeyOf(true, Compatible).Ipv6);
  // An IPv4 row's bytes after the fourth are not part of it.
  const uint8_t Ipv4Row[16] = {10, 0, 0, 1, 0xEE, 0xEE};
  EXPECT_EQ(AddressKeyOf(false, Ipv4Row), Address("10.0.0.1"));

  EXPECT_EQ(AddressText(Masked(Address("203.0.113.9"), 24)), "203.0.113.0");
  EXPECT_EQ(AddressText(Masked(Address("203.0.113.255"), 25)), "203.0.113.128");
  EXPECT_EQ(AddressText(Masked(Address("2001:db8:1:2:3:4:5:6"), 64)), "2001:db8:1:2::");
  EXPECT_EQ(AddressText(Masked(Address("2001:db8:1:2:3:4:5:6"), 0)), "::");
  EXPECT_EQ(GroupText(Masked(Address("2001:db8:1:2:3:4:5:6"), 127), 127),
            "2001:db8:1:2:3:4:5:6/127");

  TNetwork Net;
  ASSERT_EQ(ParseNetwork("10.1.0.0/16", Net), "");
  EXPECT_TRUE(InNetwork(Address("10.1.255.3"), Net));
  EXPECT_FALSE(InNetwork(Address("10.2.0.1"), Net));
  EXPECT_FALSE(InNetwork(Address("::ffff:10.1.0.1"), Net));  // families never mix as keys
  ASSERT_EQ(ParseNetwork("::/0", Net), "");
  EXPECT_FALSE(InNetwork(Address("10.1.0.1"), Net));
  EXPECT_TRUE(InNetwork(Address("2001:db8::1"), Net));

  // The lower address in numbers, IPv4 before IPv6.
  EXPECT_LT(Address("9.255.255.255"), Address("10.0.0.0"));
  EXPECT_LT(Address("10.0.0.2"), Address("10.0.0.10"));
  EXPECT_LT(Address("255.255.255.255"), Address("::"));
  EXPECT_LT(Address("2001:db8::2"), Address("2001:db8::10"));
  EXPECT_FALSE(Address("10.0.0.1") < Address("10.0.0.1"));
}

}  // namespace
