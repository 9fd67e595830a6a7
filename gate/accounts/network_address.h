// Client addresses as the server hands them over in REMOTE_ADDR, read as IPv4 or IPv6
// addresses, written in one form whatever their spelling, and cut to the network that
// one subscriber holds, so that counts kept per network cannot be spread over the many
// addresses of one line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// The bounds and the default of the IPv6 prefix length that counts are kept for.
inline constexpr int kShortestIpv6Prefix = 48;
inline constexpr int kDefaultIpv6Prefix = 64;

// The 16 bytes of an IPv6 address; an IPv4 address is held as ::ffff:a.b.c.d.
using AddressBytes = std::array<std::uint8_t, 16>;

// The address of dotted IPv4 text (four decimal numbers to 255, no leading zeros) or of
// IPv6 text (hex groups, one "::", a dotted tail, a "%zone" that is dropped); none for
// anything else. Linear in the text, and text longer than any address is refused at once.
std::optional<AddressBytes> ParseAddress(std::string_view text);
// The one text of an address: dotted for IPv4 and IPv4-mapped addresses, otherwise
// lower-case groups without leading zeros, the first longest run of two or more zero
// groups written "::".
std::string FormatAddress(const AddressBytes& address);
// The prefix length a config.txt value names: 48 to 128, else the default.
int ParseIpv6Prefix(std::string_view text);
// The network the counts of a client address are kept for: an IPv4 address whole, an
// IPv6 address cut to its first `ipv6_prefix` bits and followed by "/" and the length
// (none for 128). Text that is no address stays as it is, counted on its own.
std::string AddressNetwork(std::string_view address, int ipv6_prefix);

}  // namespace orvane
