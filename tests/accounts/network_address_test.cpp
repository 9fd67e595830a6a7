#include "gate/accounts/network_address.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// Each address text, the one form it is written in (empty: no address) and its network
// at the default prefix and at /48.
TEST(NetworkAddress, EverySpellingHasOneFormAndOneNetwork) {
  struct Case {
    std::string text, canonical, network, network48;
  };
  const Case cases[] = {
      {"203.0.113.9", "203.0.113.9", "203.0.113.9", "203.0.113.9"},
      {"::ffff:203.0.113.9", "203.0.113.9", "203.0.113.9", "203.0.113.9"},
      {"::FFFF:cb00:7109", "203.0.113.9", "203.0.113.9", "203.0.113.9"},
      {"2001:DB8:0:0::1", "2001:db8::1", "2001:db8::/64", "2001:db8::/48"},
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1", "2001:db8::/64", "2001:db8::/48"},
      {"2001:db8:0:1:0:0:1:1", "2001:db8:0:1::1:1", "2001:db8:0:1::/64", "2001:db8::/48"},
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1", "2001:0:0:1::/64", "2001::/48"},
      {"1:0:1:0:1:0:1:0", "1:0:1:0:1:0:1:0", "1:0:1::/64", "1:0:1::/48"},
      {"::1", "::1", "::/64", "::/48"},
      {"fe80::1%eth0", "fe80::1", "fe80::/64", "fe80::/48"},
      {"::1.2.3.4", "::102:304", "::/64", "::/48"},
      {"", "", "", ""},
      {"1.2.3", "", "1.2.3", "1.2.3"},
      {"1.2.3.256", "", "1.2.3.256", "1.2.3.256"},
      {"01.2.3.4", "", "01.2.3.4", "01.2.3.4"},
      {"1::2::3", "", "1::2::3", "1::2::3"},
      {":::", "", ":::", ":::"},
      {"1:2:3:4:5:6:7:8:9", "", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8:9"},
      {"1:2:3:4:5:6:7:", "", "1:2:3:4:5:6:7:", "1:2:3:4:5:6:7:"},
      {"12345::", "", "12345::", "12345::"},
      {"1:2:3:4:5:6:7:1.2.3.4", "", "1:2:3:4:5:6:7:1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4"},
      {std::string(100000, ':'), "", std::string(100000, ':'), std::string(100000, ':')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const auto parsed = ParseAddress(c.text);
    EXPECT_EQ(parsed ? FormatAddress(*parsed) : "", c.canonical);
    EXPECT_EQ(AddressNetwork(c.text, kDefaultIpv6Prefix), c.network);
    EXPECT_EQ(AddressNetwork(c.text, 48), c.network48);
  }
  EXPECT_EQ(AddressNetwork("2001:db8:1:2:3:4:5:6", 128), "2001:db8:1:2:3:4:5:6");
  EXPECT_EQ(AddressNetwork("2001:db8:1:2:3:4:5:6", 60), "2001:db8:1::/60");
  for (const auto& [text, prefix] : {std::pair<const char*, int>{"", 64},
                                     {"48", 48},
                                     {"128", 128},
                                     {"47", 64},
                                     {"129", 64},
                                     {"56x", 64},
                                     {"-64", 64}}) {
    EXPECT_EQ(ParseIpv6Prefix(text), prefix) << text;
  }
}

}  // namespace
}  // namespace orvane
