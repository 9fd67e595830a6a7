// Reading and writing IPv4 and IPv6 address text without the system's help: the text
// comes from the server, but it is read as if it came from anyone.
#include "gate/accounts/network_address.h"

#include <charconv>

namespace orvane {
namespace {

using Ipv4Bytes = std::array<std::uint8_t, 4>;

// Longer than "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255" before a zone is dropped.
constexpr std::size_t kLongestAddressText = 64;
constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Ipv4Bytes> ParseIpv4(std::string_view text) {
  Ipv4Bytes bytes{};
  std::size_t at = 0;
  for (std::size_t part = 0; part < bytes.size(); ++part) {
    if (part > 0 && (at >= text.size() || text[at++] != '.')) return std::nullopt;
    const std::size_t start = at;
    int value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 3) {
      value = value * 10 + (text[at++] - '0');
    }
    // "010" is refused: some read it as octal.
    if (at == start || value > 255 || (at - start > 1 && text[start] == '0')) return std::nullopt;
    bytes[part] = static_cast<std::uint8_t>(value);
  }
  if (at != text.size()) return std::nullopt;
  return bytes;
}

std::optional<int> ParseHexGroup(std::string_view part) {
  if (part.empty() || part.size() > 4) return std::nullopt;
  int value = 0;
  for (const char c : part) {
    const int digit = HexValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
  }
  return value;
}

std::optional<AddressBytes> ParseIpv6(std::string_view text) {
  std::array<int, 8> groups{};
  int count = 0;
  int gap = -1;  // the number of groups before "::"
  std::size_t at = 0;
  if (text.starts_with("::")) {
    gap = 0;
    at = 2;
  }
  while (at < text.size()) {
    if (count >= 8) return std::nullopt;
    const std::size_t colon = text.find(':', at);
    const std::string_view part =
        text.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
    if (colon == std::string_view::npos && part.find('.') != std::string_view::npos) {
      const std::optional<Ipv4Bytes> tail = ParseIpv4(part);
      if (!tail || count > 6) return std::nullopt;
      groups[count++] = (*tail)[0] << 8 | (*tail)[1];
      groups[count++] = (*tail)[2] << 8 | (*tail)[3];
      break;
    }
    const std::optional<int> group = ParseHexGroup(part);
    if (!group) return std::nullopt;
    groups[count++] = *group;
    at += part.size();
    if (at == text.size()) break;
    if (++at == text.size()) return std::nullopt;  // a lone ":" at the end
    if (text[at] == ':') {
      if (gap >= 0) return std::nullopt;
      gap = count;
      ++at;
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return std::nullopt;
  AddressBytes bytes{};
  const int skipped = gap < 0 ? 0 : 8 - count;
  for (int group = 0; group < count; ++group) {
    const int slot = gap >= 0 && group >= gap ? group + skipped : group;
    bytes[2 * slot] = static_cast<std::uint8_t>(groups[group] >> 8);
    bytes[2 * slot + 1] = static_cast<std::uint8_t>(groups[group] & 0xFF);
  }
  return bytes;
}

bool IsIpv4Mapped(const AddressBytes& address) {
  for (std::size_t i = 0; i < sizeof(kMappedPrefix); ++i) {
    if (address[i] != kMappedPrefix[i]) return false;
  }
  return true;
}

void AppendHex(std::string& text, int value) {
  char digits[8];
  const auto result = std::to_chars(digits, digits + sizeof(digits), value, 16);
  text.append(digits, result.ptr);
}

}  // namespace

std::optional<AddressBytes> ParseAddress(std::string_view text) {
  if (text.size() > kLongestAddressText) return std::nullopt;
  if (text.find(':') == std::string_view::npos) {
    const std::optional<Ipv4Bytes> ipv4 = ParseIpv4(text);
    if (!ipv4) return std::nullopt;
    AddressBytes bytes{};
    for (std::size_t i = 0; i < sizeof(kMappedPrefix); ++i) bytes[i] = kMappedPrefix[i];
    for (std::size_t i = 0; i < ipv4->size(); ++i) bytes[12 + i] = (*ipv4)[i];
    return bytes;
  }
  return ParseIpv6(text.substr(0, text.find('%')));
}

std::string FormatAddress(const AddressBytes& address) {
  std::string text;
  if (IsIpv4Mapped(address)) {
    for (std::size_t i = 12; i < address.size(); ++i) {
      if (i > 12) text.push_back('.');
      text.append(std::to_string(address[i]));
    }
    return text;
  }
  int groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = address[2 * i] << 8 | address[2 * i + 1];
  int run_start = -1, run_length = 1;  // a single zero group is written as "0"
  for (int i = 0; i < 8;) {
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > run_length) run_start = i, run_length = end - i;
    i = end == i ? i + 1 : end;
  }
  for (int i = 0; i < 8; ++i) {
    if (i == run_start) {
      text.append("::");
      i += run_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text.push_back(':');
    AppendHex(text, groups[i]);
  }
  return text;
}

int ParseIpv6Prefix(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool whole = error == std::errc() && end == text.data() + text.size();
  return whole && value >= kShortestIpv6Prefix && value <= 128 ? value : kDefaultIpv6Prefix;
}

std::string AddressNetwork(std::string_view address, int ipv6_prefix) {
  std::optional<AddressBytes> bytes = ParseAddress(address);
  if (!bytes) return std::string(address);
  if (IsIpv4Mapped(*bytes) || ipv6_prefix >= 128) return FormatAddress(*bytes);
  for (int bit = ipv6_prefix; bit < 128; ++bit) {
    (*bytes)[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
  }
  return FormatAddress(*bytes) + "/" + std::to_string(ipv6_prefix);
}

}  // namespace orvane
